#include "formats/JDrecKeyT.h"

#include "formats/ApfsByteString.h"

std::optional<JDrecKeyT> JDrecKeyT::read(platform::ByteView b) {
    JDrecKeyT k;
    k.name_len = b.u8(0);
    if (!b.has(kNameAt, k.name_len)) return std::nullopt;
    k.hash = {b.u8(1), b.u8(2), b.u8(3)};
    k.name = apfsByteString(b.sub(kNameAt, k.name_len));
    return k;
}
