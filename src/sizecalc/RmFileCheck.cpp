#include "sizecalc/RmFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::uint32_t kFileHeader = 0x2E524D46; // ".RMF"
constexpr std::uint32_t kFileHeaderBytes = 18;
constexpr std::array<std::uint32_t, 6> kChunks = {
    kFileHeader,
    0x50524F50, // PROP
    0x434F4E54, // CONT
    0x44415441, // DATA
    0x494E4458, // INDX
    0x4D445052, // MDPR
};
// A chunk longer than this is damaged: the file ends before it.
constexpr std::uint64_t kMaxChunkBytes = 2136746229; // 1.99 GiB

} // namespace

RmFileCheck::RmFileCheck(CarvingContext& context) : SizeCalculator("rm", context), window_(context) {}

bool RmFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return leading.be32(0) == kFileHeader && leading.be32(4) == kFileHeaderBytes;
}

std::uint64_t RmFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    std::uint64_t n = 0;
    std::uint64_t p = 0;
    while (!context_.stopped()) {
        const std::uint32_t id = window_.view().be32(p);
        if (std::find(kChunks.begin(), kChunks.end(), id) == kChunks.end()) break;
        const std::uint64_t length = window_.view().be32(p + 4);
        if (length > kMaxChunkBytes) return n;
        // A chunk of no length would be met again and again.
        if (length == 0) break;
        n += length;
        p += length;
        if (p >= ReadWindow::kBytes) {
            if (!window_.readAt(platform::saturatingAdd(sectorNumber, n / bps))) return 0;
            p = n % bps;
        }
    }
    return n;
}
