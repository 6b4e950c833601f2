#!/usr/bin/env bash
# Makes a 1 GiB disk image for the search benchmark: random bytes with a
# JPEG, a PNG, a PDF, a ZIP and an MP3 (made by the fixture script) written
# at the start of every 8 MiB, 640 files in all. Beside it, IMAGE.list names
# each file placed: sector, sample, bytes. Prints the image path.
#   make-search-1g.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-search-1g.sh OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
img="$out/search-1g.img"
if [ ! -s "$img" ]; then
  samples=$(mktemp -d)
  trap 'rm -rf "$samples"' EXIT
  "$here/../tests/fixtures/make-search-images.sh" "$samples" >/dev/null
  rm -f "$img.list"
  head -c 1G /dev/urandom > "$img.part"
  for ((mib = 0; mib < 1024; mib += 8)); do
    sector=$((mib * 2048))
    for f in photo.jpg pic.png doc.pdf arc.zip song.mp3; do
      dd if="$samples/$f" of="$img.part" bs=512 seek=$sector conv=notrunc status=none
      echo "$sector $f $(stat -c %s "$samples/$f")" >>"$img.list"
      sector=$((sector + ($(stat -c %s "$samples/$f") + 511) / 512 + 1))
    done
  done
  mv "$img.part" "$img"
fi
echo "$img"
