#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the whole project and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-sanitizers/ (or $ZOLT_SANITIZER_BUILD_DIR)
# and runs the whole test suite, window tests included. Any finding stops the
# test that made it, so the suite passes only without one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZOLT_SANITIZER_BUILD_DIR:-$root/build-sanitizers}"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/install-clang.sh"

flags="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -O1"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DZOLT_BUILD_BENCH=OFF >/dev/null

# The sanitizers' settings hold for the test discovery at build time as well.
source "$root/scripts/sanitizer-env.sh"
start=$(date +%s)
cmake --build "$build" -j "$(nproc)"
built=$(date +%s)
cd "$build"
status=0
ctest --output-on-failure -j "$(nproc)" --timeout 600 || status=$?
end=$(date +%s)
echo "Sanitizer suite: build $((built - start)) s, tests $((end - built)) s."
exit $status
