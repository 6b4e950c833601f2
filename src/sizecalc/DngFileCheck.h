#pragma once

// DNG: any TIFF whose IFD0 carries a DNG version tag, whatever its maker.
// The raw image lies in a sub-IFD and often a preview in a second one: the
// file ends where the raw strip ends, holds IFD0 at least, and the preview's
// length is added.

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

    // What the walk knows of IFD0.
    struct Ifd0 {
        std::uint64_t sector;
        std::uint64_t offset;
        std::uint32_t entries;
        // The smallest file holding IFD0.
        std::uint64_t end() const { return offset + kEntryBytes * entries + 6; }
    };
    // The raw strip's end through a single sub-IFD; nothing for 0.
    std::optional<std::uint64_t> oneSubIfd(const Ifd0& ifd0, std::uint64_t subIfd);
    // The raw strip's end through the first of two sub-IFDs, the second
    // one's preview recorded; nothing for 0.
    std::optional<std::uint64_t> twoSubIfds(const Ifd0& ifd0, std::uint64_t array);
    // IFD0 and its out-of-line values; nothing for 0.
    std::optional<std::uint64_t> ifd0Alone(const Ifd0& ifd0);
};
