#include "support/HFSPlusImageBuilder.h"

#include "platform/TextEncoding.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace testsupport {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every on-disk integer goes through here, field by field at its offset:
// big-endian for the volume, either order for the journal's own headers.
class Writer {
public:
    explicit Writer(Bytes& bytes, std::size_t base = 0, bool little = false)
        : bytes_(bytes), base_(base), little_(little) {}
    void u8(std::size_t off, std::uint8_t v) { *at(off, 1) = v; }
    void u16(std::size_t off, std::uint16_t v) { put(off, v, 2); }
    void u32(std::size_t off, std::uint32_t v) { put(off, v, 4); }
    void u64(std::size_t off, std::uint64_t v) { put(off, v, 8); }
    void s8(std::size_t off, std::int8_t v) { u8(off, static_cast<std::uint8_t>(v)); }
    void s16(std::size_t off, std::int16_t v) { u16(off, static_cast<std::uint16_t>(v)); }
    void raw(std::size_t off, const std::uint8_t* p, std::size_t n) {
        if (n != 0) std::copy(p, p + n, at(off, n));
    }
    void raw(std::size_t off, const Bytes& b) { raw(off, b.data(), b.size()); }

private:
    std::uint8_t* at(std::size_t off, std::size_t n) {
        if (base_ + off + n > bytes_.size()) throw std::out_of_range("HFS+ builder: write past the buffer");
        return bytes_.data() + base_ + off;
    }
    void put(std::size_t off, std::uint64_t v, std::size_t n) {
        std::uint8_t* p = at(off, n);
        for (std::size_t i = 0; i < n; ++i)
            p[little_ ? i : n - 1 - i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    Bytes& bytes_;
    std::size_t base_;
    bool little_;
};

[[noreturn]] void fail(const std::string& why) {
    throw std::runtime_error("HFS+ builder: " + why);
}

bool powerOfTwo(std::uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

// Case folding for key order: ASCII and Latin-1 letters, which is all the
// test names use; the rest compares by unit.
char16_t foldCase(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    return c;
}

// The published journal checksum.
std::uint32_t journalChecksum(const std::uint8_t* p, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum = (sum << 8) ^ (sum + p[i]);
    return ~sum;
}

constexpr std::uint16_t kThreadExistsFlag = 0x0002;
constexpr std::uint32_t kVolumeUnmounted = 0x0100;
constexpr std::uint32_t kVolumeJournaled = 0x2000;
constexpr std::uint32_t kMountedVersionPlain = 0x31302E30;     // "10.0"
constexpr std::uint32_t kMountedVersionJournaled = 0x4846534A; // "HFSJ"
constexpr std::uint32_t kJournalMagic = 0x4A4E4C78;            // "JNLx"
constexpr std::uint32_t kJournalEndian = 0x12345678;
constexpr std::uint32_t kJournalInFileSystem = 1;
constexpr std::uint8_t kCaseFoldingCompare = 0xCF;
constexpr std::uint8_t kBinaryCompare = 0xBC;
constexpr std::uint32_t kBigKeys = 2;
constexpr std::uint32_t kVariableIndexKeys = 4;
constexpr std::uint32_t kPadExtentsFileID = 0xFFFFFF00u;
// Dates of every entry (HFS+ seconds since 1904; never 0, which the readers
// take as a damaged record).
constexpr std::uint32_t kDate = 0xD5000000u;
constexpr std::uint32_t kJournalBlockListSize = 4096;
constexpr std::uint16_t kWrapperAllocationStart = 8;
constexpr std::uint32_t kWrapperBlockSize = 4096;
constexpr std::uint16_t kWrapperEmbedStartBlock = 1;

// A node of a B-tree: descriptor, records from byte 14 on, and the offset
// table (record offsets and the free-space offset) at the end.
Bytes encodeNode(const std::vector<Bytes>& records, std::uint32_t nodeSize, std::int8_t kind, std::uint8_t height,
                 std::uint32_t fLink, std::uint32_t bLink) {
    std::size_t used = hfsplus::kBTNodeDescriptorSize + 2 * (records.size() + 1);
    for (const auto& r : records)
        used += r.size();
    if (used > nodeSize) fail("records do not fit in one node of " + std::to_string(nodeSize) + " bytes");
    Bytes node(nodeSize, 0);
    Writer w(node);
    w.u32(0, fLink);
    w.u32(4, bLink);
    w.s8(8, kind);
    w.u8(9, height);
    w.u16(10, static_cast<std::uint16_t>(records.size()));
    w.u16(12, 0);
    std::size_t off = hfsplus::kBTNodeDescriptorSize;
    for (std::size_t i = 0; i < records.size(); ++i) {
        w.raw(off, records[i]);
        w.u16(nodeSize - 2 * (i + 1), static_cast<std::uint16_t>(off));
        off += records[i].size();
    }
    w.u16(nodeSize - 2 * (records.size() + 1), static_cast<std::uint16_t>(off));
    return node;
}

bool fitsInNode(std::size_t count, std::size_t bytes, std::uint32_t nodeSize) {
    return hfsplus::kBTNodeDescriptorSize + bytes + 2 * (count + 1) <= nodeSize;
}

// Greedy packing of records into nodes, in order.
std::vector<std::vector<Bytes>> packRecords(const std::vector<Bytes>& records, std::uint32_t nodeSize,
                                            std::uint32_t maxPerNode) {
    std::vector<std::vector<Bytes>> nodes;
    std::vector<Bytes> current;
    std::size_t bytes = 0;
    for (const auto& r : records) {
        if (!fitsInNode(1, r.size(), nodeSize)) fail("a record is larger than a node");
        const bool full = (maxPerNode != 0 && current.size() >= maxPerNode) ||
                          !fitsInNode(current.size() + 1, bytes + r.size(), nodeSize);
        if (full && !current.empty()) {
            nodes.push_back(std::move(current));
            current.clear();
            bytes = 0;
        }
        current.push_back(r);
        bytes += r.size();
    }
    if (!current.empty()) nodes.push_back(std::move(current));
    return nodes;
}

// A whole B-tree but its header node: leaves numbered from 1, then each
// index level above them.
struct TreeNodes {
    std::vector<Bytes> nodes; // by node number; node 0 is left for the header
    std::uint32_t depth = 0;
    std::uint32_t root = 0;
    std::uint32_t leafRecords = 0;
    std::vector<std::uint32_t> leaves;
};

TreeNodes buildTree(const std::vector<Bytes>& sortedRecords, std::uint32_t nodeSize, std::uint32_t maxPerLeaf,
                    const std::function<Bytes(const Bytes&)>& keyOf) {
    TreeNodes t;
    t.nodes.emplace_back(); // header
    t.leafRecords = static_cast<std::uint32_t>(sortedRecords.size());
    if (sortedRecords.empty()) return t;

    struct Child {
        std::uint32_t node;
        Bytes key;
    };
    auto makeLevel = [&](const std::vector<std::vector<Bytes>>& groups, std::int8_t kind, std::uint8_t height,
                         std::vector<Bytes> firstKeys) {
        std::vector<Child> level;
        const auto first = static_cast<std::uint32_t>(t.nodes.size());
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const std::uint32_t number = first + static_cast<std::uint32_t>(i);
            const std::uint32_t f = i + 1 < groups.size() ? number + 1 : 0;
            const std::uint32_t b = i > 0 ? number - 1 : 0;
            t.nodes.push_back(encodeNode(groups[i], nodeSize, kind, height, f, b));
            level.push_back({number, std::move(firstKeys[i])});
        }
        return level;
    };

    const auto leafGroups = packRecords(sortedRecords, nodeSize, maxPerLeaf);
    std::vector<Bytes> keys;
    for (const auto& g : leafGroups)
        keys.push_back(keyOf(g.front()));
    std::vector<Child> level = makeLevel(leafGroups, hfsplus::kLeafNode, 1, keys);
    for (const auto& c : level)
        t.leaves.push_back(c.node);
    std::uint8_t height = 1;
    while (level.size() > 1) {
        std::vector<Bytes> indexRecords;
        for (const auto& c : level) {
            Bytes r = c.key;
            const std::size_t at = r.size();
            r.resize(at + 4);
            Writer(r).u32(at, c.node);
            indexRecords.push_back(std::move(r));
        }
        const auto groups = packRecords(indexRecords, nodeSize, 0);
        if (groups.size() >= level.size()) fail("index records too large to build an index level");
        std::vector<Bytes> firstKeys;
        std::size_t k = 0;
        for (const auto& g : groups) {
            firstKeys.push_back(level[k].key);
            k += g.size();
        }
        ++height;
        level = makeLevel(groups, hfsplus::kIndexNode, height, firstKeys);
    }
    t.depth = height;
    t.root = level.front().node;
    return t;
}

struct HeaderFields {
    std::uint32_t depth = 0, root = 0, leafRecords = 0, firstLeaf = 0, lastLeaf = 0;
    std::uint16_t maxKeyLength = 0;
    std::uint32_t totalNodes = 0, freeNodes = 0, clumpSize = 0;
    std::uint8_t compareType = 0;
    std::uint32_t attributes = 0;
};

// Node 0: header record, user data record, map record.
Bytes encodeHeaderNode(std::uint32_t nodeSize, const HeaderFields& h, const std::vector<bool>& usedNodes) {
    const std::size_t mapBytes = nodeSize - 256;
    if (h.totalNodes > mapBytes * 8) fail("B-tree too large for the header node's map (no map nodes are written)");
    Bytes header(hfsplus::kBTHeaderRecordSize, 0);
    Writer w(header);
    w.u16(0, static_cast<std::uint16_t>(h.depth));
    w.u32(2, h.root);
    w.u32(6, h.leafRecords);
    w.u32(10, h.firstLeaf);
    w.u32(14, h.lastLeaf);
    w.u16(18, static_cast<std::uint16_t>(nodeSize));
    w.u16(20, h.maxKeyLength);
    w.u32(22, h.totalNodes);
    w.u32(26, h.freeNodes);
    w.u32(32, h.clumpSize);
    w.u8(36, 0); // HFS B-tree type
    w.u8(37, h.compareType);
    w.u32(38, h.attributes);
    Bytes userData(128, 0);
    Bytes map(mapBytes, 0);
    for (std::size_t i = 0; i < usedNodes.size() && i < mapBytes * 8; ++i)
        if (usedNodes[i]) map[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    return encodeNode({header, userData, map}, nodeSize, hfsplus::kHeaderNode, 0, 0, 0);
}

Bytes encodeExtentsRecord(const HFSExtentsRecord& r) {
    Bytes out(hfsplus::kExtentLeafRecordSize, 0);
    Writer w(out);
    w.u16(0, hfsplus::kExtentKeyLength);
    w.u8(2, r.forkType);
    w.u8(3, 0);
    w.u32(4, r.fileID);
    w.u32(8, r.startBlock);
    for (std::size_t i = 0; i < r.extents.size() && i < hfsplus::kExtentsPerRecord; ++i) {
        w.u32(12 + 8 * i, r.extents[i].startBlock);
        w.u32(16 + 8 * i, r.extents[i].blockCount);
    }
    return out;
}

bool extentsKeyLess(const HFSExtentsRecord& a, const HFSExtentsRecord& b) {
    if (a.fileID != b.fileID) return a.fileID < b.fileID;
    if (a.forkType != b.forkType) return a.forkType < b.forkType;
    return a.startBlock < b.startBlock;
}

void writeFork(Writer& w, std::size_t off, const HFSForkSpec& f) {
    w.u64(off, f.logicalSize);
    w.u32(off + 8, f.clumpSize);
    w.u32(off + 12, f.totalBlocks);
    for (std::size_t i = 0; i < f.extents.size() && i < hfsplus::kExtentsPerRecord; ++i) {
        w.u32(off + 16 + 8 * i, f.extents[i].startBlock);
        w.u32(off + 20 + 8 * i, f.extents[i].blockCount);
    }
}

HFSForkSpec specialFork(const std::vector<HFSExtent>& extents, std::uint32_t blockSize) {
    HFSForkSpec f;
    for (const auto& e : extents)
        f.totalBlocks += e.blockCount;
    f.logicalSize = std::uint64_t{f.totalBlocks} * blockSize;
    f.clumpSize = static_cast<std::uint32_t>(std::min<std::uint64_t>(f.logicalSize, 0xFFFFFFFFu));
    f.extents = extents;
    return f;
}

std::vector<HFSExtentsRecord> overflowOf(std::uint8_t forkType, std::uint32_t fileID,
                                         const std::vector<HFSExtent>& extents) {
    std::vector<HFSExtentsRecord> out;
    std::uint32_t covered = 0;
    for (std::size_t i = 0; i < extents.size(); ++i) {
        if (i >= hfsplus::kExtentsPerRecord && (i % hfsplus::kExtentsPerRecord) == 0)
            out.push_back({forkType, fileID, covered, {}});
        if (i >= hfsplus::kExtentsPerRecord) out.back().extents.push_back(extents[i]);
        covered += extents[i].blockCount;
    }
    return out;
}

// Byte offset of a node from the volume's start, by its file's extents; 0
// when the node lies beyond them.
std::uint64_t nodeOffsetIn(const std::vector<HFSExtent>& extents, std::uint32_t blockSize, std::uint32_t nodeSize,
                           std::uint32_t node) {
    std::uint64_t rest = std::uint64_t{node} * nodeSize;
    for (const auto& e : extents) {
        const std::uint64_t bytes = std::uint64_t{e.blockCount} * blockSize;
        if (rest < bytes) return std::uint64_t{e.startBlock} * blockSize + rest;
        rest -= bytes;
    }
    return 0;
}

// One catalog leaf record (key and data) as written in a node.
Bytes encodeCatalogRecord(const HFSCatalogRecord& r) {
    const std::u16string& name = r.keyName.units;
    const std::uint16_t storedLength = r.storedNameLength.value_or(static_cast<std::uint16_t>(name.size()));
    const std::size_t written = std::min<std::size_t>(storedLength, name.size());
    const std::size_t keyLength = 6 + 2 * written;
    std::size_t dataSize = hfsplus::kCatalogFolderSize;
    if (r.type == hfsplus::kFileRecord) dataSize = hfsplus::kCatalogFileSize;
    if (r.type == hfsplus::kFolderThreadRecord || r.type == hfsplus::kFileThreadRecord)
        dataSize = hfsplus::kCatalogThreadNameOffset + 2 * r.threadName.units.size();
    Bytes out(2 + keyLength + dataSize, 0);
    Writer w(out);
    w.u16(0, static_cast<std::uint16_t>(keyLength));
    w.u32(2, r.keyParentID);
    w.u16(6, storedLength);
    for (std::size_t i = 0; i < written; ++i)
        w.u16(8 + 2 * i, name[i]);

    Writer d(out, 2 + keyLength);
    d.s16(0, r.type);
    if (r.type == hfsplus::kFolderThreadRecord || r.type == hfsplus::kFileThreadRecord) {
        d.u32(4, r.threadParentID);
        d.u16(8, static_cast<std::uint16_t>(r.threadName.units.size()));
        for (std::size_t i = 0; i < r.threadName.units.size(); ++i)
            d.u16(10 + 2 * i, r.threadName.units[i]);
        return out;
    }
    d.u16(2, r.flags);
    if (r.type != hfsplus::kFileRecord) d.u32(4, r.valence); // the file record's word at 4 is reserved
    d.u32(8, r.id);
    d.u32(12, r.createDate);
    d.u32(16, r.contentModDate);
    d.u32(20, r.attributeModDate);
    d.u32(24, r.accessDate);
    d.u32(28, r.backupDate);
    d.u32(32, r.ownerID);
    d.u32(36, r.groupID);
    d.u16(42, r.fileMode);
    d.raw(48, r.finderInfo.data(), r.finderInfo.size());
    if (r.type == hfsplus::kFileRecord) {
        writeFork(d, hfsplus::kCatalogFileDataForkOffset, r.dataFork);
        writeFork(d, hfsplus::kCatalogFileResourceForkOffset, r.resourceFork);
    }
    return out;
}
// Key order of the catalog: parent ID, then the name compared with ASCII
// case folding (HFS+) or by units (HFSX).
bool catalogKeyLess(const HFSCatalogRecord& a, const HFSCatalogRecord& b, bool binary) {
    const std::u16string& nameA = a.keyName.units;
    const std::u16string& nameB = b.keyName.units;
    if (a.keyParentID != b.keyParentID) return a.keyParentID < b.keyParentID;
    const std::size_t n = std::min(nameA.size(), nameB.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t ca = binary ? nameA[i] : foldCase(nameA[i]);
        const char16_t cb = binary ? nameB[i] : foldCase(nameB[i]);
        if (ca != cb) return ca < cb;
    }
    return nameA.size() < nameB.size();
}

} // namespace

// ------------------------------------------------------------- names ----

HFSName::HFSName(const char* utf8) : units(platform::utf16FromUtf8(utf8 ? utf8 : "")) {}
HFSName::HFSName(const std::string& utf8) : units(platform::utf16FromUtf8(utf8)) {}
std::string HFSName::utf8() const {
    return platform::utf8FromUtf16(units);
}

// ------------------------------------------------------- construction ----

HFSPlusImageBuilder::HFSPlusImageBuilder(HFSPlusImageOptions options) : options_(std::move(options)) {
    const auto& o = options_;
    const std::uint32_t bs = o.blockSize;
    if (!powerOfTwo(o.sectorSize) || o.sectorSize < 512) throw std::invalid_argument("HFS+ builder: sector size");
    if (!powerOfTwo(bs) || bs < 512) throw std::invalid_argument("HFS+ builder: block size");
    for (std::uint32_t n : {o.catalogNodeSize, o.extentsNodeSize})
        if (!powerOfTwo(n) || n < 512 || n > 32768) throw std::invalid_argument("HFS+ builder: node size");
    if (o.totalSize == 0 || o.totalSize % bs != 0 || o.totalSize / bs > 0xFFFFFFFFu)
        throw std::invalid_argument("HFS+ builder: total size must be a multiple of the block size");
    if (o.journaled && (o.journalSize == 0 || o.journalSize % bs != 0))
        throw std::invalid_argument("HFS+ builder: journal size must be a multiple of the block size");
    if (o.diskOffset % o.sectorSize != 0) throw std::invalid_argument("HFS+ builder: disk offset");
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper && o.totalSize % kWrapperBlockSize != 0)
        throw std::invalid_argument("HFS+ builder: the wrapper's block size must divide the volume size");

    totalBlocks_ = static_cast<std::uint32_t>(o.totalSize / bs);
    volume_.assign(o.totalSize, 0);
    used_.assign(totalBlocks_, false);
    layout_.sectorSize = o.sectorSize;
    layout_.blockSize = bs;
    layout_.volumeSize = o.totalSize;
    layout_.containerOffset = layout_.volumeOffset = o.diskOffset;
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper)
        layout_.volumeOffset +=
            std::uint64_t{kWrapperAllocationStart} * 512 + kWrapperEmbedStartBlock * kWrapperBlockSize;

