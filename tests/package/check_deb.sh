#!/usr/bin/env bash
# Builds the Debian package from a build tree with cpack, checks what it holds
# and declares, unpacks it into a scratch root and starts the unpacked program
# on a virtual display with a fresh home folder.
#
#   check_deb.sh BUILD_DIR VERSION [CPACK]
#
# Everything happens in one temporary folder that is removed on exit; the
# machine's own /usr and the real home folder are never touched.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
note() { echo "-- $*"; }

# ---- inside the virtual display ------------------------------------------
# Started through xvfb-run by the outer part below, with HOME set to the
# scratch home. Starts the unpacked program, waits for the signs that start-up
# ran and the welcome panel is up, then stops it.
if [ "${1:-}" = "--in-display" ]; then
    root=$2 scratch=$3
    program="$root/usr/bin/zolt-converter"
    pristine="$root/usr/share/zolt-converter/ndbdata.ndf"
    working="$HOME/Documents/ZOLT/ndbdata.ndf"

    "$program" >"$scratch/program.log" 2>&1 &
    pid=$!
    # shellcheck disable=SC2317  # called by the EXIT trap
    stop_program() {
        if kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
            kill -9 "$pid" 2>/dev/null || true
        fi
        wait "$pid" 2>/dev/null || true
    }
    trap stop_program EXIT
    show_log() { sed 's/^/   program: /' "$scratch/program.log" >&2; }

    # First start copies the pristine database into the Documents folder;
    # the copy is made before the welcome panel is shown.
    copied=no
    for _ in $(seq 150); do
        if ! kill -0 "$pid" 2>/dev/null; then
            show_log
            fail "the installed program exited during start-up"
        fi
        if [ -f "$working" ] && cmp -s "$pristine" "$working"; then
            copied=yes
            break
        fi
        sleep 0.1
    done
    if [ "$copied" != yes ]; then
        show_log
        fail "within 15 s the installed program did not copy its database from" \
            "/usr/share/zolt-converter/ to \$HOME/Documents/ZOLT/ndbdata.ndf"
    fi
    note "the program copied the pristine database into \$HOME/Documents/ZOLT/"

    # The main window should now be mapped; give it a moment to paint.
    mapped=unknown
    for _ in $(seq 50); do
        if ! command -v xwininfo >/dev/null 2>&1; then break; fi
        if xwininfo -root -tree 2>/dev/null | grep -q '"Database Converter"'; then
            mapped=yes
            break
        fi
        mapped=no
        sleep 0.1
    done
    [ "$mapped" = no ] && fail "no window titled \"Database Converter\" appeared"
    sleep 1
    if ! kill -0 "$pid" 2>/dev/null; then
        show_log
        fail "the installed program exited after start-up instead of waiting for the user"
    fi
    note "the program is running with its window shown"

    if command -v import >/dev/null 2>&1 && command -v identify >/dev/null 2>&1; then
        import -window root "$scratch/screen.png" 2>/dev/null || fail "import could not take a screenshot"
        # A drawn panel has text and frames in many shades; an empty or
        # unpainted screen has one or two colours.
        colours=$(identify -format '%k' "$scratch/screen.png")
        [ "$colours" -ge 16 ] ||
            fail "the screenshot holds only $colours colours: the window was not drawn"
        note "screenshot shows a drawn window ($colours colours)"
    else
        note "import (imagemagick) not found: screenshot check skipped"
    fi
    exit 0
fi

