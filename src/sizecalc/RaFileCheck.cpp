#include "sizecalc/RaFileCheck.h"

RaFileCheck::RaFileCheck(CarvingContext& context) : SizeCalculator("ra", context) {}

bool RaFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t RaFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
