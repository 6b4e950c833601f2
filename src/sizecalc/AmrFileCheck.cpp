#include "sizecalc/AmrFileCheck.h"

AmrFileCheck::AmrFileCheck(CarvingContext& context) : SizeCalculator("amr", context) {}

bool AmrFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t AmrFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
