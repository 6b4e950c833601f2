#include "sizecalc/ArwFileCheck.h"

#include <algorithm>

namespace {
// A longer preview is taken as damage; the run carves this much of it.
constexpr std::uint64_t kMaxPreview = 7340032;
constexpr std::uint16_t kDngPrivateData = 50740;
// Where the DSLR-A100's private block keeps the raw data's length.
constexpr std::uint64_t kA100LengthAt = 148;
} // namespace

ArwFileCheck::ArwFileCheck(CarvingContext& context) : RawTiffClassifier("arw", context) {}

bool ArwFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    layout_ = {};
    return RawTiffClassifier::isFile(leading, sectorNumber);
}

void ArwFileCheck::clearMakerFlags() {
    clear({&F::cameraTiffFormatFlag, &F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag,
           &F::orfFormatFlag, &F::pefFormatFlag, &F::dngFormatFlag, &F::panasonicFormatFlag, &F::sr2FormatFlag,
           &F::tiffFormatFlag});
}

TiffClassifier::Verdict ArwFileCheck::makerTests(platform::ByteView make, const Entry& entry, Classification& c) {
    return TiffClassifier::makerTests(make.sub(0, 8), entry, c);
}

bool ArwFileCheck::dngTag(Classification&) {
    flags().cameraTiffFormatFlag = false;
    return dngOnly();
}

TiffClassifier::Verdict ArwFileCheck::otherTag(const Entry& entry, Classification& c) {
    if (entry.tag != kModel) return Verdict::Continue;
    // A Sony raw names its camera in the Model only.
    c.makeSeen = true;
    return readModel(entry, c, kSonyLimit, ModelColumn::Arw, &layout_) ? Verdict::Continue : Verdict::No;
}

std::uint64_t ArwFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    if (layout_.arw) return stripsLength(leading, sectorNumber);
    if (layout_.a100) return a100Length(leading, sectorNumber);
    return 0;
}

void ArwFileCheck::previewLength(std::uint32_t value) {
    context_.rawJpeg.fileSize = std::min<std::uint64_t>(value, kMaxPreview);
}

void ArwFileCheck::dropPreview() {
    auto& jpeg = context_.rawJpeg;
    jpeg.sectorNumber = jpeg.extraBytes = 0;
    jpeg.found = false;
}

std::uint64_t ArwFileCheck::stripsLength(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint64_t ifd0 = headerU32(leading, 4);
    const auto n = entriesOf(sectorNumber, ifd0, 0);
    if (!n) return 0;
    std::uint64_t stripOffset = 0;
    std::uint64_t length = 0;
    for (std::uint32_t i = 0; i < *n; ++i) {
        // A stopped walk keeps what it measured.
        if (context_.stopped()) return length;
        const auto e = entryOf(sectorNumber, ifd0, i);
        if (!e) return 0;
        if (e->tag == kSubIfds) {
            if (e->value > kSonyLimit) return 0;
            const auto m = entriesOf(sectorNumber, e->value, 0);
            if (!m) return 0;
            for (std::uint32_t j = 0; j < *m; ++j) {
                if (context_.stopped()) return length;
                const auto s = entryOf(sectorNumber, e->value, j);
                if (!s) return 0;
                if (s->tag != kStripOffsets && s->tag != kStripByteCounts) continue;
                if (s->count == 0 || s->count > kMaxArray) continue;
                if (s->count > 1 && s->value > kSonyLimit) return 0;
                const auto v = valueOf(sectorNumber, *s, s->count == 1);
                if (!v) return 0;
                if (s->tag == kStripOffsets) {
                    stripOffset = *v;
                } else {
                    length = stripOffset + *v;
                    if (length < ifd0) length = ifd0 + kEntryBytes * *n;
                }
            }
        } else if (e->tag == kJpegOffset) {
            previewAt(sectorNumber, e->value);
            context_.rawJpeg.found = true;
            if (e->value > length) {
                dropPreview();
                break;
            }
        } else if (e->tag == kJpegLength) {
            previewLength(e->value);
        }
    }
    return length > kMaxFile ? 0 : length;
}

std::uint64_t ArwFileCheck::a100Length(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint64_t ifd0 = headerU32(leading, 4);
    const auto n = entriesOf(sectorNumber, ifd0, 2);
    if (!n) return 0;
    std::uint64_t subIfd = 0;
    std::uint64_t jpegOffset = 0;
    std::uint64_t length = 0;
    for (std::uint32_t i = 0; i < *n; ++i) {
        if (context_.stopped()) return length;
        const auto e = entryOf(sectorNumber, ifd0, i);
        if (!e) return 0;
        if (e->tag == kSubIfds) {
            if (e->value > kMaxPart) return 0;
            subIfd = e->value;
        } else if (e->tag == kDngPrivateData) {
            if (e->value > kMaxPart) return 0;
            const auto at = windowHolding(sectorNumber, e->value + kA100LengthAt, 4);
            if (!at) return 0;
            length = subIfd + u32(*at);
            if (length < ifd0) length = ifd0 + kEntryBytes * *n;
        } else if (e->tag == kJpegOffset) {
            jpegOffset = e->value;
            previewAt(sectorNumber, jpegOffset);
            context_.rawJpeg.found = true;
        } else if (e->tag == kJpegLength) {
            previewLength(e->value);
        }
    }
    if (jpegOffset > length) dropPreview();
    return length < kMinFile || length > kMaxFile ? 0 : length;
}
