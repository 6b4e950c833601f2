#!/usr/bin/env bash
# scan-image lost-volumes on disks of HFS+ volumes that xorriso made in one go,
# which share their creation date: a GPT disk of three whose middle entry
# sgdisk deleted, and a disk holding two copies of one. Each volume is listed
# once, by its primary header, and nothing else: no volume's alternate header
# gives a row, nor does a volume's own header read as an alternate one.
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
u32() { od -An -tu4 --endian=big -j "$2" -N 4 "$1" | tr -d ' '; }

export SOURCE_DATE_EPOCH=1700000000 # one job: xorriso dates every volume by its clock
for n in 1 2 3; do
  mkdir -p "src$n/folder$n" && echo "volume $n" >"src$n/folder$n/file$n.txt"
  xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -V "VOL$n" -o "vol$n.iso" "src$n" 2>/dev/null
  # The hybrid image's Apple partition map says where its HFS+ volume starts.
  start=$(for e in 1 2 3 4 5 6 7 8; do
    [ "$(dd if="vol$n.iso" bs=1 skip=$((e * 512 + 48)) count=9 status=none)" = Apple_HFS ] &&
      u32 "vol$n.iso" $((e * 512 + 8)) && break
  done)
  sectors=$(($(u32 "vol$n.iso" $((start * 512 + 1068))) * $(u32 "vol$n.iso" $((start * 512 + 1064))) / 512))
  dd if="vol$n.iso" of="vol$n.hfs" bs=512 skip="$start" count="$sectors" status=none
  [ "$(od -An -tx1 -j $((sectors * 512 - 1024)) -N 2 "vol$n.hfs" | tr -d ' ')" = 482b ] || fail "vol$n: no alternate header"
  u32 "vol$n.hfs" 1040 >"date$n"
done
cmp -s date1 date2 && cmp -s date1 date3 || fail "the volumes do not share their creation date"

# listed IMAGE START NAME: one row, by its primary header, for the volume at
# START; none for its alternate header read as a primary one.
listed() {
  [ "$(grep -c "^volume	$2	$sectors	0	100	Apple_HFS	$3\$" "$1.out")" = 1 ] || fail "$1: $3 at $2: $(cat "$1.out")"
  ! grep -q "^row	$(($2 + sectors - 4))	" "$1.out" || fail "$1: the alternate header of $3 gives a row"
}

truncate -s 8M gpt.img
sgdisk -n 1:2048:+1M -n 2:4096:+1M -n 3:6144:+1M -t 1:AF00 -t 2:AF00 -t 3:AF00 gpt.img >/dev/null
for n in 1 2 3; do dd if="vol$n.hfs" of=gpt.img bs=512 seek=$((2048 * n)) conv=notrunc status=none; done
sgdisk -d 2 gpt.img >/dev/null
truncate -s 4M copies.img
for at in 2048 5000; do dd if=vol1.hfs of=copies.img bs=512 seek="$at" conv=notrunc status=none; done
for image in gpt.img copies.img; do
  "$scan" lost-volumes "$image" >"$image.out" || fail "lost-volumes of $image exited $?"
done
for n in 1 2 3; do listed gpt.img $((2048 * n)) "VOL$n"; done
for at in 2048 5000; do listed copies.img "$at" VOL1; done
# Nothing else: no swept "Untitled" ghost beside the volumes.
[ "$(grep -c '^row' gpt.img.out) $(grep -c '^row' copies.img.out)" = "3 2" ] || fail "rows beside the volumes"

[ "$failed" -eq 0 ] && echo "ok: every volume listed once" || exit 1
