#pragma once

// Hasselblad 3FR: a TIFF with a Hasselblad Make whose raw strip is
// described by the directory IFD0's SubIFDs tag points at. Classifying on
// its own it claims only files without that tag; after an earlier
// classifier of the family it answers from the flag that one left, which
// keeps a Hasselblad file only with the tag.

#include "sizecalc/RawTiffClassifier.h"

class ThreefrFileCheck final : public RawTiffClassifier {
public:
    explicit ThreefrFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.hasselbladFormatFlag; }
    void clearMakerFlags() override;
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;

    // Sets `end` to where the SubIFD's strip ends, and `ended`, when the
    // SubIFD has a byte count; false when the walk ends with 0.
    bool subIfdStripEnd(std::uint64_t sectorNumber, std::uint64_t subIfd, std::uint64_t& end, bool& ended);
};
