#!/usr/bin/env bash
# APFS through scan-image: the macOS-made container, bare, inside a GPT
# partition (type AF0A) at a start sector and past 2 TiB, gives its entries under their
# folders, and its files saved with `save` hold the README's contents; an
# empty container made by mkapfs gives the root alone. The content is found
# without --content.
#   scan-image-apfs.sh SCAN_IMAGE DATA_DIR
set -euo pipefail
scan=$1 data=$2
for t in sgdisk mkapfs; do
  command -v "$t" >/dev/null || { echo "$t not installed"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

expected='Root/a_directory	16	2	d	75
Root/a_directory/a_file	17	16	f	53
Root/a_directory/another_file	19	16	f	22
Root/a_directory/a_resourcefork	23	16	f	0
Root/passwords.txt	18	2	f	116
Root/a_link	20	2	f	0'
truncate -s 8M "$work/gpt.img"
sgdisk -n 1:2048:+4M -t 1:AF0A "$work/gpt.img" >/dev/null
dd if="$data/apfs.raw" of="$work/gpt.img" bs=512 seek=2048 conv=notrunc status=none
# A container past the first 2 TiB of a disk of 512-byte sectors (a sparse
# file): its files' data lie beyond any 32-bit sector number.
far=$((4294967296 + 2048))
truncate -s $(((far + 8192) * 512)) "$work/far.img"
dd if="$data/apfs.raw" of="$work/far.img" bs=512 seek="$far" conv=notrunc status=none
for case in "$data/apfs.raw 0" "$work/gpt.img 2048" "$work/far.img $far"; do
  set -- $case
  tree=$("$scan" tree "$1" --start "$2" 2>/dev/null | tail -n +2 | cut -f1-5)
  [ "$tree" = "$expected" ] || fail "tree of $1 at $2: $tree"
  dest=$work/save.$2
  mkdir "$dest"
  "$scan" save "$1" "$dest" --content APFS --start "$2" >/dev/null 2>&1 || fail "save of $1 exited $?"
  [ "$(cat "$dest/Root/a_directory/a_file")" = "$(printf 'This is a text file.\n\nWe should be able to parse it.')" ] ||
    fail "a_file of $1"
  [ "$(cat "$dest/Root/a_directory/another_file")" = "This is another file." ] || fail "another_file of $1"
  [ "$(sha256sum <"$dest/Root/passwords.txt" | cut -c1-16)" = "$(printf 'place,user,password\nbank,joesmith,superrich\nalarm system,-,1234\ntreasure chest,-,1111\nuber secret laire,admin,admin\n' | sha256sum | cut -c1-16)" ] ||
    fail "passwords.txt of $1"
done

truncate -s 128M "$work/empty.img"
mkapfs "$work/empty.img" >/dev/null 2>&1 || { echo "mkapfs failed"; exit 77; }
tree=$("$scan" tree "$work/empty.img" 2>/dev/null | cut -f1-5)
[ "$tree" = "$(printf 'Root\t2\t1\td\t0')" ] || fail "empty container: $tree"

[ "$failed" -eq 0 ] && echo "ok: APFS trees and saves" || exit 1
