#include "sizecalc/MpgFileCheck.h"

MpgFileCheck::MpgFileCheck(CarvingContext& context) : SizeCalculator("mpg", context) {}

bool MpgFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t MpgFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
