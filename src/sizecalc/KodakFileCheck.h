#pragma once

// The three Kodak raw formats, declared once: they share the Kodak maker
// tests, the end rule and the Model column of their kind, and differ in the
// flags they answer to, the Model's bounds and how the file ends.
//   KDC: the Model (or Make) names one of the Kodak cameras that write it.
//     The file ends with the full-resolution image: IFD0's own strips when
//     IFD0 is marked as that image, else those of its sub-IFD.
//   K25, the DC25's raw file: measured as a KDC, without its margin.
//   DCR, the DCS cameras' raw file: its raw strips lie in one or more
//     sub-IFDs, the last strip of the largest one ends the image, and a
//     Kodak tag counts the bytes stored after it.

#include "sizecalc/RawTiffClassifier.h"

enum class KodakRaw { Kdc, K25, Dcr };

template <KodakRaw Kind> class KodakFileCheck final : public RawTiffClassifier {
public:
    explicit KodakFileCheck(CarvingContext& context);
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
    std::uint64_t makeOffsetLimit() const override;

    // DCR: raises the length to the sub-IFD's strip end and adds its Kodak
    // extra bytes; false when the walk ends with 0.
    bool subIfdEnd(std::uint64_t sectorNumber, std::uint64_t subIfd, std::uint64_t& stripOffset, std::uint64_t& length,
                   std::uint64_t& extra);
};

extern template class KodakFileCheck<KodakRaw::Kdc>;
extern template class KodakFileCheck<KodakRaw::K25>;
extern template class KodakFileCheck<KodakRaw::Dcr>;

using KdcFileCheck = KodakFileCheck<KodakRaw::Kdc>;
using K25FileCheck = KodakFileCheck<KodakRaw::K25>;
using DcrFileCheck = KodakFileCheck<KodakRaw::Dcr>;
