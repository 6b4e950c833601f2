#include "sizecalc/Mp4FileCheck.h"

Mp4FileCheck::Mp4FileCheck(CarvingContext& context) : SizeCalculator("mp4", context) {}

bool Mp4FileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t Mp4FileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
