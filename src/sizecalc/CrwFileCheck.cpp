#include "sizecalc/CrwFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <array>

namespace {

bool heapMark(platform::ByteView leading) {
    constexpr std::string_view kMark = "HEAPCCDR";
    for (std::size_t i = 0; i < kMark.size(); ++i)
        if (leading.u8(6 + i) != static_cast<std::uint8_t>(kMark[i])) return false;
    return true;
}

// The trailer is searched for from here on; a CRW smaller than that has
// its trailer behind the search and gets the fixed length below.
constexpr std::uint64_t kLittleSearchStart = 1048576;
constexpr std::uint64_t kBigSearchStart = 2097152;
constexpr std::uint64_t kSearchEnd = 20971520;
constexpr std::uint64_t kNoTrailerAnswer = 15728640;
// Root tables of 3, 4 and 2 entries (count, 10-byte entries), tried in
// that order.
constexpr std::array<std::uint64_t, 3> kTableBytes = {32, 42, 22};
constexpr std::uint16_t kPreviewTag = 0x2007;
// A preview lies within the part of the file the trailer search covers.
constexpr std::uint64_t kPreviewOffsetLimit = 20971520;
constexpr std::uint64_t kMinPreview = 100;
constexpr std::uint64_t kMaxPreview = 4194304;

} // namespace

CrwFileCheck::CrwFileCheck(CarvingContext& context)
    : SizeCalculator("crw", context), window_(context), scan_(context.fileCursor()) {}

bool CrwFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    CarvingContext::TiffClassification& t = context_.tiff;
    const CarvingContext::TiffFamilyInUse& u = context_.tiffInUse;
    // A TIFF-family classifier ahead in the chain has looked at the header
    // already (the Kodak ones do not look for the heap mark).
    if (u.arw || u.sr2 || u.pef || u.dng || u.cr2 || u.nef || u.tiff || u.orf || u.panasonic || u.leica || u.hasselblad)
        return t.crwFormatFlag;
    if (!heapMark(leading)) return false;
    const std::uint16_t order = leading.be16(0);
    if (order != 0x4949 && order != 0x4D4D) return false;
    t.littleEndianFormatFlag = order == 0x4949;
    t.bigEndianFormatFlag = order == 0x4D4D;
    return true;
}

std::uint64_t CrwFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    const bool little = context_.tiff.littleEndianFormatFlag;
    if (!little && !context_.tiff.bigEndianFormatFlag) return 0;
    const std::uint64_t heapStart = little ? leading.le32(2) : leading.be32(2);
    // The trailer holds the table's offset from the heap's start; a value
    // below 32 MiB keeps the three comparisons off most positions.
    std::uint64_t tableBytes = 0;
    const auto trailer = [&](std::uint64_t p, std::uint32_t big, std::uint32_t le) {
        const std::uint32_t value = little ? le : big;
        if (value >> 24 > 1) return false;
        for (std::uint64_t bytes : kTableBytes)
            if (value + heapStart + bytes == p) {
                tableBytes = bytes;
                return true;
            }
        return false;
    };
    scan_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const BoundedCursor::Found found = scan_.findFourBytes(little ? kLittleSearchStart : kBigSearchStart, kSearchEnd,
                                                           trailer, [&] { return context_.stopped(); });
    switch (found.end) {
    case BoundedCursor::Search::Matched:
        break;
    case BoundedCursor::Search::Exhausted:
        return kNoTrailerAnswer;
    case BoundedCursor::Search::Stopped:
    case BoundedCursor::Search::ReadFailed:
        return 0;
    }
    const std::uint64_t p = found.offset;
    // The second entry: after the table's count and its first entry.
    if (!notePreview(p - tableBytes + 12, heapStart, little, sectorNumber)) return 0;
    return p + 4;
}

bool CrwFileCheck::notePreview(std::uint64_t entry, std::uint64_t heapStart, bool little, std::uint64_t sectorNumber) {
    const std::uint32_t bps = context_.bytesPerSector();
    if (!window_.readAt(platform::saturatingAdd(sectorNumber, entry / bps))) return false;
    const platform::ByteView w = window_.view();
    const std::size_t at = entry % bps;
    const auto u16 = [&](std::size_t p) { return little ? w.le16(p) : w.be16(p); };
    const auto u32 = [&](std::size_t p) { return little ? w.le32(p) : w.be32(p); };
    if (u16(at) != kPreviewTag) return true;
    CarvingContext::RawJpeg& jpeg = context_.rawJpeg;
    jpeg.fileSize = u32(at + 2);
    const std::uint64_t start = u32(at + 6) + heapStart;
    jpeg.sectorNumber = platform::saturatingAdd(sectorNumber, start / bps);
    jpeg.extraBytes = static_cast<std::uint32_t>(start % bps);
    jpeg.found = false;
    if (start < kPreviewOffsetLimit) {
        if (!window_.readAt(jpeg.sectorNumber)) return false;
        jpeg.found = window_.view().be16(jpeg.extraBytes) == 0xFFD8;
    }
    if (jpeg.fileSize < kMinPreview || jpeg.fileSize > kMaxPreview) jpeg.found = false;
    return true;
}
