#pragma once

// One key of an APFS B-tree node with its value: where the table of contents puts
// them, the key's header, the key's own fields and the value, each of the
// class its record type chooses (a child pointer in an index node).

#include "formats/JDrecKeyT.h"
#include "formats/JDrecValT.h"
#include "formats/JEmptyKeyT.h"
#include "formats/JExtentRefcountValT.h"
#include "formats/JExtentValT.h"
#include "formats/JInodeValT.h"
#include "formats/JKeyT.h"
#include "formats/JPhysExtValT.h"
#include "formats/JSiblingKeyT.h"
#include "formats/JSiblingMapValT.h"
#include "formats/JSiblingValT.h"
#include "formats/JXattrKeyT.h"
#include "formats/JXattrValT.h"
#include "formats/PointerValT.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <optional>
#include <variant>

struct NodeEntry {
    // None where the record type has no class, or the record does not fit.
    // A file extent's key is read with its value (JExtentValT).
    using Key = std::variant<std::monostate, JEmptyKeyT, JSiblingKeyT, JXattrKeyT, JDrecKeyT>;
    using Value = std::variant<std::monostate, PointerValT, JInodeValT, JExtentValT, JPhysExtValT, JExtentRefcountValT,
                               JXattrValT, JSiblingValT, JDrecValT, JSiblingMapValT>;

    std::uint16_t key_offset = 0;
    std::uint16_t key_length = 0;
    std::uint16_t data_offset = 0;
    std::uint16_t data_length = 0;
    JKeyT _m_j_key_t;
    Key _m_key;
    Value _m_val;

    // Entry i of the node. Empty when its slot, its key or its value would
    // reach past the block (or past the tree information of a root node),
    // and when an inode or a file extent, the records the recovery reads,
    // does not lie whole in it.
    static std::optional<NodeEntry> read(platform::ByteView block, std::uint32_t iterationNo, std::uint16_t treeFlags,
                                         std::uint16_t tableSpaceLength, std::uint16_t btnLevel);

    const JKeyT& getJ_Key_t() const { return _m_j_key_t; }
    const Key& getObjectKey() const { return _m_key; }
    const Value& getObjectValue() const { return _m_val; }
    const JInodeValT* inode() const { return std::get_if<JInodeValT>(&_m_val); }
    JInodeValT* inode() { return std::get_if<JInodeValT>(&_m_val); }
    const JExtentValT* extent() const { return std::get_if<JExtentValT>(&_m_val); }

private:
    void key(platform::ByteView keyBody);
    bool val(platform::ByteView keyBody, platform::ByteView value, std::uint16_t btnLevel);
};
