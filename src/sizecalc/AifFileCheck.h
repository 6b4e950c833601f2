#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/SizeCalculator.h"

// AIFF: a FORM header, then chunks each with an identifier and a length, and
// a pad byte after one of odd length. The file is measured by walking the
// chunks while their identifiers are ones an AIFF holds (past the FORM
// length, which editors leave stale) or other chunks inside that length.
class AifFileCheck final : public SizeCalculator {
public:
    explicit AifFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // A chunk begins at the file's offset.
    bool isChunkAt(std::uint64_t at);
    // From the chunk at the offset, of that length, to the next one.
    std::uint64_t chunkStep(std::uint64_t at, std::uint64_t length);

    // The file by its offsets.
    BoundedCursor cursor_;
    // The chunks' bytes the FORM's length gives.
    std::uint64_t chunkBytes_ = 0;
};
