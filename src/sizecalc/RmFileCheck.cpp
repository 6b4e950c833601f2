#include "sizecalc/RmFileCheck.h"

RmFileCheck::RmFileCheck(CarvingContext& context) : SizeCalculator("rm", context) {}

bool RmFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t RmFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
