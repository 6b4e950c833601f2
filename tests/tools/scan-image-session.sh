#!/usr/bin/env bash
# Recovery sessions through scan-image: a session written by `tree
# --session-out` prints the scan's tree; cut inside its found files' print,
# or anywhere short of it after the head, it is refused as the window
# refuses it (the window's message, exit status 1); cut exactly at the
# tree's end it is a session of the time before prints were kept, and
# prints the same tree.
#   scan-image-session.sh SCAN_IMAGE DATA_DIR
set -euo pipefail
scan=$1 data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

cp "$data/hfsplus.raw" "$work/image"
if ! "$scan" tree "$work/image" --session-out "$work/whole.drs" >"$work/scan.tsv" 2>"$work/scan.err"; then
  echo "FAIL: the scan wrote no session"; cat "$work/scan.err"; exit 1
fi
"$scan" session "$work/whole.drs" >"$work/whole.tsv" || fail "the whole session was refused"
cmp -s "$work/scan.tsv" "$work/whole.tsv" || fail "the session prints another tree than the scan"

# The print ends the file: "FPRT", a big-endian count, that many 16-byte pairs.
size=$(stat -c %s "$work/whole.drs")
treeEnd=
for count in $(seq 1 64); do
  at=$((size - 8 - 16 * count))
  [ "$at" -gt 1024 ] || break
  if [ "$(od -An -tx1 -j "$at" -N 8 "$work/whole.drs" | tr -d ' \n')" = "$(printf '46505254%08x' "$count")" ]; then
    treeEnd=$at
    break
  fi
done
[ -n "$treeEnd" ] || { echo "FAIL: the session ends in no print of found files"; exit 1; }

# refused LENGTH: the session cut to LENGTH bytes is refused as damaged.
refused() {
  local rc=0
  head -c "$1" "$work/whole.drs" >"$work/cut.drs"
  "$scan" session "$work/cut.drs" >"$work/out" 2>"$work/err" || rc=$?
  [ "$rc" -eq 1 ] || fail "cut to $1 of $size bytes: exit status $rc"
  [ "$(cat "$work/err")" = "scan-image: This recovery session file is damaged." ] ||
    fail "cut to $1 of $size bytes: said $(cat "$work/err")"
  [ ! -s "$work/out" ] || fail "cut to $1 of $size bytes: printed a tree"
}
for length in $((size - 3)) $((size - 16)) $((treeEnd + 8)) $((treeEnd + 2)) $((treeEnd - 1)) 2000; do
  refused "$length"
done

head -c "$treeEnd" "$work/whole.drs" >"$work/cut.drs"
if "$scan" session "$work/cut.drs" >"$work/out" 2>"$work/err"; then
  cmp -s "$work/scan.tsv" "$work/out" || fail "cut at the tree's end: another tree"
else
  fail "cut at the tree's end: refused: $(cat "$work/err")"
fi

[ "$failed" -eq 0 ] && echo "ok: $size bytes, print from $treeEnd"
[ "$failed" -eq 0 ]
