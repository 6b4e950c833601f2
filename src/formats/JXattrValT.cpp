#include "formats/JXattrValT.h"

#include "formats/ApfsByteString.h"

std::optional<JXattrValT> JXattrValT::read(platform::ByteView b) {
    JXattrValT v;
    v.flags = b.le16(0);
    v.xdata_length = b.le16(2);
    if (!b.has(kDataAt, v.xdata_length)) return std::nullopt;
    const platform::ByteView data = b.sub(kDataAt, v.xdata_length);
    if (v.flags == kTextFlags)
        v.xdata = apfsByteString(data);
    else
        v.xdata = std::vector<std::uint8_t>(data.data(), data.data() + data.size());
    return v;
}
