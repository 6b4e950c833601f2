#pragma once

// A set of 64-bit numbers that also counts how often each one was looked up
// again: catalog nodes already read (by node number or first sector), volume
// header creation dates already reported, first blocks of found files. The
// name says 32 bits; the key is 64 bits wide and only the counter is 32.

#include "volume/BTreeTable.h"

#include <cstdint>

class ItemTypeUInt32 final : public BTreeItem<std::uint64_t> {
public:
    ItemTypeUInt32() noexcept = default;
    explicit ItemTypeUInt32(std::uint64_t key) noexcept : BTreeItem(key) {}

    // Successful lookups of this key since it was stored.
    std::uint32_t retrieveCount() const noexcept { return retrieveCount_; }
    void setRetrieveCount(std::uint32_t count) noexcept { retrieveCount_ = count; }

private:
    std::uint32_t retrieveCount_ = 0;
};

class NodeTypeUInt32 final : public BTreeNode<NodeTypeUInt32, ItemTypeUInt32> {};

class BTreeTableClassUInt32 final : public BTreeTable<BTreeTableClassUInt32, NodeTypeUInt32> {
public:
    BTreeTableClassUInt32() noexcept = default;
    ~BTreeTableClassUInt32() = default;

private:
    friend class BTreeTable<BTreeTableClassUInt32, NodeTypeUInt32>;

    // The catalog readers stop walking a leaf chain once a node's count goes
    // above 1, so every hit counts, wrapping like the 32-bit counter it is.
    void itemRetrieved(ItemTypeUInt32& item) noexcept { item.setRetrieveCount(item.retrieveCount() + 1u); }
};

extern template class BTreeNode<NodeTypeUInt32, ItemTypeUInt32>;
extern template class BTreeTable<BTreeTableClassUInt32, NodeTypeUInt32>;
