#pragma once

#include "sizecalc/SizeCalculator.h"

// WAV: the RIFF header's length is the file's; nothing else is read.
class WavFileCheck final : public SizeCalculator {
public:
    explicit WavFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;
};
