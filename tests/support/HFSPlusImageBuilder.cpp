#include "support/HFSPlusImageBuilder.h"

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

std::u16string utf8ToUtf16(const std::string& s) {
    std::u16string out;
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0;
        std::size_t n = 0;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            n = 4;
        } else
            throw std::invalid_argument("HFS+ builder: bad UTF-8 name");
        if (i + n > s.size()) throw std::invalid_argument("HFS+ builder: truncated UTF-8 name");
        for (std::size_t k = 1; k < n; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string utf16ToUtf8(const std::u16string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    return out;
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
    std::vector<std::vector<std::uint32_t>> indexLevels;
};

TreeNodes buildTree(const std::vector<Bytes>& sortedRecords, std::uint32_t nodeSize, std::uint32_t maxPerLeaf,
                    std::uint32_t maxPerIndex, const std::function<Bytes(const Bytes&)>& keyOf) {
    TreeNodes t;
    t.nodes.emplace_back(); // header
    t.leafRecords = static_cast<std::uint32_t>(sortedRecords.size());
    if (sortedRecords.empty()) return t;
    if (maxPerIndex == 1) fail("an index node must be allowed two records at least");

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
        const auto groups = packRecords(indexRecords, nodeSize, maxPerIndex);
        if (groups.size() >= level.size()) fail("index records too large to build an index level");
        std::vector<Bytes> firstKeys;
        std::size_t k = 0;
        for (const auto& g : groups) {
            firstKeys.push_back(level[k].key);
            k += g.size();
        }
        ++height;
        level = makeLevel(groups, hfsplus::kIndexNode, height, firstKeys);
        std::vector<std::uint32_t> numbers;
        for (const auto& c : level)
            numbers.push_back(c.node);
        t.indexLevels.push_back(numbers);
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

} // namespace

// ------------------------------------------------------------- names ----

HFSName::HFSName(const char* utf8) : units(utf8ToUtf16(utf8 ? std::string(utf8) : std::string())) {}
HFSName::HFSName(const std::string& utf8) : units(utf8ToUtf16(utf8)) {}
std::string HFSName::utf8() const {
    return utf16ToUtf8(units);
}

// ------------------------------------------------------------ layout ----

std::uint64_t HFSPlusImageBuilder::Layout::catalogNodeOffset(std::uint32_t node) const {
    return nodeOffsetIn(catalogFile, blockSize, catalogNodeSize, node);
}

std::uint64_t HFSPlusImageBuilder::Layout::extentsNodeOffset(std::uint32_t node) const {
    return nodeOffsetIn(extentsFile, blockSize, extentsNodeSize, node);
}

// ------------------------------------------------------- construction ----

HFSPlusImageBuilder::HFSPlusImageBuilder(HFSPlusImageOptions options) : options_(std::move(options)) {
    const auto& o = options_;
    if (!powerOfTwo(o.sectorSize) || o.sectorSize < 512) throw std::invalid_argument("HFS+ builder: sector size");
    if (!powerOfTwo(o.blockSize) || o.blockSize < 512) throw std::invalid_argument("HFS+ builder: block size");
    for (std::uint32_t n : {o.catalogNodeSize, o.extentsNodeSize})
        if (!powerOfTwo(n) || n < 512 || n > 32768) throw std::invalid_argument("HFS+ builder: node size");
    if (o.totalSize == 0 || o.totalSize % o.blockSize != 0 || o.totalSize / o.blockSize > 0xFFFFFFFFu)
        throw std::invalid_argument("HFS+ builder: total size must be a multiple of the block size");
    if (o.journaled && (o.journalSize == 0 || o.journalSize % o.blockSize != 0))
        throw std::invalid_argument("HFS+ builder: journal size must be a multiple of the block size");
    if (o.journaled && (o.journalBlockListSize < 32 || o.journalBlockListSize % o.sectorSize != 0))
        throw std::invalid_argument("HFS+ builder: block list size must be a multiple of the sector size");
    if (o.diskOffset % o.sectorSize != 0) throw std::invalid_argument("HFS+ builder: disk offset");
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper &&
        (!powerOfTwo(o.wrapperBlockSize) || o.wrapperBlockSize < 512 || o.totalSize % o.wrapperBlockSize != 0))
        throw std::invalid_argument("HFS+ builder: wrapper block size must divide the volume size");
    if (o.defaultDate == 0) throw std::invalid_argument("HFS+ builder: default date 0");

    totalBlocks_ = static_cast<std::uint32_t>(o.totalSize / o.blockSize);
    volume_.assign(o.totalSize, 0);
    used_.assign(totalBlocks_, false);

    layout_.sectorSize = o.sectorSize;
    layout_.blockSize = o.blockSize;
    layout_.totalBlocks = totalBlocks_;
    layout_.volumeSize = o.totalSize;
    layout_.containerOffset = o.diskOffset;
    layout_.volumeOffset = o.diskOffset;
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper)
        layout_.volumeOffset += std::uint64_t{o.wrapperAllocationStart} * 512 +
                                std::uint64_t{o.wrapperEmbedStartBlock} * o.wrapperBlockSize;
    reserveMetadata();
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

