#include "sizecalc/DngFileCheck.h"

DngFileCheck::DngFileCheck(CarvingContext& context) : SizeCalculator("dng", context) {}

bool DngFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t DngFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
