#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// RealAudio (version 3 or 4): the header gives the length of what follows
// it; a tag chunk may trail the audio.
class RaFileCheck final : public SizeCalculator {
public:
    explicit RaFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    ReadWindow window_;
};
