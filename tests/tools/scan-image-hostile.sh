#!/usr/bin/env bash
# scan-image on what a recovery meets: a read-only loop device over the
# macOS-made volume lists the same tree as the image; a name holding a
# newline and an escape byte is written escaped; a scan that finds no usable
# volume says so and exits non-zero.
#   scan-image-hostile.sh SCAN_IMAGE DATA_DIR
set -euo pipefail
scan=$1 data=$2
[ "$(id -u)" -eq 0 ] && command -v losetup >/dev/null || { echo "needs root and losetup"; exit 77; }
work=$(mktemp -d) loop=
trap '[ -z "$loop" ] || losetup -d "$loop"; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
fail() { echo "$*"; exit 1; }

img=$work/hfsplus.raw
cp "$data/hfsplus.raw" "$img" && chmod u+w "$img"
# "a_link" (its key and its thread record, UTF-16 big-endian) becomes "a<LF>l<ESC>nk".
for at in $(grep -obUaP '\x00a\x00_\x00l\x00i\x00n\x00k' "$img" | cut -d: -f1); do
  printf '\0a\0\n\0l\0\033\0n\0k' | dd of="$img" bs=1 seek="$at" conv=notrunc status=none
done
"$scan" tree "$img" >"$work/image.tsv" 2>/dev/null
grep -qF $'Root/a\\nl\\x1bnk\t22\t2\tf' "$work/image.tsv" || fail "the name is not escaped: $(grep 22 "$work/image.tsv")"

loop=$(losetup -r -f --show "$img")
"$scan" tree "$loop" >"$work/device.tsv" 2>"$work/err" || fail "scan of $loop failed: $(cat "$work/err")"
cmp -s "$work/image.tsv" "$work/device.tsv" || fail "the loop device lists another tree than its image"

truncate -s 4M "$work/zeros.img"
for mode in normal advanced deleted; do
  ! "$scan" tree "$work/zeros.img" --content Apple_HFS --mode $mode >/dev/null 2>"$work/err" || fail "$mode: exit 0"
  grep -q "no usable volume" "$work/err" || fail "$mode: no message"
done
echo "loop device, escaped names and exits checked"
