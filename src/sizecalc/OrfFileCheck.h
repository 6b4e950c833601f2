#pragma once

// Olympus ORF: a TIFF-style file with "RO" or "RS" in place of the TIFF
// magic and an OLYMPUS Make. IFD0's strips make up the file; the JPEG
// preview is found through the maker note of the EXIF directory, whose kind
// says where to look.

#include "sizecalc/RawTiffClassifier.h"

class OrfFileCheck final : public RawTiffClassifier {
public:
    explicit OrfFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.orfFormatFlag; }
    void clearMakerFlags() override;
    Verdict makerTests(platform::ByteView make, const Entry& entry, Classification& c) override;
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;

    // Records the preview the EXIF directory's maker note leads to; false
    // when the walk ends with 0.
    bool exifPreview(std::uint64_t sectorNumber, std::uint64_t exif);
    // The maker-note kinds: the preview searched for at a fixed offset, or
    // named by a directory the note points at.
    bool newerPreview(std::uint64_t sectorNumber);
    bool olderPreview(std::uint64_t sectorNumber, std::uint64_t note);
};
