#include "platform/Crc32.h"

#include <array>

namespace platform {

namespace {

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        t[0][i] = c;
    }
    // Table n: the byte followed by n zero bytes.
    for (std::size_t n = 1; n < t.size(); ++n)
        for (std::uint32_t i = 0; i < 256; ++i)
            t[n][i] = (t[n - 1][i] >> 8) ^ t[0][t[n - 1][i] & 0xFF];
    return t;
}

constexpr Tables kTables = makeTables();

} // namespace

std::uint32_t crc32(ByteView bytes, std::uint32_t crc) {
    crc = ~crc;
    const std::uint8_t* p = bytes.data();
    std::size_t left = bytes.size();
    for (; left >= 8; p += 8, left -= 8) {
        const std::uint32_t low = crc ^ (std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
                                         std::uint32_t{p[3]} << 24);
        crc = kTables[7][low & 0xFF] ^ kTables[6][low >> 8 & 0xFF] ^ kTables[5][low >> 16 & 0xFF] ^
              kTables[4][low >> 24] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    }
    for (; left != 0; ++p, --left)
        crc = (crc >> 8) ^ kTables[0][(crc ^ *p) & 0xFF];
    return ~crc;
}

} // namespace platform
