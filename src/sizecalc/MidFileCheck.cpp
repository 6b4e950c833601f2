#include "sizecalc/MidFileCheck.h"

MidFileCheck::MidFileCheck(CarvingContext& context) : SizeCalculator("mid", context) {}

bool MidFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t MidFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
