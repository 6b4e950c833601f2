#include "sizecalc/M4bFileCheck.h"

M4bFileCheck::M4bFileCheck(CarvingContext& context) : SizeCalculator("m4b", context), walk_(context) {}

bool M4bFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    return AtomWalk::hasBrand(leading, "M4B") && walk_.secondAtomFollows(leading, sectorNumber);
}

std::uint64_t M4bFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    return walk_.fileSize(sectorNumber, AtomWalk::Rules{});
}
