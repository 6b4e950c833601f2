// Runs the deleted-file scan of an HFS+ volume whose journal holds the
// input: the live-file pass, the search of the journal for copies of catalog
// leaf nodes, the orphan pass, the search for copies of extents-overflow
// leaf nodes and the putting in order of the extents found, then the
// clean-up, all through the scan thread as a mounted volume.
//
// The volume around the journal is fixed and sound, so the fuzzer's bytes go
// where the scan trusts least: a volume header (4096-byte blocks, 4 MiB)
// naming an empty extents B-tree, a catalog B-tree whose first leaf is the
// input's first node, and a journal info block; the journal, 256 KiB, holds
// the input. The first input byte chooses the catalog node size (bits 0-1:
// 512 << n), whether the journal info block's offset and size come from the
// next 16 bytes (bit 2; big-endian u64 each, so journals outside or across
// the volume's end are tried), the device sector size (bit 3: 4096, else
// 512) and which of the journal's 512-byte sectors cannot be read (bits 4-7:
// n, and every sector whose number is n - 1 modulo 16 fails; 0: none), so
// that node copies lose their descriptor, a record or their offset table.
// The bytes after those 17 are the journal.
//
// A seed: the journal of an image made by tests/support/HFSPlusImageBuilder
// with a deleted file of more than eight extents, behind a first byte of 3
// and 16 zero bytes.
//
// Build: see fuzz/run-all.sh.

#include "FailingSectors.h"
#include "FuzzImage.h"
#include "media/Sleep.h"
#include "platform/ByteView.h"
#include "scan/ScanThread.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::uint32_t kBlock = 4096;
constexpr std::uint32_t kBlocks = 1024;
constexpr std::uint32_t kExtentsStart = 2, kExtentsBlocks = 2;
constexpr std::uint32_t kCatalogStart = 4, kCatalogBlocks = 2;
constexpr std::uint32_t kInfoBlock = 6;
constexpr std::uint32_t kJournalStart = 7, kJournalBlocks = 64;
constexpr std::size_t kHeaderBytes = 17;

struct Image {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(std::size_t{kBlocks} * kBlock, 0);
    void u8(std::size_t at, std::uint8_t v) { bytes[at] = v; }
    void u16(std::size_t at, std::uint16_t v) {
        bytes[at] = static_cast<std::uint8_t>(v >> 8);
        bytes[at + 1] = static_cast<std::uint8_t>(v);
    }
    void u32(std::size_t at, std::uint32_t v) {
        u16(at, static_cast<std::uint16_t>(v >> 16));
        u16(at + 2, static_cast<std::uint16_t>(v));
    }
    void u64(std::size_t at, std::uint64_t v) {
        u32(at, static_cast<std::uint32_t>(v >> 32));
        u32(at + 4, static_cast<std::uint32_t>(v));
    }
    // A fork of one extent at `at` in the volume header.
    void fork(std::size_t at, std::uint32_t start, std::uint32_t blocks) {
        u64(at, std::uint64_t{blocks} * kBlock);
        u32(at + 12, blocks);
        u32(at + 16, start);
        u32(at + 20, blocks);
    }
    // Node 0 of a B-tree file: the header node with its header record.
    void headerNode(std::size_t at, std::uint16_t depth, std::uint32_t root, std::uint32_t firstLeaf,
                    std::uint16_t nodeSize, std::uint32_t totalNodes) {
        u8(at + 8, 1);   // kind: header
        u16(at + 10, 3); // records
        u16(at + 14, depth);
        u32(at + 16, root);
        u32(at + 20, firstLeaf ? 2 : 0); // leaf records
        u32(at + 24, firstLeaf);
        u32(at + 28, firstLeaf);
        u16(at + 32, nodeSize);
        u16(at + 34, 516);
        u32(at + 36, totalNodes);
        u32(at + 40, 0);
        u16(at + nodeSize - 2, 14);
    }
};

struct Harness {
    FuzzImage image{"fuzz-hfsplus-journal"};
    bool written = false;
    Image img; // the parts that never change are written once

    Harness() {
        // Every phase of a scan starts a keep-awake thread; let each one end
        // at once instead of sleeping out its 25 seconds.
        setKeepAwakeInterval(std::chrono::milliseconds(1));
    }
};

