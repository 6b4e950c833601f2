#include "sizecalc/HeifFileCheck.h"

#include <string_view>

namespace {

// The carving-table key and the ftyp brand of each.
constexpr std::string_view keyOf(HeifBrand brand) {
    return brand == HeifBrand::Heic ? "heic" : brand == HeifBrand::Mif1 ? "heif" : "avif";
}
constexpr std::string_view brandOf(HeifBrand brand) {
    return brand == HeifBrand::Heic ? "heic" : brand == HeifBrand::Mif1 ? "mif1" : "avif";
}

} // namespace

template <HeifBrand Brand>
HeifFileCheck<Brand>::HeifFileCheck(CarvingContext& context) : SizeCalculator(keyOf(Brand), context), walk_(context) {}

template <HeifBrand Brand> bool HeifFileCheck<Brand>::isFile(platform::ByteView leading, std::uint64_t sectorNumber) {
    // A picture's ftyp is followed by its meta box, which no movie of the
    // family starts with.
    return AtomWalk::hasBrand(leading, brandOf(Brand)) &&
           walk_.secondAtomFollows(leading, sectorNumber, &AtomWalk::isWalkedAtomType);
}

template <HeifBrand Brand>
std::uint64_t HeifFileCheck<Brand>::fileSizeCalculation(platform::ByteView, std::uint64_t sectorNumber) {
    // A second ftyp is the next file; a small picture (an icon, a
    // thumbnail) takes a few hundred bytes.
    constexpr AtomWalk::Rules kRules{.ftypEndsWalk = true, .shortest = 0};
    return walk_.fileSize(sectorNumber, kRules);
}

template class HeifFileCheck<HeifBrand::Heic>;
template class HeifFileCheck<HeifBrand::Mif1>;
template class HeifFileCheck<HeifBrand::Avif>;
