#pragma once

// The journal passes of the deleted-file scan look at every sector of the
// volume's journal, one at a time, and now and then at a node or an
// allocation block around the sector they are at. Reading the journal one
// sector per call would cost a system call per sector; this reader fetches
// it in large sequential batches and serves the sectors, and the nodes that
// lie wholly inside the batch in memory, from there.
//
// Everything read is bounded by the volume: a batch or a node that is not
// inside it is not read, and whatever could not be read is zeros, never the
// bytes of an earlier read. An unreadable sector costs only itself: the rest
// of its batch is read, and a node that meets it is read with it, its
// unreadable sectors told apart from the rest.

#include "hfsplus/HFSPlusReaderState.h"
#include "platform/AlignedBuffer.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <vector>

class Volume;

class JournalSectorReader {
public:
    // The journal's `sectors` sectors begin at device sector `first`.
    JournalSectorReader(HFSPlusReaderState& state, std::uint64_t first, std::uint64_t sectors);

    // Journal sector i (below the journal's sector count): one sector of
    // bytes, all zero when it could not be read.
    platform::ByteView sector(std::uint64_t i);
    // `count` device sectors from `sector` into buffer, which is resized and
    // zeroed first; from the batch in memory when they lie inside it. False
    // (buffer zeroed) when they are not inside the volume or unreadable.
    bool read(std::uint64_t sector, std::uint32_t count, std::vector<std::uint8_t>& buffer);
    // The same sectors keeping what could be read: those that could not are
    // zeros and flagged in `unreadable`. False (buffer zeroed, every sector
    // flagged) when they are not inside the volume.
    bool readAround(std::uint64_t sector, std::uint32_t count, std::vector<std::uint8_t>& buffer,
                    std::vector<bool>& unreadable);
    // Whether journal sector i, as sector(i) gave it, could not be read.
    bool unreadable(std::uint64_t i) const;

    // Bytes fetched in one go: large enough to stream, small enough to keep.
    static constexpr std::uint64_t kBatchBytes = 1u << 20;

private:
    void loadBatch(std::uint64_t i);

    Volume& volume_;
    HFSPlusReaderState& state_;
    std::uint64_t first_ = 0;
    std::uint64_t sectors_ = 0;
    std::uint32_t bytesPerSector_ = 0;
    std::uint64_t batchSectors_ = 0;
    // Journal index of the batch's first sector and its length in sectors.
    std::uint64_t batchStart_ = 0;
    std::uint64_t batchLength_ = 0;
    platform::AlignedBuffer batch_;
    bool batchReadable_ = false;
    // Whether the batch was read at all: one not inside the volume is zeros.
    bool batchInVolume_ = false;
    bool failureLogged_ = false;
};
