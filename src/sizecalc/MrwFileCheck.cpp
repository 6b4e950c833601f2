#include "sizecalc/MrwFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

namespace {
constexpr std::uint32_t kMrm = 0x004D524D; // "\0MRM"
constexpr std::uint32_t kPrd = 0x505244;   // "PRD"
constexpr std::uint64_t kMaxMrmBytes = 52428800;
// The picture description comes first in practice; past this many blocks
// the file is not believed to be an MRW.
constexpr int kMaxBlocks = 5;
constexpr std::uint8_t kUnpacked16 = 'R';
constexpr std::uint8_t kPacked12 = 'Y';
constexpr std::uint64_t kMinBytes = 100;
constexpr std::uint64_t kMaxBytes = 157286400;
constexpr std::uint64_t kMargin = 512;
} // namespace

MrwFileCheck::MrwFileCheck(CarvingContext& context) : SizeCalculator("mrw", context), window_(context) {}

bool MrwFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return leading.be32(0) == kMrm;
}

std::uint64_t MrwFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    const std::uint64_t mrmBytes = window_.view().be32(4);
    if (mrmBytes > kMaxMrmBytes) return 0;
    // p: the offset in the window, which starts at the device sector.
    std::uint64_t sector = sectorNumber;
    std::uint64_t p = 8;
    std::uint64_t height = 0;
    std::uint64_t width = 0;
    std::uint8_t storage = 0;
    bool described = false;
    for (int blocks = 1; !described; ++blocks) {
        if (context_.stopped() || blocks > kMaxBlocks) return 0;
        const platform::ByteView w = window_.view();
        const bool prd = (w.be32(p) & 0xFFFFFF) == kPrd;
        const std::uint64_t length = w.be32(p + 4);
        p += 8;
        if (prd) {
            described = true;
            height = w.be16(p + 8);
            width = w.be16(p + 10);
            storage = w.u8(p + 18);
            p += 18;
        }
        // p stays inside the window's first sector, so every block header
        // and description read lies inside the window.
        const std::uint64_t next = p + length;
        if (next >= bps) {
            sector = platform::saturatingAdd(sector, next / bps);
            if (!window_.readAt(sector)) return 0;
            p = next % bps;
        } else {
            p = next;
        }
    }
    const std::uint64_t dataStart = mrmBytes + 8;
    std::uint64_t length = 0;
    if (storage == kUnpacked16) length = height * width * 2 + dataStart;
    if (storage == kPacked12) length = height * width * 3 / 2 + dataStart;
    if (length < kMinBytes || length > kMaxBytes) return 0;
    return length + kMargin;
}
