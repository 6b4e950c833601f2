#!/usr/bin/env bash
# Recovery sessions through scan-image, read as the window reads them: a
# session written by `tree --session-out` prints the scan's tree; cut inside
# its found files' print, or short of it, it is refused with the window's
# message and exit status 1; cut exactly at the tree's end it is a session
# of the time before prints were kept, and prints the same tree.
#   scan-image-session.sh SCAN_IMAGE DATA_DIR
set -euo pipefail
scan=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

cp "$data/hfsplus.raw" "$work/image"
"$scan" tree "$work/image" --session-out "$work/whole.drs" >"$work/scan.tsv" 2>"$work/scan.err" ||
  { cat "$work/scan.err"; exit 1; }
# The print ends the file: "FPRT", a big-endian count, that many 16-byte pairs.
size=$(stat -c %s "$work/whole.drs") treeEnd=0
for count in $(seq 1 64); do
  at=$((size - 8 - 16 * count))
  [ "$(od -An -tx1 -j "$at" -N 8 "$work/whole.drs" | tr -d ' \n')" = "$(printf '46505254%08x' "$count")" ] &&
    { treeEnd=$at; break; }
done
[ "$treeEnd" -gt 1024 ] || { echo "FAIL: the session ends in no print of found files"; exit 1; }

for length in "$size" $((size - 3)) $((treeEnd + 8)) $((treeEnd + 2)) "$treeEnd" $((treeEnd - 1)); do
  head -c "$length" "$work/whole.drs" >"$work/cut.drs"
  rc=0
  "$scan" session "$work/cut.drs" >"$work/out" 2>"$work/err" || rc=$?
  if [ "$length" -eq "$size" ] || [ "$length" -eq "$treeEnd" ]; then
    [ "$rc" -eq 0 ] && cmp -s "$work/scan.tsv" "$work/out" || fail "$length of $size bytes: not the scan's tree"
  else
    [ "$rc" -eq 1 ] && [ ! -s "$work/out" ] || fail "$length of $size bytes: exit status $rc, or a tree printed"
    [ "$(cat "$work/err")" = "scan-image: This recovery session file is damaged." ] ||
      fail "$length of $size bytes: said $(cat "$work/err")"
  fi
done
[ "$failed" -eq 0 ]
