#include "sizecalc/K25FileCheck.h"

K25FileCheck::K25FileCheck(CarvingContext& context) : RawTiffClassifier("k25", context) {}

bool K25FileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2 || in.kdc;
}

bool K25FileCheck::ownFlag() const {
    return context_.tiff.k25FormatFlag;
}

TiffClassifier::Verdict K25FileCheck::makerTests(platform::ByteView make, const Entry&, Classification& c) {
    return kodakMakerTests(make, c, false);
}

TiffClassifier::Verdict K25FileCheck::otherTag(const Entry& entry, Classification& c) {
    if (entry.tag != kModel) return Verdict::Continue;
    return readModel(entry, c, kMaxPart, ModelColumn::K25) ? Verdict::Continue : Verdict::No;
}

std::uint64_t K25FileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    return fullResolutionLength(leading, sectorNumber, false);
}
