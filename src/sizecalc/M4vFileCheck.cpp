#include "sizecalc/M4vFileCheck.h"

M4vFileCheck::M4vFileCheck(CarvingContext& context) : SizeCalculator("m4v", context), walk_(context) {}

bool M4vFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    return AtomWalk::hasBrand(leading, "M4V") && walk_.secondAtomFollows(leading, sectorNumber);
}

std::uint64_t M4vFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    return walk_.fileSize(sectorNumber, AtomWalk::Rules{});
}
