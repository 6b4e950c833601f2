#include "sizecalc/AviFileCheck.h"

#include "sizecalc/RiffHeader.h"

namespace {
constexpr std::uint64_t kAviList = 0x415649204C495354; // "AVI LIST"
// Shorter than any playable clip; a length near 4 GiB is a damaged header.
constexpr std::uint64_t kMinRiffBytes = 10240;
constexpr std::uint64_t kMaxRiffBytes = 0xFFFFFFF0;
} // namespace

AviFileCheck::AviFileCheck(CarvingContext& context) : SizeCalculator("avi", context) {}

bool AviFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return riff::isRiff(leading) && leading.be64(8) == kAviList;
}

std::uint64_t AviFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t) {
    const std::uint64_t riffBytes = leading.le32(4);
    if (riffBytes < kMinRiffBytes || riffBytes > kMaxRiffBytes) return 0;
    return riff::fileBytes(leading);
}
