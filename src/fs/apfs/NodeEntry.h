#pragma once

// One key of a B-tree node with its value: where the table of contents puts
// them, the key's header, and for leaf records of the two types the
// recovery reads (inodes and file extents) the parsed record.

#include "fs/apfs/JExtentValT.h"
#include "fs/apfs/JInodeValT.h"
#include "fs/apfs/JKeyT.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct NodeEntry {
    std::uint16_t key_offset = 0;
    std::uint16_t key_length = 0;
    std::uint16_t data_offset = 0;
    std::uint16_t data_length = 0;
    JKeyT _m_j_key_t;
    std::optional<JInodeValT> inode;
    std::optional<JExtentValT> extent;

    // Entry i of the node. Empty when its slot, its key or its value would
    // reach past the block (or past the tree information of a root node).
    static std::optional<NodeEntry> read(platform::ByteView block, std::uint32_t iterationNo, std::uint16_t treeFlags,
                                         std::uint16_t tableSpaceLength, std::uint16_t btnLevel);

    const JKeyT& getJ_Key_t() const { return _m_j_key_t; }
};
