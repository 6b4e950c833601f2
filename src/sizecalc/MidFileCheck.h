#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// MIDI: a standard MIDI file (an MThd header announcing its tracks, then
// one MTrk chunk per track) measured by walking the announced tracks, or a
// RIFF-wrapped one measured by its RIFF length.
class MidFileCheck final : public SizeCalculator {
public:
    explicit MidFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The file's length from its track chunks.
    std::uint64_t standardFileBytes(std::uint64_t sectorNumber);

    ReadWindow window_;
    // The sector begins a RIFF-wrapped MIDI file.
    bool bRiffMidiFile = false;
};
