#include "sizecalc/RawTiffClassifier.h"

#include "platform/CheckedMath.h"

#include <algorithm>
#include <memory>

namespace {
// A Model test: begins with `text` (is == false) or is exactly it, NUL
// after; it needs `need` bytes.
bool is(platform::ByteView v, std::string_view text) {
    return v.has(0, text.size() + 1) && v.u8(text.size()) == 0 &&
           std::equal(text.begin(), text.end(), v.data(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

// "DCS" within the first 11 bytes, before any NUL.
bool containsDcs(platform::ByteView v) {
    for (std::size_t i = 0; i + 2 < 11 && v.u8(i) != 0 && v.u8(i + 1) != 0 && v.u8(i + 2) != 0; ++i)
        if (v.u8(i) == 'D' && v.u8(i + 1) == 'C' && v.u8(i + 2) == 'S') return true;
    return false;
}

constexpr std::string_view kSonyDslr[] = {"DSLR-A900", "DSLR-A700", "DSLR-A200", "DSLR-A300", "DSLR-A350"};

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kPreviewOffset = 46;
// Previews further into the file than this are not looked at.
constexpr std::uint64_t kPreviewLimit = 104857600;
// A JPEG stream that runs on past this without its end is answered with
// the length reached.
constexpr std::uint64_t kJpegCap = 5242880;

} // namespace

std::optional<std::uint32_t> RawTiffClassifier::lastElement(std::uint64_t sector, std::uint64_t arrayOffset,
                                                            std::uint32_t count) {
    const std::uint64_t last = arrayOffset + 4 * std::uint64_t{count == 0 ? 0 : count - 1};
    const auto pos = windowHolding(sector, last, 4);
    if (!pos) return std::nullopt;
    return u32(*pos);
}

std::optional<std::uint32_t> RawTiffClassifier::valueOf(std::uint64_t sector, const Entry& entry, bool inEntry) {
    if (inEntry) return entry.value;
    return lastElement(sector, entry.value, entry.count);
}

std::optional<TiffClassifier::Entry> RawTiffClassifier::entryOf(std::uint64_t sector, std::uint64_t ifd,
                                                                std::uint32_t index) {
    const auto pos = windowAt(sector, ifd);
    if (!pos) return std::nullopt;
    return entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * index);
}

std::optional<std::uint32_t> RawTiffClassifier::entriesOf(std::uint64_t sector, std::uint64_t ifd, std::uint32_t lo,
                                                          std::uint32_t hi) {
    const auto pos = windowAt(sector, ifd);
    if (!pos) return std::nullopt;
    const std::uint32_t n = u16(*pos);
    if (n < lo || n > hi) return std::nullopt;
    return n;
}

void RawTiffClassifier::previewAt(std::uint64_t sector, std::uint64_t offset) {
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0) return;
    auto& jpeg = context_.rawJpeg;
    jpeg.sectorNumber = platform::saturatingAdd(sector, offset / bps);
    jpeg.extraBytes = static_cast<std::uint32_t>(offset % bps);
}

void RawTiffClassifier::modelTests(platform::ByteView model, std::uint32_t available, ModelColumn column,
                                   ArwLayout* layout) {
    F& f = flags();
    const bool arw = column == ModelColumn::Arw;
    const bool kodakWide = column == ModelColumn::Sr2 || column == ModelColumn::Kdc;
    const bool fromArwToK25 = column != ModelColumn::Dcr;
    // A test is made only when the value has the bytes it needs.
    const auto fits = [&](std::uint32_t need) { return available >= need; };
    const auto begin = [&](std::string_view text) { return begins(model, text); };

    if (arw && fits(7) && is(model, "DSC-R1")) f.sr2FormatFlag = true;
    if (fromArwToK25 && fits(8) && is(model, "DCS PRO")) f.dcrFormatFlag = true;
    bool dslr = false;
    if (arw && layout && fits(9)) {
        if (std::any_of(std::begin(kSonyDslr), std::end(kSonyDslr), begin)) {
            *layout = {true, false};
            dslr = true;
        } else if (begin("DSLR-A100")) {
            *layout = {false, true};
            dslr = true;
        }
    }
    if (fromArwToK25 && !dslr && fits(9) && is(model, "DCS 669C")) f.dcrFormatFlag = true;
    if (fromArwToK25 && fits(10) && begin("KODAK DC25")) {
        f.k25FormatFlag = true;
        if (arw) return;
    }
    if ((arw || kodakWide) && fits(11) && begin("Kodak DC120")) {
        f.kdcFormatFlag = true;
        if (arw) return;
    }
    if (fits(11) && containsDcs(model)) f.dcrFormatFlag = true;
    if ((arw || kodakWide) && fits(26) && begin("Kodak Digital Science DC50")) {
        f.kdcFormatFlag = true;
        if (arw) return;
    }
    if ((arw || kodakWide) && fits(30) && begin("KODAK P880 ZOOM DIGITAL CAMERA")) f.kdcFormatFlag = true;
}

bool RawTiffClassifier::readModel(const Entry& entry, Classification& c, std::uint64_t offsetLimit, ModelColumn column,
                                  ArwLayout* layout) {
    const auto model = textOf(entry, c.sector, offsetLimit);
    if (!model) return false;
    // SR2 and KDC look at 32 bytes whatever the count says.
    const bool wide = column == ModelColumn::Sr2 || column == ModelColumn::Kdc;
    modelTests(*model, wide ? 32 : entry.count, column, layout);
    // A Sony raw may name its camera in the Model only.
    if (layout && (layout->arw || layout->a100)) c.rawMake = true;
    return reloadIfd0(c);
}

TiffClassifier::Verdict RawTiffClassifier::kodakMakerTests(platform::ByteView make, Classification& c,
                                                           bool kodakMakes) {
    if (begins(make, "Canon") && c.tiffMagic && !c.canonRaw) {
        set({&F::canonTiffFormatFlag, &F::tiffFormatFlag, &F::cameraTiffFormatFlag});
        return Verdict::No;
    }
    if (kodakMakes && (begins(make, "Kodak DC120") || begins(make, "Kodak Digital Science DC50") ||
                       begins(make, "KODAK P880 ZOOM DIGITAL CAMERA"))) {
        flags().kdcFormatFlag = true;
        return Verdict::Continue;
    }
    return TiffClassifier::makerTests(make, Entry{}, c);
}

void RawTiffClassifier::clearEveryMakerFlag() {
    clear({&F::cr2FormatFlag, &F::crwFormatFlag, &F::k25FormatFlag, &F::kdcFormatFlag, &F::dcrFormatFlag,
           &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag, &F::pefFormatFlag, &F::dngFormatFlag,
           &F::panasonicFormatFlag, &F::sr2FormatFlag, &F::hasselbladFormatFlag, &F::tiffFormatFlag});
}

bool RawTiffClassifier::dngOnly() {
    clearEveryMakerFlag();
    flags().dngFormatFlag = true;
    return false;
}

bool RawTiffClassifier::kodakEndRule(Classification& c, bool own) {
    if (c.tiffMagic && !c.rawMarker) {
        clearEveryMakerFlag();
        flags().tiffFormatFlag = true;
        if (c.makeSeen) flags().cameraTiffFormatFlag = true;
        return false;
    }
    return own;
}

std::uint64_t RawTiffClassifier::fullResolutionLength(platform::ByteView leading, std::uint64_t sectorNumber,
                                                      bool kdc) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile) return 0;
    const auto n = entriesOf(sectorNumber, ifd0, 2);
    if (!n) return 0;
    // Where a strip is too short to reach past IFD0, the file holds IFD0.
    const auto coverIfd0 = [&](std::uint64_t length) { return length <= ifd0 ? ifd0 + kEntryBytes * *n + 8 : length; };
    // A KDC strip array is short; K25 takes any count.
    constexpr std::uint32_t kKdcMaxStrips = 25;
    bool fullResolution = false;
    std::uint64_t stripOffset = 0;
    std::uint64_t length = 0;
    for (std::uint32_t i = 0; i < *n; ++i) {
        const auto e = entryOf(sectorNumber, ifd0, i);
        if (!e) return 0;
        if (e->tag == 254 && e->value == 0) {
            fullResolution = true;
        } else if (e->tag == kSubIfds && !fullResolution) {
            if (!kdc && e->value > kMaxPart) return 0;
            const auto m = entriesOf(sectorNumber, e->value, 0);
            if (!m) return 0;
            for (std::uint32_t j = 0; j < *m; ++j) {
                const auto s = entryOf(sectorNumber, e->value, j);
                if (!s) return 0;
                if (s->tag != kStripOffsets && s->tag != kStripByteCounts) continue;
                if (kdc && s->count > kKdcMaxStrips) return 0;
                const bool inEntry = s->count < 2 || s->count > kMaxArray;
                if (!inEntry && s->value > kMaxPart) return 0;
                const auto v = valueOf(sectorNumber, *s, inEntry);
                if (!v) return 0;
                if (s->tag == kStripOffsets) {
                    stripOffset = *v;
                } else {
                    length = coverIfd0(stripOffset + *v);
                    break;
                }
            }
        } else if (fullResolution) {
            const bool offsets = e->tag == kStripOffsets || e->tag == kTileOffsets || e->tag == kJpegOffset;
            const bool counts = e->tag == kStripByteCounts || e->tag == kTileByteCounts || e->tag == kJpegLength;
            if (!offsets && !counts) continue;
            const bool inEntry = e->count < 2 || (kdc && e->count > kMaxArray);
            if (!inEntry && e->value > kMaxPart) return 0;
            const auto v = valueOf(sectorNumber, *e, inEntry);
            if (!v) return 0;
            if (offsets) {
                stripOffset = *v;
            } else {
                length = coverIfd0(stripOffset + *v);
                break;
            }
        }
    }
    if (length < kMinFile || length > kMaxFile) return 0;
    return kdc ? length + 512 : length;
}

