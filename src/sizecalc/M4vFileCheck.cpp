#include "sizecalc/M4vFileCheck.h"

M4vFileCheck::M4vFileCheck(CarvingContext& context) : SizeCalculator("m4v", context) {}

bool M4vFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t M4vFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
