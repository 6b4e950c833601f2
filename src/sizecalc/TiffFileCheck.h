#pragma once

// TIFF: every TIFF-style file that no raw format claims, a camera's (one
// with a Make, or a Canon, Phase One or non-raw Pentax file) or anyone
// else's. It ends at the furthest of its directories (the chain, the SubIFDs
// and the EXIF, GPS and interoperability ones) and of what they name, as the
// plain search measures it (TiffDirectoryWalk), and a Canon TIFF at the
// JPEG its maker note points at where that lies further. A walk that breaks
// lists the file as far as it measured, marked cut. The sum-of-parts walk
// (header, directories, out-of-line values and image data counted one after
// another) measures the Sigma TIFFs the X3F calculator claims.

#include "sizecalc/JpegStreamWalk.h"
#include "sizecalc/TiffClassifier.h"
#include "walks/Tiff_IFD.h"

class TiffFileCheck final : public TiffClassifier {
public:
    explicit TiffFileCheck(CarvingContext& context);
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

    // Where the JPEG a Canon TIFF carries ends in the file (0: none), found
    // through its EXIF directory's maker note.
    std::uint64_t canonTiffJpgEnd(platform::ByteView leading, std::uint64_t sectorNumber);
    std::uint64_t canonTiffJpgEnd(std::uint64_t exifOffset, std::uint64_t sectorNumber);
    // The length of the JPEG stream starting at the device byte address (0:
    // none), from its markers, without a margin.
    std::uint64_t jpgFileSizeCalculation(std::uint64_t address);
    void setBothEndianFormatFlagsToNo();

    // The directory of this number in a chain answers 0: a chain that long
    // is damage or a loop. A scanned document or a fax holds a directory a
    // page.
    static constexpr int kMostPages = 65536;

    // The bounds of the sum-of-parts walk. A Sigma TIFF, which X3F claims
    // ahead of the family, is measured by it with sigmaTiffBounds().
    struct PlainWalkBounds {
        // IFD0's offset is refused above this before IFD0 is read.
        std::uint64_t firstIfdLimit = kMaxPart;
        // Byte-count arrays must lie within kMaxPart; the running total
        // must stay within it while out-of-line data is added.
        bool boundArrays = true;
        bool boundTotal = true;
        // The next IFD's offset is checked before its window is read, and a
        // next IFD of too many entries answers 0; otherwise the offset is
        // checked on its turn and such an IFD ends the walk with
        // max(overlongAnswer, total).
        bool checkNextFirst = true;
        std::uint64_t overlongAnswer = 0;
        // The largest finished total.
        std::uint64_t maxTotal = kMaxFile;
        // The directory of this number in the chain answers 0.
        int maxIfds = kMostPages;
        // The EXIF, GPS and interoperability directories and the values
        // they point to are counted.
        bool subDirectories = true;
    };
    static PlainWalkBounds sigmaTiffBounds();
    // The sum-of-parts walk on its own, for a file whose byte order the
    // run's flags hold: 0 unless IFD0 has an image's entries.
    std::uint64_t plainTiffSize(platform::ByteView leading, std::uint64_t sectorNumber, const PlainWalkBounds& bounds);

private:
    bool shortCut() const override;
    bool ownFlag() const override { return context_.tiff.tiffFormatFlag; }
    void clearMakerFlags() override;
    MakerRules makerRules() const override;
    bool dngTag(Classification& c) override;
    bool endRule(Classification& c) override;

    std::uint64_t plainWalk(platform::ByteView leading, std::uint64_t sectorNumber, const PlainWalkBounds& bounds);
    // The bytes of the EXIF, GPS or interoperability directory at the file
    // offset and of the values it points to (an interoperability directory
    // the EXIF one points to included when `nested`); 0 for one whose offset
    // or entry count no directory has, or that could not be read: the walk
    // goes on without it.
    std::uint64_t subDirectoryBytes(std::uint64_t sectorNumber, std::uint64_t offset, bool nested);
    // The sum of a strip or tile byte-count array, or nothing when the walk
    // ends with 0 (with `stopped` set: the run was stopped).
    std::optional<std::uint64_t> byteCountSum(std::uint64_t sectorNumber, const Entry& e, std::uint32_t size,
                                              bool& stopped, bool bounded);

    JpegStreamWalk jpeg_;
};
