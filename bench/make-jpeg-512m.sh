#!/usr/bin/env bash
# Makes a 512 MiB disk image for the JPEG carving benchmarks, as a camera
# card whose file system is gone looks: JPEG photos made by ImageMagick (a
# large and a small camera picture, a noisy one, a progressive one and a
# phone picture), one after another at 4096-aligned sectors, some only
# 512-aligned, with random bytes or zeros between them, photos on about two
# thirds of it. The same image every time: the filler comes from a keyed
# stream and the layout from a fixed seed. Beside it, IMAGE.list names each
# photo placed: sector, sample, bytes. Prints the image path.
#   make-jpeg-512m.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-jpeg-512m.sh OUTDIR}
mkdir -p "$out"
img="$out/jpeg-512m.img"
if [ ! -s "$img" ]; then
  samples=$(mktemp -d)
  trap 'rm -rf "$samples"' EXIT
  (
    cd "$samples"
    export LC_ALL=C TZ=UTC SOURCE_DATE_EPOCH=1700000000
    convert -seed 5 -size 4000x3000 plasma: -quality 92 large.jpg
    convert -seed 6 -size 1600x1200 plasma: -quality 90 camera.jpg
    convert -seed 7 -size 2048x1536 plasma: -attenuate 0.5 +noise Gaussian -quality 85 noisy.jpg
    convert -seed 8 -size 1920x1080 plasma: -interlace Plane -quality 88 progressive.jpg
    convert -seed 9 -size 640x480 plasma: -quality 80 phone.jpg
  )
  mapfile -t names < <(cd "$samples" && ls)
  sectors() { echo $((($(stat -c %s "$1") + 511) / 512)); }

  total=$((512 * 2048))
  rm -f "$img.list"
  head -c 512M < <(openssl enc -aes-128-ctr -nosalt -pass pass:jpeg-bench -pbkdf2 </dev/zero 2>/dev/null) >"$img.part"
  RANDOM=39
  # Zeros over every other 2 MiB stretch or so: never-written space.
  for ((stretch = 0; stretch < 256; stretch++)); do
    if ((RANDOM % 2)); then
      dd if=/dev/zero of="$img.part" bs=1M seek=$((stretch * 2)) count=2 conv=notrunc status=none
    fi
  done
  sector=$((8 * (RANDOM % 64)))
  while :; do
    f="$samples/${names[RANDOM % ${#names[@]}]}"
    # One photo in four starts one sector past a 4096-byte boundary.
    ((RANDOM % 4 == 0)) && sector=$((sector + 1))
    ((sector + $(sectors "$f") < total)) || break
    dd if="$f" of="$img.part" bs=512 seek=$sector conv=notrunc status=none
    echo "$sector ${f##*/} $(stat -c %s "$f")" >>"$img.list"
    # Between photos: up to 1 MiB of what the filler holds there.
    sector=$((sector + $(sectors "$f") + 8 * (RANDOM % 256)))
    sector=$((sector - sector % 8 + 8))
  done
  mv "$img.part" "$img"
fi
echo "$img"
