#!/usr/bin/env bash
# Carving through scan-image: on a disk of samples made by the fixture
# script, `carve --driver disk` lists a file at every sample's sector, and
# `save` writes files that begin with the samples' bytes (all of them where
# the carved file is as long).
#   scan-image-carve.sh SCAN_IMAGE MAKE_CARVE_IMAGES_SCRIPT
set -euo pipefail
scan=$(realpath "$1") make=$(realpath "$2")
for t in convert ffmpeg sox lame gs zip mkfs.vfat mcopy xorriso mkfs.exfat sfdisk; do
  command -v "$t" >/dev/null || { echo "$t not installed"; exit 77; }
done
/usr/bin/python3 -c 'import mido' 2>/dev/null || { echo "python3-mido not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$make" "$work/media"
cd "$work/media"
types=$(cut -d' ' -f1 disk.manifest | sed 's/.*\.//' | sort -u | paste -sd,)
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

"$scan" carve disk.img --types "$types" --driver disk >"$work/tree" 2>/dev/null || fail "carve exited $?"
mkdir "$work/saved"
out=$("$scan" save disk.img "$work/saved" --types "$types" --driver disk 2>/dev/null) || fail "save exited $?"
[ "$(printf '%s\n' "$out" | head -1)" = "Saving Completed" ] || fail "save said: $out"
while read -r sample sector; do
  path=$(awk -F'\t' -v s="$sector" '$4 == "f" && index($8, s "+") == 1 { print $1 }' "$work/tree")
  [ -n "$path" ] || { fail "$sample: nothing carved at sector $sector"; continue; }
  saved=$work/saved/$path
  [ -f "$saved" ] || { fail "$sample: $path not saved"; continue; }
  size=$(stat -c %s "$sample") got=$(stat -c %s "$saved")
  n=$((size < got ? size : got))
  [ "$n" -ge $((size < 512 ? size : 512)) ] || fail "$sample: $path holds only $got bytes"
  cmp -s -n "$n" "$sample" "$saved" || fail "$sample: $path differs in its first $n bytes"
done <disk.manifest

# An MBR disk of fat.img and, from the first sector of partition 2, a photo:
# carving partition 1 stays inside it unless --length says otherwise.
p1=2048 p2=$((2048 + $(stat -c %s fat.img) / 512))
truncate -s $(((p2 + 2048) * 512)) mbr.img
printf '%s\n' "$p1,$((p2 - p1)),6" "$p2,2048,83" | sfdisk -q --label dos mbr.img
dd if=fat.img of=mbr.img bs=512 seek=$p1 conv=notrunc status=none
dd if=gone.jpg of=mbr.img bs=512 seek=$p2 conv=notrunc status=none
last() { "$scan" carve mbr.img --types jpg "$@" 2>/dev/null | awk -F'\t' '$4 == "f" { split($8, e, "+"); print e[1] }' | sort -n | tail -1; }
for driver in volume fat-free; do
  at=$(last --start $p1 --driver $driver)
  [ -n "$at" ] && [ "$at" -lt $p2 ] || fail "partition 1 ($driver): last file carved at '$at'"
done
[ "$(last --start $p1 --driver volume --length $((p2 - p1 + 2048)))" = $p2 ] || fail "--length: the photo after it not carved"
[ "$(last --start $p2)" = $p2 ] || fail "partition 2: its photo not carved"

[ "$failed" -eq 0 ] || exit 1
echo "ok: $(wc -l <disk.manifest) samples carved and saved; partitions carved within their bounds"