std::vector<HFSExtent> HFSPlusImageBuilder::allocateRuns(std::uint32_t blocks, std::uint32_t runs, bool used,
                                                         std::uint32_t unit) {
    std::vector<HFSExtent> out;
    if (blocks == 0) return out;
    if (runs == 0) runs = 1;
    const std::uint32_t units = blocks / unit;
    if (runs > units)
        fail("cannot cut " + std::to_string(blocks) + " blocks into " + std::to_string(runs) + " extents");
    for (std::uint32_t i = 0; i < runs; ++i) {
        const std::uint32_t size = (units / runs + (i < units % runs ? 1 : 0)) * unit;
        out.push_back({allocateContiguous(size, used), size});
        // A free block between runs keeps them from being one extent.
        if (i + 1 < runs) allocateContiguous(1, false);
    }
    return out;
}

void HFSPlusImageBuilder::reserveMetadata() {
    const auto& o = options_;
    const std::uint32_t bs = o.blockSize;
    dataLimit_ = static_cast<std::uint32_t>((o.totalSize - 1024) / bs);
    for (std::uint32_t b = dataLimit_; b < totalBlocks_; ++b)
        used_[b] = true;

    // Boot blocks and the volume header.
    allocateContiguous(static_cast<std::uint32_t>(ceilDiv(1536, bs)), true);

    const auto bitmapBlocks = static_cast<std::uint32_t>(ceilDiv(ceilDiv(totalBlocks_, 8), bs));
    layout_.allocationFile = {{allocateContiguous(bitmapBlocks, true), bitmapBlocks}};

    const std::uint32_t extentNodes = o.extentsNodeCount ? o.extentsNodeCount : 16;
    const auto extentBlocks = static_cast<std::uint32_t>(ceilDiv(std::uint64_t{extentNodes} * o.extentsNodeSize, bs));
    layout_.extentsFile = {{allocateContiguous(extentBlocks, true), extentBlocks}};
    layout_.extentsNodeSize = o.extentsNodeSize;
    layout_.extentsTotalNodes = static_cast<std::uint32_t>(std::uint64_t{extentBlocks} * bs / o.extentsNodeSize);

    std::uint32_t catalogNodes = o.catalogNodeCount;
    if (catalogNodes == 0) catalogNodes = std::max<std::uint32_t>(32, (256u << 10) / o.catalogNodeSize);
    // Each extent of the catalog holds whole nodes.
    const std::uint32_t unit = std::max<std::uint32_t>(1, o.catalogNodeSize / bs);
    auto catalogBlocks = static_cast<std::uint32_t>(ceilDiv(std::uint64_t{catalogNodes} * o.catalogNodeSize, bs));
    catalogBlocks = static_cast<std::uint32_t>(ceilDiv(catalogBlocks, unit) * unit);
    layout_.catalogFile = allocateRuns(catalogBlocks, o.catalogExtentCount, true, unit);
    layout_.catalogNodeSize = o.catalogNodeSize;
    layout_.catalogTotalNodes = static_cast<std::uint32_t>(std::uint64_t{catalogBlocks} * bs / o.catalogNodeSize);

    if (o.attributesFile) {
        const auto blocks = static_cast<std::uint32_t>(ceilDiv(4 * 4096, bs));
        layout_.attributesFile = {{allocateContiguous(blocks, true), blocks}};
    }

    if (o.journaled) {
        journalInfoBlock_ = allocateContiguous(1, true);
        journalStartBlock_ = allocateContiguous(static_cast<std::uint32_t>(o.journalSize / bs), true);
    }
}

// ------------------------------------------------------------ entries ----

std::uint32_t HFSPlusImageBuilder::newID(std::uint32_t id) {
    if (id == 0) id = nextID_;
    if (entryIndex_.count(id) != 0 || id == kRoot) fail("entry ID " + std::to_string(id) + " used twice");
    if (id >= nextID_) nextID_ = id + 1;
    return id;
}

HFSPlusImageBuilder::Entry& HFSPlusImageBuilder::makeEntry(std::uint32_t id, std::uint32_t parentID,
                                                           const HFSName& name, Kind kind,
                                                           const HFSEntryOptions& options, bool live) {
    id = newID(id);
    Entry e;
    e.id = id;
    e.parentID = parentID;
    e.name = name;
    e.kind = kind;
    e.live = live;
    e.deleted = !live;
    e.createDate = options.createDate ? options.createDate : options_.defaultDate;
    e.contentModDate = options.contentModDate ? options.contentModDate : options_.defaultDate;
    EntryRecordInfo info;
    info.options = options;
    const bool defaultThread = kind == Kind::Folder || options_.fileThreads;
    info.threadWanted = options.thread.value_or(defaultThread);
    e.hasThread = live && info.threadWanted;
    recordInfo_[id] = info;
    entryIndex_[id] = entries_.size();
    entries_.push_back(std::move(e));
    return entries_.back();
}

void HFSPlusImageBuilder::writeForkData(const std::vector<HFSExtent>& extents, const Bytes& data) {
    std::size_t done = 0;
    for (const auto& x : extents) {
        const std::uint64_t at = std::uint64_t{x.startBlock} * options_.blockSize;
        const std::size_t n = std::min<std::size_t>(data.size() - done, std::size_t{x.blockCount} * options_.blockSize);
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(done),
                  data.begin() + static_cast<std::ptrdiff_t>(done + n),
                  volume_.begin() + static_cast<std::ptrdiff_t>(at));
        done += n;
    }
}

