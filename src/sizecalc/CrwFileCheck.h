#pragma once

#include "sizecalc/SizeCalculator.h"

class CrwFileCheck final : public SizeCalculator {
public:
    explicit CrwFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
