#include "sizecalc/ThreeGpFileCheck.h"

ThreeGpFileCheck::ThreeGpFileCheck(CarvingContext& context) : SizeCalculator("3gp", context) {}

bool ThreeGpFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t ThreeGpFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
