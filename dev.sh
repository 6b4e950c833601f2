#!/usr/bin/env bash
# Installs what the project needs from Debian's packages, builds, and then
# runs the program ("run") or the tests ("test", "test-sanitize"), builds
# the libFuzzer targets with clang and runs each for a few seconds ("fuzz
# [SECONDS]"), or checks that every source is formatted as .clang-format
# says ("check-format").
set -euo pipefail
cd "$(dirname "$0")"

packages=(
  cmake ninja-build g++ clang clang-format pkg-config
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev qt6-image-formats-plugins
  libplist-dev libplist++-dev libplist-utils libblkid-dev libsystemd-dev zlib1g-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  dosfstools mtools exfatprogs exfat-fuse xorriso apfsprogs fdisk gdisk sleuthkit testdisk eyed3
  imagemagick sox ghostscript p7zip-full zip bzip2 xz-utils zstd lz4 sqlite3 openssl
  ffmpeg lame libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui libreoffice-draw-nogui
  xvfb xauth desktop-file-utils libxml2-utils
  abcmidi
  libtiff-tools gifsicle icnsutils python3-mido ncompress file libimage-exiftool-perl libjpeg-turbo-progs webp
  qemu-utils
)

install_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build() { # build-dir build-type [cmake options]
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE="$2" "${@:3}" >/dev/null
  cmake --build "$1" --parallel
}

jobs=$(nproc 2>/dev/null || echo 2)

case "${1:-}" in
  run)
    install_packages
    build build RelWithDebInfo
    shift
    exec ./build/src/app/drentic-recovery "$@"
    ;;
  test)
    install_packages
    build build RelWithDebInfo
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs"
    # The carving, plain-search, size-calculator and recogniser tests once more on samples made from other seeds,
    # tones, test pattern and pass phrase (tests/fixtures/sample-variant.sh): they hold whatever bytes the tools give.
    variant_tests='^(PhotoCarving|PlainSignatureSearchTest|ApfsFreeSpaceTest|UnreadableStructureTest|JpegWalkTest'
    variant_tests+='|[A-Za-z]+/(ProgressiveJpegSearchTest|MpegStreamSearchTest|ProgramStreamPastALostPackTest|FirstFragmentTest'
    variant_tests+='|FileAfterAFragmentTest|PhotoOfSeveralScansTest|DeletedFilesCardTest|TextBetweenAPhotosFragmentsTest'
    variant_tests+='|ChanceHeaderInScanDataTest|PhotoMeasuredWholeTest|PhotoWithoutAnEndMarkerTest|CarvedAudioVideoLengthsTest|AlbumTest'
    variant_tests+='|WalkedFileTest|LaidOutFileTest|LoneHeaderTest|PhotosInVouchedBytesTest|ChanceStartCodesTest))'
    variant_tests+='|^[A-Za-z]+(Calculators|Calculator[A-Za-z]+|Recognisers)Test\.|^tools\.scan_image_carve$'
    variant_tests+='|^[A-Za-z]+/(CarvedImageLengthsTest|EndRecordLengthsTest)\.'
    variant_tests+='|^[A-Za-z]+/(InsideABodyTest|RiffFormTest|OverrunTest)\.'
    DRENTIC_SAMPLE_VARIANT=2 QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j "$jobs" \
      -R "$variant_tests"
    ;;
  test-sanitize)
    install_packages
    build build-sanitize Sanitize -DDRENTIC_CHECK_LAYERS=OFF
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      QT_QPA_PLATFORM=offscreen ctest --test-dir build-sanitize --output-on-failure -j "$jobs"
    ;;
  fuzz)
    install_packages
    build build-fuzz RelWithDebInfo -DDRENTIC_BUILD_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
      -DDRENTIC_BUILD_APP=OFF -DDRENTIC_BUILD_TESTS=OFF -DDRENTIC_BUILD_BENCH=OFF
    fuzz/run-all.sh build-fuzz "${2:-5}"
    ;;
  check-format)
    install_packages
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
    ;;
  *)
    echo "usage: $0 run [args] | test | test-sanitize | fuzz [SECONDS] | check-format" >&2
    exit 2
    ;;
esac
