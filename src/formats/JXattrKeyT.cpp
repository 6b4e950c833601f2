#include "formats/JXattrKeyT.h"

#include "formats/ApfsByteString.h"

std::optional<JXattrKeyT> JXattrKeyT::read(platform::ByteView b) {
    JXattrKeyT k;
    k.name_len = b.u8(0);
    if (!b.has(kNameAt, k.name_len)) return std::nullopt;
    k.name = apfsByteString(b.sub(kNameAt, k.name_len));
    return k;
}
