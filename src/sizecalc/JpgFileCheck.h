#pragma once

#include "sizecalc/JpegStreamWalk.h"
#include "sizecalc/SizeCalculator.h"

// A JPEG: told by its start-of-image marker and the segment after it,
// measured by the JPEG stream walk, its scan data by markers; one that
// another file's bytes cut is measured to them and left marked so.
class JpgFileCheck final : public SizeCalculator {
public:
    explicit JpgFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    JpegStreamWalk walk_;
};
