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
