#!/usr/bin/env bash
# The partition list and the content tests through scan-image, on the
# fixture disks, against The Sleuth Kit: every HFS partition mmls lists is
# printed with the same start and length and with the volume name fsstat
# reads, and the FAT, exFAT and HFS+ partitions are told apart as fsstat
# tells them.
#   scan-image-partitions-content.sh SCAN_IMAGE IMAGES_DIR
set -euo pipefail
scan=$1 dir=$2
for t in mmls fsstat; do
  command -v "$t" >/dev/null || { echo "$t not installed"; exit 77; }
done
failed=0
fail() { echo "FAIL: $*"; failed=$((failed + 1)); }

# field LINE KEY: the value of KEY in a tab-separated key=value line
field() { printf '%s\n' "$1" | tr '\t' '\n' | sed -n "s/^$2=//p"; }

# Apple map and GUID disks: one HFS partition each.
check_partitions() { # IMAGE MMLS_MATCH
  local image=$1 match=$2 out row start length
  out=$("$scan" partitions "$image") || { fail "scan-image partitions $image"; return; }
  [ "$(printf '%s\n' "$out" | grep -c .)" -eq 1 ] || { fail "$image: expected one volume, got: $out"; return; }
  row=$(mmls "$image" | awk -v m="$match" '$0 ~ m && $2 != "Meta" { print $3, $5; exit }')
  read -r start length <<<"$row"
  start=$((10#$start)) length=$((10#$length))
  [ "$(field "$out" "Volume Start")" = "$start" ] || fail "$image: start $(field "$out" "Volume Start"), mmls $start"
  [ "$(field "$out" "Volume Size In Sectors")" = "$length" ] ||
    fail "$image: length $(field "$out" "Volume Size In Sectors"), mmls $length"
  name=$(fsstat -o "$start" "$image" | sed -n 's/^Volume Name: //p')
  [ "$(field "$out" "Volume Name")" = "$name" ] || fail "$image: name $(field "$out" "Volume Name"), fsstat $name"
  [ "$(field "$out" "Content")" = "Apple_HFS" ] || fail "$image: content $(field "$out" "Content")"
  echo "ok: $image: HFS partition at $start, $length sectors, \"$name\""
}
check_partitions "$dir/gpt.img" "Apple HFS\\\\+"
check_partitions "$dir/hfsplus.iso" "Apple_HFS"
out=$("$scan" partitions "$dir/mbr-extended.img")
[ -z "$out" ] || fail "mbr-extended.img has no HFS partition, got: $out"

# Every partition of the two disks, by what fsstat says it holds.
for image in "$dir/mbr-extended.img" "$dir/gpt.img"; do
  while read -r start; do
    start=$((10#$start))
    out=$("$scan" content "$image" --start "$start")
    answer() { printf '%s\n' "$out" | awk -F'\t' -v k="$1" '$1 == k { print $2 }'; }
    type=$(fsstat -o "$start" "$image" 2>/dev/null | sed -n 's/^File System Type: //p' | head -n1 || true)
    case "$type" in
      FAT12|FAT16|FAT32)
        [ "$(answer isVolumeFAT)" = YES ] && [ "$(answer fatFileSystemDetermination)" = "$type" ] ||
          fail "$image at $start: fsstat $type, scan-image: $out" ;;
      exFAT)
        [ "$(answer isVolumeExFAT)" = YES ] && [ "$(answer isVolumeFAT)" = NO ] ||
          fail "$image at $start: fsstat exFAT, scan-image: $out" ;;
      HFS+)
        printf '%s\n' "$out" | grep -q $'^checkForJournal\tContent=Apple_HFS\t' ||
          fail "$image at $start: fsstat HFS+, scan-image: $out" ;;
      *)
        [ "$(answer isVolumeFAT)$(answer isVolumeExFAT)$(answer isVolumeAPFS)" = NONONO ] ||
          fail "$image at $start: fsstat '${type:-nothing}', scan-image: $out" ;;
    esac
    echo "ok: $image at $start: ${type:-no file system}"
  done < <(mmls "$image" | awk '$2 != "Meta" && $2 != "-------" && $1 ~ /^[0-9]+:$/ { print $3 }')
done

# Whole-volume images.
for pair in fat12.img:FAT12 fat16.img:FAT16 fat32.img:FAT32; do
  image=${pair%%:*} type=${pair#*:}
  "$scan" content "$dir/$image" | grep -q $'^fatFileSystemDetermination\t'"$type"'$' || fail "$image is not $type"
done
"$scan" content "$dir/exfat.img" | grep -q $'^isVolumeExFAT\tYES$' || fail "exfat.img is not exFAT"
if [ -f "$dir/apfs.img" ]; then
  "$scan" content "$dir/apfs.img" | grep -q $'^isVolumeAPFS\tYES$' || fail "apfs.img is not APFS"
fi

# A user deleted the second of three HFS+ partitions: the first and the
# third are still listed.
if command -v sgdisk >/dev/null; then
  work=$(mktemp -d)
  truncate -s 8M "$work/three.img"
  sgdisk -n 1:2048:4095 -c 1:One -n 2:4096:6143 -c 2:Two -n 3:6144:8191 -c 3:Three -t 1:af00 -t 2:af00 -t 3:af00 \
    "$work/three.img" >/dev/null
  sgdisk -d 2 "$work/three.img" >/dev/null
  out=$("$scan" partitions "$work/three.img")
  rm -rf "$work"
  [ "$(printf '%s\n' "$out" | while read -r line; do printf '%s %s;' "$(field "$line" "Volume Start")" \
    "$(field "$line" "Volume Name")"; done)" = "2048 One;6144 Three;" ] ||
    fail "GPT with entry 2 deleted: $out"
fi

# Usage errors.
"$scan" content "$dir/fat12.img" --start >/dev/null 2>&1 && fail "content accepted a missing start"
"$scan" partitions "$dir/does-not-exist.img" >/dev/null 2>&1 && fail "partitions accepted a missing image"

[ "$failed" -eq 0 ] || { echo "$failed failures"; exit 1; }
echo "all checks passed"
