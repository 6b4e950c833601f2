#pragma once

// Panasonic RAW: a TIFF-style file with 0x55 0x00 in place of the TIFF
// magic and a Panasonic Make. It ends where IFD0's strip ends; tag 46 of
// IFD0 points at the JPEG preview, carved as a file of its own.

#include "sizecalc/RawTiffClassifier.h"

class RawPanasonicFileCheck final : public RawTiffClassifier {
public:
    explicit RawPanasonicFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.panasonicFormatFlag; }
    void clearMakerFlags() override;
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;
};
