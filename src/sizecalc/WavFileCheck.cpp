#include "sizecalc/WavFileCheck.h"

WavFileCheck::WavFileCheck(CarvingContext& context) : SizeCalculator("wav", context) {}

bool WavFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t WavFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
