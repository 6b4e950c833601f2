#pragma once

#include "sizecalc/SizeCalculator.h"

class Cr2FileCheck final : public SizeCalculator {
public:
    explicit Cr2FileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
