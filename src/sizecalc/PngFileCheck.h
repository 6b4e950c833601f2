#pragma once

#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

#include <optional>

// A PNG is measured by following its chunks up to IEND. The walk ends early
// at the first chunk that is not one: a type that is no four letters, a
// length no chunk has, or a type the standard's first list does not hold
// whose CRC fails, which on a medium is usually the first bytes behind the
// file. One whose walk ends before IEND is left marked. The chunks' data the
// walk steps over by their lengths (SteppedBodies): another file written
// over an image's data, found there, cuts it.
class PngFileCheck final : public SizeCalculator {
public:
    explicit PngFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The chunk header `p` bytes into the device sector `sector` lies in a
    // sector the medium could not give: the offset from that sector of the
    // next chunk after it; nothing when none lies within reach.
    std::optional<std::uint64_t> chunkAfterLoss(std::uint64_t sector, std::uint64_t p);
    // Whether the CRC after the chunk at the offset `chunk` of the file at
    // the device sector, whose data holds `length` bytes, is its type's and
    // data's.
    bool crcHolds(std::uint64_t sectorNumber, std::uint64_t chunk, std::uint32_t length);

    ReadWindow window_;
    BoundedCursor crcReader_;
};
