#include "formats/ObjPhys.h"

ObjPhys ObjPhys::read(platform::ByteView b) {
    ObjPhys h;
    h.o_cksum = b.le64(0);
    h.o_oid = OidT::read(b, 8);
    h.o_xid = XidT::read(b, 16);
    h.o_type = b.le16(24);
    h.o_flags = b.le16(26);
    h.o_subtype = b.le32(28);
    return h;
}

std::uint64_t ObjPhys::checksumOf(platform::ByteView object) {
    constexpr std::uint64_t kMod = 0xFFFFFFFF;
    std::uint64_t a = 0, b = 0;
    for (std::size_t at = 8; at + 4 <= object.size(); at += 4) {
        a = (a + object.le32(at)) % kMod;
        b = (b + a) % kMod;
    }
    const std::uint64_t c1 = kMod - (a + b) % kMod;
    const std::uint64_t c2 = kMod - (a + c1) % kMod;
    return (c2 << 32) | c1;
}
