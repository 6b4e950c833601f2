#include "sizecalc/BmpFileCheck.h"

BmpFileCheck::BmpFileCheck(CarvingContext& context) : SizeCalculator("bmp", context) {}

bool BmpFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t BmpFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
