#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

#include <array>
#include <optional>

// A GIF is measured by following its blocks (extensions, images with their
// data sub-blocks, and the zero bytes that end them) from the end of the
// global colour table to the trailer. An image's data the walk steps over
// by its sub-blocks' sizes (SteppedBodies): another file written over it
// reads on as sub-blocks, and, found there, cuts the GIF.
class GifFileCheck final : public SizeCalculator {
public:
    explicit GifFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The byte at a file offset, the window moved to the offset's sector
    // first when it does not hold it; nothing when that read failed.
    std::optional<std::uint8_t> byteAt(std::uint64_t offset);
    // Whether the byte at a file offset lies in a sector the medium could
    // not give.
    bool lost(std::uint64_t offset) const;
    // The data sub-blocks from the one whose size byte follows p (the code
    // size, or the last byte of the sub-block before), up to and on their
    // terminator; false when a read failed. `evenLengths`: an image's, which
    // writers cut into sub-blocks of one length but the last.
    enum class Walk { On, Ended, Limit, ReadFailed };
    Walk subBlocks(std::uint64_t& p, bool evenLengths);
    // Nothing but the trailer, or the zeros after a file without one, ends a
    // GIF; an image's data comes in sub-blocks of one length but the last,
    // from a code size of 2 to 8 bits. A walk that breaks off another way,
    // or meets anything else, has read another file's bytes as sizes, whose
    // first byte lies after the start of the last few blocks it walked (a
    // chance block byte is rare in them): the blocks from there are not
    // vouched for. walkedBlock: the walk begins a block at `at`; broken:
    // the sign of another file's bytes at `at`, which counts before the
    // first sector the medium could not give only.
    void walkedBlock(std::uint64_t at);
    void broken(std::uint64_t at);
    // The block byte at `at` lies in a sector that could not be read: the
    // size byte of a data sub-block after it from which the sub-blocks run to
    // a terminator that a block follows. `step`: the length of the
    // sub-blocks before it with their size byte (0: none), at whose
    // multiples from `at` the next is looked for first.
    std::optional<std::uint64_t> subBlockAfterLoss(std::uint64_t at, std::uint64_t step);
    bool subBlocksReachABlock(std::uint64_t at);

    ReadWindow window_;
    std::uint64_t fileSector_ = 0;
    // The file offset of the window's first byte.
    std::uint64_t windowStart_ = 0;
    // The end of the sectors that could not be read after which no
    // sub-block was found.
    std::uint64_t lostUntil_ = 0;
    // The starts of the last few blocks walked, the oldest first, and where
    // the walk's first sign of another file's bytes left them.
    std::array<std::uint64_t, 4> recent_{};
    std::optional<std::uint64_t> brokenAt_;
};
