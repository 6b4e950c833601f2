#include "sizecalc/ThreefrFileCheck.h"

ThreefrFileCheck::ThreefrFileCheck(CarvingContext& context) : SizeCalculator("3fr", context) {}

bool ThreefrFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t ThreefrFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
