#include "sizecalc/DngFileCheck.h"

namespace {
constexpr std::uint32_t kMaxSubIfds = 10;
} // namespace

DngFileCheck::DngFileCheck(CarvingContext& context) : RawTiffClassifier("dng", context) {}

bool DngFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.pef;
}

void DngFileCheck::clearMakerFlags() {
    clear({&F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag,
           &F::panasonicFormatFlag, &F::tiffFormatFlag});
}

bool DngFileCheck::dngTag(Classification&) {
    clear({&F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag,
           &F::panasonicFormatFlag, &F::hasselbladFormatFlag, &F::tiffFormatFlag});
    flags().dngFormatFlag = true;
    return true;
}

bool DngFileCheck::endRule(Classification& c) {
    if (c.tiffMagic && !c.rawMarker) {
        clear({&F::dngFormatFlag, &F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag,
               &F::orfFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag});
        flags().tiffFormatFlag = true;
        if (c.makeSeen) flags().cameraTiffFormatFlag = true;
        return false;
    }
    return flags().dngFormatFlag;
}

std::uint64_t DngFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    const auto n = ifd0 < 8 || ifd0 > kMaxFile ? std::nullopt : entriesOf(sectorNumber, ifd0, 2);
    if (!n) return 0;
    for (std::uint32_t i = 0; i < *n; ++i) {
        if (context_.stopped()) return 0;
        const auto e = entryOf(sectorNumber, ifd0, i);
        if (!e) return 0;
        if (e->tag != kSubIfds) continue;
        if (e->count == 0 || e->count > kMaxSubIfds || e->value > kMaxFile) return 0;
        if (e->count == 2 && !previewInSecondSubIfd(sectorNumber, e->value)) return 0;
        break;
    }
    // The raw image lies in IFD0 or in a SubIFD, the preview in another:
    // the file ends where the furthest of them does, as a TIFF.
    const std::uint64_t length = walkedLength(leading, sectorNumber, 2);
    return length == 0 ? 0 : length + kMargin;
}

bool DngFileCheck::previewInSecondSubIfd(std::uint64_t sector, std::uint64_t array) {
    const auto at = windowHolding(sector, array + 4, 4);
    if (!at) return false;
    const std::uint64_t preview = u32(*at);
    if (preview > kMaxPart) return false;
    const auto m = entriesOf(sector, preview, 2);
    if (!m) return false;
    auto& jpeg = context_.rawJpeg;
    for (std::uint32_t j = 0; j < *m; ++j) {
        const auto e = entryOf(sector, preview, j);
        if (!e) return false;
        const bool offsets = e->tag == kStripOffsets || e->tag == kTileOffsets;
        if (!offsets && e->tag != kStripByteCounts && e->tag != kTileByteCounts) continue;
        const bool inEntry = e->count < 2;
        if (offsets && !inEntry && e->value > kMaxPart) return false;
        const auto v = valueOf(sector, *e, inEntry);
        if (!v) return false;
        if (offsets) {
            previewAt(sector, *v);
        } else {
            jpeg.fileSize = *v;
            // A single length is the preview; in an array only a long one.
            if (inEntry || *v > 1024) jpeg.found = true;
        }
    }
    return true;
}
