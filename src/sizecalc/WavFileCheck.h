#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

#include <optional>

// WAV: the RIFF header's length is the file's. A writer that could not go
// back to the header (one writing to a pipe, a recording cut off) leaves it
// at 0xFFFFFFFF, or at a length that does not reach the sound (0, as a
// recorder that writes its header first leaves it): the file is then measured
// to the end of its data chunk where that chunk's length was written, else to
// the next file the carving finds, within the longest a RIFF header can give.
class WavFileCheck final : public SizeCalculator {
public:
    explicit WavFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // Where the data chunk's header lies in the file at the sector; nothing
    // when the chunks before it are not a header's.
    std::optional<std::uint64_t> dataChunkAt(std::uint64_t sectorNumber);
    // The length of a file whose RIFF length was never written, its data
    // chunk's header at `at`.
    std::uint64_t unfinishedFileBytes(std::uint64_t sectorNumber, std::uint64_t at);

    // The header's chunks by their offsets.
    BoundedCursor cursor_;
};
