#include "sizecalc/MovFileCheck.h"

MovFileCheck::MovFileCheck(CarvingContext& context) : SizeCalculator("mov", context) {}

bool MovFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t MovFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
