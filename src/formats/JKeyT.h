#pragma once

// The header every key of an APFS file-system tree begins with: a 64-bit word of
// which the top 4 bits are the record type and the rest the object id.

#include "platform/ByteView.h"

#include <cstdint>

struct JKeyT {
    // Record types, which choose the classes of a key and its value.
    enum : std::uint32_t {
        PhysicalExtent = 2,
        Inode = 3,
        ExtendedAttribute = 4,
        SiblingLink = 5,
        DataStreamId = 6,
        FileExtent = 8,
        DirectoryRecord = 9,
        SiblingMap = 12
    };

    std::uint32_t obj_id_and_type_low = 0;
    std::uint32_t obj_id_and_type_high = 0;
    std::uint64_t _m_obj_id = 0;
    std::uint32_t _m_obj_type = 0;

    static JKeyT read(platform::ByteView bytes);

    std::uint64_t getObj_id() const { return _m_obj_id; }
    std::uint32_t getObj_type() const { return _m_obj_type; }
    // What the recovery's tables are keyed by.
    std::uint32_t lowId() const { return static_cast<std::uint32_t>(_m_obj_id); }
};
