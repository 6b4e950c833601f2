#include "sizecalc/JpgFileCheck.h"

#include "sizecalc/CarvingContext.h"

JpgFileCheck::JpgFileCheck(CarvingContext& context) : SizeCalculator("jpg", context), walk_(context) {}

bool JpgFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    if (leading.u8(0) != 0xFF || leading.u8(1) != 0xD8 || leading.u8(2) != 0xFF) return false;
    const std::uint8_t first = leading.u8(3);
    // Any application segment: JFIF, Exif, an ICC profile, Ducky, Adobe and the others.
    if (first >= 0xE0 && first <= 0xEF) return true;
    switch (first) {
    case 0xDB: // quantisation tables straight after the start
    case 0xC4: // Huffman tables straight after the start
    case 0xFE: // comment
        return true;
    default:
        return false;
    }
}

std::uint64_t JpgFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    const std::uint64_t length = walk_.length(sectorNumber, 0, JpegStreamWalk::Rules{.scanByMarkers = true});
    context_.measuredCut = walk_.cut();
    return length;
}
