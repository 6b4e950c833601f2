#include "sizecalc/TiffFileCheck.h"

#include "platform/CheckedMath.h"

#include <algorithm>

namespace {

// A Sigma TIFF has a few directories; a longer chain is damage or a loop.
constexpr int kMaxIfds = 25;
// Directories of fewer entries than this are no image's.
constexpr std::uint32_t kMinImageEntries = 5;
// Trailing bytes the carved file takes along.
constexpr std::uint64_t kMargin = 512;
constexpr std::uint16_t kExifIfd = 34665;
constexpr std::uint16_t kGpsIfd = 34853;
constexpr std::uint16_t kInteropIfd = 40965;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kIfdType = 13;
constexpr std::uint16_t kMakerNote = 37500;
constexpr std::uint16_t kUndefined = 7;
// The maker-note entry holding the JPEG's offset in a Canon TIFF.
constexpr std::uint16_t kCanonJpegOffset = 0x0081;
constexpr std::uint32_t kStopPollElements = 4096;

bool isByteCounts(std::uint16_t tag) {
    return tag == 279 || tag == 325;
}

// An entry that holds one directory's offset.
bool pointsToADirectory(std::uint16_t type, std::uint32_t count) {
    return count == 1 && (type == kLong || type == kIfdType);
}

} // namespace

TiffFileCheck::TiffFileCheck(CarvingContext& context) : TiffClassifier("tiff", context), jpeg_(context) {}

bool TiffFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.kdc || in.k25 || in.dcr || in.pef || in.dng || in.cr2 || in.nef;
}

void TiffFileCheck::clearMakerFlags() {
    clear(
        {&F::cameraTiffFormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag});
}

TiffClassifier::MakerRules TiffFileCheck::makerRules() const {
    return {.canonRaw = MakerRules::CanonRaw::Refuse, .nikon = false};
}

bool TiffFileCheck::dngTag(Classification&) {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag,
           &F::tiffFormatFlag});
    return false;
}

bool TiffFileCheck::endRule(Classification& c) {
    if (c.tiffMagic && !c.rawMarker) {
        clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag,
               &F::hasselbladFormatFlag});
        if (c.makeSeen) flags().cameraTiffFormatFlag = true;
        return true;
    }
    return flags().tiffFormatFlag;
}

void TiffFileCheck::setBothEndianFormatFlagsToNo() {
    flags().littleEndianFormatFlag = flags().bigEndianFormatFlag = false;
}

std::uint64_t TiffFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    // The walk starts from an IFD0 of an image's size.
    const std::uint64_t length = walkedLength(leading, sectorNumber, kMinImageEntries, [&](std::uint64_t walked) {
        return flags().canonTiffFormatFlag ? std::max(walked, canonTiffJpgEnd(leading, sectorNumber)) : walked;
    });
    return length == 0 ? 0 : length + kMargin;
}

TiffFileCheck::PlainWalkBounds TiffFileCheck::sigmaTiffBounds() {
    return PlainWalkBounds{.firstIfdLimit = 26214400,
                           .boundArrays = false,
                           .boundTotal = false,
                           .checkNextFirst = false,
                           .overlongAnswer = 26214400,
                           .maxTotal = kMaxPart,
                           .maxIfds = kMaxIfds,
                           .subDirectories = false};
}

std::uint64_t TiffFileCheck::plainTiffSize(platform::ByteView leading, std::uint64_t sectorNumber,
                                           const PlainWalkBounds& bounds) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 > bounds.firstIfdLimit) return 0;
    const auto pos = windowAt(sectorNumber, ifd0);
    const std::uint32_t entries = pos ? u16(*pos) : 0;
    if (entries < kMinImageEntries || entries > kMaxEntries) return 0;
    return plainWalk(leading, sectorNumber, bounds);
}

std::uint64_t TiffFileCheck::plainWalk(platform::ByteView leading, std::uint64_t sectorNumber,
                                       const PlainWalkBounds& bounds) {
    std::uint64_t ifd = headerU32(leading, 4);
    std::uint64_t total = 8;
    for (int index = 0; !context_.stopped(); ++index) {
        if (index == bounds.maxIfds) return 0;
        if (bounds.checkNextFirst && (ifd < 8 || ifd > kMaxPart)) return 0;
        auto pos = windowAt(sectorNumber, ifd);
        const std::uint32_t entries = pos ? u16(*pos) : 0;
        if (!bounds.checkNextFirst && index > 0 && entries > kMaxEntries) return std::max(bounds.overlongAnswer, total);
        if (entries < 2 || entries > kMaxEntries) return 0;
        if (ifd < 8 || ifd > kMaxPart) return 0;
        total += std::uint64_t{kEntryBytes} * entries + 6;
        std::uint64_t imageBytes = 0;
        for (std::uint32_t i = 0; i < entries; ++i) {
            if (context_.stopped()) return total;
            pos = windowAt(sectorNumber, ifd);
            if (!pos) return 0;
            const std::uint64_t at = *pos + 2 + std::uint64_t{kEntryBytes} * i;
            const Entry e = entryAt(at);
            if (isByteCounts(e.tag)) {
                const std::uint32_t size = scalarDataTypeValue(e.type);
                if (std::uint64_t{e.count} * size <= 4) {
                    imageBytes = sized(at + 8, size);
                } else {
                    bool stopped = false;
                    const auto sum = byteCountSum(sectorNumber, e, size, stopped, bounds.boundArrays);
                    if (stopped) return total;
                    if (!sum) return 0;
                    imageBytes = platform::saturatingAdd(imageBytes, *sum);
                }
            }
            std::uint64_t data = std::uint64_t{e.count} * scalarDataTypeValue(e.type > 12 ? 5 : e.type);
            if (data <= 4) data = 0;
            if (bounds.subDirectories && (e.tag == kExifIfd || e.tag == kGpsIfd) && pointsToADirectory(e.type, e.count))
                data = platform::saturatingAdd(data, subDirectoryBytes(sectorNumber, e.value, true));
            if (data != 0) {
                total = platform::saturatingAdd(total, data);
                if (bounds.boundTotal && total > kMaxPart) return 0;
            }
        }
        total = platform::saturatingAdd(total, imageBytes);
        pos = windowAt(sectorNumber, ifd);
        if (!pos) return 0;
        const std::uint64_t next = u32(*pos + 2 + std::uint64_t{kEntryBytes} * entries);
        if (next == 0) break;
        if (bounds.checkNextFirst) {
            if (next > kMaxPart) return 0;
            const auto nextPos = windowAt(sectorNumber, next);
            if (!nextPos || u16(*nextPos) > kMaxEntries) return 0;
        }
        ifd = next;
    }
    if (total < kMinFile || total > bounds.maxTotal) return 0;
    return total + kMargin;
}

