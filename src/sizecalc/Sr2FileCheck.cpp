#include "sizecalc/Sr2FileCheck.h"

Sr2FileCheck::Sr2FileCheck(CarvingContext& context) : SizeCalculator("sr2", context) {}

bool Sr2FileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t Sr2FileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
