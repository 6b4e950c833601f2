#pragma once

#include "sizecalc/SizeCalculator.h"

class OrfFileCheck final : public SizeCalculator {
public:
    explicit OrfFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
