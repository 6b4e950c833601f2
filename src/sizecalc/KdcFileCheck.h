#pragma once

#include "sizecalc/SizeCalculator.h"

class KdcFileCheck final : public SizeCalculator {
public:
    explicit KdcFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
