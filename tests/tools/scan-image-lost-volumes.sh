#!/usr/bin/env bash
# The search for lost HFS+ volumes through scan-image lost-volumes, on disks
# holding volumes made by xorriso in one go, which share their creation date:
# a GPT disk with three of them whose middle entry was deleted with sgdisk,
# and a disk holding two byte-for-byte copies of one volume. Every volume is
# listed once, by its primary header; no volume's alternate header gives a
# row of its own.
#   scan-image-lost-volumes.sh SCAN_IMAGE
set -euo pipefail
scan=$1
for t in xorriso sgdisk; do
  command -v "$t" >/dev/null || { echo "$t not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

be_uint() { # FILE OFFSET NBYTES: a big-endian unsigned integer
  local v=0 b
  for b in $(od -An -tu1 -v -j "$2" -N "$3" "$1"); do v=$((v * 256 + b)); done
  echo "$v"
}

# Three volumes made as one job: xorriso dates each volume by the job's clock.
export SOURCE_DATE_EPOCH=1700000000
for n in 1 2 3; do
  mkdir -p "src$n/folder$n"
  echo "the file of volume $n" >"src$n/folder$n/file$n.txt"
  xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -V "VOL$n" -o "vol$n.iso" "src$n" 2>/dev/null
  # The hybrid image's Apple partition map names where its HFS+ volume starts.
  for entry in 1 2 3 4 5 6 7 8; do
    if [ "$(dd if="vol$n.iso" bs=1 skip=$((entry * 512 + 48)) count=9 status=none)" = Apple_HFS ]; then
      start=$(be_uint "vol$n.iso" $((entry * 512 + 8)) 4)
      break
    fi
  done
  header=$((start * 512 + 1024))
  bytes=$(($(be_uint "vol$n.iso" $((header + 44)) 4) * $(be_uint "vol$n.iso" $((header + 40)) 4)))
  dd if="vol$n.iso" of="vol$n.hfs" bs=512 skip="$start" count=$((bytes / 512)) status=none
  # The alternate header ends the volume 1024 bytes before its end.
  [ "$(od -An -tx1 -j $((bytes - 1024)) -N 2 "vol$n.hfs" | tr -d ' ')" = 482b ] || fail "vol$n has no alternate header"
  od -An -tx1 -j 1040 -N 4 "vol$n.hfs" >"date$n"
done
sectors=$((bytes / 512))
cmp -s date1 date2 && cmp -s date1 date3 || fail "the three volumes do not share their creation date"

# listed IMAGE START NAME: the search lists the volume at START, by its
# primary header and named so, exactly once.
listed() {
  local rows
  rows=$(grep -c "^volume	$2	$sectors	0	100	Apple_HFS	$3\$" "$1.out" || true)
  [ "$rows" = 1 ] || fail "$1: $rows rows for $3 at $2: $(cat "$1.out")"
  # Its alternate header, taken for a primary one, would start a volume 2 KiB
  # before the volume's end.
  ! grep -q "^row	$(($2 + sectors - 4))	" "$1.out" || fail "$1: the alternate header of $3 gives a row"
}

truncate -s 8M gpt.img
sgdisk -n 1:2048:+1M -t 1:AF00 -n 2:4096:+1M -t 2:AF00 -n 3:6144:+1M -t 3:AF00 gpt.img >/dev/null
for n in 1 2 3; do
  dd if="vol$n.hfs" of=gpt.img bs=512 seek=$((2048 * n)) conv=notrunc status=none
done
sgdisk -d 2 gpt.img >/dev/null
"$scan" lost-volumes gpt.img >gpt.img.out || fail "lost-volumes of gpt.img exited $?"
for n in 1 2 3; do listed gpt.img $((2048 * n)) "VOL$n"; done

truncate -s 4M copies.img
for at in 2048 5000; do
  dd if=vol1.hfs of=copies.img bs=512 seek="$at" conv=notrunc status=none
done
"$scan" lost-volumes copies.img >copies.img.out || fail "lost-volumes of copies.img exited $?"
for at in 2048 5000; do listed copies.img "$at" VOL1; done

[ "$failed" -eq 0 ] && echo "ok: every volume listed once" || exit 1
