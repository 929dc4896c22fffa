#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the fuzz targets of fuzz/ with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ (or $ZOLT_FUZZ_BUILD_DIR) and
# runs each for SECONDS (default 60), then prints per target the executions,
# the edges covered and the findings. Each target starts from its corpus in
# fuzz/corpus/ and keeps what it learns in build-fuzz/corpus/; a finding is
# written to build-fuzz/findings/<target>/ and ends that target's run.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZOLT_FUZZ_BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
source "$root/scripts/sanitizers.sh"
configure_sanitized "$root" "$build" \
  "-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1" \
  -DZOLT_FUZZ=ON -DZOLT_BUILD_TESTS=OFF
cmake --build "$build" --target zolt_fuzz -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in "$root"/fuzz/fuzz_*.cpp; do
    name="$(basename "$source" .cpp)"
    targets+=("${name#fuzz_}")
  done
fi

summary=()
failed=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  dict=()
  [ -f "$root/fuzz/dict/$target.dict" ] && dict=(-dict="$root/fuzz/dict/$target.dict")
  echo "== fuzz_$target for $seconds s"
  program="$build/fuzz/fuzz_$target"
  # A run longer than 1 s on one input is a finding (a hang), as is a leak.
  # On a busy machine a stall of the process can look like one: a timeout
  # whose input replays in under a second is set aside in unconfirmed/ and
  # the run goes on for the time left.
  status=0 execs=0 edges="" left="$seconds" start=$(date +%s)
  : >"$log"
  while [ "$left" -gt 0 ]; do
    status=0
    "$program" "$corpus" "$root/fuzz/corpus/$target" "${dict[@]}" \
      -max_total_time="$left" -timeout=1 -rss_limit_mb=2048 -max_len=65536 \
      -close_fd_mask=1 -print_final_stats=1 -artifact_prefix="$findings/" >"$log.run" 2>&1 || status=$?
    cat "$log.run" >>"$log"
    # A run that ends on a finding prints no final figures: its last status line counts.
    ran="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log.run" | tail -1)"
    [ -n "$ran" ] || ran="$(grep -oE '^#[0-9]+' "$log.run" | tail -1 | tr -d '#')"
    execs=$((execs + ${ran:-0}))
    edges="$(grep -o 'cov: [0-9]*' "$log" | tail -1 | sed 's/cov: //')"
    rm -f "$log.run"
    stalls=0
    for timeout in "$findings"/timeout-*; do
      [ -e "$timeout" ] || continue
      slowest="$("$program" "$timeout" "$timeout" "$timeout" 2>&1 |
        sed -n 's/^Executed .* in \([0-9]*\) ms$/\1/p' | sort -n | tail -1)"
      if [ "${slowest:-1000}" -lt 1000 ]; then
        mkdir -p "$findings/unconfirmed"
        mv "$timeout" "$findings/unconfirmed/"
        echo "   a timeout that replays in ${slowest} ms (the machine stalled): set aside"
        stalls=1
      fi
    done
    [ "$stalls" -eq 1 ] && [ -z "$(find "$findings" -maxdepth 1 -type f)" ] || break
    status=0
    left=$((seconds - ($(date +%s) - start)))
  done
  found="$(find "$findings" -maxdepth 1 -type f | wc -l)"
  if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    grep -m1 -E 'ERROR: |runtime error|SUMMARY' "$log" || true
  fi
  summary+=("$(printf '%-12s %12s %8s %9s' "$target" "${execs:-?}" "${edges:-?}" "$found")")
done

printf '\n%-12s %12s %8s %9s\n' target executions edges findings
printf '%s\n' "${summary[@]}"
[ "$failed" -eq 0 ] || echo "Findings are in $build/findings/ and the logs in $build/logs/."
exit "$failed"
