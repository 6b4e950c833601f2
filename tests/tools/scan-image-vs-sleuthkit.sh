#!/usr/bin/env bash
# End-to-end check of a normal tree scan through scan-image against Sleuth
# Kit: every file fls lists (less what the clean-up removes by design: the
# hidden .fseventsd folder and the two private HFS+ folders) is in the found
# tree under the same path and file ID, and the bytes read back through the
# found extents equal icat's output.
#   scan-image-vs-sleuthkit.sh SCAN_IMAGE IMAGE START_SECTOR SAMPLE_EVERY
set -euo pipefail
scan=$1 image=$2 start=$3 every=${4:-1}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$image" "$work/image"
chmod u+w "$work/image"
img="$work/image"

if ! "$scan" tree "$img" --start "$start" >"$work/tree.tsv" 2>"$work/scan.err"; then
  echo "scan-image failed"; cat "$work/scan.err"; exit 1
fi
fls -r -p -f hfs -o "$start" "$img" >"$work/fls.txt"

checked=0 missing=0 content=0 n=0
while IFS=$'\t' read -r head path; do
  kind=${head%% *}
  id=${head#* }; id=${id%:}
  [ "$kind" = "r/r" ] || continue
  case "$path" in .fseventsd/*|*"HFS+ Private"*|'$'*) continue ;; esac
  checked=$((checked + 1))
  line=$(awk -F'\t' -v p="Root/$path" '$1 == p { print; exit }' "$work/tree.tsv")
  if [ -z "$line" ]; then
    echo "missing from the found tree: $path ($id)"; missing=$((missing + 1)); continue
  fi
  foundId=$(cut -f2 <<<"$line")
  if [ "$foundId" != "$id" ]; then
    echo "file ID differs for $path: fls $id, found $foundId"; missing=$((missing + 1)); continue
  fi
  n=$((n + 1))
  [ $((n % every)) -eq 0 ] || continue
  size=$(cut -f5 <<<"$line")
  extents=$(cut -f8 <<<"$line")
  : >"$work/found"
  IFS=',' read -ra parts <<<"$extents"
  for e in "${parts[@]}"; do
    [ -n "$e" ] || continue
    dd if="$img" bs=512 skip="${e%+*}" count="${e#*+}" status=none >>"$work/found"
  done
  truncate -s "$size" "$work/found"
  icat -f hfs -o "$start" "$img" "$id" >"$work/icat"
  if ! cmp -s "$work/found" "$work/icat"; then
    echo "content differs for $path ($id)"; content=$((content + 1))
  fi
done <"$work/fls.txt"

echo "files checked: $checked, missing or misnumbered: $missing, content differences: $content"
[ "$checked" -gt 0 ] && [ "$missing" -eq 0 ] && [ "$content" -eq 0 ]
