#include "sizecalc/JpgFileCheck.h"

JpgFileCheck::JpgFileCheck(CarvingContext& context) : SizeCalculator("jpg", context) {}

bool JpgFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t JpgFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
