#include "formats/NodeEntry.h"

#include "formats/BtreeNodePhysT.h"
#include "formats/ObjPhys.h"

namespace {
// The one value of a record of type T, or none where it does not fit.
template <class T> NodeEntry::Value valueOf(std::optional<T> v) {
    if (!v) return std::monostate{};
    return std::move(*v);
}
template <class T> NodeEntry::Key keyOf(std::optional<T> k) {
    if (!k) return std::monostate{};
    return std::move(*k);
}
} // namespace

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
    constexpr std::size_t kHeader = sizeof(std::uint64_t);
    const std::size_t valueEnd = block.size() - ((flags & Node::Root) ? Node::kTreeInfoBytes : 0);
    const std::size_t keyAt = Node::kHeaderEnd + std::size_t{tableSpaceLength} + e.key_offset;
    if (e.data_offset > valueEnd || !block.has(keyAt, kHeader) || keyAt + e.key_length > valueEnd) return std::nullopt;
    const std::size_t valueAt = valueEnd - e.data_offset;
    if (valueAt + e.data_length > valueEnd) return std::nullopt;
    e._m_j_key_t = JKeyT::read(block.sub(keyAt, kHeader));
    // A record reads no further than its own length where the table gives
    // one; fixed-size entries reach to the end of the values.
    const std::size_t keyEnd = fixed ? valueEnd : keyAt + e.key_length;
    const platform::ByteView keyBody =
        keyAt + kHeader <= keyEnd ? block.sub(keyAt + kHeader, keyEnd - keyAt - kHeader) : platform::ByteView();
    const platform::ByteView value = block.sub(valueAt, fixed ? valueEnd - valueAt : e.data_length);
    e.key(keyBody);
    if (!e.val(keyBody, value, level)) return std::nullopt;
    return e;
}

void NodeEntry::key(platform::ByteView keyBody) {
    switch (_m_j_key_t.getObj_type()) {
    case JKeyT::Inode:
    case JKeyT::SiblingMap:
    case JKeyT::PhysicalExtent:
    case JKeyT::DataStreamId:
        _m_key = JEmptyKeyT{};
        break;
    case JKeyT::SiblingLink:
        _m_key = JSiblingKeyT{};
        break;
    case JKeyT::ExtendedAttribute:
        _m_key = keyOf(JXattrKeyT::read(keyBody));
        break;
    case JKeyT::DirectoryRecord:
        _m_key = keyOf(JDrecKeyT::read(keyBody));
        break;
    default:
        break;
    }
}

bool NodeEntry::val(platform::ByteView keyBody, platform::ByteView value, std::uint16_t level) {
    // Index nodes hold child pointers, which the recovery does not follow.
    if (level > 0) {
        _m_val = valueOf(PointerValT::read(value));
        return true;
    }
    switch (_m_j_key_t.getObj_type()) {
    case JKeyT::Inode:
        _m_val = valueOf(JInodeValT::read(value));
        return inode() != nullptr;
    case JKeyT::FileExtent:
        _m_val = valueOf(JExtentValT::read(keyBody, value));
        return extent() != nullptr;
    case JKeyT::PhysicalExtent:
        _m_val = valueOf(JPhysExtValT::read(value));
        break;
    case JKeyT::DataStreamId:
        _m_val = valueOf(JExtentRefcountValT::read(value));
        break;
    case JKeyT::ExtendedAttribute:
        _m_val = valueOf(JXattrValT::read(value));
        break;
    case JKeyT::SiblingLink:
        _m_val = valueOf(JSiblingValT::read(value));
        break;
    case JKeyT::DirectoryRecord:
        _m_val = valueOf(JDrecValT::read(value));
        break;
    case JKeyT::SiblingMap:
        _m_val = valueOf(JSiblingMapValT::read(value));
        break;
    default:
        break;
    }
    return true;
}
