#include "sizecalc/PefFileCheck.h"

PefFileCheck::PefFileCheck(CarvingContext& context) : SizeCalculator("pef", context) {}

bool PefFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t PefFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
