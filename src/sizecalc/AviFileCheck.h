#pragma once

#include "sizecalc/SizeCalculator.h"

// AVI: the RIFF header's length is the file's; nothing else is read.
class AviFileCheck final : public SizeCalculator {
public:
    explicit AviFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
