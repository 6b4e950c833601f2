#pragma once

#include "sizecalc/SizeCalculator.h"

class MrwFileCheck final : public SizeCalculator {
public:
    explicit MrwFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
