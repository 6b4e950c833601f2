#include "sizecalc/RaFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

namespace {

constexpr std::uint32_t kMagic = 0x2E7261FD;       // ".ra" 0xFD
constexpr std::uint32_t kVersion4Tag = 0x2E726134; // ".ra4"
constexpr std::uint32_t kTagChunk = 0x52615443;    // "RaTC"
constexpr std::uint64_t kHeaderBytes = 16;
// Longer than any RealAudio file: a damaged header.
constexpr std::uint64_t kMaxBytes = 2136746229; // 1.99 GiB

} // namespace

RaFileCheck::RaFileCheck(CarvingContext& context) : SizeCalculator("ra", context), window_(context) {}

bool RaFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    if (leading.be32(0) != kMagic) return false;
    const std::uint16_t version = leading.be16(4);
    return version == 3 || (version == 4 && leading.be16(6) == 0 && leading.be32(8) == kVersion4Tag);
}

std::uint64_t RaFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    std::uint64_t n = kHeaderBytes + leading.be32(12);
    if (n > kMaxBytes) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0) return 0;
    // A tag chunk right behind the audio belongs to the file, unless it
    // would carry the file past the cap; then only its header is taken.
    if (window_.readAt(platform::saturatingAdd(sectorNumber, n / bps)) && window_.view().be32(n % bps) == kTagChunk) {
        const std::uint64_t tagBytes = window_.view().be32(n % bps + 4);
        n += tagBytes + 8;
        if (n > kMaxBytes) n -= tagBytes;
    }
    return n;
}
