#include "sizecalc/RafFileCheck.h"

RafFileCheck::RafFileCheck(CarvingContext& context) : SizeCalculator("raf", context) {}

bool RafFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t RafFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