TiffClassifier::Verdict RawTiffClassifier::makerTestsOf(platform::ByteView make, const Entry& entry, Classification& c,
                                                        std::initializer_list<std::string_view> refused,
                                                        std::initializer_list<std::string_view> tested) {
    for (const std::string_view maker : refused)
        if (begins(make, maker)) return Verdict::No;
    for (const std::string_view maker : tested)
        if (begins(make, maker)) return TiffClassifier::makerTests(make, entry, c);
    return Verdict::Continue;
}

std::optional<std::uint64_t> RawTiffClassifier::stripValue(std::uint64_t sectorNumber, std::uint64_t at,
                                                           std::uint32_t arrayLimit) {
    const Entry e = entryAt(at);
    // Short values are read as shorts, so that a big-endian file's single
    // value is not taken from the wrong half of the field.
    const std::uint32_t size = e.type == kShort ? 2 : 4;
    if (e.count < 2 || e.count > arrayLimit) return sized(at + 8, size);
    if (e.value > kMaxPart) return std::nullopt;
    const auto last = windowAt(sectorNumber, std::uint64_t{e.value} + std::uint64_t{e.count - 1} * size);
    if (!last) return std::nullopt;
    return sized(*last, size);
}

std::uint64_t RawTiffClassifier::ifd0StripSize(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile || bps == 0) return 0;
    auto pos = windowAt(sectorNumber, ifd0);
    const std::uint32_t entries = pos ? u16(*pos) : 0;
    if (entries < 2 || entries > kMaxEntries) return 0;
    std::uint64_t stripOffset = 0;
    std::uint64_t end = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        pos = windowAt(sectorNumber, ifd0);
        if (!pos) return 0;
        const std::uint64_t at = *pos + 2 + std::uint64_t{kEntryBytes} * i;
        const Entry e = entryAt(at);
        if (e.tag == kStripOffsets || e.tag == kStripByteCounts) {
            const auto value = stripValue(sectorNumber, at, 65535);
            if (!value) return 0;
            if (e.tag == kStripOffsets)
                stripOffset = *value;
            else
                end = stripOffset + *value;
        } else if (e.tag == kPreviewOffset) {
            auto& jpeg = context_.rawJpeg;
            jpeg.sectorNumber = platform::saturatingAdd(sectorNumber, e.value / bps);
            jpeg.extraBytes = e.value % bps;
            if (e.value < kPreviewLimit) {
                jpeg.fileSize = jpegSize(jpeg.sectorNumber, jpeg.extraBytes);
                jpeg.found = jpeg.fileSize != 0;
            }
        }
    }
    // No strip beyond IFD0: the file ends with its directory.
    if (end <= ifd0) end = ifd0 + std::uint64_t{kEntryBytes} * entries + 6;
    return end >= kMinFile && end <= kMaxFile ? end + kMargin : 0;
}

std::uint64_t RawTiffClassifier::jpegSize(std::uint64_t sector, std::uint32_t offset) {
    // Its window is made only for the members that measure such previews.
    if (!jpeg_) jpeg_ = std::make_unique<JpegStreamWalk>(context_);
    return jpeg_->length(sector, offset,
                         JpegStreamWalk::Rules{.margin = 0,
                                               .walkLimit = kJpegCap,
                                               .limitAnswersLength = true,
                                               .zeroLengthIsTwo = false,
                                               .missingMarkerEnds = false});
}
