#pragma once

// Sony SR2, the DSC-R1's raw file: a Sony Make with that Model. Its sub-IFD
// holds both the raw strips, which end the file, and the JPEG preview.

#include "sizecalc/RawTiffClassifier.h"

class Sr2FileCheck final : public RawTiffClassifier {
public:
    explicit Sr2FileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override { return context_.tiffInUse.arw; }
    bool ownFlag() const override { return context_.tiff.sr2FormatFlag; }
    void clearMakerFlags() override { flags().crwFormatFlag = false; }
    std::uint64_t makeOffsetLimit() const override { return kSonyLimit; }
    MakerRules makerRules() const override { return {MakerRules::CanonRaw::ClaimAndRefuse, true, true}; }
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification&) override { return dngOnly(); }
    Verdict otherTag(const Entry& entry, Classification& c) override;
    bool endRule(Classification& c) override;

    // A Sony Make: the Model after it tells the DSC-R1.
    Verdict sonyProbe(Classification& c);

    static constexpr std::uint64_t kSonyLimit = 104857600;
};
