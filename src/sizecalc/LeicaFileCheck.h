#pragma once

// Leica RAW: a TIFF-style file with 0x55 0x00 in place of the TIFF magic
// and a LEICA Make, laid out as a Panasonic RAW is and measured the same
// way.

#include "sizecalc/RawTiffClassifier.h"

class LeicaFileCheck final : public RawTiffClassifier {
public:
    explicit LeicaFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.leicaFormatFlag; }
    void clearMakerFlags() override;
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;
};
