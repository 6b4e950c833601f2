#include "sizecalc/Cr2FileCheck.h"

Cr2FileCheck::Cr2FileCheck(CarvingContext& context) : SizeCalculator("cr2", context) {}

bool Cr2FileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t Cr2FileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
