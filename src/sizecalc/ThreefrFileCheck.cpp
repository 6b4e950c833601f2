#include "sizecalc/ThreefrFileCheck.h"

#include <algorithm>

namespace {
// Large files are cut by this much: their measured strip end runs past the
// data the camera writes.
constexpr std::uint64_t kLargeFile = 31457280;
constexpr std::uint64_t kLargeFileCut = 10485760;
} // namespace

ThreefrFileCheck::ThreefrFileCheck(CarvingContext& context) : RawTiffClassifier("3fr", context) {}

bool ThreefrFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.pef || in.dng || in.cr2 || in.nef || in.tiff || in.orf || in.panasonic || in.leica;
}

void ThreefrFileCheck::clearMakerFlags() {
    clear({&F::crwFormatFlag});
}

TiffClassifier::Verdict ThreefrFileCheck::makerTests(platform::ByteView make, const Entry& entry, Classification& c) {
    return makerTestsOf(make, entry, c, {"Canon", "NIKON", "LEICA"}, {"Hasselb"});
}

bool ThreefrFileCheck::dngTag(Classification&) {
    clear({&F::crwFormatFlag, &F::hasselbladFormatFlag});
    return false;
}

bool ThreefrFileCheck::endRule(Classification& c) {
    if (c.rawMarker) flags().hasselbladFormatFlag = false;
    return flags().hasselbladFormatFlag;
}

std::uint64_t ThreefrFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile) return 0;
    auto pos = windowAt(sectorNumber, ifd0);
    const std::uint32_t entries = pos ? u16(*pos) : 0;
    if (entries < 2 || entries > kMaxEntries) return 0;
    std::uint64_t end = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        pos = windowAt(sectorNumber, ifd0);
        if (!pos) return 0;
        const Entry e = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * i);
        if (e.tag != kSubIfds) continue;
        if (e.value > kMaxPart) return 0;
        bool ended = false;
        if (!subIfdStripEnd(sectorNumber, e.value, end, ended)) return 0;
        // A strip before the directory leaves the directory last.
        if (ended && end <= ifd0) end = ifd0 + std::uint64_t{kEntryBytes} * entries + 8;
    }
    if (end < kMinFile || end > kMaxFile) return 0;
    return end >= kLargeFile ? end - kLargeFileCut : end;
}

bool ThreefrFileCheck::subIfdStripEnd(std::uint64_t sectorNumber, std::uint64_t subIfd, std::uint64_t& end,
                                      bool& ended) {
    auto pos = windowAt(sectorNumber, subIfd);
    if (!pos) return false;
    // Entries past the window's end are not read.
    const std::uint32_t entries = std::min<std::uint32_t>(u16(*pos), kMaxEntries);
    std::uint64_t stripOffset = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        pos = windowAt(sectorNumber, subIfd);
        if (!pos) return false;
        const std::uint64_t at = *pos + 2 + std::uint64_t{kEntryBytes} * i;
        const std::uint16_t tag = u16(at);
        if (tag != kStripOffsets && tag != kStripByteCounts) continue;
        const auto value = stripValue(sectorNumber, at, kMaxArray);
        if (!value) return false;
        if (tag == kStripByteCounts) {
            end = stripOffset + *value;
            ended = true;
            return true;
        }
        stripOffset = *value;
    }
    return true;
}
