#include "sizecalc/WavFileCheck.h"

#include "sizecalc/RiffHeader.h"

namespace {
constexpr std::uint32_t kWave = 0x57415645; // "WAVE"
// Too short to be a recording worth carving.
constexpr std::uint64_t kMinRiffBytes = 4096;
} // namespace

WavFileCheck::WavFileCheck(CarvingContext& context) : SizeCalculator("wav", context) {}

bool WavFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return riff::isRiff(leading) && leading.be32(8) == kWave;
}

std::uint64_t WavFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t) {
    return riff::fileBytesWithin(leading, kMinRiffBytes);
}
