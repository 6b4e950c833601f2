#include "platform/Crc32.h"

#include <algorithm>
#include <zlib.h>

namespace platform {

std::uint32_t crc32(ByteView bytes, std::uint32_t crc) {
    const std::uint8_t* at = bytes.data();
    uLong value = crc;
    // zlib takes its lengths as unsigned int.
    for (std::size_t left = bytes.size(); left != 0;) {
        const auto n = static_cast<uInt>(std::min<std::size_t>(left, std::size_t{1} << 30));
        value = ::crc32(value, at, n);
        at += n;
        left -= n;
    }
    return static_cast<std::uint32_t>(value);
}

} // namespace platform
