#include "signatures/SizeCalculatorFormats.h"

#include <algorithm>

namespace {

constexpr std::string_view kExtensions[] = {
    // Pictures.
    "jpg", "png", "gif", "bmp", "psd",
    // The TIFF family and the other camera raw formats.
    "tiff", "dng", "nef", "cr2", "arw", "sr2", "kdc", "k25", "dcr", "pef", "orf", "raw", "lei", "3fr", "crw", "raf",
    "mrw", "x3f",
    // The QuickTime family.
    "mov", "mp4", "m4a", "m4b", "m4v", "3gp", "3g2",
    // Sound and other streams.
    "amr", "aif", "wav", "mid", "avi", "ra", "rm", "mp3", "mpg"};

} // namespace

std::span<const std::string_view> SizeCalculatorFormats::extensions() {
    return kExtensions;
}

bool SizeCalculatorFormats::has(std::string_view extension) {
    return std::find(std::begin(kExtensions), std::end(kExtensions), extension) != std::end(kExtensions);
}
