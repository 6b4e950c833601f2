#include "formats/JSiblingValT.h"

#include "formats/ApfsByteString.h"

std::optional<JSiblingValT> JSiblingValT::read(platform::ByteView b) {
    JSiblingValT v;
    v.parent_id = b.le64(0);
    v.name_len = b.le16(8);
    if (!b.has(kNameAt, v.name_len)) return std::nullopt;
    v.name = apfsByteString(b.sub(kNameAt, v.name_len));
    return v;
}
