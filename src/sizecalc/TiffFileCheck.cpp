#include "sizecalc/TiffFileCheck.h"

TiffFileCheck::TiffFileCheck(CarvingContext& context) : SizeCalculator("tiff", context) {}

bool TiffFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t TiffFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
