#!/usr/bin/env bash
# Manual check on a dying disk (root, FUSE and loop devices needed): every
# file of an HFS+ image read as a save reads it, from a loop device whose
# sectors FIRST..FIRST+COUNT-1 fail, through the save's range reader and
# through a descriptor with the kernel's read-ahead on. Through the save
# reader no file should fail, only the files on bad sectors should hold
# unreadable sectors, and no byte outside them should differ from the image.
#   bad-sector-save-check.sh BUILD_DIR [IMAGE START FIRST COUNT]
# Defaults: the xorriso test image of BUILD_DIR, and 96 bad sectors in its
# file data. The loop device reads the served file through its page cache,
# which fails a whole page for one bad sector: a range of bad sectors that
# does not fill whole pages takes the good sectors beside it down too.
set -euo pipefail
build=$(realpath "${1:?usage: bad-sector-save-check.sh BUILD_DIR [IMAGE START FIRST COUNT]}")
image=$(realpath "${2:-$build/test-images/hfsplus.iso}")
start=${3:-$(cat "$build/test-images/hfsplus.start")}
first=${4:-$((start + 4000))}
count=${5:-96}
work=$(mktemp -d)
mkdir "$work/mnt"
loop=
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop"
  umount "$work/mnt" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
python3 "$(dirname "$0")/bad-sectors-fuse.py" "$image" "$work/mnt" "$first" "$count" &
for _ in $(seq 50); do [ -e "$work/mnt/disk.img" ] && break; sleep 0.1; done
loop=$(losetup -r -f --show "$work/mnt/disk.img")
"$build/bench/bad_sector_save_check" "$loop" "$image" "$start" "$first" "$count"
