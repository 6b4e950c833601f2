#include "fs/apfs/NodeEntry.h"

#include "fs/apfs/BtreeNodePhysT.h"
#include "fs/apfs/ObjPhys.h"

std::optional<NodeEntry> NodeEntry::read(platform::ByteView block, std::uint32_t i, std::uint16_t flags,
                                         std::uint16_t tableSpaceLength, std::uint16_t level) {
    using Node = BtreeNodePhysT;
    const bool fixed = (flags & Node::FixedKV) != 0;
    const std::size_t slotBytes = fixed ? 4 : 8;
    const std::size_t slot = Node::kHeaderEnd + slotBytes * i;
    if (!block.has(slot, slotBytes)) return std::nullopt;
    NodeEntry e;
    e.key_offset = block.le16(slot);
    if (fixed) {
        e.data_offset = block.le16(slot + 2);
    } else {
        e.key_length = block.le16(slot + 2);
        e.data_offset = block.le16(slot + 4);
        e.data_length = block.le16(slot + 6);
    }
    // Keys follow the table of contents; values are counted back from the
    // end of the block, or from the tree information a root node ends with.
    const std::size_t valueEnd = block.size() - ((flags & Node::Root) ? Node::kTreeInfoBytes : 0);
    const std::size_t keyAt = Node::kHeaderEnd + std::size_t{tableSpaceLength} + e.key_offset;
    if (e.data_offset > valueEnd || !block.has(keyAt, sizeof(std::uint64_t)) || keyAt + e.key_length > valueEnd)
        return std::nullopt;
    const std::size_t valueAt = valueEnd - e.data_offset;
    if (valueAt + e.data_length > valueEnd) return std::nullopt;
    e._m_j_key_t = JKeyT::read(block.sub(keyAt, sizeof(std::uint64_t)));
    // Index nodes hold child pointers, which the recovery does not follow.
    if (level > 0) return e;
    const platform::ByteView value = block.sub(valueAt, valueEnd - valueAt);
    switch (e._m_j_key_t.getObj_type()) {
    case JKeyT::Inode:
        e.inode = JInodeValT::read(value);
        if (!e.inode) return std::nullopt;
        break;
    case JKeyT::FileExtent:
        e.extent = JExtentValT::read(block.sub(keyAt + sizeof(std::uint64_t), valueEnd - keyAt), value);
        if (!e.extent) return std::nullopt;
        break;
    default:
        break;
    }
    return e;
}
