#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"
#include "sizecalc/TiffFileCheck.h"

#include <string>

// A Sigma X3F: a "FOVb" header, sections, and a closing directory whose
// offset is the file's last four bytes. Sigma cameras also write TIFFs,
// which are claimed here before the TIFF family sees them; the run then
// names the carved file by extensionOfFile.
class X3fFileCheck final : public SizeCalculator {
public:
    explicit X3fFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

    // ".x3f" or ".tif" for the file measured last; empty before any.
    const std::string& extensionOfFile() const { return extensionOfFile_; }

private:
    bool isSigmaTiff(platform::ByteView leading, std::uint64_t sectorNumber);
    std::uint64_t sectionedFileSize(std::uint64_t sectorNumber);
    std::uint64_t sigmaTiffSize(platform::ByteView leading, std::uint64_t sectorNumber);

    std::string extensionOfFile_;
    ReadWindow window_;
    // The file, searched for the four bytes that end it.
    BoundedCursor scan_;
    // Measures a Sigma TIFF with the plain TIFF walk.
    TiffFileCheck tiff_;
};
