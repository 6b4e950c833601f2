#include "formats/JInodeValT.h"

namespace {
constexpr std::uint16_t kTypeMask = 0170000;
constexpr std::uint16_t kDirectory = 0040000;
} // namespace

std::optional<JInodeValT> JInodeValT::read(platform::ByteView b) {
    if (!b.has(0, kFixedBytes)) return std::nullopt;
    JInodeValT v;
    v.parent_id = b.le64(0);
    v.private_id = b.le64(8);
    v.create_time = b.le64(16);
    v.mod_time = b.le64(24);
    v.change_time = b.le64(32);
    v.access_time = b.le64(40);
    v.mode = b.le16(80);
    v.xfields = XfBlobT::read(b.sub(kFixedBytes));
    return v;
}

bool JInodeValT::isFolder() const {
    if (mode != 0) return (mode & kTypeMask) == kDirectory;
    return xfields.xf_num_exts == 1;
}
