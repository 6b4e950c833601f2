#!/usr/bin/env bash
# Pictures of every screen, sheet and panel of the program, taken under a
# virtual X display:  tools/screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
# (defaults: build, build/screenshots). Builds the grabber first. The result
# screen shows the tree of a real scan of tests/data/hfsplus.raw (read only);
# the walk through the wizard uses it as a volume and, as a disk, a copy of
# the test GPT disk whose HFS+ partition entry is deleted (sgdisk).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build}
out=${2:-$build/screenshots}
cmake --build "$build" --target drentic-screenshots >/dev/null
mkdir -p "$out"
rm -f "$out"/*.png
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
[[ -f "$build/test-images/gpt.img" ]] || "$here/tests/fixtures/make-images.sh" "$build/test-images" >/dev/null
cp "$build/test-images/gpt.img" "$scratch/lost-volume.img"
sgdisk -d 3 "$scratch/lost-volume.img" >/dev/null
# The file-type lists the program edits live in a folder of their own.
mkdir -p "$scratch/state"
cp "$build"/resources/Sig_*.dat "$scratch/state/"
DRENTIC_STATE_DIR="$scratch/state" DRENTIC_RESOURCE_DIR="$here/resources" \
  xvfb-run -a -s "-screen 0 1280x900x24" "$build/tools/screenshots/drentic-screenshots" "$out" \
  "$here/tests/data/hfsplus.raw" "$scratch/lost-volume.img"
echo "screenshots in $out"
