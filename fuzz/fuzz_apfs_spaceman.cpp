// Reads the space manager of an APFS container made from the input, then
// asks the state of every block it claims, as the free-space searches do.
// The container is sparse: the input is a table of up to 16 block numbers
// (little-endian, 4 bytes each) and then the 4096-byte blocks they name, in
// the table's order; any other block cannot be read. A seed from a
// container mkapfs made (its superblock, checkpoint areas, space manager,
// free queues, bitmap and chunk-info block):
//
//   truncate -s 128M c.img && mkapfs c.img
//   python3 -c 'import struct,sys; b=[0,1,65,66,67,68,21016,21017]; d=open("c.img","rb").read();
//     sys.stdout.buffer.write(struct.pack("<16I",*(b+[0xFFFFFFFF]*8))+b"".join(d[n*4096:(n+1)*4096] for n in b))' >
//     seed

#include "fs/apfs/ApfsSpaceManager.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
constexpr std::size_t kBlock = 4096, kTable = 16;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4 * kTable) return 0;
    const platform::ByteView table(data, 4 * kTable);
    auto map = ApfsSpaceManager::read([&](std::uint64_t offset, std::size_t length, std::uint8_t* out) {
        if (offset % kBlock != 0 || length % kBlock != 0) return false;
        for (std::size_t done = 0; done < length; done += kBlock) {
            const std::uint64_t block = (offset + done) / kBlock;
            std::size_t k = 0;
            while (k < kTable && table.le32(4 * k) != block)
                ++k;
            const std::size_t at = 4 * kTable + k * kBlock;
            if (k == kTable || at + kBlock > size) return false;
            std::memcpy(out + done, data + at, kBlock);
        }
        return true;
    });
    if (!map) return 0;
    const std::uint64_t blocks = std::min<std::uint64_t>(map->blockCount(), 1u << 16);
    for (std::uint64_t b = 0; b < blocks; ++b)
        map->blockState(b);
    return 0;
}
