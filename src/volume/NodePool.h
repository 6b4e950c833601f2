#pragma once

// Where the found-file tree keeps its records: the nodes, their names, paths,
// extents and child lists. A scan makes and frees them by the million, and a
// general allocator spends more on its block headers and its searches than
// most of them weigh. Here every block of up to kLargestPooled bytes comes
// from a chunk that holds blocks of one size only: no header per block, a
// free block is found in constant time, and a chunk whose blocks are all free
// again goes back to the system (one per size is kept for the next scan).
// Bigger blocks, such as the child list of a folder of thousands of files, go
// to the general allocator, counted the same way.
//
// One pool serves the process: trees are built on scan threads and shown,
// rearranged and freed on others, and nodes pass between trees (the
// file-types view lists the volume's files). A lock keeps it whole. Under
// AddressSanitizer it hands every block to the general allocator instead,
// counted as it would count it, so the sanitizer still sees each overrun,
// double free and leak of a node.

#include <cstddef>
#include <cstdint>
#include <mutex>

class NodePool {
public:
    static constexpr std::size_t kLargestPooled = 1024;
    // Every block is aligned for any record of the tree.
    static constexpr std::size_t kAlignment = 8;

    static NodePool& shared();

    // A pool that carves no chunks passes every block to the general
    // allocator.
    explicit NodePool(bool carvesChunks = true) : carvesChunks_(carvesChunks) {}
    ~NodePool();
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;

    // At least `bytes` bytes (throws std::bad_alloc when the system has
    // none); released with the same size.
    void* allocate(std::size_t bytes);
    void release(void* block, std::size_t bytes) noexcept;
    // The size a request of `bytes` really takes: a caller whose record can
    // grow uses the rest.
    static std::size_t roundedSize(std::size_t bytes) noexcept;

    // Bytes handed out and not yet released, as rounded.
    std::size_t bytesInUse() const;
    // Bytes taken from the system: whole chunks, and the blocks the general
    // allocator gave.
    std::size_t bytesHeld() const;

private:
    struct Chunk;
    static constexpr std::size_t kChunkBytes = std::size_t{256} << 10;
    // Sizes 8, 16, ... 256, then 320, 384, ... 1024.
    static constexpr std::size_t kSmallStep = 8;
    static constexpr std::size_t kSmallLimit = 256;
    static constexpr std::size_t kLargeStep = 64;
    static constexpr std::size_t kClasses = kSmallLimit / kSmallStep + (kLargestPooled - kSmallLimit) / kLargeStep;

    static std::size_t classOf(std::size_t bytes) noexcept;
    static std::size_t sizeOfClass(std::size_t sizeClass) noexcept;
    Chunk* newChunk(std::size_t sizeClass);
    void list(Chunk* chunk) noexcept;
    void unlist(Chunk* chunk) noexcept;

    const bool carvesChunks_;
    mutable std::mutex lock_;
    // Per size, the chunks that have a free block, the last one used first.
    Chunk* open_[kClasses] = {};
    std::size_t inUse_ = 0;
    std::size_t chunks_ = 0;
    std::size_t generalBytes_ = 0;
};
