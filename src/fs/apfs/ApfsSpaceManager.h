#pragma once

// Which blocks of an APFS container are in use, as the container's space
// manager records it. The newest checkpoint whose superblock checks out is
// found in the checkpoint descriptor area; its checkpoint maps give the
// blocks of the space manager and of its free-queue trees (ephemeral
// objects); the space manager lists the chunk-info blocks (directly, or
// through chunk-info address blocks), which give each chunk's first block
// and allocation bitmap: one bit a block, least significant bit first, a
// set bit for a block in use. A chunk without a bitmap is all free.
//
// Blocks freed by recent transactions wait in the main free queue before
// their bits are cleared: they hold what was deleted last, so they count as
// free here.
//
// Every count, address and offset comes from the medium: each is bounded
// by the container's size and by the object it lies in, every object read
// must pass its checksum, and the walks keep step limits.

#include "platform/ByteView.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class ApfsSpaceManager {
public:
    // Reads `length` bytes at byte `offset` of the container; false when it
    // cannot.
    using Reader = std::function<bool(std::uint64_t offset, std::size_t length, std::uint8_t* out)>;

    enum class State { Free, Used, Unknown };

    // Empty when the container has no space manager this reader can follow.
    // The allocation bitmaps, one a chunk, are read through `bitmapReader`
    // where one is given: a search asks for them one after another and
    // needs none in particular, so that reader may give zeros (free) where
    // it could not read rather than ask a bad stretch again at each chunk.
    static std::optional<ApfsSpaceManager> read(Reader reader, Reader bitmapReader = {});

    std::uint32_t blockSize() const { return blockSize_; }
    std::uint64_t blockCount() const { return blockCount_; }
    // A block's state; Unknown past the chunks or when its bitmap cannot be
    // read. The last bitmap read is kept, since searches go block by block.
    State blockState(std::uint64_t block);

    // The Fletcher-64 checksum every object header begins with, over the
    // rest of the object.
    static std::uint64_t checksum(platform::ByteView object);

private:
    struct Chunk {
        std::uint64_t addr = 0;
        std::uint32_t blockCount = 0;
        std::uint64_t bitmapAddr = 0;
    };
    // Blocks [start, start + count) waiting in the free queue.
    struct Pending {
        std::uint64_t start = 0;
        std::uint64_t count = 0;
    };

    ApfsSpaceManager(Reader reader, Reader bitmapReader)
        : reader_(std::move(reader)), bitmapReader_(std::move(bitmapReader)) {}
    // One whole object of `blocks` blocks at `block` whose checksum holds.
    std::optional<std::vector<std::uint8_t>> object(std::uint64_t block, std::uint64_t blocks = 1) const;
    bool readChunks(platform::ByteView spaceman);
    void readChunkInfoBlock(std::uint64_t block);
    void readFreeQueue(std::uint64_t rootPaddr, const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ephemeral);

    Reader reader_;
    Reader bitmapReader_;
    std::uint32_t blockSize_ = 0;
    std::uint64_t blockCount_ = 0;
    std::uint32_t blocksPerChunk_ = 0;
    std::vector<Chunk> chunks_; // by address
    std::vector<Pending> pending_;
    // The bitmap of chunks_[cachedChunk_], when one is held.
    std::optional<std::size_t> cachedChunk_;
    std::vector<std::uint8_t> bitmap_;
    bool cachedBitmapRead_ = false;
};
