// Reads the space manager of an APFS container made from the input (the
// input is the container's first bytes; a read past them fails), then asks
// the state of every block it claims, as the free-space searches do. Seeds:
// a container mkapfs made, cut after its chunk-info block (block 21017 of a
// 128 MiB one):
//
//   truncate -s 128M c.img && mkapfs c.img && head -c $((21018 * 4096)) c.img > seed

#include "fs/apfs/ApfsSpaceManager.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto map = ApfsSpaceManager::read([&](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
        if (offset > size || length > size - offset) return false;
        std::memcpy(out, data + offset, length);
        return true;
    });
    if (!map) return 0;
    const std::uint64_t blocks = std::min<std::uint64_t>(map->blockCount(), 1u << 16);
    for (std::uint64_t b = 0; b < blocks; ++b)
        map->blockState(b);
    return 0;
}