void HFSPlusImageBuilder::placeForks(Entry& e, const HFSFileOptions& options, bool used) {
    const std::uint32_t bs = options_.blockSize;
    e.size = e.data.size();
    e.dataTotalBlocks = static_cast<std::uint32_t>(ceilDiv(e.data.size(), bs));
    e.dataExtents = allocateRuns(e.dataTotalBlocks, options.extentCount, used);
    writeForkData(e.dataExtents, e.data);
    e.resourceTotalBlocks = static_cast<std::uint32_t>(ceilDiv(e.resource.size(), bs));
    e.resourceExtents = allocateRuns(e.resourceTotalBlocks, options.resourceExtentCount, used);
    writeForkData(e.resourceExtents, e.resource);
}

std::uint32_t HFSPlusImageBuilder::addFolder(std::uint32_t parentID, const HFSName& name,
                                             const HFSEntryOptions& options) {
    return addFolderWithID(0, parentID, name, options);
}

std::uint32_t HFSPlusImageBuilder::addFolderWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                   const HFSEntryOptions& options) {
    return makeEntry(id, parentID, name, Kind::Folder, options, true).id;
}

std::uint32_t HFSPlusImageBuilder::addFile(std::uint32_t parentID, const HFSName& name, std::vector<std::uint8_t> data,
                                           const HFSFileOptions& options) {
    return addFileWithID(0, parentID, name, std::move(data), options);
}

std::uint32_t HFSPlusImageBuilder::addFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                 std::vector<std::uint8_t> data, const HFSFileOptions& options) {
    return addFileEntry(id, parentID, name, std::move(data), options, true);
}

std::uint32_t HFSPlusImageBuilder::addFileEntry(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                std::vector<std::uint8_t> data, const HFSFileOptions& options,
                                                bool live) {
    if (id != 0 && (entryIndex_.count(id) != 0 || id == kRoot)) fail("entry ID " + std::to_string(id) + " used twice");
    Entry probe;
    probe.data = std::move(data);
    probe.resource = options.resourceFork;
    // A request that does not fit leaves the volume as it was.
    const std::uint32_t cursor = cursor_;
    try {
        placeForks(probe, options, live);
    } catch (...) {
        for (std::uint32_t b = cursor; b < cursor_; ++b)
            used_[b] = false;
        std::fill(volume_.begin() + static_cast<std::ptrdiff_t>(std::uint64_t{cursor} * options_.blockSize),
                  volume_.begin() + static_cast<std::ptrdiff_t>(std::uint64_t{cursor_} * options_.blockSize), 0);
        cursor_ = cursor;
        throw;
    }
    Entry& e = makeEntry(id, parentID, name, Kind::File, options, live);
    e.data = std::move(probe.data);
    e.resource = std::move(probe.resource);
    e.size = probe.size;
    e.dataExtents = std::move(probe.dataExtents);
    e.resourceExtents = std::move(probe.resourceExtents);
    e.dataTotalBlocks = probe.dataTotalBlocks;
    e.resourceTotalBlocks = probe.resourceTotalBlocks;
    return e.id;
}

void HFSPlusImageBuilder::addLiveCatalogRecord(const HFSCatalogRecord& record) {
    extraLiveRecords_.push_back(record);
}

std::uint32_t HFSPlusImageBuilder::addDeletedFolder(std::uint32_t parentID, const HFSName& name,
                                                    const HFSEntryOptions& options) {
    return addDeletedFolderWithID(0, parentID, name, options);
}

std::uint32_t HFSPlusImageBuilder::addDeletedFolderWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                          const HFSEntryOptions& options) {
    return makeEntry(id, parentID, name, Kind::Folder, options, false).id;
}

std::uint32_t HFSPlusImageBuilder::addDeletedFile(std::uint32_t parentID, const HFSName& name,
                                                  std::vector<std::uint8_t> data, const HFSFileOptions& options) {
    return addDeletedFileWithID(0, parentID, name, std::move(data), options);
}

std::uint32_t HFSPlusImageBuilder::addDeletedFileWithID(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                        std::vector<std::uint8_t> data, const HFSFileOptions& options) {
    return addFileEntry(id, parentID, name, std::move(data), options, false);
}

HFSPlusImageBuilder::Entry& HFSPlusImageBuilder::mutableEntry(std::uint32_t id) {
    const auto it = entryIndex_.find(id);
    if (it == entryIndex_.end()) fail("no entry with ID " + std::to_string(id));
    return entries_[it->second];
}

const HFSPlusImageBuilder::Entry& HFSPlusImageBuilder::existingEntry(std::uint32_t id) const {
    const auto it = entryIndex_.find(id);
    if (it == entryIndex_.end()) fail("no entry with ID " + std::to_string(id));
    return entries_[it->second];
}

const HFSPlusImageBuilder::Entry* HFSPlusImageBuilder::entry(std::uint32_t id) const {
    const auto it = entryIndex_.find(id);
    return it == entryIndex_.end() ? nullptr : &entries_[it->second];
}

const HFSPlusImageBuilder::Entry* HFSPlusImageBuilder::entryNamed(const HFSName& name) const {
    for (const auto& e : entries_)
        if (e.name == name) return &e;
    return nullptr;
}

std::vector<const HFSPlusImageBuilder::Entry*> HFSPlusImageBuilder::liveEntries() const {
    std::vector<const Entry*> out;
    for (const auto& e : entries_)
        if (e.live) out.push_back(&e);
    return out;
}

