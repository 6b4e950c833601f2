#include "sizecalc/Cr2FileCheck.h"

#include "platform/CheckedMath.h"
#include "sizecalc/CarvingContext.h"

#include <algorithm>
#include <vector>

namespace {
// A CR2 has a handful of IFDs; a longer chain is damage or a loop.
constexpr int kMaxIfds = 25;
// An entry with a count outside 2..65534 holds its value itself.
constexpr std::uint32_t kMaxArray = 65534;
// Where a directory's JPEG stream (a thumbnail) begins.
constexpr std::uint16_t kJpegInterchangeFormat = 513;
} // namespace

Cr2FileCheck::Cr2FileCheck(CarvingContext& context) : TiffClassifier("cr2", context) {}

bool Cr2FileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.pef || in.dng;
}

void Cr2FileCheck::clearMakerFlags() {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag,
           &F::tiffFormatFlag});
}

bool Cr2FileCheck::dngTag(Classification&) {
    clear({&F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag,
           &F::panasonicFormatFlag, &F::hasselbladFormatFlag, &F::tiffFormatFlag});
    return false;
}

bool Cr2FileCheck::endRule(Classification& c) {
    if (flags().cr2FormatFlag) return true;
    if (c.tiffMagic && !c.rawMarker) {
        clear({&F::cr2FormatFlag, &F::crwFormatFlag, &F::leicaFormatFlag, &F::nefFormatFlag, &F::orfFormatFlag,
               &F::panasonicFormatFlag, &F::hasselbladFormatFlag});
        flags().tiffFormatFlag = true;
        if (c.makeSeen) flags().cameraTiffFormatFlag = true;
    }
    return false;
}

std::uint64_t Cr2FileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint32_t bps = context_.bytesPerSector();
    std::uint64_t ifd = headerU32(leading, 4);
    if (ifd < 8 || ifd > kMaxFile || bps == 0) return 0;
    auto& jpeg = context_.rawJpeg;
    std::uint64_t result = 0;
    // The directories are read; the images they point to (the preview, the
    // thumbnail, the sensor data) are the file's own, and what else lies
    // past the last directory nothing vouches for.
    std::uint64_t read = 8;
    std::vector<std::uint64_t> parts;
    for (int index = 0;; ++index) {
        if (index == kMaxIfds || context_.stopped()) return 0;
        const auto pos = windowAt(sectorNumber, ifd);
        const std::uint32_t entries = pos ? u16(*pos) : 0;
        if (entries < 2 || entries > kMaxEntries) {
            jpeg.sectorNumber = jpeg.fileSize = jpeg.extraBytes = 0;
            return 0;
        }
        const std::uint64_t next = u32(*pos + 2 + std::uint64_t{kEntryBytes} * entries);
        read = std::max(read, ifd + 2 + std::uint64_t{kEntryBytes} * entries + 4);
        for (std::uint32_t i = 0; i < entries; ++i) {
            const Entry e = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * i);
            const std::uint32_t v = e.type == 3 ? u16(*pos + 2 + std::uint64_t{kEntryBytes} * i + 8) : e.value;
            if ((e.tag == kStripOffsets || e.tag == kJpegInterchangeFormat) && e.count == 1 && v % bps == 0)
                parts.push_back(v / bps);
        }
        if (index == 0) {
            // IFD0's single strip is the JPEG preview.
            for (std::uint32_t i = 0; i < entries; ++i) {
                const Entry e = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * i);
                const std::uint32_t v = e.type == 3 ? u16(*pos + 2 + std::uint64_t{kEntryBytes} * i + 8) : e.value;
                if (e.tag == kStripOffsets) {
                    jpeg.sectorNumber = platform::saturatingAdd(sectorNumber, v / bps);
                    jpeg.extraBytes = v % bps;
                } else if (e.tag == kStripByteCounts) {
                    jpeg.fileSize = v;
                    jpeg.found = true;
                }
            }
        } else if (next == 0) {
            const auto end = lastIfdEnd(sectorNumber, ifd, entries);
            if (!end) return 0;
            result = *end;
        }
        if (next == 0) break;
        ifd = next;
    }
    if (result < kMinFile || result > kMaxFile) return 0;
    context_.measuredUnvouched = {read, result, 0, std::move(parts)};
    return result;
}

std::optional<std::uint64_t> Cr2FileCheck::lastIfdEnd(std::uint64_t sectorNumber, std::uint64_t ifd,
                                                      std::uint32_t entries) {
    std::uint64_t stripOffset = 0;
    std::uint64_t result = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        const auto pos = windowAt(sectorNumber, ifd);
        if (!pos) return std::nullopt;
        const std::uint64_t at = *pos + 2 + std::uint64_t{kEntryBytes} * i;
        const Entry e = entryAt(at);
        if (e.tag != kStripOffsets && e.tag != kStripByteCounts) continue;
        const std::uint32_t size = scalarDataTypeValue(e.type);
        std::uint64_t value = 0;
        const bool inEntry = e.count < 2 || e.count > kMaxArray;
        if (inEntry) {
            value = e.type == 3 ? u16(at + 8) : e.value;
        } else {
            // The strips follow one another: the last one ends the file.
            const std::uint64_t last = std::uint64_t{e.value} + std::uint64_t{e.count - 1} * size;
            const auto element = windowAt(sectorNumber, last);
            if (!element) return std::nullopt;
            value = sized(*element, size);
        }
        if (e.tag == kStripOffsets) {
            stripOffset = value;
            continue;
        }
        const std::uint64_t end = stripOffset + value;
        if (inEntry) return end > kMaxPart ? 0 : end;
        result = end > kMaxPart ? 0 : end;
    }
    return result;
}
