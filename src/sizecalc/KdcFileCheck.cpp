#include "sizecalc/KdcFileCheck.h"

KdcFileCheck::KdcFileCheck(CarvingContext& context) : RawTiffClassifier("kdc", context) {}

bool KdcFileCheck::shortCut() const {
    const auto& in = context_.tiffInUse;
    return in.arw || in.sr2;
}

bool KdcFileCheck::ownFlag() const {
    return context_.tiff.kdcFormatFlag;
}

TiffClassifier::Verdict KdcFileCheck::makerTests(platform::ByteView make, const Entry&, Classification& c) {
    return kodakMakerTests(make, c, true);
}

TiffClassifier::Verdict KdcFileCheck::otherTag(const Entry& entry, Classification& c) {
    if (entry.tag != kModel) return Verdict::Continue;
    return readModel(entry, c, UINT32_MAX, ModelColumn::Kdc) ? Verdict::Continue : Verdict::No;
}

std::uint64_t KdcFileCheck::fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) {
    return fullResolutionLength(leading, sectorNumber, true);
}
