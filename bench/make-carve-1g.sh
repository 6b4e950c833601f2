#!/usr/bin/env bash
# Makes a 1 GiB disk image for the carving benchmark: 2 MiB stretches of
# filler, half of them random bytes (as compressed data and encrypted blocks
# look) and half zeros (never-written space), each holding one or two media
# files made by Debian tools at sectors that are 4096-aligned or only
# 512-aligned, about 950 files of 17 kinds in all. The same image every
# time: the filler comes from a keyed stream and the layout from a fixed seed.
# Beside it, IMAGE.list names each file placed: sector, sample, bytes.
# Prints the image path.
#   make-carve-1g.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-carve-1g.sh OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
img="$out/carve-1g.img"
if [ ! -s "$img" ]; then
  samples=$(mktemp -d)
  trap 'rm -rf "$samples"' EXIT
  # The search benchmark's JPEG, PNG, PDF, ZIP and MP3, and larger media of
  # the kinds a camera, a phone or a music folder leaves behind.
  "$here/../tests/fixtures/make-search-images.sh" "$samples" >/dev/null
  (
    cd "$samples"
    export LC_ALL=C TZ=UTC SOURCE_DATE_EPOCH=1700000000
    rm -f known.jpg live.jpg fat16.img fat32.img raw.img
    convert -seed 5 -size 1600x1200 plasma: -quality 90 camera.jpg
    convert -seed 6 -size 640x480 plasma: -quality 80 phone.jpg
    convert -seed 7 -size 400x300 plasma: shot.png
    convert -seed 8 -size 120x90 plasma: -colors 64 anim.gif
    convert -seed 9 -size 320x240 plasma: scan.bmp
    convert -seed 10 -size 320x240 plasma: -compress none scan.tif
    convert -seed 11 -size 320x240 plasma: -compress lzw lzw.tif
    sox -n -r 44100 -c 2 -b 16 voice.wav synth 2 sine 330 sine 550
    lame --quiet -b 192 voice.wav tune.mp3
    ff() { ffmpeg -loglevel error -y -f lavfi -i testsrc=duration=2:size=320x240:rate=15 "$@"; }
    ff -c:v mpeg4 -fflags +bitexact -map_metadata -1 clip.avi
    ff -c:v libx264 -pix_fmt yuv420p -fflags +bitexact -map_metadata -1 clip.mp4
    ff -c:v mjpeg -fflags +bitexact -map_metadata -1 clip.mov
  )
  rm -f "$img.list"
  mapfile -t names < <(cd "$samples" && ls)
  sectors() { echo $((($(stat -c %s "$1") + 511) / 512)); }

  # Random filler from a keyed stream, so that the image is the same on
  # every machine, then zeros over every other stretch.
  head -c 1G < <(openssl enc -aes-128-ctr -nosalt -pass pass:carve-bench -pbkdf2 </dev/zero 2>/dev/null) >"$img.part"
  RANDOM=22
  for ((stretch = 0; stretch < 512; stretch++)); do
    base=$((stretch * 4096)) # 2 MiB in sectors
    if ((RANDOM % 2)); then
      dd if=/dev/zero of="$img.part" bs=1M seek=$((stretch * 2)) count=2 conv=notrunc status=none
    fi
    sector=$((base + 8 * (RANDOM % 64)))
    for ((n = 0; n < 1 + RANDOM % 3; n++)); do
      f="$samples/${names[RANDOM % ${#names[@]}]}"
      # Half of the files start on a 4096-byte boundary, half one sector past it.
      ((RANDOM % 2)) && sector=$((sector + 1))
      ((sector + $(sectors "$f") < base + 4096)) || break
      dd if="$f" of="$img.part" bs=512 seek=$sector conv=notrunc status=none
      echo "$sector ${f##*/} $(stat -c %s "$f")" >>"$img.list"
      sector=$((sector + $(sectors "$f") + 8 * (1 + RANDOM % 16)))
      sector=$((sector - sector % 8))
    done
  done
  mv "$img.part" "$img"
fi
echo "$img"
