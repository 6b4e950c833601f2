#include "sizecalc/WavFileCheck.h"

#include "sizecalc/RiffHeader.h"

namespace {
constexpr std::uint32_t kWave = 0x57415645; // "WAVE"
// Too short to be a recording worth carving; a
// length near 4 GiB is a damaged header.
constexpr std::uint64_t kMinRiffBytes = 4096;
constexpr std::uint64_t kMaxRiffBytes = 0xFFFFFFF0;
} // namespace

WavFileCheck::WavFileCheck(CarvingContext& context) : SizeCalculator("wav", context) {}

bool WavFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return riff::isRiff(leading) && leading.be32(8) == kWave;
}

std::uint64_t WavFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t) {
    const std::uint64_t riffBytes = leading.le32(4);
    if (riffBytes < kMinRiffBytes || riffBytes > kMaxRiffBytes) return 0;
    return riff::fileBytes(leading);
}
