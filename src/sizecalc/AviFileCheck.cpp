#include "sizecalc/AviFileCheck.h"

AviFileCheck::AviFileCheck(CarvingContext& context) : SizeCalculator("avi", context) {}

bool AviFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t AviFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
