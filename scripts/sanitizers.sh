# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by test-sanitizers.sh and fuzz.sh.
#
# The sanitizers' settings: the first finding ends the process with a full
# report, leaks included. No finding is suppressed. (strict_string_checks
# stays off: with it the strndup interceptor reads past the length it is
# given, and libxcb's bounded strndup of the display's reply is reported as an
# overflow that does not exist.)
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

# configure_sanitized ROOT BUILD FLAGS [CMAKE_ARGS...]: installs what is
# missing and configures a clang build of ROOT into BUILD that compiles with
# FLAGS (the -fsanitize=… of the caller among them) and links the sanitizers.
configure_sanitized() {
  local root="$1" build="$2" flags="$3"
  shift 3
  bash "$root/scripts/install-deps.sh"
  bash "$root/scripts/install-clang.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DZOLT_BUILD_BENCH=OFF "$@" >/dev/null
}
