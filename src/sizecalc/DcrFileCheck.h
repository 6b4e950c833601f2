#pragma once

#include "sizecalc/SizeCalculator.h"

class DcrFileCheck final : public SizeCalculator {
public:
    explicit DcrFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
