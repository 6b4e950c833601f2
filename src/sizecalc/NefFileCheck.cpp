#include "sizecalc/NefFileCheck.h"

NefFileCheck::NefFileCheck(CarvingContext& context) : SizeCalculator("nef", context) {}

bool NefFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t NefFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