std::vector<const HFSPlusImageBuilder::Entry*> HFSPlusImageBuilder::deletedEntries() const {
    std::vector<const Entry*> out;
    for (const auto& e : entries_)
        if (e.deleted) out.push_back(&e);
    return out;
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
    const HFSEntryOptions& o = recordInfo_.at(id).options;
    const std::uint32_t d = options_.defaultDate;
    HFSCatalogRecord r;
    r.type = e.kind == Kind::Folder ? hfsplus::kFolderRecord : hfsplus::kFileRecord;
    r.keyParentID = e.parentID;
    r.keyName = e.name;
    r.id = e.id;
    r.createDate = e.createDate;
    r.contentModDate = e.contentModDate;
    r.attributeModDate = o.attributeModDate ? o.attributeModDate : d;
    r.accessDate = o.accessDate ? o.accessDate : d;
    r.backupDate = o.backupDate;
    r.ownerID = 501;
    r.groupID = 20;
    if (e.kind == Kind::Folder) {
        r.fileMode = 0040755;
        r.valence = valenceOf(id, e.live);
    } else {
        r.fileMode = 0100644;
        if (recordInfo_.at(id).threadWanted) r.flags = kThreadExistsFlag;
        r.dataFork.logicalSize = e.data.size();
        r.dataFork.totalBlocks = e.dataTotalBlocks;
        r.dataFork.extents = e.dataExtents;
        r.resourceFork.logicalSize = e.resource.size();
        r.resourceFork.totalBlocks = e.resourceTotalBlocks;
        r.resourceFork.extents = e.resourceExtents;
    }
    return r;
}

HFSCatalogRecord HFSPlusImageBuilder::threadRecordOf(std::uint32_t id) const {
    const Entry& e = existingEntry(id);
    HFSCatalogRecord r;
    r.type = e.kind == Kind::Folder ? hfsplus::kFolderThreadRecord : hfsplus::kFileThreadRecord;
    r.keyParentID = e.id;
    r.threadParentID = e.parentID;
    r.threadName = e.name;
    return r;
}

std::vector<HFSExtentsRecord> HFSPlusImageBuilder::overflowRecordsOf(std::uint32_t id) const {
    const Entry& e = existingEntry(id);
    auto out = overflowOf(hfsplus::kDataFork, id, e.dataExtents);
    const auto rsrc = overflowOf(hfsplus::kResourceFork, id, e.resourceExtents);
    out.insert(out.end(), rsrc.begin(), rsrc.end());
    return out;
}

