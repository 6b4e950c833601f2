#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

#include <optional>

// MPEG audio (Layers II and III), bare or behind an ID3v2 tag. A stream has
// no length field: the walk goes from frame header to frame header, and over
// the APEv2 and ID3v1 tags after the last frame, which are the file's own and
// its last bytes. An encoder's header frame begins a file: a walk ends
// before one, and a file that begins with one ends where its byte count puts
// the end of its frames, when a frame ends there (MpegAudioFileBounds); each
// where a sector begins, as another file can only there.
class Mp3FileCheck final : public SizeCalculator {
public:
    explicit Mp3FileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

    // The numberOfBits bits of value from bit startBit (31 is the highest)
    // downwards.
    static std::uint32_t bitCheck(std::uint32_t value, unsigned startBit, unsigned numberOfBits);

private:
    std::uint64_t frameWalk();
    std::uint64_t id3Walk();
    // The walk ends at `length`: at a header field that is reserved or
    // invalid, or where another file begins.
    std::uint64_t endAt(std::uint64_t length);
    // Whether a sector begins at the stream's offset n, where another file
    // may.
    bool beginsASector(std::uint64_t n) const;
    // The header at n lies in a sector the medium could not give: where the
    // stream goes on after it, at a frame that a frame of the stream
    // follows (whose second byte is `reference` when it is not 0).
    std::optional<std::uint64_t> frameAfterLoss(std::uint64_t n, std::uint8_t reference);

    // The stream by its offsets.
    BoundedCursor window_;
    // The file begins with an ID3v2 tag.
    bool bId3File_ = false;
    // Where the byte count of the header frame the file begins with puts
    // the end of its frames, and where the last frame the walk took ends.
    std::optional<std::uint64_t> countedFramesEnd_;
    std::uint64_t lastFrameEnd_ = 0;
    // A frame of the tagged walk began where the one before it ended.
    bool framesChained_ = false;
};
