#include "sizecalc/DcrFileCheck.h"

DcrFileCheck::DcrFileCheck(CarvingContext& context) : SizeCalculator("dcr", context) {}

bool DcrFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t DcrFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
