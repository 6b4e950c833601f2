#pragma once

// The live-file pass of the deleted-file scan: the catalog reader's walk
// over the leaf nodes with all its record checks, keeping only the file
// records. Each valid one becomes a node in the volume's live-file index
// (btreeNormalScan) by file ID, so the journal pass can tell a journal copy
// of a file that still lives unchanged from a deleted one. Nothing goes into
// the found-file tree, the orphan index or the counters.

#include "hfsplus/CatalogReader.h"

#include <cstdint>

class LiveFileReader : public CatalogReader {
public:
    explicit LiveFileReader(HFSPlusReaderState& state) noexcept : CatalogReader(state) {}

private:
    void takeFolder(const Record& record, std::size_t limit) override;
    void takeFile(const Record& record, std::size_t limit) override;
    void recordNamed() override { ++recordsCounted_; }
    void postEnd() override;

    // Records met whose name passed, of any type: the progress bar's value.
    std::uint64_t recordsCounted_ = 0;
};
