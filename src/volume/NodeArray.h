#pragma once

// A list of a found-file node (its children, its extent groups) in one block
// of the node pool: the node itself holds a single pointer, null while the
// list is empty, and the count and capacity lead the block. Appends are
// amortised constant time and keep the order; the capacity fills the block
// the pool really hands out.
//
// A shareable list (kShareable) can be copied without copying its items: the
// copies share the block until one of them changes, which then takes a block
// of its own first. A folder's direct arrays are such copies of its lists and
// cost nothing while they agree with them. Its items are read only through
// const access; the changes go through the members that change the list.
// Like the tree, a list is touched by one thread at a time.

#include "volume/NodePool.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

template <class T, bool kShareable = false> class NodeArray {
    static_assert(alignof(T) <= NodePool::kAlignment);

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    NodeArray() noexcept = default;
    ~NodeArray() { clear(); }
    NodeArray(NodeArray&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    NodeArray& operator=(NodeArray&& other) noexcept {
        if (this != &other) {
            clear();
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }
    NodeArray(const NodeArray& other) noexcept requires kShareable : block_(other.block_) {
        if (block_) ++block_->refs;
    }
    NodeArray& operator=(const NodeArray& other) noexcept requires kShareable {
        if (other.block_) ++other.block_->refs;
        clear();
        block_ = other.block_;
        return *this;
    }

    std::size_t size() const noexcept { return block_ ? block_->size : 0; }
    bool empty() const noexcept { return size() == 0; }

    const T* data() const noexcept { return block_ ? items(block_) : nullptr; }
    const T& operator[](std::size_t i) const noexcept { return data()[i]; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size(); }

    T* data() noexcept requires(!kShareable) { return block_ ? items(block_) : nullptr; }
    T& operator[](std::size_t i) noexcept requires(!kShareable) { return data()[i]; }
    T* begin() noexcept requires(!kShareable) { return data(); }
    T* end() noexcept requires(!kShareable) { return data() + size(); }

    void push_back(T value) {
        own(size() + 1);
        new (items(block_) + block_->size) T(std::move(value));
        ++block_->size;
    }

    // Removes the item at index, the later ones moving up one place.
    void erase(std::size_t index) {
        if (index >= size()) return;
        own(size());
        T* first = items(block_);
        std::move(first + index + 1, first + size(), first + index);
        shorten(size() - 1);
    }

    // Removes the items pred accepts, the rest keeping their order; pred is
    // asked once per item, in order. Answers how many went.
    template <class Pred> std::size_t eraseIf(Pred pred) {
        if (empty()) return 0;
        own(size());
        T* first = items(block_);
        std::size_t kept = 0;
        for (std::size_t i = 0; i < size(); ++i) {
            if (pred(std::as_const(first[i]))) continue;
            if (kept != i) first[kept] = std::move(first[i]);
            ++kept;
        }
        const std::size_t removed = size() - kept;
        shorten(kept);
        return removed;
    }

    void clear() noexcept {
        Header* b = std::exchange(block_, nullptr);
        if (!b) return;
        if constexpr (kShareable)
            if (--b->refs != 0) return;
        std::destroy_n(items(b), b->size);
        NodePool::shared().release(b, bytesFor(b->capacity));
    }

    friend void swap(NodeArray& a, NodeArray& b) noexcept { std::swap(a.block_, b.block_); }
    // The same items in the same order.
    friend bool operator==(const NodeArray& a, const std::vector<T>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

private:
    struct PlainHeader {
        std::uint32_t size;
        std::uint32_t capacity;
    };
    struct CountedHeader {
        std::uint32_t size;
        std::uint32_t capacity;
        std::uint32_t refs;
        std::uint32_t unused;
    };
    using Header = std::conditional_t<kShareable, CountedHeader, PlainHeader>;
    static constexpr std::size_t kItemsOffset = sizeof(Header);
    static_assert(kItemsOffset % alignof(T) == 0);

    static T* items(Header* b) noexcept { return reinterpret_cast<T*>(reinterpret_cast<char*>(b) + kItemsOffset); }
    static const T* items(const Header* b) noexcept {
        return reinterpret_cast<const T*>(reinterpret_cast<const char*>(b) + kItemsOffset);
    }
    static std::size_t bytesFor(std::size_t capacity) noexcept { return kItemsOffset + capacity * sizeof(T); }

    std::size_t capacity() const noexcept { return block_ ? block_->capacity : 0; }
    bool shared() const noexcept {
        if constexpr (kShareable) return block_ && block_->refs > 1;
        return false;
    }

    // Makes the block this list's own, with room for `needed` items:
    // doubling, then as many more as the pool's rounded block holds.
    void own(std::size_t needed) {
        const bool copy = shared();
        if (!copy && needed <= capacity()) return;
        std::size_t want = std::max(needed, size());
        if (needed > capacity()) want = std::max<std::size_t>({want, capacity() * 2, 1});
        want = (NodePool::roundedSize(bytesFor(want)) - kItemsOffset) / sizeof(T);
        if (want > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
        auto* b = static_cast<Header*>(NodePool::shared().allocate(bytesFor(want)));
        b->size = 0;
        b->capacity = static_cast<std::uint32_t>(want);
        if constexpr (kShareable) b->refs = 1;
        if (block_) {
            if (copy)
                std::uninitialized_copy_n(items(block_), block_->size, items(b));
            else
                std::uninitialized_move_n(items(block_), block_->size, items(b));
            b->size = block_->size;
            clear();
        }
        block_ = b;
    }

    // Drops the items from n on; the block is this list's own.
    void shorten(std::size_t n) noexcept {
        std::destroy(items(block_) + n, items(block_) + block_->size);
        block_->size = static_cast<std::uint32_t>(n);
    }

    Header* block_ = nullptr;
};
