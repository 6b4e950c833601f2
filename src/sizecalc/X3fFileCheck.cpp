#include "sizecalc/X3fFileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

namespace {

constexpr std::uint32_t kFovb = 0x464F5662; // "FOVb"
constexpr std::uint32_t kSecd = 0x53454364; // "SECd", the directory section
constexpr std::uint32_t kSeci = 0x53454369; // "SECi", an image section
// The first section's mark follows the header.
constexpr std::size_t kFirstSection = 232;
// Where a JPEG image section's data begins, behind its section header.
constexpr std::size_t kFirstSectionData = 260;
constexpr std::uint64_t kImageSectionHeader = 28;
// The directory is looked for up to here; a file without one gets a fixed length.
constexpr std::uint64_t kLastDirectoryOffset = 19922940;
constexpr std::uint64_t kNoDirectoryAnswer = 19922944;
constexpr std::uint64_t kMaxPreviewOffset = 26214400;

constexpr std::uint64_t kMaxIfdOffset = 157286400;
constexpr std::uint64_t kMaxMakeOffset = 104857600;
constexpr std::uint32_t kMinEntries = 2;
constexpr std::uint32_t kMaxEntries = 100;
constexpr std::uint16_t kMakeTag = 271;
constexpr std::uint16_t kDngVersionTag = 50706;
constexpr std::uint16_t kDngBackwardVersionTag = 50707;

} // namespace

X3fFileCheck::X3fFileCheck(CarvingContext& context)
    : SizeCalculator("x3f", context), window_(context), scan_(context.fileCursor()), tiff_(context) {}

bool X3fFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (leading.be32(0) == kFovb) return window_.readAt(sectorNumber) && window_.view().spells(kFirstSection, "SEC");
    return isSigmaTiff(leading, sectorNumber);
}

bool X3fFileCheck::isSigmaTiff(platform::ByteView leading, std::uint64_t sectorNumber) {
    CarvingContext::TiffClassification& t = context_.tiff;
    t.littleEndianFormatFlag = t.bigEndianFormatFlag = false;
    const std::uint16_t order = leading.be16(0);
    if (order != 0x4949 && order != 0x4D4D) return false;
    const bool little = order == 0x4949;
    t.littleEndianFormatFlag = little;
    t.bigEndianFormatFlag = !little;
    // A Canon CRW, which begins like a TIFF.
    if (leading.spells(6, "HEAPCCDR")) return false;

    const std::uint64_t ifd = little ? leading.le32(4) : leading.be32(4);
    if (ifd < 8 || ifd > kMaxIfdOffset) return false;
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0) return false;
    const std::uint64_t ifdSector = platform::saturatingAdd(sectorNumber, ifd / bps);
    if (!window_.readAt(ifdSector)) return false;
    const std::size_t at = ifd % bps;
    const auto u16 = [&](std::size_t p) { return little ? window_.view().le16(p) : window_.view().be16(p); };
    const auto u32 = [&](std::size_t p) { return little ? window_.view().le32(p) : window_.view().be32(p); };
    const std::uint32_t entries = u16(at);
    if (entries < kMinEntries || entries > kMaxEntries) return false;
    bool sigma = false;
    // Entries the window does not hold are not read.
    for (std::size_t e = at + 2, i = 0; i < entries && e + 12 <= ReadWindow::kBytes; ++i, e += 12) {
        if (context_.stopped()) return false;
        const std::uint16_t tag = u16(e);
        if (tag == kMakeTag) {
            const std::uint64_t make = u32(e + 8);
            if (make > kMaxMakeOffset) return false;
            if (!window_.readAt(platform::saturatingAdd(sectorNumber, make / bps))) return false;
            sigma = window_.view().spells(make % bps, "SIGMA");
            if (!window_.readAt(ifdSector)) return false;
        } else if (tag == kDngVersionTag || tag == kDngBackwardVersionTag) {
            // A DNG made from a Sigma file belongs to the DNG calculator.
            sigma = false;
        }
    }
    return sigma;
}

std::uint64_t X3fFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint16_t order = window_.view().be16(0);
    if (order == 0x4949 || order == 0x4D4D) return sigmaTiffSize(leading, sectorNumber);
    return sectionedFileSize(sectorNumber);
}

std::uint64_t X3fFileCheck::sectionedFileSize(std::uint64_t sectorNumber) {
    extensionOfFile_ = ".x3f";
    const platform::ByteView w = window_.view();
    const std::uint8_t jpegMarker = w.u8(kFirstSectionData + 3);
    const bool preview = w.be32(kFirstSection) == kSeci && w.spells(kFirstSectionData, "\xFF\xD8\xFF") &&
                         (jpegMarker == 0xDB || jpegMarker == 0xE1 || jpegMarker == 0xE0);

    const auto directory = [](std::uint64_t, std::uint32_t big, std::uint32_t) { return big == kSecd; };
    scan_.startFile(sectorNumber, context_.bytesFrom(sectorNumber));
    const BoundedCursor::Found found =
        scan_.findFourBytes(1, kLastDirectoryOffset, directory, [&] { return context_.stopped(); });
    switch (found.end) {
    case BoundedCursor::Search::Matched:
        break;
    case BoundedCursor::Search::Exhausted:
        return kNoDirectoryAnswer;
    case BoundedCursor::Search::Stopped:
    case BoundedCursor::Search::ReadFailed:
        return 0;
    }
    // The directory's entry count, then its first entry: a section's
    // offset and length.
    const std::uint64_t d = found.offset;
    const std::uint32_t bps = context_.bytesPerSector();
    if (!window_.readAt(platform::saturatingAdd(sectorNumber, (d + 8) / bps))) return 0;
    const std::size_t at = (d + 8) % bps;
    const std::uint64_t entries = window_.view().le32(at);
    // The directory's header, its 12-byte entries and the closing offset.
    const std::uint64_t length = d + 16 + 12 * entries;
    if (preview) {
        const std::uint64_t jpeg = std::uint64_t{window_.view().le32(at + 4)} + kImageSectionHeader;
        if (jpeg <= kMaxPreviewOffset) {
            CarvingContext::RawJpeg& record = context_.rawJpeg;
            record.found = true;
            record.fileSize = window_.view().le32(at + 8);
            record.sectorNumber = platform::saturatingAdd(sectorNumber, jpeg / bps);
            record.extraBytes = static_cast<std::uint32_t>(jpeg % bps);
        }
    }
    return length;
}

std::uint64_t X3fFileCheck::sigmaTiffSize(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!context_.tiff.littleEndianFormatFlag && !context_.tiff.bigEndianFormatFlag) return 0;
    extensionOfFile_ = ".tif";
    return tiff_.plainTiffSize(leading, sectorNumber, TiffFileCheck::sigmaTiffBounds());
}
