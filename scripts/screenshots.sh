#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Regenerates the screenshots in docs/ from the demo backups in examples/,
# under a virtual display. Builds first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZOLT_BUILD_DIR:-$root/build}"
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  "$build/zolt-screenshots" "$build" "$root/examples/backup" "$root/examples/user.reg" "$root/docs"
