#include "sizecalc/ThreeGTwoFileCheck.h"

ThreeGTwoFileCheck::ThreeGTwoFileCheck(CarvingContext& context) : SizeCalculator("3g2", context), walk_(context) {}

// The brand alone decides: no other format starts with it.
bool ThreeGTwoFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return AtomWalk::hasBrand(leading, "3g2");
}

std::uint64_t ThreeGTwoFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    return walk_.fileSize(sectorNumber, AtomWalk::Rules{});
}
