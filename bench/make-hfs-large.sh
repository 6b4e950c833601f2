#!/usr/bin/env bash
# Makes an HFS+ image of four files of 512 MiB of random bytes (2 GiB) with
# xorriso, for the save benchmark. Prints the image path.
#   make-hfs-large.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-hfs-large.sh OUTDIR}
mkdir -p "$out"
img="$out/hfs-large.iso"
if [ ! -s "$img" ]; then
  src=$(mktemp -d)
  trap 'rm -rf "$src"' EXIT
  mkdir "$src/large"
  for n in 1 2 3 4; do head -c 512M /dev/urandom > "$src/large/part$n.bin"; done
  xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -o "$img" "$src" >/dev/null 2>&1
fi
echo "$img"
