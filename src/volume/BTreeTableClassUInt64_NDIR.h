#pragma once

// A map from a 64-bit number to a NewDir. The session and snapshot readers
// index the folders they rebuild by the node address each stored record
// carries, so that later records find their parent folder.

#include "volume/BTreeTable.h"

#include <cstdint>

struct NewDir;

// The item only names the folder; the found-file tree owns it.
class ItemTypeUInt64_NDIR final : public BTreeItem<std::uint64_t> {
public:
    ItemTypeUInt64_NDIR() noexcept = default;
    ItemTypeUInt64_NDIR(std::uint64_t key, NewDir* dir) noexcept : BTreeItem(key), dir_(dir) {}

    NewDir* dir() const noexcept { return dir_; }
    void setNDIRPtr(NewDir* dir) noexcept { dir_ = dir; }

private:
    NewDir* dir_ = nullptr;
};

class NodeTypeUInt64_NDIR final : public BTreeNode<NodeTypeUInt64_NDIR, ItemTypeUInt64_NDIR> {};

class BTreeTableClassUInt64_NDIR final : public BTreeTable<BTreeTableClassUInt64_NDIR, NodeTypeUInt64_NDIR> {
public:
    BTreeTableClassUInt64_NDIR() noexcept = default;
    ~BTreeTableClassUInt64_NDIR() = default;
};

extern template class BTreeNode<NodeTypeUInt64_NDIR, ItemTypeUInt64_NDIR>;
extern template class BTreeTable<BTreeTableClassUInt64_NDIR, NodeTypeUInt64_NDIR>;
