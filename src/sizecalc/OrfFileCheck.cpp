#include "sizecalc/OrfFileCheck.h"

#include "platform/CheckedMath.h"

#include <algorithm>

namespace {
// An "RS" file carries this much more than its strips.
constexpr std::uint64_t kRsExtra = 5500;
constexpr std::uint16_t kExifIfd = 34665;
constexpr std::uint16_t kMakerNote = 37500;
// The newer maker note: the preview lies at this file offset and is ended
// by the first EOI within this many windows.
constexpr std::uint64_t kNewerPreviewStart = 24576;
constexpr int kNewerPreviewWindows = 32;
constexpr std::uint64_t kNewerPreviewSlack = 50;
// The older maker note: its entries start 8 bytes in; the entry naming the
// preview directory, and that directory's preview offset and length.
constexpr std::uint32_t kOlderNoteCount = 8;
constexpr std::uint16_t kPreviewDirectory = 0x2020;
constexpr std::uint32_t kPreviewDirectoryCount = 12;
constexpr std::uint16_t kPreviewStart = 0x0101;
constexpr std::uint16_t kPreviewLength = 0x0102;
constexpr std::uint64_t kMaxOlderPreview = 2097152;
} // namespace

OrfFileCheck::OrfFileCheck(CarvingContext& context) : RawTiffClassifier("orf", context) {}

bool OrfFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.pef || in.dng || in.cr2 || in.nef || in.tiff;
}

void OrfFileCheck::clearMakerFlags() {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::orfFormatFlag});
}

TiffClassifier::Verdict OrfFileCheck::makerTests(platform::ByteView make, const Entry& entry, Classification& c) {
    if (begins(make, "PENTAX")) {
        // A PENTAX file is never an ORF; its chain only says whether the
        // makers after ORF see a raw file.
        switch (pentaxRawTiffFile(c.leading, c.sector)) {
        case 1:
            c.rawMarker = false;
            return Verdict::Continue;
        case 2:
            c.rawMarker = true;
            return Verdict::Continue;
        default:
            return Verdict::No;
        }
    }
    return makerTestsOf(make, entry, c, {"Canon", "NIKON"}, {"LEICA", "OLYMPUS", "Panason", "Hasselb"});
}

bool OrfFileCheck::dngTag(Classification&) {
    clear(
        {&F::crwFormatFlag, &F::leicaFormatFlag, &F::orfFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag});
    return false;
}

bool OrfFileCheck::endRule(Classification& c) {
    if (!c.rawMarker) clear({&F::leicaFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag});
    return flags().orfFormatFlag;
}

std::uint64_t OrfFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    if (!useFlagsByteOrder()) return 0;
    std::uint64_t total = headerU16(leading, 2) == kOrfRsMagic ? kRsExtra : 0;
    const std::uint64_t ifd0 = headerU32(leading, 4);
    if (ifd0 < 8 || ifd0 > kMaxFile) return 0;
    auto pos = windowAt(sectorNumber, ifd0);
    const std::uint32_t entries = pos ? u16(*pos) : 0;
    if (entries < 2 || entries > kMaxEntries) return 0;
    std::uint64_t stripOffset = 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        pos = windowAt(sectorNumber, ifd0);
        if (!pos) return 0;
        const std::uint64_t at = *pos + 2 + std::uint64_t{kEntryBytes} * i;
        const Entry e = entryAt(at);
        if (e.tag == kStripOffsets || e.tag == kStripByteCounts) {
            const auto value = stripValue(sectorNumber, at, kMaxArray);
            if (!value) return 0;
            if (e.tag == kStripOffsets)
                stripOffset = *value;
            else
                total += stripOffset + *value;
        } else if (e.tag == kExifIfd && !exifPreview(sectorNumber, e.value)) {
            return 0;
        }
    }
    // Strips before the directory leave the directory last.
    if (total < ifd0) total += std::uint64_t{kEntryBytes} * entries + 6;
    return total >= kMinFile && total <= kMaxFile ? total + kMargin : 0;
}