    // The tail holding the alternate header, the boot blocks and the volume
    // header, then the special files.
    dataLimit_ = static_cast<std::uint32_t>((o.totalSize - 1024) / bs);
    for (std::uint32_t b = dataLimit_; b < totalBlocks_; ++b)
        used_[b] = true;
    allocateContiguous(static_cast<std::uint32_t>(ceilDiv(1536, bs)), true);
    const auto bitmapBlocks = static_cast<std::uint32_t>(ceilDiv(ceilDiv(totalBlocks_, 8), bs));
    layout_.allocationFile = {{allocateContiguous(bitmapBlocks, true), bitmapBlocks}};
    const auto extentBlocks = static_cast<std::uint32_t>(ceilDiv(std::uint64_t{16} * o.extentsNodeSize, bs));
    layout_.extentsFile = {{allocateContiguous(extentBlocks, true), extentBlocks}};
    layout_.extentsTotalNodes = static_cast<std::uint32_t>(std::uint64_t{extentBlocks} * bs / o.extentsNodeSize);
    // As many catalog nodes as 256 KiB holds, at least 32, in whole nodes.
    const std::uint32_t catalogNodes = std::max<std::uint32_t>(32, (256u << 10) / o.catalogNodeSize);
    const std::uint32_t unit = std::max<std::uint32_t>(1, o.catalogNodeSize / bs);
    const auto catalogBlocks =
        static_cast<std::uint32_t>(ceilDiv(ceilDiv(std::uint64_t{catalogNodes} * o.catalogNodeSize, bs), unit) * unit);
    layout_.catalogFile = {{allocateContiguous(catalogBlocks, true), catalogBlocks}};
    layout_.catalogNodeSize = o.catalogNodeSize;
    layout_.catalogTotalNodes = static_cast<std::uint32_t>(std::uint64_t{catalogBlocks} * bs / o.catalogNodeSize);
    if (o.journaled) {
        journalInfoBlock_ = allocateContiguous(1, true);
        journalStartBlock_ = allocateContiguous(static_cast<std::uint32_t>(o.journalSize / bs), true);
    }
}

