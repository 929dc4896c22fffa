#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Tests the Windows build under Wine, on Debian 12 (as root, or with sudo):
#
#   bash scripts/test-windows.sh
#
# Builds first where needed (scripts/build-windows.sh, and the Linux build,
# whose converted project the Windows build must export alike). Then, each
# in a fresh Wine prefix in a temporary folder (never ~/.wine):
#  1. every test program cross-built (core, db, work, engine; the window
#     tests with QT_QPA_PLATFORM=offscreen) under Wine, through ctest;
#  2. the installer, silently (/S); the installed converter started under
#     Xvfb with Windows' own platform plugin: its window and the welcome panel
#     (docs/windows-welcome.png), the working folder in Documents, location
#     names written with `wine reg add`, --help and its exit codes;
#  3. a project converted by the Linux build (the end-to-end walk through its
#     window) exported by the installed Windows converter with --export as CSV,
#     ADIF and KML: each file equal to the Linux build's export byte for byte;
#  4. the uninstaller, silently: everything it installed gone, Documents\ZOLT kept.
# ZOLT_KEEP=1 keeps the temporary folder.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${ZOLT_CACHE_DIR:-$HOME/.cache/zolt-converter}"
build="${ZOLT_WINDOWS_BUILD_DIR:-$root/build-windows}"
linux_build="${ZOLT_BUILD_DIR:-$root/build}"
say() { printf '== %s\n' "$*"; }
failures=()
fail() { printf 'FAILED: %s\n' "$*" >&2; failures+=("$*"); }
check() { if eval "$1"; then printf '   ok: %s\n' "$2"; else fail "$2"; fi; }

begin=$(date +%s)
bash "$root/scripts/build-windows.sh" || exit 1
say "The Linux build (for the project it converts and its exports)"
bash "$root/scripts/build.sh" >/dev/null || exit 1
built=$(date +%s)

