#pragma once

// Kodak K25, the DC25's raw file: measured as a KDC, without its margin.

#include "sizecalc/RawTiffClassifier.h"

class K25FileCheck final : public RawTiffClassifier {
public:
    explicit K25FileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override;
    void clearMakerFlags() override { flags().crwFormatFlag = false; }
    MakerRules makerRules() const override { return {MakerRules::CanonRaw::ClaimAndRefuse, true, true}; }
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification&) override { return dngOnly(); }
    Verdict otherTag(const Entry& entry, Classification& c) override;
    bool endRule(Classification& c) override { return kodakEndRule(c, ownFlag()); }
};