bool OrfFileCheck::exifPreview(std::uint64_t sectorNumber, std::uint64_t exif) {
    auto pos = windowAt(sectorNumber, exif);
    if (!pos) return false;
    // Entries past the window's end are not read.
    const std::uint32_t entries = std::min<std::uint32_t>(u16(*pos), kMaxEntries);
    auto& jpeg = context_.rawJpeg;
    for (std::uint32_t i = 0; i < entries; ++i) {
        pos = windowAt(sectorNumber, exif);
        if (!pos) return false;
        const Entry e = entryAt(*pos + 2 + std::uint64_t{kEntryBytes} * i);
        if (e.tag != kMakerNote) {
            if (jpeg.found) break;
            continue;
        }
        if (e.value > kMaxPart) return false;
        const auto note = windowAt(sectorNumber, e.value);
        if (!note) return false;
        const platform::ByteView signature = view().sub(*note);
        if (begins(signature, "OLYMPUS")) {
            if (!newerPreview(sectorNumber)) return false;
        } else if (begins(signature, std::string_view("OLYMP\0", 6))) {
            if (!olderPreview(sectorNumber, e.value)) return false;
        }
        if (!windowAt(sectorNumber, exif)) return false;
        if (jpeg.found) break;
    }
    return true;
}

bool OrfFileCheck::newerPreview(std::uint64_t sectorNumber) {
    const std::uint32_t bps = context_.bytesPerSector();
    const auto start = windowAt(sectorNumber, kNewerPreviewStart);
    if (!start) return false;
    const std::uint64_t first = platform::saturatingAdd(sectorNumber, kNewerPreviewStart / bps);
    for (int w = 0; w < kNewerPreviewWindows; ++w) {
        if (w > 0 && !windowAt(platform::saturatingAdd(first, std::uint64_t{ReadWindow::kBytes / bps} * w), 0))
            return false;
        // Nothing but zeros from here on.
        if (beyondVolume()) break;
        for (std::uint32_t p = *start; p < ReadWindow::kBytes; ++p) {
            if (view().u8(p) != 0xFF || view().u8(p + 1) != 0xD9) continue;
            auto& jpeg = context_.rawJpeg;
            jpeg.sectorNumber = first;
            jpeg.extraBytes = 0;
            jpeg.fileSize = std::uint64_t{ReadWindow::kBytes} * (w + 1) + (p - *start) + kNewerPreviewSlack;
            jpeg.found = true;
            return true;
        }
    }
    return true;
}

bool OrfFileCheck::olderPreview(std::uint64_t sectorNumber, std::uint64_t note) {
    const std::uint32_t bps = context_.bytesPerSector();
    auto& jpeg = context_.rawJpeg;
    auto pos = windowAt(sectorNumber, note);
    if (!pos) return false;
    // Entries past the window's end are not read.
    const std::uint32_t entries = std::min<std::uint32_t>(u16(*pos + kOlderNoteCount), kMaxEntries);
    for (std::uint32_t i = 0; i < entries && !jpeg.found; ++i) {
        pos = windowAt(sectorNumber, note);
        if (!pos) return false;
        const Entry e = entryAt(*pos + kOlderNoteCount + 2 + std::uint64_t{kEntryBytes} * i);
        if (e.tag != kPreviewDirectory) continue;
        const auto dir = windowAt(sectorNumber, e.value);
        if (!dir) return false;
        const std::uint64_t first = *dir + kPreviewDirectoryCount;
        const std::uint32_t dirEntries = std::min<std::uint32_t>(u16(first), kMaxEntries);
        for (std::uint32_t j = 0; j < dirEntries; ++j) {
            const Entry d = entryAt(first + 2 + std::uint64_t{kEntryBytes} * j);
            if (d.tag == kPreviewStart) {
                jpeg.sectorNumber = platform::saturatingAdd(sectorNumber, d.value / bps);
                jpeg.extraBytes = d.value % bps;
            } else if (d.tag == kPreviewLength) {
                jpeg.fileSize = d.value;
                if (d.value <= kMaxOlderPreview) {
                    jpeg.found = true;
                    break;
                }
            }
        }
    }
    return true;
}
