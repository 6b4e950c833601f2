#include "sizecalc/PngFileCheck.h"

PngFileCheck::PngFileCheck(CarvingContext& context) : SizeCalculator("png", context) {}

bool PngFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t PngFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
