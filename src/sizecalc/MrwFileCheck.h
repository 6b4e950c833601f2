#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A Minolta MRW: an MRM block of tagged blocks, then the raw image data.
// The picture description block gives the sensor's size and how its samples
// are stored, from which the data's length follows.
class MrwFileCheck final : public SizeCalculator {
public:
    explicit MrwFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
