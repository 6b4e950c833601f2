#include "sizecalc/X3fFileCheck.h"

X3fFileCheck::X3fFileCheck(CarvingContext& context) : SizeCalculator("x3f", context) {}

bool X3fFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t X3fFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
