#include "sizecalc/RawPanasonicFileCheck.h"

RawPanasonicFileCheck::RawPanasonicFileCheck(CarvingContext& context) : RawTiffClassifier("raw", context) {}

bool RawPanasonicFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.pef || in.dng || in.cr2 || in.nef || in.tiff || in.orf;
}

void RawPanasonicFileCheck::clearMakerFlags() {
    clear({&F::crwFormatFlag, &F::panasonicFormatFlag});
}

TiffClassifier::Verdict RawPanasonicFileCheck::makerTests(platform::ByteView make, const Entry& entry,
                                                          Classification& c) {
    return makerTestsOf(make, entry, c, {"Canon", "NIKON", "PENTAX", "OLYMPUS"}, {"LEICA", "Panason", "Hasselb"});
}

bool RawPanasonicFileCheck::dngTag(Classification&) {
    clear({&F::crwFormatFlag, &F::leicaFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag});
    return false;
}

bool RawPanasonicFileCheck::endRule(Classification& c) {
    if (!c.rawMarker) clear({&F::leicaFormatFlag, &F::panasonicFormatFlag, &F::hasselbladFormatFlag});
    return flags().panasonicFormatFlag;
}

std::uint64_t RawPanasonicFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    return ifd0StripSize(leading, sectorNumber);
}
