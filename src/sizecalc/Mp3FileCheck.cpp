#include "sizecalc/Mp3FileCheck.h"

Mp3FileCheck::Mp3FileCheck(CarvingContext& context) : SizeCalculator("mp3", context) {}

bool Mp3FileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t Mp3FileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