std::uint32_t HFSPlusImageBuilder::allocateContiguous(std::uint32_t blocks, bool used) {
    if (std::uint64_t{cursor_} + blocks > dataLimit_)
        fail("volume full: raise totalSize (" + std::to_string(blocks) + " blocks wanted at block " +
             std::to_string(cursor_) + " of " + std::to_string(dataLimit_) + ")");
    const std::uint32_t start = cursor_;
    for (std::uint32_t i = 0; i < blocks; ++i)
        used_[start + i] = used;
    cursor_ += blocks;
    return start;
}

std::vector<HFSExtent> HFSPlusImageBuilder::allocateRuns(std::uint32_t blocks, std::uint32_t runs, bool used) {
    std::vector<HFSExtent> out;
    if (blocks == 0) return out;
    runs = std::max<std::uint32_t>(runs, 1);
    if (runs > blocks)
        fail("cannot cut " + std::to_string(blocks) + " blocks into " + std::to_string(runs) + " extents");
    for (std::uint32_t i = 0; i < runs; ++i) {
        const std::uint32_t size = blocks / runs + (i < blocks % runs ? 1 : 0);
        out.push_back({allocateContiguous(size, used), size});
        // A free block between runs keeps them from being one extent.
        if (i + 1 < runs) allocateContiguous(1, false);
    }
    return out;
}

