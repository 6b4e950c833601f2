#pragma once

// Kodak DCR, the DCS cameras' raw file: its raw strips lie in one or more
// sub-IFDs, the last strip of the largest one ends the image, and a Kodak
// tag counts the bytes stored after it.

#include "sizecalc/RawTiffClassifier.h"

class DcrFileCheck final : public RawTiffClassifier {
public:
    explicit DcrFileCheck(CarvingContext& context);
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

    // Raises the length to the sub-IFD's strip end and adds its Kodak extra
    // bytes; false when the walk ends with 0.
    bool subIfdEnd(std::uint64_t sectorNumber, std::uint64_t subIfd, std::uint64_t& stripOffset, std::uint64_t& length,
                   std::uint64_t& extra);
};
