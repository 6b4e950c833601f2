#include "sizecalc/MrwFileCheck.h"

MrwFileCheck::MrwFileCheck(CarvingContext& context) : SizeCalculator("mrw", context) {}

bool MrwFileCheck::isFile(platform::ByteView, std::uint64_t) {
    return false;
}

std::uint64_t MrwFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t) {
    return 0;
}
