#pragma once

#include "media/BoundedCursor.h"
#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"

// A Canon CRW is a heap whose only end mark is its last four bytes: the
// offset of the root heap's table, which ends right before them. The file
// is measured by searching forward for four bytes that point back at a
// table ending where they begin. The table's second entry may be the JPEG
// preview.
class CrwFileCheck final : public SizeCalculator {
public:
    explicit CrwFileCheck(CarvingContext& context);
    bool isFile(platform::ByteView leading, std::uint64_t sectorNumber) override;
    std::uint64_t fileSizeCalculation(platform::ByteView leading, std::uint64_t sectorNumber) override;

private:
    // Fills the embedded-JPEG record from the root table's second entry,
    // at that file offset; false when a read failed.
    bool notePreview(std::uint64_t entry, std::uint64_t heapStart, bool little, std::uint64_t sectorNumber);

    ReadWindow window_;
    // The file, searched for the four bytes that end it.
    BoundedCursor scan_;
};
