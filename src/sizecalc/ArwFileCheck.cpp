#include "sizecalc/ArwFileCheck.h"

ArwFileCheck::ArwFileCheck(CarvingContext& context) : SizeCalculator("arw", context) {}

bool ArwFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t ArwFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
