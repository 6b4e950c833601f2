#include "sizecalc/RafFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

namespace {
constexpr std::string_view kMagic = "FUJIFILMCCD-RAW";
constexpr std::uint64_t kMaxBytes = 209715200;
constexpr std::uint64_t kMinBytes = 100;
constexpr std::uint64_t kMargin = 512;
// A preview this short is no JPEG worth carving.
constexpr std::uint64_t kMinPreview = 1024;
} // namespace

RafFileCheck::RafFileCheck(CarvingContext& context) : SizeCalculator("raf", context), window_(context) {}

bool RafFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    for (std::size_t i = 0; i < kMagic.size(); ++i)
        if (leading.u8(i) != static_cast<std::uint8_t>(kMagic[i])) return false;
    return true;
}

std::uint64_t RafFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const platform::ByteView w = window_.view();
    const std::uint64_t rawOffset = w.be32(100);
    if (rawOffset > kMaxBytes) return 0;
    const std::uint64_t rawBytes = w.be32(104);
    std::uint64_t length = rawOffset + rawBytes;
    // Some cameras store a second raw block of the same length behind the first.
    if (w.be32(132) == rawBytes) length += rawBytes;

    const std::uint32_t bps = context_.bytesPerSector();
    const std::uint64_t preview = w.be32(84);
    CarvingContext::RawJpeg& jpeg = context_.rawJpeg;
    jpeg.sectorNumber = platform::saturatingAdd(sectorNumber, preview / bps);
    jpeg.extraBytes = static_cast<std::uint32_t>(preview % bps);
    jpeg.fileSize = w.be32(88);
    jpeg.found = jpeg.fileSize > kMinPreview;

    if (length < kMinBytes || length > kMaxBytes) return 0;
    return length + kMargin;
}
