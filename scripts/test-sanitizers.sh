#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the whole project and its tests with AddressSanitizer and
# UndefinedBehaviorSanitizer into build-sanitizers/ (or $ZOLT_SANITIZER_BUILD_DIR)
# and runs the whole test suite, window tests included. Any finding stops the
# test that made it, so the suite passes only without one.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZOLT_SANITIZER_BUILD_DIR:-$root/build-sanitizers}"
source "$root/scripts/sanitizers.sh"
configure_sanitized "$root" "$build" \
  "-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -O1"

# The sanitizers' settings hold for the test discovery at build time as well.
start=$(date +%s)
cmake --build "$build" -j "$(nproc)"
built=$(date +%s)
cd "$build"
status=0
ctest --output-on-failure -j "$(nproc)" --timeout 600 || status=$?
end=$(date +%s)
echo "Sanitizer suite: build $((built - start)) s, tests $((end - built)) s."
exit $status
