#include "sizecalc/BmpFileCheck.h"

#include "formats/BitmapHeader.h"
#include "sizecalc/CarvingContext.h"

namespace {
// Stated lengths outside these are not taken for a picture.
constexpr std::uint64_t kSmallestFile = 50;
constexpr std::uint64_t kLargestFile = 104857600;
} // namespace

BmpFileCheck::BmpFileCheck(CarvingContext& context) : SizeCalculator("bmp", context), window_(context) {}

bool BmpFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    // "BM" and the two reserved words, which writers leave zero.
    return leading.u8(0) == 'B' && leading.u8(1) == 'M' && leading.be32(6) == 0;
}

std::uint64_t BmpFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint64_t size = leading.le32(2);
    if (size < kSmallestFile || size > kLargestFile) return 0;
    context_.measuredOnHeaderAlone = !window_.readAt(sectorNumber) || !bmp::infoHeaderEnd(window_.view());
    return size;
}
