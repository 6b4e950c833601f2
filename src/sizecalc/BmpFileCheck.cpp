#include "sizecalc/BmpFileCheck.h"

namespace {
// Stated lengths outside these are not taken for a picture.
constexpr std::uint64_t kSmallestFile = 50;
constexpr std::uint64_t kLargestFile = 104857600;
} // namespace

BmpFileCheck::BmpFileCheck(CarvingContext& context) : SizeCalculator("bmp", context) {}

bool BmpFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    // "BM" and the two reserved words, which writers leave zero.
    return leading.u8(0) == 'B' && leading.u8(1) == 'M' && leading.be32(6) == 0;
}

std::uint64_t BmpFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t) {
    const std::uint64_t size = leading.le32(2);
    return size >= kSmallestFile && size <= kLargestFile ? size : 0;
}
