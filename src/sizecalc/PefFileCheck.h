#pragma once

// Pentax PEF: a TIFF whose Make is PENTAX and whose IFD chain has exactly
// three directories (one or two make a plain camera TIFF). The raw strip is
// the furthest the chain describes; the largest JPEG preview of the chain
// is carved as a file of its own, and its length is added to the file's.
// PEF classifies early in the family, so it also records the verdicts of
// the makers after it.

#include "sizecalc/RawTiffClassifier.h"

class PefFileCheck final : public RawTiffClassifier {
public:
    explicit PefFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.pefFormatFlag; }
    void clearMakerFlags() override;
    MakerRules makerRules() const override;
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;
};