# ---- outside ---------------------------------------------------------------
[ $# -ge 2 ] || fail "usage: check_deb.sh BUILD_DIR VERSION [CPACK]"
build=$(cd "$1" && pwd)
version=$2
cpack=${3:-cpack}

for tool in "$cpack" dpkg-deb dpkg xvfb-run timeout cmp; do
    command -v "$tool" >/dev/null 2>&1 || fail "$tool is not installed"
done
command -v dpkg-shlibdeps >/dev/null 2>&1 ||
    fail "dpkg-shlibdeps is not installed (package dpkg-dev); the package's dependencies need it"
[ -f "$build/CPackConfig.cmake" ] || fail "$build/CPackConfig.cmake is missing: configure first"
[ -f "$build/zolt-converter" ] || fail "$build/zolt-converter is missing: build first"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zolt-package.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

# ---- build the package -----------------------------------------------------
note "building the package with cpack"
if ! (cd "$build" && timeout --kill-after=10 240 "$cpack" -G DEB \
    --config "$build/CPackConfig.cmake" -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
    tail -n 40 "$scratch/cpack.log" >&2
    fail "cpack could not build the Debian package (log above)"
fi
shopt -s nullglob
debs=("$scratch"/out/*.deb)
shopt -u nullglob
[ ${#debs[@]} -eq 1 ] || fail "cpack made ${#debs[@]} .deb files instead of one"
deb=${debs[0]}
note "built $(basename "$deb")"

# ---- contents ----------------------------------------------------------------
# Paths without the leading "./"; directories end in "/".
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's#^\./##' >"$scratch/contents"
files=$(grep -v '/$' "$scratch/contents" || true)

for wanted in \
    usr/bin/zolt-converter \
    usr/share/zolt-converter/ndbdata.ndf \
    usr/share/zolt-converter/README.md \
    usr/share/applications/zolt-converter.desktop \
    usr/share/icons/hicolor/scalable/apps/zolt-converter.svg \
    usr/share/doc/zolt-converter/copyright; do
    grep -qxF "$wanted" <<<"$files" || fail "the package lacks $wanted"
done
# Only the converter is installed: no tools, tests or files elsewhere.
stray=$(grep -vE '^usr/bin/zolt-converter$|^usr/share/(zolt-converter|applications|icons/hicolor|doc/zolt-converter)/' \
    <<<"$files" || true)
[ -z "$stray" ] || fail "the package holds files that do not belong to the converter:
$stray"
dpkg-deb -c "$deb" | grep -E ' \./usr/bin/zolt-converter$' | grep -q '^-rwxr-xr-x root/root ' ||
    fail "usr/bin/zolt-converter is not an executable owned by root"
note "contents: the program, its database and notice, the desktop entry, icon and copyright"

# ---- control fields ----------------------------------------------------------
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = zolt-converter ] || fail "Package is '$(field Package)', not zolt-converter"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not $version"
arch=$(dpkg --print-architecture)
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)', not $arch"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)', not utils"
[ -n "$(field Maintainer)" ] || fail "the package has no Maintainer"
[ -n "$(field Description)" ] || fail "the package has no Description"
depends=$(dpkg-deb -I "$deb" | sed -n 's/^ Depends: //p')
for library in libqt6core6 libqt6gui6 libqt6widgets6 libsqlite3-0; do
    grep -qE "(^|, )$library( |,|$)" <<<"$depends" ||
        fail "Depends does not list $library: $depends"
done
note "control: $(field Package) $(field Version) $arch, depends on Qt 6 and SQLite"

# ---- unpacked files ------------------------------------------------------------
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
cmp -s "$root/usr/share/zolt-converter/ndbdata.ndf" "$build/ndbdata.ndf" ||
    fail "the packaged ndbdata.ndf differs from the pristine database of the build"
for notice in usr/share/zolt-converter/README.md usr/share/doc/zolt-converter/copyright; do
    grep -q "GNU General Public License" "$root/$notice" ||
        fail "$notice does not carry the beacon data's GPL notice"
done

desktop="$root/usr/share/applications/zolt-converter.desktop"
for line in "Name=ZOLT Database Converter" "Exec=zolt-converter" "Icon=zolt-converter" \
    "Terminal=false" "Categories=Utility;HamRadio;"; do
    grep -qxF "$line" "$desktop" || fail "the desktop entry lacks the line $line"
done
if command -v desktop-file-validate >/dev/null 2>&1; then
    # Hints are advice; errors and warnings make menus skip or misshow the entry.
    if ! desktop-file-validate "$desktop" >"$scratch/validate.log" 2>&1 ||
        grep -qE ': (error|warning):' "$scratch/validate.log"; then
        cat "$scratch/validate.log" >&2
        fail "desktop-file-validate rejects the desktop entry"
    fi
    note "desktop entry validated"
else
    note "desktop-file-validate (desktop-file-utils) not found: desktop entry checked by hand only"
fi
grep -q '<svg' "$root/usr/share/icons/hicolor/scalable/apps/zolt-converter.svg" ||
    fail "the icon is not an SVG image"

# ---- start the unpacked program ------------------------------------------------
home="$scratch/home"
mkdir -p "$home"
mkdir -m 700 "$scratch/runtime"
note "starting the unpacked program on a virtual display"
# A clean environment: only the scratch home, no inherited Qt or XDG settings
# that would point the program at another Documents folder or no display.
if ! timeout --kill-after=5 50 env -i PATH="$PATH" HOME="$home" LANG=C.UTF-8 \
    TMPDIR="${TMPDIR:-/tmp}" XDG_RUNTIME_DIR="$scratch/runtime" \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash "$0" --in-display "$root" "$scratch"; then
    fail "the installed program did not start up as expected (see above)"
fi
echo "PASS: the Debian package builds, holds what it should and its program starts"