std::vector<std::uint8_t> HFSPlusImageBuilder::encodeCatalogRecord(const HFSCatalogRecord& r) {
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

int HFSPlusImageBuilder::compareCatalogKeys(std::uint32_t parentA, const std::u16string& nameA, std::uint32_t parentB,
                                            const std::u16string& nameB, bool binary) {
    if (parentA != parentB) return parentA < parentB ? -1 : 1;
    const std::size_t n = std::min(nameA.size(), nameB.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t a = binary ? nameA[i] : foldCase(nameA[i]);
        const char16_t b = binary ? nameB[i] : foldCase(nameB[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    if (nameA.size() != nameB.size()) return nameA.size() < nameB.size() ? -1 : 1;
    return 0;
}

std::vector<std::uint8_t> HFSPlusImageBuilder::encodeCatalogLeafNode(const std::vector<HFSCatalogRecord>& records,
                                                                     std::uint32_t nodeSize, std::uint32_t fLink,
                                                                     std::uint32_t bLink) {
    std::vector<Bytes> encoded;
    for (const auto& r : records)
        encoded.push_back(encodeCatalogRecord(r));
    return encodeNode(encoded, nodeSize, hfsplus::kLeafNode, 1, fLink, bLink);
}

std::vector<std::uint8_t> HFSPlusImageBuilder::encodeExtentsLeafNode(const std::vector<HFSExtentsRecord>& records,
                                                                     std::uint32_t nodeSize, std::uint32_t fLink,
                                                                     std::uint32_t bLink) {
    std::vector<Bytes> encoded;
    for (const auto& r : records)
        encoded.push_back(encodeExtentsRecord(r));
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

std::uint32_t HFSPlusImageBuilder::addDeletedFolderInJournal(std::uint32_t parentID, const HFSName& name) {
    const std::uint32_t id = addDeletedFolder(parentID, name);
    addJournalCopyOf(id);
    return id;
}

void HFSPlusImageBuilder::addJournalCopyOf(std::uint32_t id, bool withOverflowRecords) {
    if (journalCatalogRecords_.empty()) endJournalTransaction();
    journalCatalogRecords_.back().push_back(recordOf(id));
    if (withOverflowRecords) {
        const auto overflow = overflowRecordsOf(id);
        auto& ext = journalExtentsRecords_.back();
        ext.insert(ext.end(), overflow.begin(), overflow.end());
    }
    mutableEntry(id).inJournal = true;
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

HFSNodePlacement HFSPlusImageBuilder::addStaleLeafNode(const std::vector<HFSCatalogRecord>& records) {
    const Bytes node = encodeCatalogLeafNode(records, options_.catalogNodeSize);
    const auto blocks = static_cast<std::uint32_t>(ceilDiv(options_.catalogNodeSize, options_.blockSize));
    const std::uint32_t start = allocateContiguous(blocks, false);
    const std::uint64_t at = std::uint64_t{start} * options_.blockSize;
    std::copy(node.begin(), node.end(), volume_.begin() + static_cast<std::ptrdiff_t>(at));
    HFSNodePlacement p;
    p.startBlock = start;
    p.volumeOffset = at;
    p.imageOffset = layout_.volumeOffset + at;
    layout_.staleNodes.push_back(p);
    return p;
}

HFSNodePlacement HFSPlusImageBuilder::addStaleLeafNodeOf(const std::vector<std::uint32_t>& ids) {
    std::vector<HFSCatalogRecord> records;
    for (std::uint32_t id : ids)
        records.push_back(recordOf(id));
    const HFSNodePlacement p = addStaleLeafNode(records);
    for (std::uint32_t id : ids)
        mutableEntry(id).inStaleNode = true;
    return p;
}

void HFSPlusImageBuilder::addCatalogFreeNodeFragment(const std::vector<HFSCatalogRecord>& records) {
    encodeCatalogLeafNode(records, options_.catalogNodeSize); // fails now when they do not fit
    freeNodeFragments_.push_back(records);
}

void HFSPlusImageBuilder::addCatalogFreeNodeFragmentOf(const std::vector<std::uint32_t>& ids) {
    std::vector<HFSCatalogRecord> records;
    for (std::uint32_t id : ids)
        records.push_back(recordOf(id));
    addCatalogFreeNodeFragment(records);
    for (std::uint32_t id : ids)
        mutableEntry(id).inCatalogFreeNode = true;
}

// ------------------------------------------------------------- damage ----

void HFSPlusImageBuilder::damageZeroCatalogHeaderNode() {
    damage_.zeroCatalogHeader = true;
}
void HFSPlusImageBuilder::damageZeroExtentsHeaderNode() {
    damage_.zeroExtentsHeader = true;
}
void HFSPlusImageBuilder::damageZeroCatalogNode(std::uint32_t node) {
    damage_.zeroCatalogNodes.push_back(node);
}
void HFSPlusImageBuilder::damageCatalogLeafForwardLink(std::size_t leafIndex, std::uint32_t link) {
    damage_.leafLinks.emplace_back(leafIndex, link);
}
void HFSPlusImageBuilder::damageCatalogLeafLoop(std::size_t fromLeaf, std::size_t toLeaf) {
    damage_.leafLoops.emplace_back(fromLeaf, toLeaf);
}
void HFSPlusImageBuilder::damageZeroPrimaryHeader() {
    damage_.zeroPrimary = true;
}
void HFSPlusImageBuilder::damageZeroAlternateHeader() {
    damage_.zeroAlternate = true;
}
void HFSPlusImageBuilder::damageZeroWrapperMDB() {
    damage_.zeroWrapperMDB = true;
}

// -------------------------------------------------------------- build ----

std::vector<std::uint8_t> HFSPlusImageBuilder::buildVolume() {
    const auto& o = options_;
    const std::uint32_t bs = o.blockSize;
    Bytes vol = volume_;
    std::vector<bool> used = used_;
    const bool binary = o.hfsx && !o.hfsxCaseFolding;

    auto writeAt = [&](std::uint64_t offset, const Bytes& bytes) {
        if (offset + bytes.size() > vol.size()) fail("node past the volume's end");
        std::copy(bytes.begin(), bytes.end(), vol.begin() + static_cast<std::ptrdiff_t>(offset));
    };

    // --- the live catalog ---
    std::vector<HFSCatalogRecord> live;
    HFSCatalogRecord root;
    root.type = hfsplus::kFolderRecord;
    root.keyParentID = hfsplus::kRootParentID;
    root.keyName = HFSName(o.volumeName);
    root.id = kRoot;
    root.valence = valenceOf(kRoot, true);
    root.createDate = root.contentModDate = root.attributeModDate = root.accessDate = o.defaultDate;
    root.ownerID = 0;
    root.groupID = 80;
    root.fileMode = 0040755;
    live.push_back(root);
    HFSCatalogRecord rootThread;
    rootThread.type = hfsplus::kFolderThreadRecord;
    rootThread.keyParentID = kRoot;
    rootThread.threadParentID = hfsplus::kRootParentID;
    rootThread.threadName = root.keyName;
    live.push_back(rootThread);
    std::uint32_t fileCount = 0, folderCount = 0, maxID = kRoot;
    for (const auto& e : entries_) {
        maxID = std::max(maxID, e.id);
        if (!e.live) continue;
        (e.kind == Kind::Folder ? folderCount : fileCount) += 1;
        live.push_back(recordOf(e.id));
        if (e.hasThread) live.push_back(threadRecordOf(e.id));
    }
    live.insert(live.end(), extraLiveRecords_.begin(), extraLiveRecords_.end());
    std::stable_sort(live.begin(), live.end(), [&](const HFSCatalogRecord& a, const HFSCatalogRecord& b) {
        return compareCatalogKeys(a.keyParentID, a.keyName.units, b.keyParentID, b.keyName.units, binary) < 0;
    });
    std::vector<Bytes> liveBytes;
    for (const auto& r : live)
        liveBytes.push_back(encodeCatalogRecord(r));
    const auto catalogKey = [](const Bytes& record) {
        const std::size_t keyLength = (std::size_t{record[0]} << 8) | record[1];
        return Bytes(record.begin(), record.begin() + static_cast<std::ptrdiff_t>(2 + keyLength));
    };
    TreeNodes cat = buildTree(liveBytes, o.catalogNodeSize, o.maxRecordsPerLeaf, o.maxRecordsPerIndexNode, catalogKey);
    const auto usedCatalogNodes = static_cast<std::uint32_t>(cat.nodes.size());
    const auto catalogNodesNeeded = usedCatalogNodes + static_cast<std::uint32_t>(freeNodeFragments_.size());
    if (catalogNodesNeeded > layout_.catalogTotalNodes)
        fail("catalog full: " + std::to_string(catalogNodesNeeded) + " nodes needed, " +
             std::to_string(layout_.catalogTotalNodes) + " available; raise catalogNodeCount");
    layout_.catalogRootNode = cat.root;
    layout_.catalogDepth = cat.depth;
    layout_.catalogLeafRecords = cat.leafRecords;
    layout_.catalogLeafNodes = cat.leaves;
    layout_.catalogIndexNodes = cat.indexLevels;
    layout_.catalogFreeNodes = layout_.catalogTotalNodes - usedCatalogNodes;
    layout_.catalogFragmentNodes.clear();
    {
        HeaderFields h;
        h.depth = cat.depth;
        h.root = cat.root;
        h.leafRecords = cat.leafRecords;
        h.firstLeaf = cat.leaves.empty() ? 0 : cat.leaves.front();
        h.lastLeaf = cat.leaves.empty() ? 0 : cat.leaves.back();
        h.maxKeyLength = hfsplus::kCatalogKeyMaxSize - 2;
        h.totalNodes = layout_.catalogTotalNodes;
        h.freeNodes = layout_.catalogFreeNodes;
        h.clumpSize = o.catalogNodeSize * 4;
        h.compareType = binary ? kBinaryCompare : kCaseFoldingCompare;
        h.attributes = kBigKeys | kVariableIndexKeys;
        std::vector<bool> map(layout_.catalogTotalNodes, false);
        for (std::uint32_t i = 0; i < usedCatalogNodes; ++i)
            map[i] = true;
        cat.nodes[0] = encodeHeaderNode(o.catalogNodeSize, h, map);
        for (std::uint32_t n = 0; n < usedCatalogNodes; ++n)
            writeAt(layout_.catalogNodeOffset(n), cat.nodes[n]);
        for (std::size_t i = 0; i < freeNodeFragments_.size(); ++i) {
            const auto n = static_cast<std::uint32_t>(usedCatalogNodes + i);
            writeAt(layout_.catalogNodeOffset(n), encodeCatalogLeafNode(freeNodeFragments_[i], o.catalogNodeSize));
            layout_.catalogFragmentNodes.push_back(n);
        }
    }

    // --- the extents-overflow tree ---
    std::vector<HFSExtentsRecord> overflow =
        overflowOf(hfsplus::kDataFork, hfsplus::kCatalogFileID, layout_.catalogFile);
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
    TreeNodes ext = buildTree(overflowBytes, o.extentsNodeSize, 0, 0, extentsKey);
    if (ext.nodes.size() > layout_.extentsTotalNodes) fail("extents file full; raise extentsNodeCount");
    layout_.extentsRootNode = ext.root;
    layout_.extentsDepth = ext.depth;
    layout_.extentsLeafRecords = ext.leafRecords;
    layout_.extentsLeafNodes = ext.leaves;
    {
        HeaderFields h;
        h.depth = ext.depth;
        h.root = ext.root;
        h.leafRecords = ext.leafRecords;
        h.firstLeaf = ext.leaves.empty() ? 0 : ext.leaves.front();
        h.lastLeaf = ext.leaves.empty() ? 0 : ext.leaves.back();
        h.maxKeyLength = hfsplus::kExtentKeyLength;
        h.totalNodes = layout_.extentsTotalNodes;
        h.freeNodes = layout_.extentsTotalNodes - static_cast<std::uint32_t>(ext.nodes.size());
        h.clumpSize = o.extentsNodeSize * 4;
        h.attributes = kBigKeys;
        std::vector<bool> map(layout_.extentsTotalNodes, false);
        for (std::size_t i = 0; i < ext.nodes.size(); ++i)
            map[i] = true;
        ext.nodes[0] = encodeHeaderNode(o.extentsNodeSize, h, map);
        for (std::uint32_t n = 0; n < ext.nodes.size(); ++n)
            writeAt(layout_.extentsNodeOffset(n), ext.nodes[n]);
    }

    // --- an empty attributes tree ---
    if (o.attributesFile) {
        const std::uint32_t nodeSize = 4096;
        const std::uint32_t total = layout_.attributesFile[0].blockCount * bs / nodeSize;
        HeaderFields h;
        h.maxKeyLength = 266;
        h.totalNodes = total;
        h.freeNodes = total - 1;
        h.clumpSize = nodeSize * 4;
        h.attributes = kBigKeys | kVariableIndexKeys;
        writeAt(std::uint64_t{layout_.attributesFile[0].startBlock} * bs, encodeHeaderNode(nodeSize, h, {true}));
    }

    // --- the journal ---
    layout_.journalCatalogNodes.clear();
    layout_.journalExtentsNodes.clear();
    std::uint32_t journalInfoBlock = 0;
    bool anyJournalContent = false;
    for (std::size_t t = 0; t < journalCatalogRecords_.size(); ++t)
        anyJournalContent =
            anyJournalContent || !journalCatalogRecords_[t].empty() || !journalExtentsRecords_[t].empty();
    if (!o.journaled && anyJournalContent) fail("journal records on a volume that is not journaled");
    layout_.journalInfoBlock = layout_.journalOffset = layout_.journalSize = 0;
    if (o.journaled) {
        const std::uint64_t jOff = std::uint64_t{journalStartBlock_} * bs;
        const std::uint64_t jSize = o.journalSize;
        const std::uint32_t jh = o.sectorSize;
        const std::uint32_t blh = o.journalBlockListSize;
        const bool little = !o.journalBigEndian;
        const std::uint64_t first = o.journalFirstTransactionOffset ? o.journalFirstTransactionOffset : jh;
        if (first < jh || first >= jSize || first % o.sectorSize != 0) fail("bad first transaction offset");
        std::uint64_t pos = first;
        std::uint64_t written = 0;
        auto putCircular = [&](const Bytes& b) {
            written += b.size();
            if (written > jSize - jh) fail("journal full; raise journalSize");
            for (std::uint8_t byte : b) {
                vol[jOff + pos] = byte;
                if (++pos == jSize) pos = jh;
            }
        };
        const std::uint32_t maxBlocks = blh / 16 - 1;
        const std::uint64_t catalogTarget = layout_.catalogNodeOffset(cat.leaves.empty() ? 1 : cat.leaves.front());
        const std::uint64_t extentsTarget = layout_.extentsNodeOffset(1);
        for (std::size_t t = 0; t < journalCatalogRecords_.size(); ++t) {
            struct Copy {
                Bytes node;
                std::uint64_t target;
                bool catalog;
            };
            std::vector<Copy> copies;
            auto records = journalCatalogRecords_[t];
            std::stable_sort(records.begin(), records.end(), [&](const HFSCatalogRecord& a, const HFSCatalogRecord& b) {
                return compareCatalogKeys(a.keyParentID, a.keyName.units, b.keyParentID, b.keyName.units, binary) < 0;
            });
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
                if (group.size() == 1 && padSingleExtents_)
                    group.push_back(encodeExtentsRecord({hfsplus::kDataFork, kPadExtentsFileID, 0, {}}));
                copies.push_back(
                    {encodeNode(group, o.extentsNodeSize, hfsplus::kLeafNode, 1, 0, 0), extentsTarget, false});
            }
            for (std::size_t c = 0; c < copies.size(); c += maxBlocks) {
                const std::size_t n = std::min<std::size_t>(maxBlocks, copies.size() - c);
                Bytes list(blh, 0);
                Writer w(list, 0, little);
                std::uint64_t bytesUsed = blh;
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
                putCircular(list);
                for (std::size_t i = 0; i < n; ++i) {
                    const Copy& copy = copies[c + i];
                    HFSNodePlacement p;
                    p.volumeOffset = jOff + pos;
                    p.imageOffset = layout_.volumeOffset + p.volumeOffset;
                    (copy.catalog ? layout_.journalCatalogNodes : layout_.journalExtentsNodes).push_back(p);
                    putCircular(copy.node);
                }
            }
        }
        Writer jw(vol, jOff, little);
        jw.u32(0, kJournalMagic);
        jw.u32(4, kJournalEndian);
        jw.u64(8, o.journalClean ? pos : first);
        jw.u64(16, pos);
        jw.u64(24, jSize);
        jw.u32(32, blh);
        jw.u32(36, 0);
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
        layout_.journalInfoBlock = journalInfoBlock;
        layout_.journalOffset = infoOffset;
        layout_.journalSize = infoSize;
    }

    // --- the allocation bitmap ---
    std::uint32_t freeBlocks = 0;
    {
        Writer w(vol, std::uint64_t{layout_.allocationFile[0].startBlock} * bs);
        for (std::uint32_t b = 0; b < totalBlocks_; b += 8) {
            std::uint8_t byte = 0;
            for (std::uint32_t i = 0; i < 8 && b + i < totalBlocks_; ++i)
                if (used[b + i]) byte |= static_cast<std::uint8_t>(0x80 >> i);
            w.u8(b / 8, byte);
        }
        for (std::uint32_t b = 0; b < totalBlocks_; ++b)
            freeBlocks += used[b] ? 0 : 1;
    }
    layout_.freeBlocks = freeBlocks;

    // --- the volume headers ---
    Bytes header(hfsplus::kVolumeInformationBlockSize, 0);
    {
        Writer w(header);
        w.u16(0, o.hfsx ? hfsplus::kHFSXSignature : hfsplus::kHFSPlusSignature);
        w.u16(2, o.hfsx ? 5 : 4);
        w.u32(4, kVolumeUnmounted | (o.journaled ? kVolumeJournaled : 0));
        w.u32(8, o.journaled ? kMountedVersionJournaled : kMountedVersionPlain);
        w.u32(12, journalInfoBlock);
        w.u32(16, o.defaultDate);
        w.u32(20, o.defaultDate);
        w.u32(24, 0);
        w.u32(28, o.defaultDate);
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
        if (o.attributesFile) writeFork(w, 352, specialFork(layout_.attributesFile, bs));
    }
    writeAt(hfsplus::kVolumeHeaderOffset, header);
    writeAt(o.totalSize - hfsplus::kAlternateHeaderFromEnd, header);

    // --- damage ---
    const Bytes zeroCatalogNode(o.catalogNodeSize, 0);
    if (damage_.zeroCatalogHeader) writeAt(layout_.catalogNodeOffset(0), zeroCatalogNode);
    if (damage_.zeroExtentsHeader) writeAt(layout_.extentsNodeOffset(0), Bytes(o.extentsNodeSize, 0));
    for (std::uint32_t n : damage_.zeroCatalogNodes) {
        if (n >= layout_.catalogTotalNodes) fail("no catalog node " + std::to_string(n) + " to zero");
        writeAt(layout_.catalogNodeOffset(n), zeroCatalogNode);
    }
    auto leafAt = [&](std::size_t i) {
        if (i >= cat.leaves.size()) fail("no leaf " + std::to_string(i) + " in the chain");
        return cat.leaves[i];
    };
    for (const auto& [leaf, link] : damage_.leafLinks)
        Writer(vol, layout_.catalogNodeOffset(leafAt(leaf))).u32(0, link);
    for (const auto& [from, to] : damage_.leafLoops)
        Writer(vol, layout_.catalogNodeOffset(leafAt(to))).u32(0, leafAt(from));
    if (damage_.zeroPrimary) writeAt(hfsplus::kVolumeHeaderOffset, Bytes(hfsplus::kVolumeInformationBlockSize, 0));
    if (damage_.zeroAlternate)
        writeAt(o.totalSize - hfsplus::kAlternateHeaderFromEnd, Bytes(hfsplus::kVolumeInformationBlockSize, 0));
    return vol;
}

std::vector<std::uint8_t> HFSPlusImageBuilder::build() {
    const auto& o = options_;
    Bytes vol = buildVolume();

    Bytes container;
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper) {
        const std::uint32_t wbs = o.wrapperBlockSize;
        const std::uint64_t embedBlocks = o.totalSize / wbs;
        const std::uint64_t tailBlocks = std::max<std::uint64_t>(1, ceilDiv(1024, wbs));
        const std::uint64_t wrapperBlocks = o.wrapperEmbedStartBlock + embedBlocks + tailBlocks;
        if (embedBlocks > 0xFFFF || wrapperBlocks > 0xFFFF)
            fail("volume too large for an HFS wrapper; raise wrapperBlockSize");
        if (std::uint64_t{o.wrapperAllocationStart} * 512 < 1536 && o.wrapperEmbedStartBlock == 0)
            fail("the embedded volume would overlap the wrapper's master directory block");
        const std::uint64_t size = std::uint64_t{o.wrapperAllocationStart} * 512 + wrapperBlocks * wbs;
        container.assign(size, 0);
        const std::uint64_t embedAt =
            std::uint64_t{o.wrapperAllocationStart} * 512 + std::uint64_t{o.wrapperEmbedStartBlock} * wbs;
        std::copy(vol.begin(), vol.end(), container.begin() + static_cast<std::ptrdiff_t>(embedAt));
        Bytes mdb(hfsplus::kMasterDirectoryBlockSize, 0);
        Writer w(mdb);
        w.u16(0, hfsplus::kHFSSignature);
        w.u32(2, o.defaultDate);
        w.u32(6, o.defaultDate);
        w.u16(10, kVolumeUnmounted);
        w.u16(14, 3); // bitmap sector
        w.u16(18, static_cast<std::uint16_t>(wrapperBlocks));
        w.u32(20, wbs);
        w.u32(24, wbs);
        w.u16(28, o.wrapperAllocationStart);
        w.u32(30, 16);
        const std::string name = o.volumeName.substr(0, 27);
        w.u8(36, static_cast<std::uint8_t>(name.size()));
        w.raw(37, reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
        w.u16(124, o.hfsx ? hfsplus::kHFSXSignature : hfsplus::kHFSPlusSignature);
        w.u16(126, o.wrapperEmbedStartBlock);
        w.u16(128, static_cast<std::uint16_t>(embedBlocks));
        if (!damage_.zeroWrapperMDB) std::copy(mdb.begin(), mdb.end(), container.begin() + 1024);
        std::copy(mdb.begin(), mdb.end(), container.end() - 1024);
    } else {
        container = std::move(vol);
    }

    const std::uint64_t imageSize = o.diskSize ? o.diskSize : o.diskOffset + container.size();
    if (o.diskOffset + container.size() > imageSize) fail("volume does not fit in the disk size given");
    Bytes image;
    if (o.diskOffset == 0 && imageSize == container.size()) {
        image = std::move(container);
    } else {
        image.assign(imageSize, 0);
        std::copy(container.begin(), container.end(), image.begin() + static_cast<std::ptrdiff_t>(o.diskOffset));
    }
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

// ------------------------------------------------------------ helpers ----

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

std::vector<std::uint8_t> HFSPlusImageBuilder::readFork(const std::vector<std::uint8_t>& image, const Layout& layout,
                                                        const std::vector<HFSExtent>& extents, std::uint64_t size) {
    Bytes out;
    for (const auto& x : extents) {
        const std::uint64_t at = layout.volumeOffset + std::uint64_t{x.startBlock} * layout.blockSize;
        const std::uint64_t n = std::uint64_t{x.blockCount} * layout.blockSize;
        if (at >= image.size()) break;
        const std::uint64_t take = std::min<std::uint64_t>(n, image.size() - at);
        out.insert(out.end(), image.begin() + static_cast<std::ptrdiff_t>(at),
                   image.begin() + static_cast<std::ptrdiff_t>(at + take));
        if (out.size() >= size) break;
    }
    if (out.size() > size) out.resize(size);
    return out;
}

} // namespace testsupport
