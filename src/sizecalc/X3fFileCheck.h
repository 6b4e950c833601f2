#pragma once

#include "sizecalc/SizeCalculator.h"

class X3fFileCheck final : public SizeCalculator {
public:
    explicit X3fFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