std::uint64_t TiffFileCheck::subDirectoryBytes(std::uint64_t sectorNumber, std::uint64_t offset, bool nested) {
    if (offset < 8 || offset > kMaxPart) return 0;
    auto pos = windowAt(sectorNumber, offset);
    const std::uint32_t entries = pos ? u16(*pos) : 0;
    if (entries == 0 || entries > kMaxEntries) return 0;
    std::uint64_t bytes = std::uint64_t{kEntryBytes} * entries + 6;
    for (std::uint32_t i = 0; i < entries; ++i) {
        pos = windowAt(sectorNumber, offset);
        if (!pos) return 0;
        const Entry e = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * i);
        const std::uint64_t data = std::uint64_t{e.count} * scalarDataTypeValue(e.type > 12 ? 5 : e.type);
        if (data > 4) bytes = platform::saturatingAdd(bytes, data);
        // The interoperability directory hangs off the EXIF one, and nothing
        // off it: a pointer back to a directory walked already counts it
        // once more at most.
        if (nested && e.tag == kInteropIfd && pointsToADirectory(e.type, e.count))
            bytes = platform::saturatingAdd(bytes, subDirectoryBytes(sectorNumber, e.value, false));
        if (bytes > kMaxPart) return 0;
    }
    return bytes;
}

std::optional<std::uint64_t> TiffFileCheck::byteCountSum(std::uint64_t sectorNumber, const Entry& e, std::uint32_t size,
                                                         bool& stopped, bool bounded) {
    const std::uint64_t bytes = std::uint64_t{e.count} * size;
    // The count is checked whatever the bounds: it sets the loop's length.
    if ((bounded && e.value > kMaxPart) || bytes > kMaxPart) return std::nullopt;
    std::uint64_t sum = 0;
    const std::uint64_t end = std::uint64_t{e.value} + bytes;
    for (std::uint64_t at = e.value; at < end; at += size) {
        if ((at - e.value) / size % kStopPollElements == 0 && context_.stopped()) {
            stopped = true;
            return std::nullopt;
        }
        const auto pos = windowHolding(sectorNumber, at, size);
        if (!pos) return std::nullopt;
        // Nothing but zeros from here on.
        if (beyondVolume()) break;
        sum += sized(*pos, size);
    }
    return sum;
}

std::uint64_t TiffFileCheck::canonTiffJpgEnd(platform::ByteView leading, std::uint64_t sectorNumber) {
    useByteOrder(leading.be16(0) == 0x4949);
    const auto pos = windowAt(sectorNumber, headerU32(leading, 4));
    if (!pos) return 0;
    // Entries past the window's end are not read.
    const std::uint32_t entries = std::min<std::uint32_t>(u16(*pos), kMaxEntries);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const Entry e = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * i);
        if (e.tag == kExifIfd) return canonTiffJpgEnd(std::uint64_t{e.value}, sectorNumber);
    }
    return 0;
}

std::uint64_t TiffFileCheck::canonTiffJpgEnd(std::uint64_t exifOffset, std::uint64_t sectorNumber) {
    const auto start = windowAt(sectorNumber, 0);
    if (!start) return 0;
    useByteOrder(view().be16(0) == 0x4949);
    auto pos = windowAt(sectorNumber, exifOffset);
    if (!pos) return 0;
    const std::uint32_t entries = u16(*pos);
    if (entries > kMaxEntries) return 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        pos = windowAt(sectorNumber, exifOffset);
        if (!pos) return 0;
        const Entry e = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * i);
        if (e.tag != kMakerNote) continue;
        if (e.type != kUndefined) return 0;
        const auto note = windowAt(sectorNumber, e.value);
        if (!note) return 0;
        // Entries past the window's end are not read.
        const std::uint32_t noteEntries = std::min<std::uint32_t>(u16(*note), kMaxEntries);
        for (std::uint32_t j = 0; j < noteEntries; ++j) {
            const Entry n = entryAt(*note + 2 + std::uint64_t{kEntryBytes} * j);
            if (n.tag != kCanonJpegOffset) continue;
            const std::uint64_t fileStart = platform::saturatingMul(sectorNumber, context_.bytesPerSector());
            const std::uint64_t jpeg = jpgFileSizeCalculation(platform::saturatingAdd(fileStart, n.value));
            return jpeg == 0 ? 0 : n.value + jpeg;
        }
    }
    return 0;
}

std::uint64_t TiffFileCheck::jpgFileSizeCalculation(std::uint64_t address) {
    const std::uint32_t bps = context_.bytesPerSector();
    if (bps == 0) return 0;
    return jpeg_.length(address / bps, static_cast<std::uint32_t>(address % bps), {.margin = 0});
}
