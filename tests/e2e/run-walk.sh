#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs walk.py against the built converter on a private virtual display with
# private message buses and a temporary home:
#
#   bash run-walk.sh path/to/zolt-converter    (ZOLT_E2E_KEEP=1 keeps the work folder)
#
# Everything it starts runs in one process group of its own (the accessibility
# bus and registry, which the session bus starts on demand, included). That
# group is stopped on exit, whether the walk passed, failed or was interrupted.
set -uo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
converter="$(realpath -e "${1:-}" 2>/dev/null)"
if [ ! -x "$converter" ]; then
    echo "e2e: usage: run-walk.sh path/to/zolt-converter (got '${1:-}')" >&2
    exit 2
fi
# pyatspi is in the system interpreter's packages, not in another python3 on PATH.
python=/usr/bin/python3
for need in Xvfb dbus-daemon /usr/libexec/at-spi-bus-launcher "$python"; do
    command -v "$need" >/dev/null ||
        { echo "e2e: $need is missing; run: bash scripts/install-deps.sh" >&2; exit 2; }
done
"$python" -c 'import pyatspi' 2>/dev/null ||
    { echo "e2e: python3-pyatspi is missing; run: bash scripts/install-deps.sh" >&2; exit 2; }

run_dir="$(mktemp -d "${TMPDIR:-/tmp}/zolt-e2e.XXXXXX")"
group=""
cleanup() {
    local status=$?
    trap - EXIT INT TERM HUP
    if [ -n "$group" ] && kill -TERM -- "-$group" 2>/dev/null; then
        for _ in $(seq 20); do
            kill -0 -- "-$group" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL -- "-$group" 2>/dev/null
    fi
    if [ "${ZOLT_E2E_KEEP:-0}" = 1 ]; then echo "e2e: kept $run_dir"; else rm -rf "$run_dir"; fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Waits up to 10 s for file $1 to be written; on failure shows log $2.
wait_for() {
    for _ in $(seq 100); do
        [ -s "$1" ] && return 0
        sleep 0.1
    done
    echo "e2e: FAILED: $2 did not start:" >&2
    cat "$run_dir/$2.log" >&2
    exit 1
}

walk() {
    set +m  # everything below stays in this job's process group
    mkdir -m 700 "$run_dir/runtime"
    export XDG_RUNTIME_DIR="$run_dir/runtime"
    unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY
    # -displayfd picks a free display number: parallel runs do not collide.
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$run_dir/display" \
        >"$run_dir/Xvfb.log" 2>&1 &
    wait_for "$run_dir/display" Xvfb
    DISPLAY=":$(head -n1 "$run_dir/display")"
    dbus-daemon --session --nofork --nopidfile --print-address=6 6>"$run_dir/address" \
        >"$run_dir/dbus-daemon.log" 2>&1 &
    wait_for "$run_dir/address" dbus-daemon
    DBUS_SESSION_BUS_ADDRESS="$(head -n1 "$run_dir/address")"
    export DISPLAY DBUS_SESSION_BUS_ADDRESS PYTHONDONTWRITEBYTECODE=1
    # Qt puts its widgets on the accessibility bus only when asked to.
    export QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb
    echo "e2e: display $DISPLAY, work folder $run_dir"
    # The walk has its own deadline; this one only catches a hung interpreter.
    # --foreground keeps the walk in this process group.
    timeout --foreground -k 5 170 "$python" "$here/walk.py" --converter "$converter" \
        --root "$run_dir"
    local status=$?
    [ "$status" -eq 124 ] || [ "$status" -eq 137 ] &&
        echo "e2e: FAILED: the walk did not end in time" >&2
    return "$status"
}

# Job control gives the background job a process group of its own.
set -m
walk </dev/null &
group=$!
set +m
wait "$group"
