#include "sizecalc/Sr2FileCheck.h"

namespace {
// A Make longer than this is looked at only so far.
constexpr std::uint32_t kLongMake = 50;
constexpr std::uint32_t kLongMakeLooked = 30;
} // namespace

Sr2FileCheck::Sr2FileCheck(CarvingContext& context) : RawTiffClassifier("sr2", context) {}

TiffClassifier::Verdict Sr2FileCheck::makerTests(platform::ByteView make, const Entry& entry, Classification& c) {
    if (context_.stopped()) return Verdict::No;
    const std::uint32_t looked = entry.count > kLongMake ? kLongMakeLooked : entry.count;
    const platform::ByteView value = make.sub(0, looked);
    if (begins(value, "SONY")) return sonyProbe(c);
    return kodakMakerTests(value, c, false);
}

TiffClassifier::Verdict Sr2FileCheck::sonyProbe(Classification& c) {
    for (std::uint32_t i = c.entry + 1; i < c.entries; ++i) {
        if (context_.stopped()) return Verdict::No;
        const auto e = entryOf(c.sector, c.ifd0, i);
        if (!e) return Verdict::No;
        if (e->tag != kModel) continue;
        const auto model = textOf(*e, c.sector, kSonyLimit);
        if (!model) return Verdict::No;
        if (begins(*model, "DSC-R1")) {
            flags().sr2FormatFlag = true;
            break;
        }
    }
    return Verdict::Continue;
}

TiffClassifier::Verdict Sr2FileCheck::otherTag(const Entry& entry, Classification& c) {
    if (entry.tag != kModel) return Verdict::Continue;
    return readModel(entry, c, UINT32_MAX, ModelColumn::Sr2) ? Verdict::Continue : Verdict::No;
}

bool Sr2FileCheck::endRule(Classification& c) {
    // The DSC-R1 writes TIFF magic: its flag comes before the plain-TIFF rule.
    if (flags().sr2FormatFlag) return true;
    return kodakEndRule(c, false);
}

std::uint64_t Sr2FileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile) return 0;
    const auto n = entriesOf(sectorNumber, ifd0, 0);
    if (!n) return 0;
    auto& jpeg = context_.rawJpeg;
    std::uint64_t stripOffset = 0;
    std::uint64_t length = 0;
    for (std::uint32_t i = 0; i < *n; ++i) {
        // A stopped walk records no file.
        if (context_.stopped()) return 0;
        const auto e = entryOf(sectorNumber, ifd0, i);
        if (!e) return 0;
        if (e->tag != kSubIfds) continue;
        if (e->value > kMaxPart) return 0;
        const auto m = entriesOf(sectorNumber, e->value, 2);
        if (!m) return 0;
        for (std::uint32_t j = 0; j < *m; ++j) {
            if (context_.stopped()) return 0;
            const auto s = entryOf(sectorNumber, e->value, j);
            if (!s) return 0;
            const bool offsets = s->tag == kStripOffsets || s->tag == kJpegOffset;
            const bool counts = s->tag == kStripByteCounts || s->tag == kJpegLength;
            if (!offsets && !counts) continue;
            const bool inEntry = offsets ? s->count < 2 : s->count < 2 || s->count > kMaxArray;
            const auto v = valueOf(sectorNumber, *s, inEntry);
            if (!v) return 0;
            if (s->tag == kStripOffsets) {
                stripOffset = *v;
            } else if (s->tag == kJpegOffset) {
                previewAt(sectorNumber, *v);
            } else if (s->tag == kStripByteCounts) {
                length = stripOffset + *v;
                if (length <= ifd0) length = ifd0 + kEntryBytes * *n + 6;
            } else {
                jpeg.fileSize = *v;
                // A shorter preview is a thumbnail, not worth a file.
                if (*v > 1024) jpeg.found = true;
            }
        }
    }
    return length >= kMinFile && length <= kMaxFile ? length + 512 : 0;
}
