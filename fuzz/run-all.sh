#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for the given number of
# seconds each. Build first:
#   cmake -S . -B build-fuzz -G Ninja -DDRENTIC_BUILD_FUZZ=ON \
#     -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
#     -DDRENTIC_BUILD_APP=OFF -DDRENTIC_BUILD_TESTS=OFF -DDRENTIC_BUILD_BENCH=OFF
#   cmake --build build-fuzz
#   fuzz/run-all.sh build-fuzz 60
set -euo pipefail
build=${1:?usage: run-all.sh BUILD_DIR [SECONDS]}
seconds=${2:-60}
failed=0
shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build/fuzz"; exit 1; }
for t in "${targets[@]}"; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  corpus="$build/fuzz/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name for ${seconds}s"
  if ! "$t" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/fuzz/$name-" "$corpus"; then
    echo "!! $name found a failure (artifacts in $build/fuzz/)"
    failed=$((failed + 1))
  fi
done
echo "fuzz targets: ${#targets[@]} run, $failed failed"
[ "$failed" -eq 0 ]
