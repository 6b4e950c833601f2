#!/usr/bin/env bash
# What a carving pays to find what the page cache holds of a disk that has
# died, when nothing of the disk can be memory-mapped to ask (root, FUSE
# needed): the image is served by bad-sectors-fuse.py in direct I/O, which no
# mapping of disk.img is allowed for, and carved by scan-image from the served
# file itself, the disk dying as the carving reaches a share of it. Two disks:
# a 16 GiB sparse image with a photo every 64 MiB dying at 5 %, and a 4 GiB
# APFS container (mkapfs) with a photo every 32 MiB from 64 MiB on dying at
# 70 %. Each line gives the time the carving took, the reads the served device
# failed, and, from a second run under strace -c, the calls of mmap, fstat and
# geteuid the carving made; the cost after the death should not grow with
# what is left of the disk.
#   dead-medium-cache-look.sh BUILD_DIR [WORK_DIR]
set -euo pipefail
build=$(realpath "${1:?usage: dead-medium-cache-look.sh BUILD_DIR [WORK_DIR]}")
here=$(dirname "$(realpath "$0")")
work=${2:-$(mktemp -d)}
mkdir -p "$work/mnt"
cleanup() {
  umount "$work/mnt" 2>/dev/null || true
}
trap cleanup EXIT

photo=$work/photo.jpg
[ -s "$photo" ] || convert -seed 7 -size 640x480 plasma: -quality 90 "$photo"

# A sparse image of SIZE with the photo every EVERY MiB from FROM MiB on.
photos() { # image size-in-mib every-mib from-mib
  local at=$4
  while [ $((at + $3)) -le "$2" ]; do
    dd if="$photo" of="$1" bs=1M seek="$at" conv=notrunc status=none
    at=$((at + $3))
  done
}

disk=$work/disk-16g.img
if [ ! -s "$disk" ]; then
  truncate -s 16G "$disk"
  photos "$disk" 16384 64 0
fi
apfs=$work/apfs-4g.img
if [ ! -s "$apfs" ]; then
  rm -f "$apfs.part"
  truncate -s 4G "$apfs.part"
  mkapfs -L DEADAPFS "$apfs.part" >/dev/null
  photos "$apfs.part" 4096 32 64
  mv "$apfs.part" "$apfs"
fi

serve() { # image die-at-sector
  : >"$work/map"
  rm -f "$work/counts"
  DIRECT_IO=1 DIE_AT_SECTOR=$2 COUNT_FILE="$work/counts" python3 "$here/bad-sectors-fuse.py" "$1" "$work/mnt" \
    "@$work/map" 0 >/dev/null 2>&1 &
  for _ in $(seq 100); do [ -e "$work/mnt/disk.img" ] && break; sleep 0.1; done
}
unserve() {
  umount "$work/mnt"
  wait
}

run() { # name image die-at-sector scan-image-arguments...
  local name=$1 image=$2 death=$3
  shift 3
  serve "$image" "$death"
  local start took
  start=$(date +%s.%N)
  "$build/tools/scan-image" carve "$work/mnt/disk.img" "$@" >/dev/null 2>"$work/carve.log" || true
  took=$(echo "$(date +%s.%N) - $start" | bc)
  local failed
  failed=$(awk '{print $2}' "$work/counts" 2>/dev/null || echo "?")
  unserve
  serve "$image" "$death"
  strace -f --seccomp-bpf -c -e trace=mmap,fstat,newfstatat,geteuid -o "$work/strace.txt" \
    "$build/tools/scan-image" carve "$work/mnt/disk.img" "$@" >/dev/null 2>&1 || true
  unserve
  local calls
  calls=$(awk '$NF ~ /^(mmap|fstat|newfstatat|geteuid)$/ { printf "%s %s (%s failed)  ", $NF, $4, NF == 6 ? $5 : 0 }' \
    "$work/strace.txt")
  printf '%-44s %7.1f s  %5s failed reads  %s\n' "$name" "$took" "$failed" "$calls"
  grep -m1 -o "stopped answering[^.]*" "$work/carve.log" || true
}

run "16 GiB image dying at 5 %, photos" "$disk" $((16 * 1024 * 2048 * 5 / 100)) --types jpg
run "4 GiB APFS container dying at 70 %, photos" "$apfs" $((4 * 1024 * 2048 * 70 / 100)) --types jpg
