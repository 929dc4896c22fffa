#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Windows installer on Debian 12 (as root, or as a user with sudo):
#
#   bash scripts/build-windows.sh
#
#  1. installs what is missing with apt-get: the MinGW-w64 compilers with POSIX
#     threads, NSIS, Wine, and what the Linux build needs (its host tool makes
#     the pristine database, and its Qt provides moc, uic and rcc);
#  2. fetches Debian's source packages qt6-base and sqlite3 with a private apt
#     configuration (the machine's apt sources are never changed);
#  3. builds Qt 6 for win32-g++ once, into ~/.cache/zolt-converter/qt6-mingw,
#     and makes SQLite's amalgamation from Debian's patched source; both are
#     reused for as long as a stamp says their inputs are unchanged;
#  4. cross-builds the converter and its tests into build-windows/ and writes
#     build-windows/zolt-converter-<version>-setup.exe.
#
# ZOLT_CACHE_DIR and ZOLT_WINDOWS_BUILD_DIR move the cache and the build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cache="${ZOLT_CACHE_DIR:-$HOME/.cache/zolt-converter}"
build="${ZOLT_WINDOWS_BUILD_DIR:-$root/build-windows}"
jobs="$(nproc)"
triplet=x86_64-w64-mingw32
say() { printf '== %s\n' "$*"; }

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
  else
    echo "Installing packages needs root: run this as root or install sudo." >&2
    exit 1
  fi
fi