// ------------------------------------------------------------ entries ----

std::uint32_t HFSPlusImageBuilder::newID(std::uint32_t id) {
    if (id == 0) id = nextID_;
    if (entryIndex_.count(id) != 0 || id == kRoot) fail("entry ID " + std::to_string(id) + " used twice");
    if (id >= nextID_) nextID_ = id + 1;
    return id;
}

HFSPlusImageBuilder::Entry& HFSPlusImageBuilder::makeEntry(std::uint32_t id, std::uint32_t parentID,
                                                           const HFSName& name, Kind kind, bool live) {
    Entry e;
    e.id = newID(id);
    e.parentID = parentID;
    e.name = name;
    e.kind = kind;
    e.live = live;
    e.deleted = !live;
    entryIndex_[e.id] = entries_.size();
    entries_.push_back(std::move(e));
    return entries_.back();
}

void HFSPlusImageBuilder::writeForkData(const std::vector<HFSExtent>& extents, const Bytes& data) {
    std::size_t done = 0;
    for (const auto& x : extents) {
        const std::size_t n = std::min<std::size_t>(data.size() - done, std::size_t{x.blockCount} * options_.blockSize);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(done), n,
                    volume_.begin() + static_cast<std::ptrdiff_t>(std::uint64_t{x.startBlock} * options_.blockSize));
        done += n;
    }
}

std::uint32_t HFSPlusImageBuilder::addFolder(std::uint32_t parentID, const HFSName& name) {
    return addFolderWithID(0, parentID, name);
}

std::uint32_t HFSPlusImageBuilder::addFolderWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name) {
    return makeEntry(id, parentID, name, Kind::Folder, true).id;
}

std::uint32_t HFSPlusImageBuilder::addFile(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                                           const HFSFileOptions& options) {
    return addFileEntry(0, parentID, name, std::move(data), options, true);
}

std::uint32_t HFSPlusImageBuilder::addFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                 std::vector<std::uint8_t> data, const HFSFileOptions& options) {
    return addFileEntry(id, parentID, name, std::move(data), options, true);
}

