#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A Fujifilm RAF's fixed header gives where the raw data lies and how long
// it is, and where the JPEG preview is. The file ends with the raw data.
class RafFileCheck final : public SizeCalculator {
public:
    explicit RafFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
