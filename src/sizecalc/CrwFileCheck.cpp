#include "sizecalc/CrwFileCheck.h"

CrwFileCheck::CrwFileCheck(CarvingContext& context) : SizeCalculator("crw", context) {}

bool CrwFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t CrwFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
