# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the sanitizer and fuzzing scripts: the first finding ends the
# process with a full report, leaks included. No finding is suppressed.
# (strict_string_checks stays off: with it the strndup interceptor reads past
# the length it is given, and libxcb's bounded strndup of the display's reply
# is reported as an overflow that does not exist.)
export ASAN_OPTIONS="detect_leaks=1:halt_on_error=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
