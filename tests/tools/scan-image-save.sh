#!/usr/bin/env bash
# Saving through scan-image: every file of the xorriso HFS+ volume saved
# into a fresh folder has the checksum its manifest gives, under "Root" and
# the volume's folders; a second save into the same folder keeps both
# copies; a marked subtree is saved alone; the files of the macOS-made
# volume read as The Sleuth Kit's icat reads them; saved files are not
# executable; and a save whose writes fail, or that saves nothing, says so
# and exits non-zero.
#   scan-image-save.sh SCAN_IMAGE IMAGES_DIR SHARED_FIXTURES_DIR
set -euo pipefail
scan=$1 dir=$2 shared=$3
for t in sha256sum icat; do
  command -v "$t" >/dev/null || { echo "$t not installed"; exit 77; }
done
iso=$dir/hfsplus.iso manifest=$dir/hfsplus.manifest
start=$(cat "$dir/hfsplus.start")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# check_manifest ROOT SUFFIX: every file of the manifest under ROOT (with
# SUFFIX put before its extension, as a renamed second copy has it) has the
# manifest's checksum, every folder exists, and empty files are not created.
check_manifest() {
  local root=$1 suffix=$2 report
  (cd "$root" && find . -type f -print0 | xargs -0 -r sha256sum) >"$work/sums"
  (cd "$root" && find . -type d) >"$work/dirs"
  report=$(awk -F'\t' -v suffix="$suffix" '
    FILENAME ~ /sums$/ { sum = substr($0, 1, 64); path = substr($0, 69); have[path] = sum; next }
    FILENAME ~ /dirs$/ { dirs[substr($0, 3)] = 1; next }
    /^#/ { next }
    {
      path = $1
      if ($4 == "dir") { if (!(path in dirs)) print "FAIL: folder " path " missing"; next }
      if (suffix != "") {
        n = split(path, parts, "/"); base = parts[n]; dot = 0
        for (i = length(base); i > 0; i--) if (substr(base, i, 1) == ".") { dot = i; break }
        renamed = dot ? substr(base, 1, dot - 1) suffix substr(base, dot) : base suffix
        path = substr(path, 1, length(path) - length(base)) renamed
      }
      if ($2 == 0) { if (path in have) print "FAIL: empty file " path " was created"; next }
      if (!(path in have)) { print "FAIL: file " path " missing"; next }
      if (have[path] != $5) print "FAIL: file " path " differs"
      checked++
    }
    END { print "ok: " checked " files checked" }' "$work/sums" "$work/dirs" "$manifest")
  printf '%s\n' "$report" | grep -q '^FAIL' && { printf '%s\n' "$report" | grep '^FAIL' | head; failed=$((failed + 1)); }
  printf '%s\n' "$report" | tail -1
}

# The whole volume.
dest=$work/all
mkdir "$dest"
out=$("$scan" save "$iso" "$dest" --start "$start" 2>/dev/null) || fail "save exited $?"
[ "$(printf '%s\n' "$out" | head -1)" = "Saving Completed" ] || fail "first save said: $out"
[ "$(printf '%s\n' "$out" | sed -n 2p)" = "Saved at: $dest" ] || fail "first save said: $out"
check_manifest "$dest/Root" ""
files=$(find "$dest" -type f | wc -l)
[ -z "$(find "$dest" -type f -perm /111)" ] || fail "saved files are executable"

# Again into the same folder: nothing is overwritten, every file has a twin.
out=$("$scan" save "$iso" "$dest" --start "$start" 2>/dev/null) || fail "second save exited $?"
[ "$(printf '%s\n' "$out" | head -1)" = "Saving Completed" ] || fail "second save said: $out"
[ "$(find "$dest" -type f | wc -l)" -eq $((2 * files)) ] || fail "second save did not keep both copies"
check_manifest "$dest/Root" ""
check_manifest "$dest/Root" "_"

# One subtree, with the folders above it.
dest=$work/large
mkdir "$dest"
"$scan" save "$iso" "$dest" --start "$start" --only Root/large >/dev/null 2>&1 || fail "subtree save exited $?"
got=$(cd "$dest" && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$got" = "./Root ./Root/large ./Root/large/blob-1M.bin ./Root/large/blob-2M.bin ./Root/large/photo.jpg " ] ||
  fail "subtree save made: $got"
"$scan" save "$iso" "$dest" --start "$start" --only Root/nothing-here >/dev/null 2>&1 && fail "a path naming nothing was accepted"

# The macOS-made volume, against icat.
raw=$work/hfsplus.raw
cp "$shared/hfsplus.raw" "$raw"
dest=$work/macos
mkdir "$dest"
"$scan" save "$raw" "$dest" >/dev/null 2>&1 || fail "macOS volume save exited $?"
for f in a_directory/a_file a_directory/another_file passwords.txt; do
  id=$(fls -r -p -f hfs "$raw" | awk -v p="$f" -F'\t' '$2 == p { split($1, a, " "); sub(":", "", a[2]); print a[2] }')
  [ -n "$id" ] || { fail "fls does not list $f"; continue; }
  cmp -s <(icat -f hfs "$raw" "$id") "$dest/Root/$f" || fail "$f differs from icat"
done

# Writes that fail: a file-size limit refuses everything past 64 KiB.
dest=$work/limited
mkdir "$dest"
big=$(awk -F'\t' '$1 !~ /^#/ && $4 == "file" && $2 > 65536' "$manifest" | wc -l)
set +e
out=$(trap '' XFSZ; ulimit -f 64; "$scan" save "$iso" "$dest" --start "$start" 2>/dev/null)
status=$?
set -e
[ "$status" -eq 1 ] || fail "a save with failed writes exited $status"
[ "$(printf '%s\n' "$out" | head -1)" = "Saving completed with $big errors" ] || fail "failed writes said: $out"
printf '%s\n' "$out" | grep -q "^$big of the marked files and folders could not be saved" || fail "failed writes said: $out"

# A save of nothing (the deleted view of a volume without deleted files) and
# one whose every write fails are never "Saving Completed".
#   not_completed NAME TITLE IMAGE [OPTION...]
not_completed() {
  local dest=$work/$1 want=$2 out status
  shift 2
  mkdir "$dest"
  set +e
  out=$(trap '' XFSZ; ulimit -f 0; "$scan" save "$1" "$dest" "${@:2}" 2>/dev/null)
  status=$?
  set -e
  [ "$status" -eq 1 ] && [ "$(printf '%s\n' "$out" | head -1)" = "$want" ] || fail "$want: exited $status, said: $out"
}
not_completed nothing "Nothing Saved" "$raw" --mode deleted
not_completed unwritten "Saving Failed" "$iso" --start "$start" --only Root/large

[ "$failed" -eq 0 ] || { echo "$failed failures"; exit 1; }
echo "all saves checked"