work="$(mktemp -d "${TMPDIR:-/tmp}/zolt-windows-test.XXXXXX")"
prefixes=()
xvfb_pid=""
cleanup() {
  local status=$?
  for p in "${prefixes[@]}"; do WINEPREFIX="$p" wineserver -k >/dev/null 2>&1; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  if [ "${ZOLT_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Wine sees this machine's root as drive Z:. Its shell folders (Documents)
# link into $HOME: a home of the test's own keeps the real one untouched.
export HOME="$work/home" WINEDEBUG=-all LC_ALL=C.UTF-8
unset XDG_DOCUMENTS_DIR XDG_CONFIG_HOME XDG_DATA_HOME QT_QPA_PLATFORM
mkdir -p "$HOME"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
runtime_dirs=()
for dll in libstdc++-6.dll libwinpthread-1.dll; do
  runtime_dirs+=("$(dirname "$(realpath "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)")")")
done
qt_prefix="$cache/qt6-mingw"
WINEPATH="$(winpath "${runtime_dirs[0]}");$(winpath "${runtime_dirs[1]}");$(winpath "$qt_prefix/bin")"
export WINEPATH
new_prefix() {  # a fresh, initialised Wine prefix in $work/$1
  export WINEPREFIX="$work/$1"
  prefixes+=("$WINEPREFIX")
  wineboot -i >/dev/null 2>&1
  wineserver -w
}

# ---- 1. The test programs ---------------------------------------------------
say "1. The test programs under Wine"
new_prefix prefix-tests
tests_started=$(date +%s)
rm -f "$build"/tests/*.xml
(cd "$build" && ctest --output-on-failure --timeout 900 -j 2) > "$work/ctest.log" 2>&1
ctest_status=$?
tests_seconds=$(( $(date +%s) - tests_started ))
grep -E '^ *[0-9]+/[0-9]+ Test|tests passed|tests failed' "$work/ctest.log"
[ $ctest_status -eq 0 ] || { fail "ctest under Wine (see below)"; grep -A40 -E '\*\*\*Failed|Failed  ' "$work/ctest.log" | head -120; }
python3 - "$build/tests" <<'EOF'
import glob, sys, xml.etree.ElementTree as ET
total = {"tests": 0, "failures": 0, "skipped": 0}
for path in sorted(glob.glob(sys.argv[1] + "/*.xml")):
    root = ET.parse(path).getroot()
    cases = root.findall(".//testcase")
    failed = [c.get("classname") + "." + c.get("name") for c in cases if c.find("failure") is not None]
    skipped = [c.get("classname") + "." + c.get("name") for c in cases if c.find("skipped") is not None]
    total["tests"] += len(cases); total["failures"] += len(failed); total["skipped"] += len(skipped)
    for name in skipped:
        print(f"   skipped: {name}")
    for name in failed:
        print(f"   failed: {name}")
print(f"   test cases under Wine: {total['tests']} run, {total['tests'] - total['failures'] - total['skipped']} passed, "
      f"{total['failures']} failed, {total['skipped']} skipped")
EOF
WINEPREFIX="$work/prefix-tests" wineserver -k >/dev/null 2>&1

# ---- 2. The installer and the installed converter ---------------------------
say "2. The installer, silently, and the installed converter under Xvfb"
installer="$(ls "$build"/zolt-converter-*-setup.exe)"
# A virtual display, there before the prefix is made: Wine's desktop process,
# started with the prefix, draws every window of it. The converter uses
# Windows' own platform plugin (qwindows) on it.
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" >"$work/Xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
new_prefix prefix-install
# Packages of Wine's own, a prefix's Program Files is where /S puts the program.
wine "$installer" /S >/dev/null 2>&1
wineserver -w
installed="$WINEPREFIX/drive_c/Program Files/ZOLT Database Converter"
expected="DATA-LICENSE.txt LICENSE.txt Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll land-110m.txt libgcc_s_seh-1.dll libstdc++-6.dll libwinpthread-1.dll ndbdata.ndf platforms/qwindows.dll styles/qwindowsvistastyle.dll uninstall.exe zolt-converter.com zolt-converter.exe"
actual="$(cd "$installed" 2>/dev/null && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
check '[ "$actual" = "$expected" ]' "installed exactly the program, its DLLs and plugins, the database and licences ($actual)"
check 'cmp -s "$installed/ndbdata.ndf" "$linux_build/ndbdata.ndf"' "the installed ndbdata.ndf is the Linux build's"
startmenu="$(find "$WINEPREFIX/drive_c" -path '*Start Menu/Programs/ZOLT Database Converter.lnk' | head -1)"
check '[ -n "$startmenu" ]' "a Start Menu entry"
check 'wine reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\zolt-converter" /v DisplayVersion 2>/dev/null | grep -q "$(basename "$installer" | sed "s/zolt-converter-\(.*\)-setup.exe/\1/")"' \
  "the uninstall entry carries the version"

# Location names as the old version left them, written the way Windows does.
wine reg add 'HKCU\Software\ZOLT6.1\ListeningLocations' /v 'Location(0)' /t REG_SZ /d 'Home Base' /f >/dev/null 2>&1

exe_win='C:\Program Files\ZOLT Database Converter\zolt-converter.exe'
(cd "$installed" && find . -type f -exec md5sum {} + | sort) > "$work/installed.md5"
wine "$exe_win" >"$work/converter.log" 2>&1 &
window=""
for _ in $(seq 120); do
  window="$(xwininfo -root -tree 2>/dev/null | grep -m1 '"Database Converter"' | awk '{print $1}')"
  [ -n "$window" ] && break
  sleep 0.5
done
check '[ -n "$window" ]' "the installed converter opens its window \"Database Converter\""
sleep 4  # the first paint
# Wine links the user's Documents to $HOME (the test's own, see above).
documents="$(readlink -f "$(ls -d "$WINEPREFIX"/drive_c/users/*/Documents | grep -v /Public/ | head -1)")/ZOLT"
check '[ -f "$documents/ndbdata.ndf" ] && cmp -s "$documents/ndbdata.ndf" "$installed/ndbdata.ndf"' \
  "its first start copied the pristine database from its own folder into Documents\\ZOLT"
check '(cd "$installed" && find . -type f -exec md5sum {} + | sort) | cmp -s - "$work/installed.md5"' \
  "the program's folder was not written to"
if [ -n "$window" ]; then
  import -window "$window" "$work/welcome.png" 2>/dev/null
  check '[ -s "$work/welcome.png" ] && [ "$(identify -format %k "$work/welcome.png")" -gt 50 ]' \
    "a screenshot of the welcome panel (docs/windows-welcome.png)"
  cp "$work/welcome.png" "$root/docs/windows-welcome.png" 2>/dev/null
fi
# A second start on the same working folder is refused and says so.
wine "$exe_win" >"$work/second.log" 2>&1 &
for _ in $(seq 60); do grep -q "already running" "$work/second.log" && break; sleep 0.5; done
check 'grep -q "already running" "$work/second.log"' "a second start is refused by the single-instance lock"
wine taskkill /IM zolt-converter.exe /F >/dev/null 2>&1
wineserver -w

# The command line prints to the console it was started from and keeps the
# documented exit codes: 0 help, 2 a wrong command line, 1 a failed export.
help="$(wine "$exe_win" --help 2>/dev/null | tr -d '\r')"; help_status=$?
check '[ $help_status -eq 0 ] && printf "%s" "$help" | grep -q "^Usage: zolt-converter"' "--help prints the usage and exits 0"
wine "$exe_win" --location 99 >/dev/null 2>&1; status=$?
check '[ $status -eq 2 ]' "a wrong command line exits 2 (got $status)"
# In cmd.exe "zolt-converter" is zolt-converter.com, which waits for the
# window program and passes its exit code on.
printf '@cd /d "C:\\Program Files\\ZOLT Database Converter"\r\n@zolt-converter --help > %s\r\n' \
  "$(winpath "$work/help.txt")" > "$work/help.bat"
printf '@cd /d "C:\\Program Files\\ZOLT Database Converter"\r\n@zolt-converter --location 99\r\n@exit /b %%ERRORLEVEL%%\r\n' \
  > "$work/wrong.bat"
wine cmd /c "$(winpath "$work/help.bat")" >/dev/null 2>&1
check 'grep -q "^Usage: zolt-converter" "$work/help.txt"' "in cmd.exe, zolt-converter --help > file lands in the file"
wine cmd /c "$(winpath "$work/wrong.bat")" >/dev/null 2>&1; status=$?
check '[ $status -eq 2 ]' "in cmd.exe, zolt-converter with a wrong command line gives exit code 2 (got $status)"

# ---- 3. A project converted by the Linux build, exported by both ------------
say "3. A project converted by the Linux build, exported by the Windows build"
walk_log="$work/walk.log"
ZOLT_E2E_KEEP=1 TMPDIR="$work" bash "$root/tests/e2e/run-walk.sh" "$linux_build/zolt-converter" >"$walk_log" 2>&1
walk_dir="$(sed -n 's/^e2e: kept //p' "$walk_log")"
check 'grep -q "e2e: PASSED" "$walk_log" && [ -f "$walk_dir/home/Documents/ZOLT/ndbdata.ndf" ]' \
  "the Linux build converted a project through its window (the end-to-end walk)"
mkdir -p "$work/linux" "$work/windows"
# The whole working folder as the Linux build left it.
cp "$walk_dir/home/Documents/ZOLT/"* "$documents/"
name="Export K$(printf '\xc3\xb6')ln"
for format in csv adi kml; do
  order=()
  HOME="$walk_dir/home" WINEPREFIX="$walk_dir/home/.wine" QT_QPA_PLATFORM=offscreen \
    "$linux_build/zolt-converter" --export "$work/linux/log.$format" >"$work/linux/$format.out" 2>&1 ||
    { order=(--date-order mdy)
      HOME="$walk_dir/home" WINEPREFIX="$walk_dir/home/.wine" QT_QPA_PLATFORM=offscreen \
        "$linux_build/zolt-converter" --export "$work/linux/log.$format" "${order[@]}" >"$work/linux/$format.out" 2>&1; }
  wine "$exe_win" --export "$(winpath "$work/windows/$name.$format")" "${order[@]}" \
    >"$work/windows/$format.out" 2>&1
  status=$?
  check '[ $status -eq 0 ] && [ -s "$work/windows/$name.$format" ]' \
    "the Windows build exported $format to a file named beyond ASCII ($(tr -d '\r' < "$work/windows/$format.out" | head -1))"
  a="$work/linux/log.$format" b="$work/windows/$name.$format"
  if [ "$format" = adi ]; then
    # The ADIF header says when the file was made; the same length either way.
    sed -E 's/<CREATED_TIMESTAMP:15>[0-9]{8} [0-9]{6}/<CREATED_TIMESTAMP:15>00000000 000000/' "$a" > "$a.same-time"
    sed -E 's/<CREATED_TIMESTAMP:15>[0-9]{8} [0-9]{6}/<CREATED_TIMESTAMP:15>00000000 000000/' "$b" > "$b.same-time"
    a="$a.same-time" b="$b.same-time"
  fi
  check 'cmp "$a" "$b"' "the $format export equals the Linux build's byte for byte ($(wc -c < "$work/linux/log.$format") bytes)"
done
# The names came from the registry: the CSV's location_name column.
check 'grep -q ",Home Base," "$work/windows/$name.csv"' \
  "the location name written with wine reg add is read back (\"Home Base\" in the CSV)"
# More names: a number (REG_DWORD) and letters beyond ASCII, on a location of the project.
first_location="$(awk -F, 'NR==2 {print $1}' "$work/windows/$name.csv")"
wine reg add 'HKCU\Software\ZOLT6.1\ListeningLocations' /v "LOCATION($((first_location - 1)))" /t REG_SZ \
  /d "$(printf 'K\xc3\xb6ln \xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1')" /f >/dev/null 2>&1
wine "$exe_win" --export "$(winpath "$work/windows/names.csv")" "${order[@]}" --location "$first_location" >/dev/null 2>&1
check 'grep -q "$(printf "K\xc3\xb6ln \xce\x91\xce\xb8\xce\xae\xce\xbd\xce\xb1")" "$work/windows/names.csv"' \
  "a name beyond ASCII, its value name in other letter case, is read from the registry"
wine reg add 'HKCU\Software\ZOLT6.1\ListeningLocations' /v "Location($((first_location - 1)))" /t REG_DWORD /d 42 /f >/dev/null 2>&1
wine "$exe_win" --export "$(winpath "$work/windows/number.csv")" "${order[@]}" --location "$first_location" >/dev/null 2>&1
check 'grep -q ",42," "$work/windows/number.csv"' "a number (REG_DWORD) is read as its digits"
# The reports' code page and line ends are the engine's, tested in step 1
# (test_engine_report, test_engine_platform) under Wine.

# ---- 4. The uninstaller -----------------------------------------------------
say "4. The uninstaller, silently"
wine "$(winpath "$installed/uninstall.exe")" /S >/dev/null 2>&1
wineserver -w
sleep 2
check '[ ! -e "$installed" ]' "the program's folder is gone"
check '[ -z "$(find "$WINEPREFIX/drive_c" -path "*Start Menu/Programs/ZOLT Database Converter.lnk")" ]' "the Start Menu entry is gone"
check '[ -f "$documents/ndbdata.ndf" ]' "Documents\\ZOLT and the converted log are kept"

# ---- Summary ------------------------------------------------------------------
say "Summary"
echo "   builds (Windows and Linux, up to date or not): $(( built - begin )) s"
echo "   test programs under Wine: $tests_seconds s; whole test: $(( $(date +%s) - begin )) s"
echo "   installer: $(basename "$installer"), $(du -k "$installer" | cut -f1) KiB"
if [ ${#failures[@]} -gt 0 ]; then
  printf 'FAILED (%d):\n' "${#failures[@]}"
  printf '  - %s\n' "${failures[@]}"
  exit 1
fi
echo "PASSED"
