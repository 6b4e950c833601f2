#include "sizecalc/KdcFileCheck.h"

KdcFileCheck::KdcFileCheck(CarvingContext& context) : SizeCalculator("kdc", context) {}

bool KdcFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t KdcFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
