#include "sizecalc/PefFileCheck.h"

#include "platform/CheckedMath.h"

namespace {
// A PEF has three directories; a few more are tolerated, a longer chain is
// damage or a loop.
constexpr int kMaxIfds = 6;
} // namespace

PefFileCheck::PefFileCheck(CarvingContext& context) : RawTiffClassifier("pef", context) {}

bool PefFileCheck::shortCut() const {
    return context_.tiffInUse.arw || context_.tiffInUse.sr2;
}

void PefFileCheck::clearMakerFlags() {
    clear({&F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag,
           &F::pefFormatFlag, &F::panasonicFormatFlag, &F::tiffFormatFlag});
}

TiffClassifier::MakerRules PefFileCheck::makerRules() const {
    return {.canonRaw = MakerRules::CanonRaw::ClaimAndRefuse, .pentaxLookAhead = true};
}

bool PefFileCheck::dngTag(Classification&) {
    flags().dngFormatFlag = true;
    clear({&F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag,
           &F::pefFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag, &F::tiffFormatFlag});
    return false;
}

bool PefFileCheck::endRule(Classification& c) {
    if (!c.tiffMagic || c.rawMarker) return flags().pefFormatFlag;
    // A plain TIFF, whoever made it.
    clear({&F::dngFormatFlag, &F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag,
           &F::orfFormatFlag, &F::pefFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag});
    flags().tiffFormatFlag = true;
    if (c.makeSeen) flags().cameraTiffFormatFlag = true;
    return false;
}

std::uint64_t PefFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile || bps == 0) return 0;
    auto& jpeg = context_.rawJpeg;
    std::uint64_t total = 0;
    std::uint64_t stripOffset = 0;
    std::uint64_t previewOffset = 0;
    std::uint64_t ifd = ifd0;
    for (int index = 0; ifd != 0; ++index) {
        if (context_.stopped() || index == kMaxIfds || ifd < 8 || ifd > kMaxFile) return 0;
        auto pos = windowAt(sectorNumber, ifd);
        const std::uint32_t entries = pos ? u16(*pos) : 0;
        if (entries < 2 || entries > kMaxEntries) return 0;
        const std::uint64_t ifdBytes = std::uint64_t{kEntryBytes} * entries;
        if (index > 0 && total < ifd) total += ifdBytes + 6;
        for (std::uint32_t i = 0; i < entries; ++i) {
            if (context_.stopped()) return 0;
            pos = windowAt(sectorNumber, ifd);
            if (!pos) return 0;
            const std::uint64_t at = *pos + 2 + std::uint64_t{kEntryBytes} * i;
            const Entry e = entryAt(at);
            if (e.tag == kJpegOffset) {
                previewOffset = e.value;
            } else if (e.tag == kJpegLength) {
                // The largest preview of the chain is the one carved.
                if (e.value > jpeg.fileSize) {
                    jpeg.sectorNumber = platform::saturatingAdd(sectorNumber, previewOffset / bps);
                    jpeg.extraBytes = previewOffset % bps;
                    jpeg.fileSize = e.value;
                    jpeg.found = previewOffset <= kMaxPart;
                }
            } else if (e.tag == kStripOffsets || e.tag == kStripByteCounts) {
                const auto value = stripValue(sectorNumber, at, kMaxArray);
                if (!value) return 0;
                if (e.tag == kStripOffsets) {
                    stripOffset = *value;
                } else {
                    total = stripOffset + *value;
                    // A strip before the directory leaves the directory last.
                    if (total < ifd0) total = ifd0 + ifdBytes;
                }
            }
        }
        pos = windowAt(sectorNumber, ifd);
        if (!pos) return 0;
        ifd = u32(*pos + 2 + ifdBytes);
    }
    total += jpeg.fileSize;
    return total >= kMinFile && total <= kMaxFile ? total + kMargin : 0;
}