std::uint32_t HFSPlusImageBuilder::addFileEntry(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                std::vector<std::uint8_t> data, const HFSFileOptions& options,
                                                bool live) {
    if (id != 0 && (entryIndex_.count(id) != 0 || id == kRoot)) fail("entry ID " + std::to_string(id) + " used twice");
    const std::uint32_t bs = options_.blockSize;
    Entry probe;
    probe.data = std::move(data);
    probe.resource = options.resourceFork;
    probe.size = probe.data.size();
    probe.dataTotalBlocks = static_cast<std::uint32_t>(ceilDiv(probe.data.size(), bs));
    probe.resourceTotalBlocks = static_cast<std::uint32_t>(ceilDiv(probe.resource.size(), bs));
    // A request that does not fit leaves the volume as it was.
    const std::uint32_t cursor = cursor_;
    try {
        probe.dataExtents = allocateRuns(probe.dataTotalBlocks, options.extentCount, live);
        probe.resourceExtents = allocateRuns(probe.resourceTotalBlocks, options.resourceExtentCount, live);
    } catch (...) {
        for (std::uint32_t b = cursor; b < cursor_; ++b)
            used_[b] = false;
        cursor_ = cursor;
        throw;
    }
    writeForkData(probe.dataExtents, probe.data);
    writeForkData(probe.resourceExtents, probe.resource);
    Entry& e = makeEntry(id, parentID, name, Kind::File, live);
    probe.id = e.id;
    probe.parentID = e.parentID;
    probe.name = e.name;
    probe.kind = e.kind;
    probe.live = e.live;
    probe.deleted = e.deleted;
    e = std::move(probe);
    return e.id;
}

std::uint32_t HFSPlusImageBuilder::addDeletedFolder(std::uint32_t parentID, const HFSName& name) {
    return addDeletedFolderWithID(0, parentID, name);
}

std::uint32_t HFSPlusImageBuilder::addDeletedFolderWithID(std::uint32_t id, std::uint32_t parentID,
                                                          const HFSName& name) {
    return makeEntry(id, parentID, name, Kind::Folder, false).id;
}

std::uint32_t HFSPlusImageBuilder::addDeletedFile(std::uint32_t parentID, const HFSName& name,
                                                  std::vector<std::uint8_t> data, const HFSFileOptions& options) {
    return addFileEntry(0, parentID, name, std::move(data), options, false);
}

std::uint32_t HFSPlusImageBuilder::addDeletedFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                        std::vector<std::uint8_t> data, const HFSFileOptions& options) {
    return addFileEntry(id, parentID, name, std::move(data), options, false);
}

const HFSPlusImageBuilder::Entry& HFSPlusImageBuilder::existingEntry(std::uint32_t id) const {
    const Entry* e = entry(id);
    if (!e) fail("no entry with ID " + std::to_string(id));
    return *e;
}

const HFSPlusImageBuilder::Entry* HFSPlusImageBuilder::entry(std::uint32_t id) const {
    const auto it = entryIndex_.find(id);
    return it == entryIndex_.end() ? nullptr : &entries_[it->second];
}

// ------------------------------------------------------------ records ----

std::uint32_t HFSPlusImageBuilder::valenceOf(std::uint32_t id, bool live) const {
    std::uint32_t n = 0;
    for (const auto& e : entries_)
        if (e.parentID == id && e.live == live) ++n;
    return n;
}

HFSCatalogRecord HFSPlusImageBuilder::recordOf(std::uint32_t id) const {
    const Entry& e = existingEntry(id);
    HFSCatalogRecord r;
    r.type = e.kind == Kind::Folder ? hfsplus::kFolderRecord : hfsplus::kFileRecord;
    r.keyParentID = e.parentID;
    r.keyName = e.name;
    r.id = e.id;
    r.createDate = r.contentModDate = r.attributeModDate = r.accessDate = kDate;
    r.ownerID = 501;
    r.groupID = 20;
    if (e.kind == Kind::Folder) {
        r.fileMode = 0040755;
        r.valence = valenceOf(id, e.live);
    } else {
        r.fileMode = 0100644;
        r.flags = kThreadExistsFlag;
        r.dataFork = {e.data.size(), 0, e.dataTotalBlocks, e.dataExtents};
        r.resourceFork = {e.resource.size(), 0, e.resourceTotalBlocks, e.resourceExtents};
    }
    return r;
}

std::vector<HFSExtentsRecord> HFSPlusImageBuilder::overflowRecordsOf(std::uint32_t id) const {
    const Entry& e = existingEntry(id);
    auto out = overflowOf(hfsplus::kDataFork, id, e.dataExtents);
    const auto rsrc = overflowOf(hfsplus::kResourceFork, id, e.resourceExtents);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
    return out;
}

std::vector<std::uint8_t> HFSPlusImageBuilder::encodeCatalogLeafNode(const std::vector<HFSCatalogRecord>& records,
                                                                     std::uint32_t nodeSize, std::uint32_t fLink,
                                                                     std::uint32_t bLink) {
    std::vector<Bytes> encoded;
    for (const auto& r : records)
        encoded.push_back(encodeCatalogRecord(r));
    return encodeNode(encoded, nodeSize, hfsplus::kLeafNode, 1, fLink, bLink);
}

// ------------------------------------------------------------ journal ----

std::uint32_t HFSPlusImageBuilder::addDeletedFileInJournal(std::uint32_t parentID, const HFSName& name,
                                                           std::vector<std::uint8_t> data, std::uint32_t extentCount) {
    HFSFileOptions options;
    options.extentCount = extentCount;
    const std::uint32_t id = addDeletedFile(parentID, name, std::move(data), options);
    addJournalCopyOf(id);
    return id;
}

void HFSPlusImageBuilder::addJournalCopyOf(std::uint32_t id, bool withOverflowRecords) {
    addJournalRecords({recordOf(id)});
    if (withOverflowRecords) addJournalExtentsRecords(overflowRecordsOf(id));
}

void HFSPlusImageBuilder::addJournalRecords(const std::vector<HFSCatalogRecord>& records) {
    if (journalCatalogRecords_.empty()) endJournalTransaction();
    auto& cat = journalCatalogRecords_.back();
    cat.insert(cat.end(), records.begin(), records.end());
}

void HFSPlusImageBuilder::addJournalExtentsRecords(const std::vector<HFSExtentsRecord>& records) {
    if (journalCatalogRecords_.empty()) endJournalTransaction();
    auto& ext = journalExtentsRecords_.back();
    ext.insert(ext.end(), records.begin(), records.end());
}

