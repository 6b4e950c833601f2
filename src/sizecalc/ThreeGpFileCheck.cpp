#include "sizecalc/ThreeGpFileCheck.h"

ThreeGpFileCheck::ThreeGpFileCheck(CarvingContext& context) : SizeCalculator("3gp", context), walk_(context) {}

// The brand alone decides: no other format starts with it.
bool ThreeGpFileCheck::isFile(platform::ByteView leading, std::uint64_t) {
    return AtomWalk::hasBrand(leading, "3gp");
}

std::uint64_t ThreeGpFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    return walk_.fileSize(sectorNumber, AtomWalk::Rules{});
}
