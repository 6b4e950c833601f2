#!/usr/bin/env bash
# Makes a FAT32 image of 100,000 files (or THOUSANDS thousand, a multiple of
# 5) three folder levels deep with mkfs.vfat and mtools, for the scan
# benchmarks, with some of them then deleted. Prints the image path and
# its start sector (0).
#   make-fat-100k.sh OUTDIR [THOUSANDS]
set -euo pipefail
. "$(dirname "$0")/tree-100k.sh"
out=${1:?usage: make-fat-100k.sh OUTDIR [THOUSANDS]}
k=${2:-100}
[ $((k % 5)) -eq 0 ] && [ "$k" -gt 0 ] || { echo "THOUSANDS must be a positive multiple of 5" >&2; exit 2; }
mkdir -p "$out"
img="$out/fat-${k}k.img"
export MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null
if [ ! -s "$img" ]; then
  src=$(mktemp -d)
  trap 'rm -rf "$src"' EXIT
  fill_tree "$src" "$k"
  # One 512-byte cluster a file, and room for the folders.
  rm -f "$img.part"
  mkfs.vfat -C -F 32 -s 1 "$img.part" $((k * 1024 * 3 / 4 + 40 * 1024)) >/dev/null
  mcopy -s -i "$img.part" "$src"/* ::/
  for a in $(seq -w 0 $((k / 5 - 1))); do
    mdel -i "$img.part" "::/a$a/b00/c/f0*.txt"
  done
  mv "$img.part" "$img"
fi
echo "$img 0"