void HFSPlusImageBuilder::endJournalTransaction() {
    if (!journalCatalogRecords_.empty() && journalCatalogRecords_.back().empty() &&
        journalExtentsRecords_.back().empty())
        return; // the current one is still empty
    journalCatalogRecords_.emplace_back();
    journalExtentsRecords_.emplace_back();
}

// ---------------------------------------------------------- fragments ----

void HFSPlusImageBuilder::addStaleLeafNodeOf(const std::vector<std::uint32_t>& ids) {
    std::vector<HFSCatalogRecord> records;
    for (std::uint32_t id : ids)
        records.push_back(recordOf(id));
    const Bytes node = encodeCatalogLeafNode(records, options_.catalogNodeSize);
    const auto blocks = static_cast<std::uint32_t>(ceilDiv(options_.catalogNodeSize, options_.blockSize));
    const std::uint64_t at = std::uint64_t{allocateContiguous(blocks, false)} * options_.blockSize;
    std::copy(node.begin(), node.end(), volume_.begin() + static_cast<std::ptrdiff_t>(at));
}

// ------------------------------------------------------------- damage ----

void HFSPlusImageBuilder::damageZeroCatalogHeaderNode() {
    damage_.zeroCatalogHeader = true;
}
void HFSPlusImageBuilder::damageCatalogLeafLoop(std::size_t fromLeaf, std::size_t toLeaf) {
    damage_.leafLoops.emplace_back(fromLeaf, toLeaf);
}
void HFSPlusImageBuilder::damageZeroPrimaryHeader() {
    damage_.zeroPrimary = true;
}

// -------------------------------------------------------------- build ----

