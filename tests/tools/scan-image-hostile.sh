#!/usr/bin/env bash
# scan-image on a read-only loop device, on a name with control characters and on a volume it cannot use.
#   scan-image-hostile.sh SCAN_IMAGE DATA_DIR
set -euo pipefail
source "$(dirname "$(readlink -f "$0")")/../support/loop-devices.sh"
scan=$1 img=$(mktemp -d)/hfsplus.raw loop=
[ "$(id -u)" -eq 0 ] && command -v losetup >/dev/null || { echo "needs root and losetup"; exit 77; }
trap '[ -z "$loop" ] || loop_detach_own "$loop" "$loop_attachment"; rm -rf "${img%/*}"' EXIT && trap 'exit 1' INT TERM
fail() { echo "$*"; exit 1; }
cp "$2/hfsplus.raw" "$img" && chmod u+w "$img"
# "a_link" (key and thread record, UTF-16 big-endian) becomes "a<LF>l<ESC>nk".
for at in $(grep -obUaP '\x00a\x00_\x00l\x00i\x00n\x00k' "$img" | cut -d: -f1); do
  printf '\0a\0\n\0l\0\033\0n\0k' | dd of="$img" bs=1 seek="$at" conv=notrunc status=none
done
"$scan" tree "$img" >"$img.tsv" 2>/dev/null
grep -qF $'Root/a\\nl\\x1bnk\t22\t2\tf' "$img.tsv" || fail "the name is not escaped: $(grep 22 "$img.tsv")"
loop_attach loop "$img" -r
"$scan" tree "$loop" 2>"$img.err" | cmp -s "$img.tsv" - || fail "$loop lists another tree: $(cat "$img.err")"
truncate -s 4M "$img.zeros"
for mode in normal advanced deleted; do
  ! "$scan" tree "$img.zeros" --content Apple_HFS --mode $mode >/dev/null 2>"$img.err" || fail "$mode: exit 0"
  grep -q "no usable volume" "$img.err" || fail "$mode: no message"
done
