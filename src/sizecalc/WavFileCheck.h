#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

// WAV: the RIFF header's length is the file's. A writer that could not go
// back to the header (one writing to a pipe, a recording cut off) leaves it
// at 0xFFFFFFFF: the file is then measured to the end of its data chunk where
// that chunk's length was written, else to the next file the carving finds,
// within the longest a RIFF header can give.
class WavFileCheck final : public SizeCalculator {
public:
    explicit WavFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The length of a file whose RIFF length was never written.
    std::uint64_t unfinishedFileBytes(std::uint64_t sectorNumber);

    // The header's chunks by their offsets.
    BoundedCursor cursor_;
};
