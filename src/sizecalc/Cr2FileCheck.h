#pragma once

// Canon CR2: a TIFF whose bytes 8-9 are "CR" and whose Make is Canon's. IFD0
// describes the JPEG preview, which the run carves as a file of its own; the
// last IFD describes the raw image data, stored last in the file, so the file
// ends where that strip ends.

#include "sizecalc/TiffClassifier.h"

class Cr2FileCheck final : public TiffClassifier {
public:
    explicit Cr2FileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.cr2FormatFlag; }
    void clearMakerFlags() override;
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;

    // The strip's end in the last IFD (0: none), or nothing when the walk
    // ends with 0.
    std::optional<std::uint64_t> lastIfdEnd(std::uint64_t sectorNumber, std::uint64_t ifd, std::uint32_t entries);
};
