#!/usr/bin/env bash
# Makes a 1 GiB APFS container for the APFS scan benchmark: mkapfs's empty
# container, filled by `apfs_scan_bench --fill` with file-system-tree leaves,
# their stale copies and the files' data (about 110,000 files in 1,000
# folders). Prints the image path.
#   make-apfs-1g.sh BUILD_DIR OUTDIR
set -euo pipefail
build=${1:?usage: make-apfs-1g.sh BUILD_DIR OUTDIR}
out=${2:?usage: make-apfs-1g.sh BUILD_DIR OUTDIR}
mkdir -p "$out"
img="$out/apfs-1g.img"
if [ ! -s "$img" ]; then
  rm -f "$img.part"
  truncate -s 1G "$img.part"
  mkapfs -L BENCHAPFS "$img.part" >/dev/null
  "$build/bench/apfs_scan_bench" --fill "$img.part" >&2
  mv "$img.part" "$img"
fi
echo "$img"
