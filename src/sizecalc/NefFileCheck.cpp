#include "sizecalc/NefFileCheck.h"

namespace {
// The sub-IFD offsets looked at: a NEF has a few; a longer list is damage.
constexpr std::uint32_t kMaxListed = 100;
} // namespace

NefFileCheck::NefFileCheck(CarvingContext& context) : RawTiffClassifier("nef", context) {}

bool NefFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.pef || in.dng || in.cr2;
}

void NefFileCheck::clearMakerFlags() {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag, &F::tiffFormatFlag});
}

bool NefFileCheck::dngTag(Classification&) {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag,
           &F::hasselbladFormatFlag, &F::tiffFormatFlag});
    return false;
}

bool NefFileCheck::endRule(Classification& c) {
    if (c.tiffMagic && !c.rawMarker) {
        clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag,
               &F::hasselbladFormatFlag});
        flags().tiffFormatFlag = true;
        if (c.makeSeen) flags().cameraTiffFormatFlag = true;
        return false;
    }
    return flags().nefFormatFlag;
}

std::optional<std::uint32_t> NefFileCheck::arrayValue(std::uint64_t sector, const Entry& entry) {
    if (entry.value > kMaxPart) return std::nullopt;
    return lastElement(sector, entry.value, entry.count);
}

std::uint64_t NefFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile) return 0;
    const auto n = entriesOf(sectorNumber, ifd0, 2);
    if (!n) return 0;
    std::optional<Entry> subIfds;
    for (std::uint32_t i = 0; i < *n && !subIfds; ++i) {
        const auto e = entryOf(sectorNumber, ifd0, i);
        if (!e) return 0;
        if (e->tag == kSubIfds) subIfds = e;
    }
    const std::uint64_t ifd0End = ifd0 + kEntryBytes * *n + 6;
    if (!subIfds) return ifd0End >= kMinFile && ifd0End <= kMaxFile ? ifd0End : 0;

    auto& jpeg = context_.rawJpeg;
    std::uint64_t length = 0;
    if (subIfds->count >= 2 && subIfds->count <= kMaxArray) {
        if (subIfds->value > kMaxFile) return 0;
        const std::uint32_t listed = std::min(subIfds->count, kMaxListed);
        for (std::uint32_t k = 0; k < listed; ++k) {
            if (context_.stopped()) return 0;
            const auto at = windowHolding(sectorNumber, subIfds->value + 4 * std::uint64_t{k}, 4);
            if (!at) return 0;
            const std::uint64_t sub = u32(*at);
            if (sub > kMaxPart) return 0;
            const auto end = listedSubIfd(sectorNumber, sub);
            if (!end) return 0;
            // The raw image's sub-IFD is the one with strip byte counts.
            if (*end != 0) length = *end;
        }
    } else if (subIfds->count == 1) {
        const std::uint64_t sub = subIfds->value;
        if (sub > kMaxPart) return 0;
        const auto m = entriesOf(sectorNumber, sub, 2);
        if (!m) return 0;
        std::uint64_t stripOffset = 0;
        for (std::uint32_t j = 0; j < *m; ++j) {
            const auto e = entryOf(sectorNumber, sub, j);
            if (!e) return 0;
            if (e->tag == kJpegOffset) {
                previewAt(sectorNumber, e->value);
            } else if (e->tag == kJpegLength) {
                jpeg.fileSize = e->value;
                jpeg.found = true;
            } else if (e->tag == kStripOffsets || e->tag == kStripByteCounts) {
                const auto v = e->count == 1 ? std::optional<std::uint32_t>(e->value) : arrayValue(sectorNumber, *e);
                if (!v) return 0;
                if (e->tag == kStripOffsets)
                    stripOffset = *v;
                else if (e->count == 1)
                    // A single strip ends the raw data: the file ends there.
                    return stripOffset + *v;
                else
                    length = stripOffset + *v;
            }
        }
    }
    if (length < ifd0) length = ifd0End;
    return length >= kMinFile && length <= kMaxFile ? length + 512 : 0;
}

std::optional<std::uint64_t> NefFileCheck::listedSubIfd(std::uint64_t sector, std::uint64_t subIfd) {
    const auto m = entriesOf(sector, subIfd, 2);
    if (!m) return std::nullopt;
    auto& jpeg = context_.rawJpeg;
    std::uint64_t jpegOffset = 0;
    std::uint64_t stripOffset = 0;
    std::uint64_t length = 0;
    for (std::uint32_t j = 0; j < *m; ++j) {
        const auto e = entryOf(sector, subIfd, j);
        if (!e) return std::nullopt;
        if (e->tag == kJpegOffset) {
            jpegOffset = e->value;
        } else if (e->tag == kJpegLength) {
            // The longest preview of all sub-IFDs is the one carved.
            if (e->value > jpeg.fileSize) {
                previewAt(sector, jpegOffset);
                jpeg.fileSize = e->value;
                jpeg.found = true;
            }
        } else if (e->tag == kStripOffsets || e->tag == kStripByteCounts) {
            const auto v = e->count == 1 ? std::optional<std::uint32_t>(e->value) : arrayValue(sector, *e);
            if (!v) return std::nullopt;
            if (e->tag == kStripOffsets)
                stripOffset = *v;
            else
                length = stripOffset + *v;
        }
    }
    return length;
}
