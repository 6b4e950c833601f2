#include "volume/NodePool.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>

// A chunk starts with this header; its blocks follow, all of one size. The
// chunk is aligned to its own size, so a block finds its chunk by masking.
struct NodePool::Chunk {
    Chunk* prev;
    Chunk* next;
    void* freeBlocks; // released blocks, each holding the next one's address
    std::uint32_t used;
    std::uint32_t fresh; // offset of the first block never handed out
    std::uint32_t blockSize;
    std::uint16_t sizeClass;
    bool listed;
};

namespace {
constexpr std::size_t kHeaderBytes = 64;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

void* mapAligned(std::size_t bytes) {
    // Twice the size, then what lies outside the aligned middle goes back.
    void* raw = ::mmap(nullptr, 2 * bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw);
    const std::uintptr_t aligned = (start + bytes - 1) & ~(static_cast<std::uintptr_t>(bytes) - 1);
    if (aligned > start) ::munmap(raw, aligned - start);
    const std::uintptr_t tail = aligned + bytes;
    const std::uintptr_t end = start + 2 * bytes;
    if (end > tail) ::munmap(reinterpret_cast<void*>(tail), end - tail);
    return reinterpret_cast<void*>(aligned);
}
} // namespace

NodePool& NodePool::shared() {
    // Never destroyed: nodes may still be released while the program exits.
    static NodePool* pool = new NodePool(!kSanitized);
    return *pool;
}

NodePool::~NodePool() {
    // Only a pool whose blocks have all come back is destroyed, and then
    // every chunk it still has is listed.
    for (Chunk*& head : open_)
        while (Chunk* c = head) {
            head = c->next;
            ::munmap(c, kChunkBytes);
        }
}

std::size_t NodePool::classOf(std::size_t bytes) noexcept {
    if (bytes == 0) bytes = 1;
    if (bytes <= kSmallLimit) return (bytes + kSmallStep - 1) / kSmallStep - 1;
    return kSmallLimit / kSmallStep + (bytes - kSmallLimit + kLargeStep - 1) / kLargeStep - 1;
}

std::size_t NodePool::sizeOfClass(std::size_t sizeClass) noexcept {
    constexpr std::size_t small = kSmallLimit / kSmallStep;
    if (sizeClass < small) return (sizeClass + 1) * kSmallStep;
    return kSmallLimit + (sizeClass - small + 1) * kLargeStep;
}

std::size_t NodePool::roundedSize(std::size_t bytes) noexcept {
    return bytes > kLargestPooled ? bytes : sizeOfClass(classOf(bytes));
}

NodePool::Chunk* NodePool::newChunk(std::size_t sizeClass) {
    static_assert(sizeof(Chunk) <= kHeaderBytes);
    void* memory = mapAligned(kChunkBytes);
    if (!memory) throw std::bad_alloc();
    auto* c = new (memory) Chunk{};
    c->fresh = kHeaderBytes;
    c->blockSize = static_cast<std::uint32_t>(sizeOfClass(sizeClass));
    c->sizeClass = static_cast<std::uint16_t>(sizeClass);
    ++chunks_;
    return c;
}

void NodePool::list(Chunk* c) noexcept {
    c->prev = nullptr;
    c->next = open_[c->sizeClass];
    if (c->next) c->next->prev = c;
    open_[c->sizeClass] = c;
    c->listed = true;
}

void NodePool::unlist(Chunk* c) noexcept {
    if (c->prev)
        c->prev->next = c->next;
    else
        open_[c->sizeClass] = c->next;
    if (c->next) c->next->prev = c->prev;
    c->prev = c->next = nullptr;
    c->listed = false;
}

void* NodePool::allocate(std::size_t bytes) {
    if (bytes > kLargestPooled || !carvesChunks_) {
        void* block = ::operator new(bytes);
        const std::lock_guard guard(lock_);
        generalBytes_ += roundedSize(bytes);
        inUse_ += roundedSize(bytes);
        return block;
    }
    const std::size_t sizeClass = classOf(bytes);
    const std::lock_guard guard(lock_);
    Chunk* c = open_[sizeClass];
    if (!c) {
        c = newChunk(sizeClass);
        list(c);
    }
    void* block;
    if (c->freeBlocks) {
        block = c->freeBlocks;
        c->freeBlocks = *static_cast<void**>(block);
    } else {
        block = reinterpret_cast<char*>(c) + c->fresh;
        c->fresh += c->blockSize;
    }
    ++c->used;
    inUse_ += c->blockSize;
    if (!c->freeBlocks && c->fresh + c->blockSize > kChunkBytes) unlist(c);
    return block;
}

void NodePool::release(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    if (bytes > kLargestPooled || !carvesChunks_) {
        ::operator delete(block); // unsized: clang declares the sized form only on request
        const std::lock_guard guard(lock_);
        generalBytes_ -= roundedSize(bytes);
        inUse_ -= roundedSize(bytes);
        return;
    }
    auto* c = reinterpret_cast<Chunk*>(reinterpret_cast<std::uintptr_t>(block) &
                                       ~(static_cast<std::uintptr_t>(kChunkBytes) - 1));
    const std::lock_guard guard(lock_);
    *static_cast<void**>(block) = c->freeBlocks;
    c->freeBlocks = block;
    --c->used;
    inUse_ -= c->blockSize;
    if (!c->listed) list(c);
    // An empty chunk goes back unless it is the only one of its size left
    // with room: a tree freed and built again does not map it anew.
    if (c->used == 0 && (c->prev || c->next)) {
        unlist(c);
        --chunks_;
        ::munmap(c, kChunkBytes);
    }
}

std::size_t NodePool::bytesInUse() const {
    const std::lock_guard guard(lock_);
    return inUse_;
}

std::size_t NodePool::bytesHeld() const {
    const std::lock_guard guard(lock_);
    return chunks_ * kChunkBytes + generalBytes_;
}
