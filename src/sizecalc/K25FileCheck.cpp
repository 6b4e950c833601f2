#include "sizecalc/K25FileCheck.h"

K25FileCheck::K25FileCheck(CarvingContext& context) : SizeCalculator("k25", context) {}

bool K25FileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t K25FileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
