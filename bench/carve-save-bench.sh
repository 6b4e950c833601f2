#!/usr/bin/env bash
# Carving the JPEG photos of a disk image and saving them, beside PhotoRec
# carving the same photos and writing them, both into the same ext4 on a
# loop device attached with --direct-io=on (as a disk, not the page cache,
# takes the writes), each timed until the destination is synced. The image
# is read from the page cache by both. Ours is `scan-image save IMAGE DEST
# --types jpg --driver disk`, PhotoRec is `photorec /d DEST /cmd IMAGE
# options,paranoid_no,fileopt,everything,disable,jpg,enable,search`; each
# run writes into an empty folder, and the files and MB written are printed
# beside the photos the image holds. Needs root (loop device, mount).
#   carve-save-bench.sh BUILD_DIR [IMAGE [RUNS]]
# Without IMAGE, make-jpeg-512m.sh makes one (512 MiB) in the temporary
# folder.
set -euo pipefail
build=$(realpath "${1:?usage: carve-save-bench.sh BUILD_DIR [IMAGE [RUNS]]}")
here=$(cd "$(dirname "$0")" && pwd)
image=$(realpath "${2:-$("$here/make-jpeg-512m.sh" "${TMPDIR:-/tmp}")}")
runs=${3:-3}
if [ "$(id -u)" != 0 ]; then
  echo "carve-save-bench.sh: needs root (a loop device and a mount); nothing measured" >&2
  exit 1
fi
work=$(mktemp -d)
mkdir "$work/mnt"
loop=
cleanup() {
  mountpoint -q "$work/mnt" && umount "$work/mnt"
  [ -n "$loop" ] && losetup -d "$loop"
  rm -rf "$work"
}
trap cleanup EXIT
# Room for a few copies of every photo: each run's folder is removed after
# it. Written whole first, so that neither tool pays for the blocks the file
# under the loop device gets on first writing them.
dd if=/dev/zero of="$work/ext4.img" bs=1M count=$((3 * ($(stat -c %s "$image") >> 20) + 256)) conv=fsync status=none
loop=$(losetup --direct-io=on -f --show "$work/ext4.img")
mkfs.ext4 -q -E lazy_itable_init=0,lazy_journal_init=0 "$loop"
mount "$loop" "$work/mnt"
cat "$image" >/dev/null

# Seconds of a command run with its output dropped, and of the sync of the
# destination after it.
timed() {
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1 || echo "  ($1 exited with status $?)" >&2
  sync -f "$work/mnt"
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc
}
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
# "N files, M MB" in a folder, PhotoRec's report left out.
written() {
  find "$1" -type f ! -name report.xml -printf '%s\n' | awk '{n++; b += $1} END {printf "%d files, %.1f MB", n, b / 1e6}'
}

ours=() theirs=()
for ((r = 0; r < runs; r++)); do
  mkdir "$work/mnt/ours"
  ours+=("$(timed "$build/tools/scan-image" save "$image" "$work/mnt/ours" --types jpg --driver disk)")
  oursWritten=$(written "$work/mnt/ours")
  rm -rf "$work/mnt/ours"
  sync -f "$work/mnt"
  mkdir "$work/mnt/photorec"
  theirs+=("$(timed photorec /d "$work/mnt/photorec/rec" /cmd "$image" \
    options,paranoid_no,fileopt,everything,disable,jpg,enable,search)")
  theirWritten=$(written "$work/mnt/photorec")
  rm -rf "$work/mnt/photorec"
  sync -f "$work/mnt"
done
echo "$(($(stat -c %s "$image") >> 20)) MiB image, median of $runs runs, into ext4 on a direct-I/O loop device"
[ -s "$image.list" ] && echo "placed: $(wc -l <"$image.list") photos"
printf '%-40s %7.3f s  (%s)  %s\n' "scan-image save --types jpg, synced:" \
  "$(printf '%s\n' "${ours[@]}" | median)" "$(echo "${ours[@]}")" "$oursWritten"
printf '%-40s %7.3f s  (%s)  %s\n' "photorec jpg, paranoid_no, synced:" \
  "$(printf '%s\n' "${theirs[@]}" | median)" "$(echo "${theirs[@]}")" "$theirWritten"
