#include "sizecalc/M4aFileCheck.h"

M4aFileCheck::M4aFileCheck(CarvingContext& context) : SizeCalculator("m4a", context), walk_(context) {}

bool M4aFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    return AtomWalk::hasBrand(leading, "M4A") && walk_.secondAtomFollows(leading, sectorNumber);
}

std::uint64_t M4aFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    constexpr AtomWalk::Rules kRules{.endsPast2GiB = false,
                                     .overflow = AtomWalk::Rules::Overflow::DropLastAtomWithMargin};
    return walk_.fileSize(sectorNumber, kRules);
}
