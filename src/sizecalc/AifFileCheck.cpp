#include "sizecalc/AifFileCheck.h"

AifFileCheck::AifFileCheck(CarvingContext& context) : SizeCalculator("aif", context) {}

bool AifFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t AifFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
