#include "sizecalc/M4aFileCheck.h"

M4aFileCheck::M4aFileCheck(CarvingContext& context) : SizeCalculator("m4a", context) {}

bool M4aFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t M4aFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
