#include "sizecalc/JpgFileCheck.h"

#include "sizecalc/CarvingContext.h"

namespace {
// Covers the bytes a complete file may still have behind its end marker.
constexpr std::uint64_t kMargin = 512;
// A walk that gets this far has lost the file; it is carved at a fixed size.
constexpr std::uint64_t kWalkLimit = 26214400;
constexpr std::uint64_t kCappedSize = 5242880;
} // namespace

JpgFileCheck::JpgFileCheck(CarvingContext& context) : SizeCalculator("jpg", context), window_(context) {}

bool JpgFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    if (leading.u8(0) != 0xFF || leading.u8(1) != 0xD8 || leading.u8(2) != 0xFF) return false;
    switch (leading.u8(3)) {
    case 0xE0: // JFIF
    case 0xE1: // Exif
    case 0xDB: // quantisation tables straight after the start
    case 0xEE: // Adobe
    case 0xC4: // Huffman tables straight after the start
    case 0xFE: // comment
        return true;
    default:
        return false;
    }
}

std::uint64_t JpgFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    if (!window_.readAt(sectorNumber)) return 0;
    const std::uint32_t bytesPerSector = context_.bytesPerSector();
    std::uint64_t sector = sectorNumber;
    // p: offset in the window; n: bytes of the file measured so far.
    std::uint64_t p = 4;
    std::uint64_t n = 4;
    bool inScan = false;
    bool broken = false;
    for (;;) {
        if (context_.stopped() || broken) return n;
        if (!inScan) {
            std::uint64_t length = window_.view().be16(p);
            // A zero length would keep the walk on the same marker forever.
            if (length == 0) length = 2;
            n += length + 2;
            p += length;
            // The marker and the next segment's length must both lie in the
            // window, or the zeros behind it would end the walk early.
            if (p + 4 > ReadWindow::kBytes) {
                sector += p / bytesPerSector;
                p %= bytesPerSector;
                if (!window_.readAt(sector)) return 0;
            }
            const platform::ByteView w = window_.view();
            if (w.u8(p) == 0xFF && w.u8(p + 1) == 0xDA) inScan = true;
            if (w.u8(p) != 0xFF) broken = true;
            p += 2;
        } else {
            // An end marker split between two windows is still seen.
            if (p + 2 > ReadWindow::kBytes) {
                sector += p / bytesPerSector;
                p %= bytesPerSector;
                if (!window_.readAt(sector)) return 0;
                // Nothing but zeros from here: the walk would run to its
                // limit without an end marker.
                if (window_.beyondVolume()) return kCappedSize;
            }
            const platform::ByteView w = window_.view();
            if (w.u8(p) == 0xFF && w.u8(p + 1) == 0xD9) return n + 2 + kMargin;
            ++n;
            ++p;
        }
        if (n > kWalkLimit) return kCappedSize;
    }
}
