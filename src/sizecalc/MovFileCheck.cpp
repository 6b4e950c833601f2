#include "sizecalc/MovFileCheck.h"

MovFileCheck::MovFileCheck(CarvingContext& context) : SizeCalculator("mov", context), walk_(context) {}

bool MovFileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    const std::uint32_t type = leading.be32(4);
    // Older movies start with any top-level atom but free; newer ones with
    // an ftyp of the "qt" brand (other brands belong to the MPEG-4 family).
    const bool starts = AtomWalk::hasBrand(leading, "qt") ||
                        (type != AtomWalk::kFtyp && type != AtomWalk::kFree && AtomWalk::isKnownAtomType(type));
    return starts && walk_.secondAtomFollows(leading, sectorNumber);
}

std::uint64_t MovFileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    constexpr AtomWalk::Rules kRules{.zeroSizeEndsWalk = false,
                                     .ftypEndsWalk = false,
                                     .endsPast2GiB = false,
                                     .wholeWindowMoves = false,
                                     .overflow = AtomWalk::Rules::Overflow::DropLastAtom,
                                     .logsWindows = true};
    return walk_.fileSize(sectorNumber, kRules);
}
