#pragma once

#include "sizecalc/SizeCalculator.h"

// A BMP states its own length in its header; nothing further is read.
class BmpFileCheck final : public SizeCalculator {
public:
    explicit BmpFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
