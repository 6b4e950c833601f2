#include "formats/XfBlobT.h"

#include <algorithm>

XfBlobT XfBlobT::read(platform::ByteView b) {
    XfBlobT blob;
    blob.xf_num_exts = b.le16(0);
    blob.xf_used_data = b.le16(2);
    // The count bounds nothing by itself: a field is taken only where its
    // header and value lie in the view, and the walk ends at the first that
    // does not.
    std::size_t value = 4 + std::size_t{4} * blob.xf_num_exts;
    // Inodes carry a handful of fields; a count read from a damaged record
    // must not size the list.
    blob.xf.reserve(std::min<std::size_t>(blob.xf_num_exts, kReservedFields));
    for (std::size_t i = 0; i < blob.xf_num_exts; ++i) {
        const std::size_t header = 4 + 4 * i;
        if (!b.has(header, 4)) break;
        XFieldT f;
        f.x_type = b.u8(header);
        f.x_flags = b.u8(header + 1);
        f.x_size = b.le16(header + 2);
        const std::size_t padded = (std::size_t{f.x_size} + 7) / 8 * 8;
        if (f.x_size <= kMaxParsedSize) {
            if (!b.has(value, f.x_size)) break;
            const platform::ByteView v = b.sub(value, f.x_size);
            if (f.x_type == Name)
                f.name = XfName::read(v);
            else if (f.x_type == DataStream)
                f.dataStream = XfSize::read(v);
        }
        blob.xf.push_back(std::move(f));
        value += padded;
    }
    return blob;
}
