#include "formats/Obj.h"

namespace {
// No flag, or exactly one of the storage kinds and the no-header flag.
bool plainFlags(std::uint16_t flags) {
    return flags == 0 || flags == 0x8000 || flags == 0x4000 || flags == 0x2000 || flags == 0x1000;
}
} // namespace

Obj Obj::read(platform::ByteView block) {
    Obj o;
    o.hdr = ObjPhys::read(block);
    const std::uint16_t type = o.hdr.getObjType();
    if (plainFlags(o.hdr.getFlags()) && (type == Btree || type == BtreeNode)) o.body = BtreeNodePhysT::read(block);
    return o;
}
