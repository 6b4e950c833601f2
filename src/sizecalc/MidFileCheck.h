#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

// MIDI: a standard MIDI file (an MThd header announcing its tracks, then
// one MTrk chunk per track) measured by walking the announced tracks, or a
// RIFF-wrapped one measured by its RIFF length. The smallest whole file, a
// header and one track, is carved (a ringtone is a few hundred bytes).
class MidFileCheck final : public SizeCalculator {
public:
    explicit MidFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The file's length from its track chunks, of which the header
    // announces `tracks`.
    std::uint64_t standardFileBytes(std::uint32_t tracks);

    // The file by its offsets.
    BoundedCursor cursor_;
    // The sector begins a RIFF-wrapped MIDI file.
    bool bRiffMidiFile = false;
};
