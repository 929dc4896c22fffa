#!/usr/bin/env bash
# shellcheck disable=SC2317  # the clean-up functions run from traps only
# Runs the end-to-end walk: the built converter on a private virtual display,
# driven through the accessibility bus the way a screen reader or a voice
# control program would, with a temporary home, Documents folder and
# compatibility-layer registry.
#
#   bash run-walk.sh path/to/zolt-converter
#
# Everything it starts (display server, message buses, the accessibility
# registry, the converter) is stopped again when it ends, whether the walk
# passed, failed or was interrupted. Set ZOLT_E2E_KEEP=1 to keep the
# temporary folder for a look afterwards.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
converter="${1:-}"
if [ -z "$converter" ] || [ ! -x "$converter" ]; then
    echo "e2e: usage: run-walk.sh path/to/zolt-converter" \
        "(got '${converter}', which is not an executable)" >&2
    exit 2
fi
converter="$(cd "$(dirname "$converter")" && pwd)/$(basename "$converter")"

need_packages() {
    echo "e2e: $1 is missing; install the test dependencies with: bash scripts/install-deps.sh" >&2
    exit 2
}
command -v Xvfb >/dev/null 2>&1 || need_packages "Xvfb (package xvfb)"
command -v dbus-daemon >/dev/null 2>&1 || need_packages "dbus-daemon (package dbus)"
command -v dbus-send >/dev/null 2>&1 || need_packages "dbus-send (package dbus)"
bus_launcher=""
for candidate in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher \
    /usr/lib/at-spi2/at-spi-bus-launcher; do
    if [ -x "$candidate" ]; then bus_launcher="$candidate"; break; fi
done
[ -n "$bus_launcher" ] || need_packages "at-spi-bus-launcher (package at-spi2-core)"
# pyatspi lives in the system interpreter's packages; a python3 of another
# installation earlier on PATH does not see it.
python=""
for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ] &&
        "$candidate" -c 'import pyatspi' 2>/dev/null; then
        python="$candidate"
        break
    fi
done
[ -n "$python" ] || need_packages "the Python module pyatspi (package python3-pyatspi)"

run_dir="$(mktemp -d "${TMPDIR:-/tmp}/zolt-e2e.XXXXXX")"
# Every process started from here inherits this mark, those that the message
# buses start on demand included; clean-up finds them by it, even after
# their parents are gone, and stops each by its own id.
export ZOLT_E2E_RUN="$run_dir"

xvfb_pid=""
session_bus_pid=""
launcher_pid=""
walk_pid=""

marked_processes() {
    local environ pid
    for environ in /proc/[0-9]*/environ; do
        pid="${environ#/proc/}"
        pid="${pid%/environ}"
        [ "$pid" = "$$" ] && continue
        if { tr '\0' '\n' <"$environ"; } 2>/dev/null | grep -qxF "ZOLT_E2E_RUN=$run_dir"; then
            echo "$pid"
        fi
    done
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    local pids=()
    for pid in $walk_pid $launcher_pid $session_bus_pid $xvfb_pid; do pids+=("$pid"); done
    mapfile -t -O "${#pids[@]}" pids < <(marked_processes)
    if [ ${#pids[@]} -gt 0 ]; then
        kill -TERM "${pids[@]}" 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            local alive=()
            for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive+=("$pid"); done
            [ ${#alive[@]} -eq 0 ] && break
            sleep 0.2
        done
        for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
        wait 2>/dev/null
    fi
    if [ "${ZOLT_E2E_KEEP:-0}" = "1" ]; then
        echo "e2e: kept $run_dir"
    else
        rm -rf "$run_dir"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p "$run_dir/runtime" "$run_dir/logs"
chmod 700 "$run_dir/runtime"
export XDG_RUNTIME_DIR="$run_dir/runtime"
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY

# A display of our own; -displayfd picks a free number, so parallel runs and
# other virtual displays on the machine do not collide.
exec 5>"$run_dir/display"
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset >"$run_dir/logs/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 5>&-
for _ in $(seq 1 100); do
    [ -s "$run_dir/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$run_dir/display" ]; then
    echo "e2e: the virtual display did not start:" >&2
    cat "$run_dir/logs/xvfb.log" >&2
    exit 1
fi
DISPLAY=":$(head -n1 "$run_dir/display")"
export DISPLAY

# A private session bus; the accessibility bus launcher registers on it and
# starts the accessibility bus, whose daemon starts the registry on demand.
exec 6>"$run_dir/session-bus"
dbus-daemon --session --nofork --nopidfile --print-address=6 >"$run_dir/logs/session-bus.log" 2>&1 &
session_bus_pid=$!
exec 6>&-
for _ in $(seq 1 100); do
    [ -s "$run_dir/session-bus" ] && break
    kill -0 "$session_bus_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$run_dir/session-bus" ]; then
    echo "e2e: the session message bus did not start:" >&2
    cat "$run_dir/logs/session-bus.log" >&2
    exit 1
fi
DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$run_dir/session-bus")"
export DBUS_SESSION_BUS_ADDRESS

"$bus_launcher" --launch-immediately --a11y=1 >"$run_dir/logs/a11y-bus.log" 2>&1 &
launcher_pid=$!
a11y_address=""
for _ in $(seq 1 100); do
    # Ask only once the launcher owns its name: asking earlier would make
    # the bus start a second launcher.
    owned="$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus \
        /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null |
        tr -d ' \n' || true)"
    if [ "$owned" != "booleantrue" ]; then
        kill -0 "$launcher_pid" 2>/dev/null || break
        sleep 0.1
        continue
    fi
    a11y_address="$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
        org.a11y.Bus.GetAddress 2>/dev/null | tr -d ' \n' || true)"
    [ -n "$a11y_address" ] && break
    kill -0 "$launcher_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$a11y_address" ]; then
    echo "e2e: the accessibility bus did not start:" >&2
    cat "$run_dir/logs/a11y-bus.log" >&2
    exit 1
fi
# The programs find the accessibility bus through the session bus. Qt 6.4
# does not register its widgets when handed the address in
# AT_SPI_BUS_ADDRESS, so that variable stays unset.

# Qt exposes its widgets on the accessibility bus only when asked to.
export QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export QT_QPA_PLATFORM=xcb
unset QT_QPA_PLATFORMTHEME QT_STYLE_OVERRIDE
export NO_AT_BRIDGE=0 GTK_MODULES=

# No byte-code caches in the source tree.
export PYTHONDONTWRITEBYTECODE=1

echo "e2e: display $DISPLAY, accessibility bus ready, work folder $run_dir"
# The walk has its own deadline; this one only catches a hang of the
# interpreter itself.
timeout --kill-after=5 170 "$python" "$here/walk.py" --converter "$converter" --root "$run_dir" &
walk_pid=$!
wait "$walk_pid"
status=$?
walk_pid=""
if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "e2e: FAILED: the walk did not end in time and was stopped" >&2
fi
exit "$status"
