#include "sizecalc/ThreeGTwoFileCheck.h"

ThreeGTwoFileCheck::ThreeGTwoFileCheck(CarvingContext& context) : SizeCalculator("3g2", context) {}

bool ThreeGTwoFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t ThreeGTwoFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
