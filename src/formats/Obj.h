#pragma once

// One block of an APFS container as an object: its header and, for the nodes of
// a B-tree, the node. Storage kinds and flags beyond the plain ones leave
// the object without a body: such blocks are not the tree nodes a recovery
// reads.

#include "formats/BtreeNodePhysT.h"
#include "formats/ObjPhys.h"
#include "platform/ByteView.h"

#include <optional>

struct Obj {
    // Object types whose body is a B-tree node: a tree's root and any other
    // node.
    enum : std::uint16_t { Btree = 2, BtreeNode = 3 };

    ObjPhys hdr;
    std::optional<BtreeNodePhysT> body;

    static Obj read(platform::ByteView block);

    const ObjPhys& getHdr() const { return hdr; }
    const std::optional<BtreeNodePhysT>& getBody() const { return body; }
};
