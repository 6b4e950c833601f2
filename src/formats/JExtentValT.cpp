#include "formats/JExtentValT.h"

std::optional<JExtentValT> JExtentValT::read(platform::ByteView keyBody, platform::ByteView value) {
    if (!keyBody.has(0, kKeyBytes) || !value.has(0, kValueBytes)) return std::nullopt;
    JExtentValT e;
    e.offset = keyBody.le64(0);
    e.len = value.le64(0) & 0x00FFFFFFFFFFFFFFull;
    e.phys_block_num = value.le64(8);
    e.flags = value.le64(16);
    return e;
}
