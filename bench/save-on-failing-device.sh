#!/usr/bin/env bash
# Manual check of the save on a failing disk (root, FUSE and loop devices
# needed): a 256 MiB FAT32 image made with mkfs.vfat and mtools (41 files of
# random bytes and photos), served by bad-sectors-fuse.py with the bad
# sectors of each pattern below, is saved by scan-image from a read-only loop
# device, and the same save is made from a copy of the image whose bad
# sectors are zeros (what dd conv=noerror,sync of the device would give).
# The two saves should be identical: every readable sector of every file is
# the medium's, every unreadable one zeros, and the save runs to its end; a
# file of which nothing could be read is not saved at all (the copy's save
# holds it as zeros). Each line gives the reads the served device failed.
# The reserved sectors, the FATs and the root folder stay readable. The last
# two patterns show where they are not: pages bad but for one in sixteen give
# no sign of a live disk, and damage that fails every sector the walk of a
# stretch steps to, up to the medium's end, costs the sectors between them.
#   [SEED=N] save-on-failing-device.sh BUILD_DIR [cached]
# "cached" serves the file through the page cache, which fails a whole 4 KiB
# page for one bad sector to the loop device; the save reads the sectors of
# such a page past every cache (the file itself, with O_DIRECT), so the copy
# zeros the bad sectors alone in either mode.
set -euo pipefail
build=$(realpath "${1:?usage: save-on-failing-device.sh BUILD_DIR [cached]}")
mode=${2:-direct}
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
mkdir "$work/mnt" "$work/files"
loop=
cleanup() {
  [ -n "$loop" ] && losetup -d "$loop" 2>/dev/null || true
  umount "$work/mnt" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

image=$work/fat.img
truncate -s 256M "$image"
mkfs.vfat -F 32 -s 4 -n FAILING "$image" >/dev/null
export MTOOLS_SKIP_CHECK=1
for i in $(seq 1 33); do
  head -c $(((i * 7919 * 37) % 3000000 + 10000)) /dev/urandom >"$work/files/data$i.bin"
done
for i in $(seq 1 8); do
  convert -size $((400 + i * 150))x$((300 + i * 100)) plasma:fractal -quality 92 "$work/files/photo$i.jpg"
done
mcopy -i "$image" "$work/files"/* ::/
data_start=$(python3 - "$image" <<'EOF'
import struct, sys
b = open(sys.argv[1], 'rb').read(512)
reserved, fats, fat_sectors = struct.unpack_from('<H', b, 14)[0], b[16], struct.unpack_from('<I', b, 36)[0]
print(reserved + fats * fat_sectors)
EOF
)
# The root folder's cluster (2 KiB) comes first and stays readable.
first=$((data_start + 64))
sectors=524288

run() { # name, then the map's lines
  local name=$1
  shift
  printf '%s\n' "$@" >"$work/map"
  python3 - "$image" "$work/map" "$work/zeroed.img" <<'EOF'
import sys
image, mapfile, out = sys.argv[1:4]
data = bytearray(open(image, 'rb').read())
total = len(data) // 512
bad = set()
for line in open(mapfile):
    f = [int(x) for x in line.split()]
    if not f:
        continue
    first, count = f[0], f[1]
    every = f[2] if len(f) > 2 else 0
    end = first + every * f[3] if len(f) > 3 else total
    starts = range(first, end, every) if every else [first]
    for s in starts:
        bad.update(range(s, min(s + count, total)))
for s in bad:
    data[s * 512:(s + 1) * 512] = bytes(512)
open(out, 'wb').write(data)
EOF
  local direct=1
  [ "$mode" = cached ] && direct=0
  DIRECT_IO=$direct COUNT_FILE="$work/counts" python3 "$here/bad-sectors-fuse.py" "$image" "$work/mnt" "@$work/map" 0 &
  for _ in $(seq 50); do [ -e "$work/mnt/disk.img" ] && break; sleep 0.1; done
  loop=$(losetup -r -f --show "$work/mnt/disk.img")
  rm -rf "$work/got" "$work/want"
  mkdir "$work/got" "$work/want"
  local start rc=0
  start=$(date +%s.%N)
  "$build/tools/scan-image" save "$loop" "$work/got" >"$work/got.log" 2>&1 || rc=$?
  local took
  took=$(echo "$(date +%s.%N) - $start" | bc)
  "$build/tools/scan-image" save "$work/zeroed.img" "$work/want" >"$work/want.log" 2>&1 || true
  losetup -d "$loop"
  loop=
  umount "$work/mnt"
  wait
  local files same
  files=$(find "$work/want" -type f | wc -l)
  same=0
  while IFS= read -r f; do
    g="$work/got/${f#"$work/want/"}"
    # A file none of whose sectors could be read is not saved at all: its
    # copy from the zeroed image holds nothing but zeros.
    if cmp -s "$f" "$g" || { [ ! -e "$g" ] && cmp -s "$f" <(head -c "$(stat -c %s "$f")" /dev/zero); }; then
      same=$((same + 1))
    fi
  done < <(find "$work/want" -type f)
  local gone=""
  grep -q "no longer available" "$work/got.log" && gone=" TOLD GONE"
  [ -n "${KEEP_LOGS:-}" ] && cp "$work/got.log" "$KEEP_LOGS/$(echo "$name" | tr -c "a-z0-9\n" _).log"
  local failed
  failed=$(awk '{print $2}' "$work/counts" 2>/dev/null || echo "?")
  printf '%-34s files %2d/%2d identical  exit %d  %5.1f s  %6s failed reads  %s%s\n' "$name" "$same" "$files" \
    "$rc" "$took" "$failed" \
    "$(grep -o 'Saving [A-Za-z ]*' "$work/got.log" | tail -1)" "$gone"
  if [ "$same" != "$files" ]; then
    python3 - "$work/want" "$work/got" <<'EOF'
import os, sys
want, got = sys.argv[1:3]
for root, _, names in os.walk(want):
    for n in names:
        w = open(os.path.join(root, n), 'rb').read()
        p = os.path.join(got, os.path.relpath(os.path.join(root, n), want))
        g = open(p, 'rb').read() if os.path.exists(p) else b''
        if w == g or (not os.path.exists(p) and w.count(0) == len(w)):
            continue
        wrong = zeroed = 0
        for i in range(0, max(len(w), len(g)), 512):
            a, b = w[i:i + 512], g[i:i + 512]
            if a != b:
                if b.count(0) == len(b):
                    zeroed += 1
                else:
                    wrong += 1
        print(f'    {os.path.relpath(p, got)}: {len(g)} of {len(w)} bytes, {zeroed} sectors zeros that read, {wrong} wrong')
EOF
  fi
}

run "control (nothing bad)" ""
# SEED makes the scattered pattern the same from one run to the next.
[ -n "${SEED:-}" ] && RANDOM=$SEED
singles=()
s=$first
while [ "$s" -lt "$sectors" ]; do
  singles+=("$s 1")
  s=$((s + 4 + RANDOM % 61))
done
run "single bad sectors 4-64 apart" "${singles[@]}"
[ -n "${ONLY_FIRST:-}" ] && exit 0
run "1 in 8" "$((first + 3)) 1 8"
run "1 in 2" "$first 1 2"
run "3 bad, then 5 good" "$first 3 8"
run "1 MiB bad, 1 MiB good" "$first 2048 4096"
run "bad but 8 sectors in 64 KiB" "$first 120 128"
run "2 bad, 1 good, 5 bad" "$first 2 8" "$((first + 3)) 5 8"
# Half the data area's runs of 128 sectors, as a seeded coin falls: a walk's
# doubling steps may all land on bad runs up to the card's end, which is no
# bad end on a disk that answers elsewhere.
halves=()
s=$first
while [ $((s + 128)) -le "$sectors" ]; do
  [ $((RANDOM % 2)) = 0 ] && halves+=("$s 128")
  s=$((s + 128))
done
run "half bad in runs of 128" "${halves[@]}"
