#!/usr/bin/env bash
# Every speed and memory figure the scans and saves are held to, in one run,
# each beside its peer tool's: the normal scan and bytes per found file beside
# fls -r, both whole-medium sweeps beside dd, the whole-disk signature search
# and photo carving beside photorec, the JPEG carving of a card beside dd
# and, as root, its carving and saving beside photorec's, the APFS tree scan
# of a container beside dd, the result screen on a tree of 1,000,000 files,
# saving beside tsk_recover and cp, and a recovery session of 1,000,000
# files.
#   bench/run-all.sh BUILD_DIR WORK_DIR [RUNS]
# WORK_DIR keeps the images between runs (about 6.5 GiB); the first run makes
# them with xorriso and mkapfs (several minutes). Run it on an idle machine: the load
# average is printed before and after.
set -euo pipefail
build=${1:?usage: run-all.sh BUILD_DIR WORK_DIR [RUNS]}
work=${2:?usage: run-all.sh BUILD_DIR WORK_DIR [RUNS]}
runs=${3:-5}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"

args=()
fat=()
for k in 5 100 300; do
  read -r img start < <("$here/make-hfs-100k.sh" "$work" "$k")
  args+=("$img" "$start")
done
for k in 5 100; do
  read -r img start < <("$here/make-fat-100k.sh" "$work" "$k")
  fat+=("$img" "$start")
done
read -r large < <("$here/make-hfs-large.sh" "$work")
read -r searchable < <("$here/make-search-1g.sh" "$work")
read -r carvable < <("$here/make-carve-1g.sh" "$work")
read -r card < <("$here/make-jpeg-512m.sh" "$work")
read -r container < <("$here/make-apfs-1g.sh" "$build" "$work")

echo; echo "== Normal scan and bytes per found file, beside fls -r"
"$build/bench/tree_scan_bench" Apple_HFS "${args[@]}"
echo; echo "== FAT32 tree scan, beside fls -r"
"$build/bench/tree_scan_bench" FAT32 "${fat[@]}"
echo; echo "== The size-calculator chain on 1 GiB of random sectors"
"$build/bench/size_calculator_bench"
echo; echo "== Whole-medium sweeps, beside dd bs=1M"
"$build/bench/sweep_bench" "$large" "$runs"
echo; echo "== Whole-disk signature search, beside photorec"
"$build/bench/search_bench" "$searchable" "$runs"
echo; echo "== Whole-disk photo carving, beside photorec"
"$build/bench/carve_bench" "$carvable" "$runs"
echo; echo "== JPEG carving of a card, listing only, beside dd bs=1M (cold runs as root only)"
"$build/bench/jpeg_carve_bench" "$card" "$runs"
if [ "$(id -u)" = 0 ]; then
  echo; echo "== Carving and saving the card's photos into ext4, beside photorec"
  "$here/carve-save-bench.sh" "$build" "$card" "$runs"
fi
echo; echo "== The APFS tree scan of a 1 GiB container, beside dd bs=1M"
"$build/bench/apfs_scan_bench" "$container" "$runs"
echo; echo "== The result screen on 1,000,000 files in 10,000 folders"
QT_QPA_PLATFORM=offscreen "$build/bench/tree_bench" "$runs"
echo; echo "== Saving, beside tsk_recover and cp -r"
"$build/bench/save_bench" "${args[2]}" "$large" --runs "$runs"
echo; echo "== A recovery session of 1,000,000 files, saved and opened"
TMPDIR="$work" "$build/bench/session_bench"
echo; echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
