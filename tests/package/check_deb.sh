#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
#   check_deb.sh BUILD_DIR VERSION [CPACK]
# Builds the Debian package with cpack, checks what it holds and declares, runs
# lintian, appstreamcli and desktop-file-validate on it (any error or warning
# fails), and starts the program unpacked into a scratch root on a virtual display with a
# fresh home folder. The machine's own /usr and home folder are never touched.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
note() { echo "-- $*"; }

# Inside the virtual display, HOME the scratch home: the program must copy its
# pristine database into the Documents folder, then keep running.
if [ "${1:-}" = "--in-display" ]; then
    root=$2 scratch=$3
    pristine="$root/usr/share/zolt-converter/ndbdata.ndf"
    working="$HOME/Documents/ZOLT/ndbdata.ndf"
    "$root/usr/bin/zolt-converter" >"$scratch/program.log" 2>&1 &
    pid=$!
    # shellcheck disable=SC2317  # called by the EXIT trap
    stop_program() {
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    }
    trap stop_program EXIT
    running() {
        kill -0 "$pid" 2>/dev/null && return 0
        sed 's/^/   program: /' "$scratch/program.log" >&2
        fail "the installed program exited $1"
    }
    for _ in $(seq 150); do
        running "during start-up"
        cmp -s "$pristine" "$working" && break
        sleep 0.1
    done
    cmp -s "$pristine" "$working" ||
        fail "within 15 s the installed program did not copy its database to $working"
    sleep 2
    running "after start-up instead of waiting for the user"
    note "the program copied its database into \$HOME/Documents/ZOLT/ and is running"
    exit 0
fi

[ $# -ge 2 ] || fail "usage: check_deb.sh BUILD_DIR VERSION [CPACK]"
build=$(cd "$1" && pwd)
version=$2
cpack=${3:-cpack}
for tool in "$cpack" dpkg-deb dpkg-shlibdeps xvfb-run timeout cmp lintian appstreamcli \
    desktop-file-validate; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed"
done
for file in CPackConfig.cmake zolt-converter; do
    [ -f "$build/$file" ] || fail "$build/$file is missing: configure and build first"
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zolt-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

note "building the package with cpack"
if ! (cd "$build" && timeout --kill-after=10 240 "$cpack" -G DEB \
    --config "$build/CPackConfig.cmake" -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
    tail -n 40 "$scratch/cpack.log" >&2
    fail "cpack could not build the Debian package (log above)"
fi
debs=("$scratch"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then fail "cpack made no single .deb file"; fi
deb=${debs[0]}

# ---- contents: the converter's files, nothing else ----------------------------
listing=$(dpkg-deb -c "$deb")
files=$(awk '{print $6}' <<<"$listing" | sed 's#^\./##' | grep -v '/$' || true)
for wanted in usr/bin/zolt-converter usr/share/zolt-converter/ndbdata.ndf \
    usr/share/zolt-converter/land-110m.txt \
    usr/share/zolt-converter/README.md usr/share/applications/zolt-converter.desktop \
    usr/share/icons/hicolor/scalable/apps/zolt-converter.svg \
    usr/share/doc/zolt-converter/copyright usr/share/doc/zolt-converter/changelog.gz \
    usr/share/man/man1/zolt-converter.1.gz usr/share/metainfo/zolt-converter.metainfo.xml; do
    grep -qxF "$wanted" <<<"$files" || fail "the package lacks $wanted"
done
stray=$(grep -vE '^usr/bin/zolt-converter$|^usr/share/(zolt-converter|applications|icons/hicolor|doc/zolt-converter)/|^usr/share/man/man1/zolt-converter\.1\.gz$|^usr/share/metainfo/zolt-converter\.metainfo\.xml$' \
    <<<"$files" || true)
[ -z "$stray" ] || fail "the package holds files that do not belong to the converter: $stray"
grep -E ' \./usr/bin/zolt-converter$' <<<"$listing" | grep -q '^-rwxr-xr-x root/root ' ||
    fail "usr/bin/zolt-converter is not an executable owned by root"

# ---- control fields ----------------------------------------------------------
[ "$(dpkg-deb -f "$deb" Package)" = zolt-converter ] || fail "the package is not zolt-converter"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "the package's Version is not $version"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libsqlite3-0; do
    grep -qE "(^|, )$library( |,|$)" <<<"$depends" || fail "Depends does not list $library: $depends"
done
note "contents and control fields as expected; depends on: $depends"

# ---- unpacked files ------------------------------------------------------------
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
cmp -s "$root/usr/share/zolt-converter/ndbdata.ndf" "$build/ndbdata.ndf" ||
    fail "the packaged ndbdata.ndf differs from the pristine database of the build"
for notice in usr/share/zolt-converter/README.md usr/share/doc/zolt-converter/copyright; do
    grep -q "GNU General Public License" "$root/$notice" ||
        fail "$notice does not carry the beacon data's GPL notice"
done

# ---- Debian's and the desktop's own checkers: no error, no warning ---------------
# lintian's informational tags (I:) and pedantic ones (P:) are advice, not faults.
lintian_out=$(lintian "$deb" 2>/dev/null || true)
faults=$(grep -E '^[EW]: ' <<<"$lintian_out" || true)
[ -z "$faults" ] || fail "lintian reports errors or warnings:
$faults"
note "lintian: no error, no warning"
if ! appstream_out=$(appstreamcli validate --no-net \
    "$root/usr/share/metainfo/zolt-converter.metainfo.xml" 2>&1) ||
    grep -qE '^[EW]: ' <<<"$appstream_out"; then
    fail "appstreamcli does not accept the metainfo file:
$appstream_out"
fi
note "appstreamcli: the metainfo file is valid"
desktop_out=$(desktop-file-validate "$root/usr/share/applications/zolt-converter.desktop" 2>&1) ||
    fail "desktop-file-validate refuses the desktop file:
$desktop_out"
if grep -qiE '(error|warning):' <<<"$desktop_out"; then
    fail "desktop-file-validate warns about the desktop file:
$desktop_out"
fi
note "desktop-file-validate: the desktop file is clean"
man_out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/zolt-converter.1.gz" 2>&1 >/dev/null || true)
[ -z "$man_out" ] || fail "the manual page does not format cleanly:
$man_out"
# Read whole first: grep -q stops at the first hit, and under pipefail the
# writer it leaves behind would fail the check once the page outgrows a pipe.
man_text=$(zcat "$root/usr/share/man/man1/zolt-converter.1.gz" | sed 's/\\-/-/g')
for word in settings.ini processed.dat ndbdata.ndf Documents --export --location --date-order --help; do
    grep -qF -- "$word" <<<"$man_text" || fail "the manual page does not mention $word"
done

# ---- start the unpacked program ------------------------------------------------
mkdir -p "$scratch/home"
mkdir -m 700 "$scratch/runtime"
note "starting the unpacked program on a virtual display"
# A clean environment: only the scratch home, no inherited Qt or XDG settings
# that would point the program at another Documents folder or no display.
timeout --kill-after=5 50 env -i PATH="$PATH" HOME="$scratch/home" LANG=C.UTF-8 \
    TMPDIR="${TMPDIR:-/tmp}" XDG_RUNTIME_DIR="$scratch/runtime" \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash "$0" --in-display "$root" "$scratch" ||
    fail "the installed program did not start up as expected (see above)"
echo "PASS: the Debian package builds, holds what it should and its program starts"
