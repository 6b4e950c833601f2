#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

// WAV: the length its header gives (WaveFileBounds), else, where neither its
// RIFF length nor its data chunk's was written, to the next file the
// carving finds, within the longest a RIFF header can give.
class WavFileCheck final : public SizeCalculator {
public:
    explicit WavFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The header's chunks by their offsets.
    BoundedCursor cursor_;
};
