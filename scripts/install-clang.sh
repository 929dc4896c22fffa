#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs clang and its sanitizer and fuzzing runtimes when missing (the
# sanitizer suite and the fuzz targets); needs root (or sudo) only then.
set -euo pipefail
packages=(clang libclang-rt-dev llvm)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then as_root=(sudo); else
    echo "Installing clang needs root: run this as root or install sudo." >&2; exit 1
  fi
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
