#include "sizecalc/LeicaFileCheck.h"

LeicaFileCheck::LeicaFileCheck(CarvingContext& context) : SizeCalculator("lei", context) {}

bool LeicaFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t LeicaFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
