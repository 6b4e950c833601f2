#include "formats/JKeyT.h"

JKeyT JKeyT::read(platform::ByteView b) {
    JKeyT k;
    k.obj_id_and_type_low = b.le32(0);
    k.obj_id_and_type_high = b.le32(4);
    k._m_obj_id = (std::uint64_t{k.obj_id_and_type_high & 0x0FFFFFFF} << 32) | k.obj_id_and_type_low;
    k._m_obj_type = k.obj_id_and_type_high >> 28;
    return k;
}
