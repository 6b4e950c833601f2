#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A PSD is measured by adding up the three length-prefixed sections behind
// its header; its pixel data, when raw, by the picture's dimensions, depth
// and channels; compressed, it is not decoded but estimated from the
// picture's dimensions, colour mode, depth and layer count, and cut short
// where the medium turns to zeros.
class PsdFileCheck final : public SizeCalculator {
public:
    explicit PsdFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
