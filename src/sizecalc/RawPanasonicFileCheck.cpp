#include "sizecalc/RawPanasonicFileCheck.h"

RawPanasonicFileCheck::RawPanasonicFileCheck(CarvingContext& context) : SizeCalculator("raw", context) {}

bool RawPanasonicFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t RawPanasonicFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
