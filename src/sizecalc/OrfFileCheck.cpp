#include "sizecalc/OrfFileCheck.h"

OrfFileCheck::OrfFileCheck(CarvingContext& context) : SizeCalculator("orf", context) {}

bool OrfFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t OrfFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