Harness& harness() {
    static Harness h;
    return h;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) return 0;
    Harness& h = harness();
    const platform::ByteView input(data, size);
    const std::uint8_t choice = input.u8(0);
    const auto catalogNodeSize = static_cast<std::uint16_t>(512u << (choice & 3));
    const std::uint32_t sectorSize = (choice & 8) ? 4096 : 512;

    Image& img = h.img;
    // Clear what the last input wrote: the catalog, the info block, the journal.
    const std::size_t from = h.written ? std::size_t{kCatalogStart} * kBlock : 0;
    const std::size_t to = h.written ? std::size_t{kJournalStart + kJournalBlocks} * kBlock : img.bytes.size();
    std::fill(img.bytes.begin() + static_cast<std::ptrdiff_t>(from),
              img.bytes.begin() + static_cast<std::ptrdiff_t>(to), 0);
    const std::size_t vh = 1024;
    img.u16(vh, 0x482B);
    img.u16(vh + 2, 4);
    img.u32(vh + 4, 0x2000); // journaled
    img.u32(vh + 12, kInfoBlock);
    img.u32(vh + 16, 0xD5000000u);
    img.u32(vh + 40, kBlock);
    img.u32(vh + 44, kBlocks);
    img.fork(vh + 192, kExtentsStart, kExtentsBlocks);
    img.fork(vh + 272, kCatalogStart, kCatalogBlocks);
    img.headerNode(std::size_t{kExtentsStart} * kBlock, 0, 0, 0, 4096, kExtentsBlocks);
    img.headerNode(std::size_t{kCatalogStart} * kBlock, 1, 1, 1, catalogNodeSize,
                   kCatalogBlocks * kBlock / catalogNodeSize);

    const std::size_t info = std::size_t{kInfoBlock} * kBlock;
    img.u32(info, 1); // journal in the file system
    if (choice & 4) {
        img.u64(info + 36, input.be64(1));
        img.u64(info + 44, input.be64(9));
    } else {
        img.u64(info + 36, std::uint64_t{kJournalStart} * kBlock);
        img.u64(info + 44, std::uint64_t{kJournalBlocks} * kBlock);
    }

    // The journal holds the input; the catalog's only leaf (node 1) holds
    // the input's first node, so the live-file pass meets it too.
    const platform::ByteView journal = input.sub(kHeaderBytes, std::size_t{kJournalBlocks} * kBlock);
    std::copy(journal.data(), journal.data() + journal.size(),
              img.bytes.begin() + static_cast<std::ptrdiff_t>(std::size_t{kJournalStart} * kBlock));
    const platform::ByteView leaf = journal.sub(0, catalogNodeSize);
    std::copy(leaf.data(), leaf.data() + leaf.size(),
              img.bytes.begin() + static_cast<std::ptrdiff_t>(std::size_t{kCatalogStart} * kBlock + catalogNodeSize));

    if (!h.image.writeAt(from, img.bytes.data() + from, to - from)) return 0;
    h.written = true;
    h.image.controller().clear();

    auto v = Volume::initWithDictionary(platform::Dict{{"WhetherVolume", true},
                                                       {"Path", h.image.path()},
                                                       {"Preferred Block Size", sectorSize},
                                                       {"Size", static_cast<unsigned long long>(img.bytes.size())},
                                                       {"Content", "Apple_HFS"},
                                                       {"Volume Name", "fuzz"},
                                                       {"device model", "-"},
                                                       {"device serial", "-"},
                                                       {"device revision", "-"}});
    if (!v) std::abort();
    FailingSectors unreadable;
    if (const unsigned n = choice >> 4; n != 0) {
        const std::uint64_t journalSector = std::uint64_t{kJournalStart} * kBlock / 512;
        for (std::uint64_t i = n - 1; i < std::uint64_t{kJournalBlocks} * kBlock / 512; i += 16)
            unreadable.fail(journalSector + i);
    }
    unreadable.failReadsOf(*v);
    ScanThread(v).scanForDeletedFiles(platform::Array{1, 0});
    v->freeTree();
    return 0;
}
