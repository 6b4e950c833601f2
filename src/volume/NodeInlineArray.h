#pragma once

// A list of small plain items (a node's data extents) that keeps a single
// item in place and moves to a block of the node pool from the second on:
// most found files lie in one extent, so most cost no block at all. Appends
// are amortised constant time and keep the order.

#include "volume/NodePool.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

template <class T> class NodeInlineArray {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) <= sizeof(void*) && alignof(T) <= alignof(void*));

public:
    using value_type = T;
    using iterator = T*;
    using const_iterator = const T*;

    NodeInlineArray() noexcept : one_() {}
    ~NodeInlineArray() { clear(); }
    NodeInlineArray(NodeInlineArray&& other) noexcept : one_() { take(other); }
    NodeInlineArray& operator=(NodeInlineArray&& other) noexcept {
        if (this != &other) {
            clear();
            take(other);
        }
        return *this;
    }
    NodeInlineArray(const NodeInlineArray&) = delete;
    NodeInlineArray& operator=(const NodeInlineArray&) = delete;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    T* data() noexcept { return inPlace() ? &one_ : many_; }
    const T* data() const noexcept { return inPlace() ? &one_ : many_; }
    T& operator[](std::size_t i) noexcept { return data()[i]; }
    const T& operator[](std::size_t i) const noexcept { return data()[i]; }
    T* begin() noexcept { return data(); }
    T* end() noexcept { return data() + size_; }
    const T* begin() const noexcept { return data(); }
    const T* end() const noexcept { return data() + size_; }
    T& front() noexcept { return data()[0]; }
    const T& front() const noexcept { return data()[0]; }

    // By value: an item of this list stays what it was while the list moves.
    void push_back(T value) {
        if (size_ == capacity_) reserve(std::max<std::size_t>(2, std::size_t{capacity_} * 2));
        data()[size_++] = value;
    }

    // Removes the items pred accepts, the rest keeping their order; pred is
    // asked once per item, in order. Answers how many went.
    template <class Pred> std::size_t eraseIf(Pred pred) {
        T* first = data();
        std::size_t kept = 0;
        for (std::size_t i = 0; i < size_; ++i)
            if (!pred(std::as_const(first[i]))) first[kept++] = first[i];
        const std::size_t removed = size_ - kept;
        size_ = static_cast<std::uint32_t>(kept);
        return removed;
    }

    void clear() noexcept {
        if (!inPlace()) NodePool::shared().release(many_, bytesFor(capacity_));
        one_ = T();
        size_ = 0;
        capacity_ = 1;
    }

private:
    bool inPlace() const noexcept { return capacity_ <= 1; }
    static std::size_t bytesFor(std::size_t capacity) noexcept { return capacity * sizeof(T); }

    void reserve(std::size_t capacity) {
        if (capacity > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
        const std::size_t rounded = NodePool::roundedSize(bytesFor(capacity)) / sizeof(T);
        auto* block = static_cast<T*>(NodePool::shared().allocate(bytesFor(rounded)));
        if (size_) std::memcpy(block, data(), size_ * sizeof(T));
        if (!inPlace()) NodePool::shared().release(many_, bytesFor(capacity_));
        many_ = block;
        capacity_ = static_cast<std::uint32_t>(rounded);
    }

    void take(NodeInlineArray& other) noexcept {
        size_ = other.size_;
        capacity_ = other.capacity_;
        if (inPlace())
            one_ = other.one_;
        else
            many_ = other.many_;
        other.one_ = T();
        other.size_ = 0;
        other.capacity_ = 1;
    }

    union {
        T one_;
        T* many_;
    };
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = 1; // 1: the item in place
};
