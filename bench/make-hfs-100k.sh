#!/usr/bin/env bash
# Makes an HFS+ image of 100,000 files (or THOUSANDS thousand, a multiple of
# 5) three folder levels deep with xorriso, for the scan benchmarks. Prints
# the image path and the HFS+ start sector.
#   make-hfs-100k.sh OUTDIR [THOUSANDS]
set -euo pipefail
. "$(dirname "$0")/tree-100k.sh"
out=${1:?usage: make-hfs-100k.sh OUTDIR [THOUSANDS]}
k=${2:-100}
[ $((k % 5)) -eq 0 ] && [ "$k" -gt 0 ] || { echo "THOUSANDS must be a positive multiple of 5" >&2; exit 2; }
mkdir -p "$out"
img="$out/hfs-${k}k.iso"
if [ ! -s "$img" ] || [ ! -s "$out/hfs-${k}k.start" ]; then
  src=$(mktemp -d)
  trap 'rm -rf "$src"' EXIT
  fill_tree "$src" "$k"
  xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -o "$img" "$src" >/dev/null 2>&1
  # The HFS+ partition's start, from the Apple partition map xorriso writes.
  python3 - "$img" > "$out/hfs-${k}k.start" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read(512 * 64)
count = struct.unpack('>I', data[512 + 4:512 + 8])[0]
for i in range(1, count + 1):
    e = data[512 * i:512 * (i + 1)]
    if e[:2] != b'PM':
        break
    if e[48:80].rstrip(b'\0') == b'Apple_HFS':
        print(struct.unpack('>I', e[8:12])[0])
        break
PY
fi
echo "$img $(cat "$out/hfs-${k}k.start")"
