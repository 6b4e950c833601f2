#include "sizecalc/PsdFileCheck.h"

PsdFileCheck::PsdFileCheck(CarvingContext& context) : SizeCalculator("psd", context) {}

bool PsdFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t PsdFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
