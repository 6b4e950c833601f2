#include "sizecalc/DngFileCheck.h"

namespace {
constexpr std::uint32_t kMaxSubIfds = 10;
constexpr std::uint16_t kXmp = 700;
// The *ist D writes its preview inside the raw data's span.
constexpr std::string_view kIstD = "PENTAX *ist D";
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
    const std::uint32_t bps = context_.bytesPerSector();
    Ifd0 ifd0{sectorNumber, headerU32(leading, 4), 0};
    if (ifd0.offset < 8 || ifd0.offset > kMaxFile || bps == 0) return 0;
    const auto n = entriesOf(sectorNumber, ifd0.offset, 2);
    if (!n) return 0;
    ifd0.entries = *n;
    std::uint64_t length = 0;
    bool istD = false;
    std::optional<Entry> subIfds;
    for (std::uint32_t i = 0; i < *n && !subIfds; ++i) {
        if (context_.stopped()) return 0;
        const auto e = entryOf(sectorNumber, ifd0.offset, i);
        if (!e) return 0;
        if (e->tag == kModel) {
            const auto model = textOf(*e, sectorNumber, kMaxPart);
            if (!model) return 0;
            istD = begins(*model, kIstD);
        } else if (e->tag == kXmp) {
            length += 4 * std::uint64_t{e->count};
        } else if (e->tag == kSubIfds) {
            subIfds = e;
        }
    }
    if (subIfds) {
        if (subIfds->count == 0 || subIfds->count > kMaxSubIfds || subIfds->value > kMaxFile) return 0;
        const auto end = subIfds->count == 1 ? oneSubIfd(ifd0, subIfds->value) : twoSubIfds(ifd0, subIfds->value);
        if (!end) return 0;
        length = *end;
    }
    const auto& jpeg = context_.rawJpeg;
    // The *ist D's preview counts only when it lies past the raw data.
    if (!istD || (jpeg.sectorNumber >= sectorNumber && (jpeg.sectorNumber - sectorNumber) * bps >= length))
        length += jpeg.fileSize;
    if (length < ifd0.end()) {
        const auto alone = ifd0Alone(ifd0);
        if (!alone) return 0;
        length = *alone;
    }
    return length >= kMinFile && length <= kMaxFile ? length + 512 : 0;
}

std::optional<std::uint64_t> DngFileCheck::oneSubIfd(const Ifd0& ifd0, std::uint64_t subIfd) {
    const std::uint64_t s = ifd0.sector;
    const auto m = entriesOf(s, subIfd, 2);
    if (!m) return std::nullopt;
    std::uint64_t stripOffset = 0;
    std::uint64_t length = 0;
    for (std::uint32_t j = 0; j < *m; ++j) {
        const auto e = entryOf(s, subIfd, j);
        if (!e) return std::nullopt;
        const bool offsets = e->tag == kStripOffsets || e->tag == kTileOffsets;
        if (!offsets && e->tag != kStripByteCounts && e->tag != kTileByteCounts) continue;
        const bool inEntry = e->count < 2 || e->count > kMaxArray;
        if (!inEntry && e->value > kMaxPart) return std::nullopt;
        const auto v = valueOf(s, *e, inEntry);
        if (!v) return std::nullopt;
        if (offsets) {
            stripOffset = *v;
            continue;
        }
        length = stripOffset + *v;
        if (inEntry) {
            if (length <= ifd0.offset) length = ifd0.end();
            continue;
        }
        if (length <= ifd0.offset) length += kEntryBytes * ifd0.entries + 6;
        if (length < subIfd) {
            length += kEntryBytes * *m + 6;
            if (length <= ifd0.offset) length = ifd0.end();
        }
    }
    return length;
}

std::optional<std::uint64_t> DngFileCheck::twoSubIfds(const Ifd0& ifd0, std::uint64_t array) {
    const std::uint64_t s = ifd0.sector;
    std::uint64_t subs[2];
    for (int k = 0; k < 2; ++k) {
        const auto at = windowHolding(s, array + 4 * k, 4);
        if (!at) return std::nullopt;
        subs[k] = u32(*at);
        if (subs[k] > kMaxPart) return std::nullopt;
    }
    auto& jpeg = context_.rawJpeg;
    // Covers IFD0 with room for its next-IFD offset and two bytes more.
    const std::uint64_t least = ifd0.end() + 2;
    std::uint64_t stripOffset = 0;
    std::uint64_t length = 0;
    for (int k = 0; k < 2; ++k) {
        const bool raw = k == 0;
        const auto m = entriesOf(s, subs[k], 2);
        if (!m) return std::nullopt;
        for (std::uint32_t j = 0; j < *m; ++j) {
            const auto e = entryOf(s, subs[k], j);
            if (!e) return std::nullopt;
            const bool offsets = e->tag == kStripOffsets || e->tag == kTileOffsets;
            if (!offsets && e->tag != kStripByteCounts && e->tag != kTileByteCounts) continue;
            const bool inEntry = e->count < 2;
            if (offsets && !inEntry && e->value > kMaxPart) return std::nullopt;
            const auto v = valueOf(s, *e, inEntry);
            if (!v) return std::nullopt;
            if (offsets) {
                if (raw)
                    stripOffset = *v;
                else
                    previewAt(s, *v);
                continue;
            }
            if (raw) {
                length = stripOffset + *v;
            } else {
                jpeg.fileSize = *v;
                // A single length is the preview; in an array only a long one.
                if (inEntry || *v > 1024) jpeg.found = true;
                if (inEntry) continue;
            }
            if (length < ifd0.offset) length += kEntryBytes * ifd0.entries + 6;
            if (!inEntry && length < subs[k]) length += kEntryBytes * *m + 6;
            if (length < least) length = least;
        }
    }
    return length;
}

std::optional<std::uint64_t> DngFileCheck::ifd0Alone(const Ifd0& ifd0) {
    std::uint64_t outOfLine = 0;
    for (std::uint32_t i = 0; i < ifd0.entries; ++i) {
        const auto e = entryOf(ifd0.sector, ifd0.offset, i);
        if (!e) return std::nullopt;
        const std::uint32_t type = e->type > 12 ? 5 : e->type;
        if (e->value > ifd0.offset) outOfLine += std::uint64_t{scalarDataTypeValue(type)} * e->count;
    }
    return ifd0.end() + outOfLine;
}
