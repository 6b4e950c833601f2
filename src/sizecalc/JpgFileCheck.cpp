#include "sizecalc/JpgFileCheck.h"

#include "sizecalc/CarvingContext.h"

JpgFileCheck::JpgFileCheck(CarvingContext& context) : SizeCalculator("jpg", context), walk_(context) {}

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
    return walk_.length(sectorNumber, 0);
}
