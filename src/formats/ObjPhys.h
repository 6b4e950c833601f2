#pragma once

// The 32-byte header every object of an APFS container begins with. The
// scans keep the checksum but never verify it: stale copies of nodes, whose
// records are what a recovery is after, are read whatever their state. The
// readers of the container's own structures (its superblocks, the space
// manager) take only objects whose checksum holds.

#include "formats/OidT.h"
#include "formats/XidT.h"
#include "platform/ByteView.h"

#include <cstdint>

// Blocks of the container, in bytes: every offset in a node assumes it.
inline constexpr std::size_t kApfsBlockBytes = 4096;

struct ObjPhys {
    std::uint64_t o_cksum = 0;
    OidT o_oid;
    XidT o_xid;
    // The low and high halves of the 32-bit type field.
    std::uint16_t o_type = 0;
    std::uint16_t o_flags = 0;
    std::uint32_t o_subtype = 0;

    static ObjPhys read(platform::ByteView block);
    // The Fletcher-64 checksum an object header begins with, over the rest
    // of the object.
    static std::uint64_t checksumOf(platform::ByteView object);
    static bool checksumHolds(platform::ByteView object) {
        return object.size() > 8 && object.le64(0) == checksumOf(object);
    }

    std::uint16_t getObjType() const { return o_type; }
    std::uint16_t getFlags() const { return o_flags; }
    std::uint16_t getSubType() const { return static_cast<std::uint16_t>(o_subtype); }
};