# ---- 1. Packages ------------------------------------------------------------
# The Linux build's own list first (scripts/install-deps.sh), then what only
# the Windows build and its test need.
bash "$root/scripts/install-deps.sh"
packages=(
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  nsis wine wine64 fonts-wine
  cmake ninja-build dpkg-dev tcl xz-utils ca-certificates debian-archive-keyring
  googletest qt6-base-dev qt6-base-dev-tools libsqlite3-dev
  xvfb xauth x11-utils imagemagick python3
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get update -qq
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# ---- 2. Debian's sources ------------------------------------------------------
# Qt for Windows must be the very version of the Linux Qt whose moc, uic and
# rcc it uses.
qt_version="$(dpkg-query -W -f='${Version}' qt6-base-dev)"
mkdir -p "$cache/src" "$cache/apt/lists/partial"
apt_private=(-o "Dir::Etc::SourceList=$cache/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null
             -o "Dir::State::Lists=$cache/apt/lists")
fetch_source() {  # package version
  local package="$1" version="$2" upstream
  upstream="${version#*:}"
  if ls "$cache/src/${package}_${upstream}.dsc" >/dev/null 2>&1; then return; fi
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    > "$cache/apt/sources.list"
  say "Fetching Debian's source package $package $version"
  if [ ! -s "$cache/apt/lists/deb.debian.org_debian_dists_bookworm_InRelease" ] ||
     ! (cd "$cache/src" && apt-get "${apt_private[@]}" source --download-only "$package=$version" >/dev/null 2>&1); then
    apt-get "${apt_private[@]}" update -qq
    (cd "$cache/src" && apt-get "${apt_private[@]}" source --download-only "$package=$version")
  fi
}
fetch_source qt6-base "$qt_version"
# The newest sqlite3 of bookworm, security updates included.
sqlite_dsc="$(ls "$cache"/src/sqlite3_*.dsc 2>/dev/null | sort -V | tail -1 || true)"
if [ -z "$sqlite_dsc" ]; then
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    > "$cache/apt/sources.list"
  apt-get "${apt_private[@]}" update -qq
  (cd "$cache/src" && apt-get "${apt_private[@]}" source --download-only sqlite3)
  sqlite_dsc="$(ls "$cache"/src/sqlite3_*.dsc | sort -V | tail -1)"
fi

# ---- 3a. Qt 6 for Windows -----------------------------------------------------
# Core, Gui, Widgets and Test (and Xml, which comes along) from the upstream
# tarball of Debian's source package; Debian's patches are for its Linux
# packages and are not applied. Debian's tarball lacks the wintab headers
# (tablet events off); what the converter does not use is left out to keep
# the build short. Options and version are recorded in a stamp: the install
# is reused while both are the same.
qt_prefix="$cache/qt6-mingw"
qt_orig="$(ls "$cache"/src/qt6-base_"${qt_version%-*}".orig.tar.xz)"
qt_options=(
  -prefix "$qt_prefix" -xplatform win32-g++ -qt-host-path /usr
  -release -shared -nomake examples -nomake tests -no-opengl -no-dbus -no-icu
  -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre
  -no-feature-vulkan -no-feature-sql -no-feature-network -no-feature-printsupport -no-feature-concurrent
  -- -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER=$triplet-gcc-posix
  -DCMAKE_CXX_COMPILER=$triplet-g++-posix -DCMAKE_RC_COMPILER=$triplet-windres
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DFEATURE_tabletevent=OFF
  -DCMAKE_FIND_ROOT_PATH=/usr/$triplet -DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY
  -DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY
)
qt_stamp_text="$(printf 'qt6-base %s (%s)\ncompiler %s\nconfigure %s\n' "$qt_version" \
  "$(basename "$qt_orig")" "$($triplet-g++-posix --version | head -1)" "${qt_options[*]}")"
if [ -f "$qt_prefix/lib/cmake/Qt6/Qt6Config.cmake" ] &&
   [ "$(cat "$qt_prefix/.zolt-stamp" 2>/dev/null)" = "$qt_stamp_text" ]; then
  say "Qt for Windows: reusing $qt_prefix"
else
  say "Qt for Windows: building $qt_version into $qt_prefix (once; about half an hour on two cores)"
  qt_started=$(date +%s)
  rm -rf "$cache/qt-src" "$cache/qt-build" "$qt_prefix"
  mkdir -p "$cache/qt-src" "$cache/qt-build"
  tar -xf "$qt_orig" -C "$cache/qt-src" --strip-components=1
  (cd "$cache/qt-build" && ../qt-src/configure "${qt_options[@]}" >"$cache/qt-configure.log" 2>&1) ||
    { tail -40 "$cache/qt-configure.log"; exit 1; }
  nice cmake --build "$cache/qt-build" --parallel "$jobs"
  cmake --install "$cache/qt-build" >/dev/null
  printf '%s' "$qt_stamp_text" > "$qt_prefix/.zolt-stamp"
  say "Qt for Windows built in $(( ($(date +%s) - qt_started) / 60 )) minutes"
fi

# ---- 3b. SQLite's amalgamation from Debian's patched source ------------------
sqlite_version="$(basename "$sqlite_dsc" .dsc)"
sqlite_dir="$cache/$sqlite_version-amalgamation"
if [ ! -s "$sqlite_dir/sqlite3.c" ] || [ "$(cat "$sqlite_dir/.zolt-stamp" 2>/dev/null)" != "$sqlite_version" ]; then
  say "SQLite: making the amalgamation of $sqlite_version"
  # In a folder of its own: dpkg-source leaves the tarballs beside what it unpacks.
  rm -rf "$cache/sqlite-work" "$sqlite_dir"
  mkdir -p "$cache/sqlite-work"
  # (Its signature is checked by apt with the archive's keys when fetched, not again here.)
  dpkg-source -x "$sqlite_dsc" "$cache/sqlite-work/src" >/dev/null 2>&1
  (cd "$cache/sqlite-work/src" && ./configure --disable-tcl >/dev/null && make -s sqlite3.c >/dev/null)
  mkdir -p "$sqlite_dir"
  cp "$cache/sqlite-work/src/sqlite3.c" "$cache/sqlite-work/src/sqlite3.h" "$sqlite_dir/"
  printf '%s' "$sqlite_version" > "$sqlite_dir/.zolt-stamp"
  rm -rf "$cache/sqlite-work"
fi

# ---- 4. The converter ---------------------------------------------------------
launcher=()
command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The Linux build's own build type: the same optimisation (GCC 12 warns
# falsely at -O3), symbols stripped from what the installer ships.
say "Building the converter for Windows in $build"
started=$(date +%s)
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_PREFIX_PATH="$qt_prefix" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DZOLT_SQLITE_SOURCE="$sqlite_dir" -DZOLT_GTEST_SOURCE=/usr/src/googletest \
  "${launcher[@]}" >/dev/null
cmake --build "$build" --parallel "$jobs"
cmake --build "$build" --target windows_installer
installer="$(ls "$build"/zolt-converter-*-setup.exe)"
say "Converter and tests built in $(( $(date +%s) - started )) s"
say "Installer: $installer ($(du -h "$installer" | cut -f1))"
