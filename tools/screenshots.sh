#!/usr/bin/env bash
# Pictures of every screen, sheet and panel of the program, taken under a
# virtual X display:  tools/screenshots.sh [BUILD_DIR] [OUTPUT_DIR]
# (defaults: build, build/screenshots). Builds the grabber first. The result
# screen shows the tree of a real scan of tests/data/hfsplus.raw (read only);
# the walk through the wizard uses it as a volume and, as a disk, a copy of
# the test GPT disk whose HFS+ partition entry is deleted (sgdisk); a copy of
# the test exFAT volume with a photo (ImageMagick) in its free space; the
# macOS-made APFS container of tests/data as a whole disk; and a GPT disk
# whose second of three HFS+ entries is deleted (sgdisk).
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
cp "$build/test-images/exfat.img" "$scratch/exfat-stick.img"
convert -size 320x240 gradient:red-blue "$scratch/photo.jpg"
dd if="$scratch/photo.jpg" of="$scratch/exfat-stick.img" bs=512 seek=24000 conv=notrunc status=none
truncate -s 8M "$scratch/three.img"
sgdisk -n 1:2048:4095 -c 1:One -n 2:4096:6143 -c 2:Two -n 3:6144:8191 -c 3:Three -t 1:af00 -t 2:af00 -t 3:af00 \
  "$scratch/three.img" >/dev/null
sgdisk -d 2 "$scratch/three.img" >/dev/null
# The file-type lists the program edits live in a folder of their own.
mkdir -p "$scratch/state"
cp "$build"/resources/Sig_*.dat "$scratch/state/"
DRENTIC_STATE_DIR="$scratch/state" DRENTIC_RESOURCE_DIR="$here/resources" \
  xvfb-run -a -s "-screen 0 1280x900x24" "$build/tools/screenshots/drentic-screenshots" "$out" \
  "$here/tests/data/hfsplus.raw" "$scratch/lost-volume.img" "$scratch/exfat-stick.img" "$here/tests/data/apfs.raw" \
  "$scratch/three.img"
echo "screenshots in $out"
