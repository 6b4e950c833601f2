#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A PSD is measured by adding up the three length-prefixed sections behind
// its header; its pixel data, when raw, by the picture's dimensions, depth
// and channels; run-length coded, by the byte counts of its rows; otherwise
// compressed, it is not decoded but estimated from the picture's
// dimensions, colour mode, depth and layer count, and cut short where the
// medium turns to zeros.
class PsdFileCheck final : public SizeCalculator {
public:
    explicit PsdFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // The sum of the byte counts in the table at the file's offset `table`
    // of `rows` run-length coded rows of `rowBytes` bytes each; 0 when a
    // count is none such a row can have.
    std::uint64_t codedRowBytes(std::uint64_t sectorNumber, std::uint64_t table, std::uint64_t rows,
                                std::uint64_t rowBytes);

    ReadWindow window_;
    // The table of row byte counts by its offsets.
    BoundedCursor cursor_;
};
