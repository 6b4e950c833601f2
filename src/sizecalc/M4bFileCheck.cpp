#include "sizecalc/M4bFileCheck.h"

M4bFileCheck::M4bFileCheck(CarvingContext& context) : SizeCalculator("m4b", context) {}

bool M4bFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t M4bFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
