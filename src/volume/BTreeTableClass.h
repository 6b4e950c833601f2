#pragma once

// The index of found tree nodes by catalog node ID (a NewDir's fileID). The
// Volume keeps three: every node added to the found-file tree, the folders of
// the advanced scan, and the normal scan's own index. The catalog readers
// look parents up in them by ID.

#include "volume/BTreeTable.h"

#include <cstdint>

struct NewDir;

// One indexed node: the key and the NewDir it names. The item only names the
// node; the found-file tree owns it.
class ItemType final : public BTreeItem<std::uint32_t> {
public:
    ItemType() noexcept = default;
    ItemType(std::uint32_t key, NewDir* dir) noexcept : BTreeItem(key), dir_(dir) {}

    NewDir* dir() const noexcept { return dir_; }
    void setNDIRPtr(NewDir* dir) noexcept { dir_ = dir; }

private:
    NewDir* dir_ = nullptr;
};

class NodeType final : public BTreeNode<NodeType, ItemType> {};

class BTreeTableClass final : public BTreeTable<BTreeTableClass, NodeType> {
public:
    BTreeTableClass() noexcept = default;
    ~BTreeTableClass() = default;
};

extern template class BTreeNode<NodeType, ItemType>;
extern template class BTreeTable<BTreeTableClass, NodeType>;
