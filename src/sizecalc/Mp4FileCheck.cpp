#include "sizecalc/Mp4FileCheck.h"

#include <array>
#include <string_view>

Mp4FileCheck::Mp4FileCheck(CarvingContext& context) : SizeCalculator("mp4", context), walk_(context) {}

bool Mp4FileCheck::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    // Every ftyp brand that no other calculator of the family claims: a
    // HEIF or AVIF picture is its own type's, whether or not it is marked.
    static constexpr std::array<std::string_view, 9> kOthers = {"M4A", "M4B",  "M4V",  "3gp", "3g2",
                                                                "qt",  "heic", "mif1", "avif"};
    if (leading.be32(4) != AtomWalk::kFtyp) return false;
    for (std::string_view brand : kOthers)
        if (AtomWalk::hasBrand(leading, brand)) return false;
    return walk_.secondAtomFollows(leading, sectorNumber);
}

std::uint64_t Mp4FileCheck::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    // A second ftyp is the next file, written right behind this one.
    constexpr AtomWalk::Rules kRules{.ftypEndsWalk = true};
    return walk_.fileSize(sectorNumber, kRules);
}
