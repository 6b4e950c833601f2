#pragma once

#include "sizecalc/SizeCalculator.h"

class DngFileCheck final : public SizeCalculator {
public:
    explicit DngFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
