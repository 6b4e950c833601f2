#include "sizecalc/AviFileCheck.h"

#include "formats/RiffHeader.h"

namespace {
constexpr std::uint64_t kAviList = 0x415649204C495354; // "AVI LIST"
// Shorter than any playable clip.
constexpr std::uint64_t kMinRiffBytes = 10240;
} // namespace

AviFileCheck::AviFileCheck(CarvingContext& context) : SizeCalculator("avi", context) {}

bool AviFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return riff::isRiff(leading) && leading.be64(8) == kAviList;
}

std::uint64_t AviFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t) {
    return riff::fileBytesWithin(leading, kMinRiffBytes);
}
