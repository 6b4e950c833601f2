#pragma once

#include "sizecalc/SizeCalculator.h"

class ThreefrFileCheck final : public SizeCalculator {
public:
    explicit ThreefrFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
