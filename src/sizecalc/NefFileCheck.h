#pragma once

// Nikon NEF: a Nikon Make and a SubIFDs tag (a Nikon TIFF without one is a
// camera TIFF). The sub-IFDs hold the raw image, whose strip ends the file,
// and JPEG previews, the longest of which the run carves as well.

#include "sizecalc/RawTiffClassifier.h"

class NefFileCheck final : public RawTiffClassifier {
public:
    explicit NefFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.nefFormatFlag; }
    void clearMakerFlags() override;
    MakerRules makerRules() const override { return {MakerRules::CanonRaw::Refuse, true, false}; }
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;

    // One sub-IFD of several: its strip end (0: none) with the longest
    // preview recorded; nothing for 0.
    std::optional<std::uint64_t> listedSubIfd(std::uint64_t sector, std::uint64_t subIfd);
    // The strip value of an array entry; nothing for 0.
    std::optional<std::uint32_t> arrayValue(std::uint64_t sector, const Entry& entry);
};
