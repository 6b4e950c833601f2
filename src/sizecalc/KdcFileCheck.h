#pragma once

// Kodak KDC: the Model (or Make) names one of the Kodak cameras that write
// it. The file ends with the full-resolution image: IFD0's own strips when
// IFD0 is marked as that image, else those of its sub-IFD.

#include "sizecalc/RawTiffClassifier.h"

class KdcFileCheck final : public RawTiffClassifier {
public:
    explicit KdcFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override;
    void clearMakerFlags() override { flags().crwFormatFlag = false; }
    MakerRules makerRules() const override { return {MakerRules::CanonRaw::ClaimAndRefuse, true, true}; }
    std::uint64_t makeOffsetLimit() const override { return UINT32_MAX; }
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification&) override { return dngOnly(); }
    Verdict otherTag(const Entry& entry, Classification& c) override;
    bool endRule(Classification& c) override { return kodakEndRule(c, ownFlag()); }
};
