#include "sizecalc/AmrFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <array>

namespace {

constexpr std::uint32_t kMagic = 0x2321414D;        // "#!AM"
constexpr std::uint32_t kWideBandTail = 0x2D57420A; // "-WB\n"
constexpr std::uint64_t kNarrowMagicBytes = 6;      // "#!AMR\n"
constexpr std::uint64_t kWideMagicBytes = 9;        // "#!AMR-WB\n"
// Longer than any recording a phone or recorder writes: a run of
// frame-shaped bytes that long is not a file.
constexpr std::uint64_t kMaxBytes = 2040109465; // 1.9 GiB

// Frame bytes, header byte included, by frame type, for speech frames with
// the quality bit set (header byte = type x 8 + 4). 0: the walk ends there.
constexpr std::array<std::uint8_t, 9> kNarrowFrame = {13, 14, 16, 18, 20, 21, 27, 32, 0};
constexpr std::array<std::uint8_t, 9> kWideFrame = {18, 24, 33, 37, 41, 47, 51, 59, 61};

std::uint64_t frameBytes(std::uint8_t header, bool wide) {
    if ((header & 7) != 4 || header / 8 >= kNarrowFrame.size()) return 0;
    return wide ? kWideFrame[header / 8] : kNarrowFrame[header / 8];
}

} // namespace

AmrFileCheck::AmrFileCheck(CarvingContext& context) : SizeCalculator("amr", context), window_(context) {}

bool AmrFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    if (leading.be32(0) != kMagic || leading.u8(4) != 'R') return false;
    bWideBandAmr = leading.be32(5) == kWideBandTail;
    return true;
}

std::uint64_t AmrFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    std::uint64_t n = bWideBandAmr ? kWideMagicBytes : kNarrowMagicBytes;
    std::uint64_t p = n;
    while (!context_.stopped()) {
        const std::uint64_t size = frameBytes(window_.view().u8(p), bWideBandAmr);
        if (size == 0) break;
        n += size;
        p += size;
        if (n > kMaxBytes) break;
        if (p >= ReadWindow::kBytes) {
            if (!window_.readAt(platform::saturatingAdd(sectorNumber, n / bps))) return 0;
            p = n % bps;
        }
    }
    return n;
}
