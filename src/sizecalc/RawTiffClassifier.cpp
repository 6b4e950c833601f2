#include "sizecalc/RawTiffClassifier.h"

#include "platform/CheckedMath.h"

namespace {

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kPreviewOffset = 46;
// Previews further into the file than this are not looked at.
constexpr std::uint64_t kPreviewLimit = 104857600;
// A JPEG stream that runs on past this without its end is answered with
// the length reached.
constexpr std::uint64_t kJpegCap = 5242880;

} // namespace

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
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0 || !windowAt(sector, 0)) return 0;
    if (view().u8(offset) != 0xFF || view().u8(offset + 1) != 0xD8) return 0;
    std::uint64_t length = 4;
    std::uint64_t p = std::uint64_t{offset} + 4;
    // Moves the window on to the sector holding position p when fewer than
    // `need` of the bytes there are in it.
    const auto reach = [&](std::uint64_t need) {
        if (p + need <= ReadWindow::kBytes) return true;
        sector = platform::saturatingAdd(sector, p / bps);
        p %= bps;
        return windowAt(sector, 0).has_value();
    };
    bool scanData = false;
    while (!context_.stopped()) {
        if (!scanData) {
            if (!reach(2)) return 0;
            const std::uint64_t segment = view().be16(p);
            length += segment + 2;
            p += segment;
            if (!reach(2)) return 0;
            if (view().u8(p) == 0xFF && view().u8(p + 1) == 0xDA) scanData = true;
            p += 2;
        } else {
            if (!reach(2)) return 0;
            if (view().u8(p) == 0xFF && view().u8(p + 1) == 0xD9) return length + 2;
            ++length;
            ++p;
        }
        if (length > kJpegCap) return length;
    }
    return length;
}
