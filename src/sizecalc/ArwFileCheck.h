#pragma once

// Sony ARW, in two layouts told apart by the Model: the DSLR-A100 keeps the
// raw data's length in its DNGPrivateData block, the later DSLR models keep
// their raw strips in a sub-IFD. Whenever ARW is carved its classification
// is the one the rest of the family answers from, so it also runs the
// Kodak and DSC-R1 Model tests for them.

#include "sizecalc/RawTiffClassifier.h"

class ArwFileCheck final : public RawTiffClassifier {
public:
    explicit ArwFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override { return false; }
    bool ownFlag() const override { return layout_.arw || layout_.a100; }
    void clearMakerFlags() override;
    std::uint32_t minimumEntries() const override { return 4; }
    std::uint64_t makeOffsetLimit() const override { return kSonyLimit; }
    MakerRules makerRules() const override { return {MakerRules::CanonRaw::ClaimAndRefuse, true, true}; }
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification& c) override;
    Verdict otherTag(const Entry& entry, Classification& c) override;
    bool endRule(Classification& c) override { return kodakEndRule(c, ownFlag()); }

    std::uint64_t stripsLength(platform::ByteView leading, std::uint64_t sectorNumber);
    std::uint64_t a100Length(platform::ByteView leading, std::uint64_t sectorNumber);
    // The preview's length, as far as the run carves it.
    void previewLength(std::uint32_t value);
    // The preview does not lie within the raw file.
    void dropPreview();

    static constexpr std::uint64_t kSonyLimit = 104857600;
    // The layout the Model of the sector classified last names.
    ArwLayout layout_;
};
