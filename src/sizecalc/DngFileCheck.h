#pragma once

// DNG: any TIFF whose IFD0 carries a DNG version tag, whatever its maker.
// The raw image lies in IFD0 or in a SubIFD, often with a preview in a
// second SubIFD: the file is measured as the TIFF walk measures a TIFF, to
// the furthest of its directories and of the strips and tiles they name, and
// a JPEG preview in the second SubIFD is recorded.

#include "sizecalc/RawTiffClassifier.h"

class DngFileCheck final : public RawTiffClassifier {
public:
    explicit DngFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.dngFormatFlag; }
    void clearMakerFlags() override;
    MakerRules makerRules() const override { return {MakerRules::CanonRaw::ClaimAndRefuse, true, true}; }
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;

    // Records the JPEG preview the second of two SubIFDs names, whose
    // offsets are at `array`; false when a read failed or the directory is
    // no directory.
    bool previewInSecondSubIfd(std::uint64_t sector, std::uint64_t array);
};
