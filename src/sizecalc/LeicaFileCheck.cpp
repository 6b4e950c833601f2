#include "sizecalc/LeicaFileCheck.h"

LeicaFileCheck::LeicaFileCheck(CarvingContext& context) : RawTiffClassifier("lei", context) {}

bool LeicaFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.pef || in.dng || in.cr2 || in.nef || in.tiff || in.orf || in.panasonic;
}

void LeicaFileCheck::clearMakerFlags() {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag});
}

TiffClassifier::Verdict LeicaFileCheck::makerTests(platform::ByteView make, const Entry& entry, Classification& c) {
    return makerTestsOf(make, entry, c, {"Canon", "NIKON"}, {"LEICA", "Hasselb"});
}

bool LeicaFileCheck::dngTag(Classification&) {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::hasselbladFormatFlag});
    return false;
}

bool LeicaFileCheck::endRule(Classification& c) {
    if (!c.rawMarker) clear({&F::leicaFormatFlag, &F::hasselbladFormatFlag});
    return flags().leicaFormatFlag;
}

std::uint64_t LeicaFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    return ifd0StripSize(leading, sectorNumber);
}
