#include "sizecalc/GifFileCheck.h"

GifFileCheck::GifFileCheck(CarvingContext& context) : SizeCalculator("gif", context) {}

bool GifFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t GifFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
