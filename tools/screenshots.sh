#!/usr/bin/env bash
# Pictures of every screen, sheet and panel of the program, taken under a
# virtual X display:  tools/screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
# (defaults: build, build/screenshots). Builds the grabber first. The result
# screen shows the tree of a real scan of tests/data/hfsplus.raw (read only).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-$build/screenshots}
cmake --build "$build" --target drentic-screenshots >/dev/null
mkdir -p "$out"
rm -f "$out"/*.png
DRENTIC_RESOURCE_DIR="$here/resources" \
  xvfb-run -a -s "-screen 0 1280x900x24" "$build/tools/screenshots/drentic-screenshots" "$out" \
  "$here/tests/data/hfsplus.raw"
echo "screenshots in $out"