std::vector<std::uint8_t> HFSPlusImageBuilder::buildVolume() {
    const auto& o = options_;
    const std::uint32_t bs = o.blockSize;
    Bytes vol = volume_;
    const bool binary = o.hfsx;
    const auto keyLess = [binary](const HFSCatalogRecord& a, const HFSCatalogRecord& b) {
        return catalogKeyLess(a, b, binary);
    };
    const auto catalogNodeOffset = [&](std::uint32_t node) {
        return nodeOffsetIn(layout_.catalogFile, bs, o.catalogNodeSize, node);
    };
    const auto extentsNodeOffset = [&](std::uint32_t node) {
        return nodeOffsetIn(layout_.extentsFile, bs, o.extentsNodeSize, node);
    };
    auto writeAt = [&](std::uint64_t offset, const Bytes& bytes) {
        if (offset + bytes.size() > vol.size()) fail("node past the volume's end");
        std::copy(bytes.begin(), bytes.end(), vol.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    // Header node: the tree's fields, and the map with its first nodes in use.
    auto headerNode = [](std::uint32_t nodeSize, const TreeNodes& t, std::uint32_t totalNodes, std::uint16_t maxKey,
                         std::uint8_t compare, std::uint32_t attributes) {
        HeaderFields h;
        h.depth = t.depth;
        h.root = t.root;
        h.leafRecords = t.leafRecords;
        h.firstLeaf = t.leaves.empty() ? 0 : t.leaves.front();
        h.lastLeaf = t.leaves.empty() ? 0 : t.leaves.back();
        h.maxKeyLength = maxKey;
        h.totalNodes = totalNodes;
        h.freeNodes = totalNodes - static_cast<std::uint32_t>(t.nodes.size());
        h.clumpSize = nodeSize * 4;
        h.compareType = compare;
        h.attributes = attributes;
        std::vector<bool> map(totalNodes, false);
        std::fill_n(map.begin(), t.nodes.size(), true);
        return encodeHeaderNode(nodeSize, h, map);
    };

    // --- the live catalog: the root, its thread, every live entry and its thread ---
    std::vector<HFSCatalogRecord> live;
    HFSCatalogRecord root;
    root.type = hfsplus::kFolderRecord;
    root.keyParentID = hfsplus::kRootParentID;
    root.keyName = HFSName(o.volumeName);
    root.id = kRoot;
    root.valence = valenceOf(kRoot, true);
    root.createDate = root.contentModDate = root.attributeModDate = root.accessDate = kDate;
    root.groupID = 80;
    root.fileMode = 0040755;
    live.push_back(root);
    auto addThread = [&](bool folder, std::uint32_t id, std::uint32_t parentID, const HFSName& name) {
        HFSCatalogRecord t;
        t.type = folder ? hfsplus::kFolderThreadRecord : hfsplus::kFileThreadRecord;
        t.keyParentID = id;
        t.threadParentID = parentID;
        t.threadName = name;
        live.push_back(t);
    };
    addThread(true, kRoot, hfsplus::kRootParentID, root.keyName);
    std::uint32_t fileCount = 0, folderCount = 0, maxID = kRoot;
    for (const auto& e : entries_) {
        maxID = std::max(maxID, e.id);
        if (!e.live) continue;
        (e.kind == Kind::Folder ? folderCount : fileCount) += 1;
        live.push_back(recordOf(e.id));
        addThread(e.kind == Kind::Folder, e.id, e.parentID, e.name);
    }
    std::stable_sort(live.begin(), live.end(), keyLess);
    std::vector<Bytes> liveBytes;
    for (const auto& r : live)
        liveBytes.push_back(encodeCatalogRecord(r));
    const auto catalogKey = [](const Bytes& record) {
        const std::size_t keyLength = (std::size_t{record[0]} << 8) | record[1];
        return Bytes(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(2 + keyLength));
    };
    const TreeNodes cat = buildTree(liveBytes, o.catalogNodeSize, o.maxRecordsPerLeaf, catalogKey);
    if (cat.nodes.size() > layout_.catalogTotalNodes)
        fail("catalog full: " + std::to_string(cat.nodes.size()) + " nodes needed, " +
             std::to_string(layout_.catalogTotalNodes) + " available");
    layout_.catalogDepth = cat.depth;
    layout_.catalogLeafNodes = cat.leaves;
    writeAt(catalogNodeOffset(0),
            headerNode(o.catalogNodeSize, cat, layout_.catalogTotalNodes, hfsplus::kCatalogKeyMaxSize - 2,
                       binary ? kBinaryCompare : kCaseFoldingCompare, kBigKeys | kVariableIndexKeys));
    for (std::uint32_t n = 1; n < cat.nodes.size(); ++n)
        writeAt(catalogNodeOffset(n), cat.nodes[n]);

    // --- the extents-overflow tree ---
    std::vector<HFSExtentsRecord> overflow;
    for (const auto& e : entries_) {
        if (!e.live) continue;
        const auto r = overflowRecordsOf(e.id);
        overflow.insert(overflow.end(), r.begin(), r.end());
    }
    std::stable_sort(overflow.begin(), overflow.end(), extentsKeyLess);
    std::vector<Bytes> overflowBytes;
    for (const auto& r : overflow)
        overflowBytes.push_back(encodeExtentsRecord(r));
    const auto extentsKey = [](const Bytes& record) { return Bytes(record.begin(), record.begin() + 12); };
    const TreeNodes ext = buildTree(overflowBytes, o.extentsNodeSize, 0, extentsKey);
    if (ext.nodes.size() > layout_.extentsTotalNodes) fail("extents file full");
    layout_.extentsDepth = ext.depth;
    writeAt(extentsNodeOffset(0),
            headerNode(o.extentsNodeSize, ext, layout_.extentsTotalNodes, hfsplus::kExtentKeyLength, 0, kBigKeys));
    for (std::uint32_t n = 1; n < ext.nodes.size(); ++n)
        writeAt(extentsNodeOffset(n), ext.nodes[n]);

    // --- the journal: transactions of node copies, each behind a block list ---
    layout_.journalCatalogNodes.clear();
    layout_.journalExtentsNodes.clear();
    std::uint32_t journalInfoBlock = 0;
    bool anyJournalContent = false;
    for (std::size_t t = 0; t < journalCatalogRecords_.size(); ++t)
        anyJournalContent |= !journalCatalogRecords_[t].empty() || !journalExtentsRecords_[t].empty();
    if (!o.journaled && anyJournalContent) fail("journal records on a volume that is not journaled");
    if (o.journaled) {
        const std::uint64_t jOff = std::uint64_t{journalStartBlock_} * bs;
        const std::uint64_t jSize = o.journalSize;
        const std::uint32_t jh = o.sectorSize; // the journal header takes one sector
        std::uint64_t pos = jh;
        auto put = [&](const Bytes& b) {
            if (pos + b.size() > jSize) fail("journal full; raise journalSize");
            std::copy(b.begin(), b.end(), vol.begin() + static_cast<std::ptrdiff_t>(jOff + pos));
            pos += b.size();
        };
        const std::uint32_t maxBlocks = kJournalBlockListSize / 16 - 1;
        const std::uint64_t catalogTarget = catalogNodeOffset(cat.leaves.empty() ? 1 : cat.leaves.front());
        const std::uint64_t extentsTarget = extentsNodeOffset(1);
        for (std::size_t t = 0; t < journalCatalogRecords_.size(); ++t) {
            struct Copy {
                Bytes node;
                std::uint64_t target;
                bool catalog;
            };
            std::vector<Copy> copies;
            auto records = journalCatalogRecords_[t];
            std::stable_sort(records.begin(), records.end(), keyLess);
            std::vector<Bytes> encoded;
            for (const auto& r : records)
                encoded.push_back(encodeCatalogRecord(r));
            for (const auto& group : packRecords(encoded, o.catalogNodeSize, o.maxRecordsPerLeaf))
                copies.push_back(
                    {encodeNode(group, o.catalogNodeSize, hfsplus::kLeafNode, 1, 0, 0), catalogTarget, true});
            auto extRecords = journalExtentsRecords_[t];
            std::stable_sort(extRecords.begin(), extRecords.end(), extentsKeyLess);
            std::vector<Bytes> extEncoded;
            for (const auto& r : extRecords)
                extEncoded.push_back(encodeExtentsRecord(r));
            for (auto group : packRecords(extEncoded, o.extentsNodeSize, 0)) {
                if (group.size() == 1)
                    group.push_back(encodeExtentsRecord({hfsplus::kDataFork, kPadExtentsFileID, 0, {}}));
                copies.push_back(
                    {encodeNode(group, o.extentsNodeSize, hfsplus::kLeafNode, 1, 0, 0), extentsTarget, false});
            }
            for (std::size_t c = 0; c < copies.size(); c += maxBlocks) {
                const std::size_t n = std::min<std::size_t>(maxBlocks, copies.size() - c);
                Bytes list(kJournalBlockListSize, 0);
                Writer w(list, 0, true);
                std::uint64_t bytesUsed = kJournalBlockListSize;
                for (std::size_t i = 0; i < n; ++i) {
                    const Copy& copy = copies[c + i];
                    w.u64(16 * (i + 1), copy.target / jh);
                    w.u32(16 * (i + 1) + 8, static_cast<std::uint32_t>(copy.node.size()));
                    bytesUsed += copy.node.size();
                }
                w.u16(0, static_cast<std::uint16_t>(maxBlocks));
                w.u16(2, static_cast<std::uint16_t>(n + 1));
                w.u32(4, static_cast<std::uint32_t>(bytesUsed));
                w.u32(8, journalChecksum(list.data(), 32));
                put(list);
                for (std::size_t i = 0; i < n; ++i) {
                    const Copy& copy = copies[c + i];
                    const HFSNodePlacement p{jOff + pos, layout_.volumeOffset + jOff + pos};
                    (copy.catalog ? layout_.journalCatalogNodes : layout_.journalExtentsNodes).push_back(p);
                    put(copy.node);
                }
            }
        }
        // Little-endian, as the journals of Intel Macs; start == end: clean.
        Writer jw(vol, jOff, true);
        jw.u32(0, kJournalMagic);
        jw.u32(4, kJournalEndian);
        jw.u64(8, pos);
        jw.u64(16, pos);
        jw.u64(24, jSize);
        jw.u32(32, kJournalBlockListSize);
        jw.u32(40, jh);
        jw.u32(36, journalChecksum(vol.data() + jOff, 44));

        std::uint64_t infoOffset = jOff;
        std::uint64_t infoSize = jSize;
        journalInfoBlock = journalInfoBlock_;
        using JD = HFSPlusImageOptions::JournalDamage;
        if (o.journalDamage == JD::NoInfoBlock) journalInfoBlock = 0;
        if (o.journalDamage == JD::InfoBlockPastEnd) journalInfoBlock = totalBlocks_ + 16;
        if (o.journalDamage == JD::OffsetPastEnd) infoOffset = o.totalSize + bs;
        if (o.journalDamage == JD::SizePastEnd) infoSize = o.totalSize;
        Writer iw(vol, std::uint64_t{journalInfoBlock_} * bs);
        iw.u32(0, kJournalInFileSystem);
        iw.u64(36, infoOffset);
        iw.u64(44, infoSize);
    }
    layout_.journalInfoBlock = journalInfoBlock;

    // --- the allocation bitmap ---
    const std::uint64_t bitmap = std::uint64_t{layout_.allocationFile[0].startBlock} * bs;
    std::uint32_t freeBlocks = 0;
    for (std::uint32_t b = 0; b < totalBlocks_; ++b) {
        if (used_[b]) vol[bitmap + b / 8] |= static_cast<std::uint8_t>(0x80 >> (b % 8));
        freeBlocks += used_[b] ? 0 : 1;
    }
    layout_.freeBlocks = freeBlocks;

    // --- the volume headers ---
    Bytes header(hfsplus::kVolumeInformationBlockSize, 0);
    Writer w(header);
    w.u16(0, o.hfsx ? hfsplus::kHFSXSignature : hfsplus::kHFSPlusSignature);
    w.u16(2, o.hfsx ? 5 : 4);
    w.u32(4, kVolumeUnmounted | (o.journaled ? kVolumeJournaled : 0));
    w.u32(8, o.journaled ? kMountedVersionJournaled : kMountedVersionPlain);
    w.u32(12, journalInfoBlock);
    w.u32(16, kDate);
    w.u32(20, kDate);
    w.u32(28, kDate);
    w.u32(32, fileCount);
    w.u32(36, folderCount);
    w.u32(40, bs);
    w.u32(44, totalBlocks_);
    w.u32(48, freeBlocks);
    w.u32(52, cursor_);
    w.u32(56, 65536);
    w.u32(60, 65536);
    w.u32(64, std::max(nextID_, maxID + 1));
    w.u32(68, 1);
    w.u64(72, 1); // MacRoman
    // Finder information: the last two words are the volume's identifier.
    w.u32(80 + 24, 0x48425544);
    w.u32(80 + 28, 0x0000B11D);
    writeFork(w, 112, specialFork(layout_.allocationFile, bs));
    writeFork(w, 192, specialFork(layout_.extentsFile, bs));
    writeFork(w, 272, specialFork(layout_.catalogFile, bs));
    writeAt(hfsplus::kVolumeHeaderOffset, header);
    writeAt(o.totalSize - hfsplus::kAlternateHeaderFromEnd, header);

    // --- damage ---
    if (damage_.zeroCatalogHeader) writeAt(catalogNodeOffset(0), Bytes(o.catalogNodeSize, 0));
    auto leafAt = [&](std::size_t i) {
        if (i >= cat.leaves.size()) fail("no leaf " + std::to_string(i) + " in the chain");
        return cat.leaves[i];
    };
    for (const auto& [from, to] : damage_.leafLoops)
        Writer(vol, catalogNodeOffset(leafAt(to))).u32(0, leafAt(from));
    if (damage_.zeroPrimary) writeAt(hfsplus::kVolumeHeaderOffset, Bytes(hfsplus::kVolumeInformationBlockSize, 0));
    return vol;
}

std::vector<std::uint8_t> HFSPlusImageBuilder::build() {
    const auto& o = options_;
    Bytes container = buildVolume();
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper) {
        // An HFS volume whose master directory block (and its copy at the
        // end) names the embedded HFS+ volume.
        const std::uint64_t embedBlocks = o.totalSize / kWrapperBlockSize;
        const std::uint64_t wrapperBlocks = kWrapperEmbedStartBlock + embedBlocks + 1;
        if (wrapperBlocks > 0xFFFF) fail("volume too large for an HFS wrapper");
        Bytes wrapper(std::uint64_t{kWrapperAllocationStart} * 512 + wrapperBlocks * kWrapperBlockSize, 0);
        std::copy(container.begin(), container.end(),
                  wrapper.begin() + static_cast<std::ptrdiff_t>(layout_.volumeOffset - layout_.containerOffset));
        Bytes mdb(hfsplus::kMasterDirectoryBlockSize, 0);
        Writer w(mdb);
        w.u16(0, hfsplus::kHFSSignature);
        w.u32(2, kDate);
        w.u32(6, kDate);
        w.u16(10, kVolumeUnmounted);
        w.u16(14, 3); // bitmap sector
        w.u16(18, static_cast<std::uint16_t>(wrapperBlocks));
        w.u32(20, kWrapperBlockSize);
        w.u32(24, kWrapperBlockSize);
        w.u16(28, kWrapperAllocationStart);
        w.u32(30, 16);
        const std::string name = o.volumeName.substr(0, 27);
        w.u8(36, static_cast<std::uint8_t>(name.size()));
        w.raw(37, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
        w.u16(124, o.hfsx ? hfsplus::kHFSXSignature : hfsplus::kHFSPlusSignature);
        w.u16(126, kWrapperEmbedStartBlock);
        w.u16(128, static_cast<std::uint16_t>(embedBlocks));
        std::copy(mdb.begin(), mdb.end(), wrapper.begin() + 1024);
        std::copy(mdb.begin(), mdb.end(), wrapper.end() - 1024);
        container = std::move(wrapper);
    }
    const std::uint64_t imageSize = o.diskSize ? o.diskSize : o.diskOffset + container.size();
    if (o.diskOffset + container.size() > imageSize) fail("volume does not fit in the disk size given");
    Bytes image(imageSize, 0);
    std::copy(container.begin(), container.end(), image.begin() + static_cast<std::ptrdiff_t>(o.diskOffset));
    layout_.imageSize = image.size();
    return image;
}

std::filesystem::path HFSPlusImageBuilder::writeTo(const std::filesystem::path& path) {
    const Bytes image = build();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    out.close();
    if (!out) fail("cannot write " + path.string());
    return path;
}

std::vector<std::uint8_t> HFSPlusImageBuilder::patternData(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (std::size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = static_cast<std::uint8_t>(x >> 24);
    }
    return out;
}

} // namespace testsupport
