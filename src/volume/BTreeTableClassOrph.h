#pragma once

// Entries of the catalog whose parent is not (yet) in the found-file tree
// wait here, keyed by their own catalog node ID, until the orphan passes
// attach each one to its parent, to a recreated parent or to "Lost Files".
// The passes walk the nodes themselves from root(): a node's items in slot
// order, then its branches 0..count, so the order entries are placed in (and
// the LostFolder numbers they get) follows this tree's shape.

#include "volume/BTreeTable.h"

#include <cstdint>

struct NewDir;

// One parked entry. The item only names the NewDir; once the entry is
// attached the found-file tree owns it.
class ItemTypeOrph final : public BTreeItem<std::uint32_t> {
public:
    ItemTypeOrph() noexcept = default;
    ItemTypeOrph(std::uint32_t key, NewDir* dir) noexcept : BTreeItem(key), dir_(dir) {}

    NewDir* dir() const noexcept { return dir_; }
    void setNDIRPtr(NewDir* dir) noexcept { dir_ = dir; }

    // Dealt with by an orphan pass.
    bool alreadyPolled() const noexcept { return alreadyPolled_; }
    void setAlreadyPolled(bool polled) noexcept { alreadyPolled_ = polled; }
    // The parent was found and the entry attached under it.
    bool parentFoundInBtree() const noexcept { return parentFoundInBtree_; }
    void setParentFoundInBtree(bool found) noexcept { parentFoundInBtree_ = found; }

private:
    NewDir* dir_ = nullptr;
    bool alreadyPolled_ = false;
    bool parentFoundInBtree_ = false;
};

class NodeTypeOrph final : public BTreeNode<NodeTypeOrph, ItemTypeOrph> {};

// An entry parked twice under one ID keeps its first item, marks and all:
// the default equal-key rule of the index drops the newcomer.
class BTreeTableClassOrph final : public BTreeTable<BTreeTableClassOrph, NodeTypeOrph> {
public:
    BTreeTableClassOrph() noexcept = default;
    ~BTreeTableClassOrph() = default;

    // Set by each orphan pass from its arguments: whether attaching an entry
    // adds it to the Volume's counts, and the volume-name-only display switch
    // (which nothing reads back).
    bool incrementData() const noexcept { return incrementData_; }
    void setIncrementData(bool increment) noexcept { incrementData_ = increment; }
    bool showVolNameOnly() const noexcept { return showVolNameOnly_; }
    void setShowVolNameOnly(bool show) noexcept { showVolNameOnly_ = show; }

private:
    bool incrementData_ = false;
    bool showVolNameOnly_ = false;
};

extern template class BTreeNode<NodeTypeOrph, ItemTypeOrph>;
extern template class BTreeTable<BTreeTableClassOrph, NodeTypeOrph>;
