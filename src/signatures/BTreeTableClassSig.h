#pragma once

// The lookup tree of one signature group: the marked file types that share a
// header offset and length, keyed by the packed header. Types whose header is
// the same too are chained on the record stored first, so one lookup of a
// sector's bytes yields every candidate type for the recognisers.

#include "platform/Value.h"
#include "volume/BTreeTable.h"

#include <cstdint>
#include <memory>
#include <string>

class Sig;

// One stored type. The record belongs to its list node; the item only names
// it, and a probe item names none.
class ItemTypeSig final : public BTreeItem<std::uint64_t> {
public:
    ItemTypeSig() noexcept = default;
    ItemTypeSig(std::uint64_t key, Sig* sig) noexcept : BTreeItem(key), sig_(sig) {}

    Sig* sig() const noexcept { return sig_; }
    void setSig(Sig* sig) noexcept { sig_ = sig; }

private:
    Sig* sig_ = nullptr;
};

class NodeTypeSig final : public BTreeNode<NodeTypeSig, ItemTypeSig> {};

// An Object as well, so that a group record of the Volume can hold it.
class BTreeTableClassSig final : public BTreeTable<BTreeTableClassSig, NodeTypeSig>, public platform::Object {
public:
    BTreeTableClassSig() noexcept = default;
    ~BTreeTableClassSig() override = default;

    std::string className() const override { return "BTreeTableClassSig"; }

private:
    friend class BTreeTable<BTreeTableClassSig, NodeTypeSig>;

    // A type whose header is already stored is not stored again: a copy of
    // its record is chained on the record stored first.
    void equalKeyOffered(ItemTypeSig& stored, std::unique_ptr<ItemTypeSig> offered);
};

extern template class BTreeNode<NodeTypeSig, ItemTypeSig>;
extern template class BTreeTable<BTreeTableClassSig, NodeTypeSig>;
