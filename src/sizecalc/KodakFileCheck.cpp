#include "sizecalc/KodakFileCheck.h"

#include <algorithm>

namespace {
// A DCR has a few sub-IFDs; more is damage.
constexpr std::uint32_t kMaxSubIfds = 10;
// Kodak's tag counting the 4-byte words stored after the raw strips.
constexpr std::uint16_t kKodakExtra = 65001;
constexpr std::uint64_t kMaxExtra = 307200;

constexpr std::string_view keyOf(KodakRaw kind) {
    return kind == KodakRaw::Kdc ? "kdc" : kind == KodakRaw::K25 ? "k25" : "dcr";
}
} // namespace

template <KodakRaw Kind>
KodakFileCheck<Kind>::KodakFileCheck(CarvingContext& context) : RawTiffClassifier(keyOf(Kind), context) {}

// Each classifier hands the sector on to the TIFF-family members before it
// in the table that classified it already.
template <KodakRaw Kind> bool KodakFileCheck<Kind>::shortCut() const {
    const auto& in = context_.tiffInUse;
    if constexpr (Kind == KodakRaw::Kdc) return in.arw || in.sr2;
    if constexpr (Kind == KodakRaw::K25) return in.arw || in.sr2 || in.kdc;
    return in.arw || in.sr2 || in.kdc || in.k25;
}

template <KodakRaw Kind> bool KodakFileCheck<Kind>::ownFlag() const {
    if constexpr (Kind == KodakRaw::Kdc) return context_.tiff.kdcFormatFlag;
    if constexpr (Kind == KodakRaw::K25) return context_.tiff.k25FormatFlag;
    return context_.tiff.dcrFormatFlag;
}

template <KodakRaw Kind>
TiffClassifier::Verdict KodakFileCheck<Kind>::makerTests(platform::ByteView make, const Entry&, Classification& c) {
    return kodakMakerTests(make, c, Kind == KodakRaw::Kdc);
}

template <KodakRaw Kind> TiffClassifier::Verdict KodakFileCheck<Kind>::otherTag(const Entry& entry, Classification& c) {
    if (entry.tag != kModel) return Verdict::Continue;
    constexpr ModelColumn column = Kind == KodakRaw::Kdc   ? ModelColumn::Kdc
                                   : Kind == KodakRaw::K25 ? ModelColumn::K25
                                                           : ModelColumn::Dcr;
    return readModel(entry, c, Kind == KodakRaw::Kdc ? UINT32_MAX : kMaxPart, column) ? Verdict::Continue : Verdict::No;
}

template <KodakRaw Kind> std::uint64_t KodakFileCheck<Kind>::makeOffsetLimit() const {
    return Kind == KodakRaw::Kdc ? UINT32_MAX : RawTiffClassifier::makeOffsetLimit();
}

template <KodakRaw Kind>
std::uint64_t KodakFileCheck<Kind>::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    // KDC and K25 end with their full-resolution image, a DCR with the
    // furthest strip of its sub-IFDs and the Kodak bytes after it.
    if constexpr (Kind != KodakRaw::Dcr) return fullResolutionLength(leading, sectorNumber, Kind == KodakRaw::Kdc);
    if (!useFlagsByteOrder()) return 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile) return 0;
    const auto n = entriesOf(sectorNumber, ifd0, 2);
    if (!n) return 0;
    std::uint64_t stripOffset = 0;
    std::uint64_t length = 0;
    std::uint64_t extra = 0;
    for (std::uint32_t i = 0; i < *n; ++i) {
        const auto e = entryOf(sectorNumber, ifd0, i);
        if (!e) return 0;
        if (e->tag != kSubIfds) continue;
        if (e->count == 0 || e->count > kMaxSubIfds) return 0;
        if (e->count == 1) {
            if (e->value > kMaxPart || !subIfdEnd(sectorNumber, e->value, stripOffset, length, extra)) return 0;
            continue;
        }
        for (std::uint32_t k = 0; k < e->count; ++k) {
            const auto at = windowAt(sectorNumber, e->value + 4 * std::uint64_t{k});
            if (!at) return 0;
            const std::uint64_t sub = u32(*at);
            if (sub > kMaxFile || !subIfdEnd(sectorNumber, sub, stripOffset, length, extra)) return 0;
        }
    }
    const std::uint64_t total = length + extra;
    return total >= kMinFile && total <= kMaxFile ? total + 512 : 0;
}

template <KodakRaw Kind>
bool KodakFileCheck<Kind>::subIfdEnd(std::uint64_t sectorNumber, std::uint64_t subIfd, std::uint64_t& stripOffset,
                                     std::uint64_t& length, std::uint64_t& extra) {
    const auto m = entriesOf(sectorNumber, subIfd, 0);
    if (!m) return false;
    for (std::uint32_t j = 0; j < *m; ++j) {
        const auto e = entryOf(sectorNumber, subIfd, j);
        if (!e) return false;
        if (e->tag == kKodakExtra) {
            extra = std::min(extra + 4 * std::uint64_t{e->count}, kMaxExtra);
            continue;
        }
        if (e->tag != kStripOffsets && e->tag != kStripByteCounts) continue;
        const bool inEntry = e->count < 2 || e->count > kMaxArray;
        if (!inEntry && e->value > kMaxPart) return false;
        const auto v = valueOf(sectorNumber, *e, inEntry);
        if (!v) return false;
        if (e->tag == kStripOffsets) {
            stripOffset = *v;
            continue;
        }
        length = std::max(length, stripOffset + *v);
        // An array of strips ends the raw data.
        if (!inEntry) break;
    }
    return true;
}

template class KodakFileCheck<KodakRaw::Kdc>;
template class KodakFileCheck<KodakRaw::K25>;
template class KodakFileCheck<KodakRaw::Dcr>;
