#include "support/HFSPlusImageBuilder.h"

#include "platform/TextEncoding.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <tuple>

namespace testsupport {

namespace {

using Bytes = std::vector<std::uint8_t>;

[[noreturn]] void fail(const std::string& why) {
    throw std::runtime_error("HFS+ builder: " + why);
}

bool powerOfTwo(std::uint64_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

std::uint64_t ceilDiv(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

struct Field {
    std::uint64_t offset;
    std::uint64_t value;
    int width;
};

// Every on-disk integer goes through here, at its offset from a base:
// big-endian for the volume, little-endian for the journal's own headers.
void put(Bytes& bytes, std::uint64_t base, std::initializer_list<Field> fields, bool little = false) {
    for (const Field& f : fields)
        (little ? putLE : putBE)(bytes, base + f.offset, f.value, f.width);
}

void putUnits(Bytes& bytes, std::uint64_t at, const std::u16string& units) {
    for (std::size_t i = 0; i < units.size(); ++i)
        put(bytes, at + 2 * i, {{0, units[i], 2}});
}

void putExtents(Bytes& bytes, std::uint64_t at, const std::vector<HFSExtent>& extents) {
    for (std::size_t i = 0; i < extents.size() && i < hfsplus::kExtentsPerRecord; ++i)
        put(bytes, at + 8 * i, {{0, extents[i].startBlock, 4}, {4, extents[i].blockCount, 4}});
}

void putFork(Bytes& bytes, std::uint64_t at, const HFSForkSpec& f) {
    put(bytes, at, {{0, f.logicalSize, 8}, {8, f.clumpSize, 4}, {12, f.totalBlocks, 4}});
    putExtents(bytes, at + 16, f.extents);
}

void copyInto(Bytes& to, std::uint64_t at, const Bytes& from) {
    if (at + from.size() > to.size()) fail("write past the buffer");
    std::copy(from.begin(), from.end(), to.begin() + static_cast<std::ptrdiff_t>(at));
}

// Key order of the catalog: parent ID, then the name compared by units
// (HFSX) or with the ASCII and Latin-1 case folding the test names need (HFS+).
bool keyLess(const HFSCatalogRecord& a, const HFSCatalogRecord& b, bool binary) {
    if (a.keyParentID != b.keyParentID) return a.keyParentID < b.keyParentID;
    const auto fold = [binary](char16_t c) {
        const bool upper = (c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
        return !binary && upper ? static_cast<char16_t>(c + 32) : c;
    };
    return std::lexicographical_compare(a.keyName.units.begin(), a.keyName.units.end(), b.keyName.units.begin(),
                                        b.keyName.units.end(),
                                        [&](char16_t x, char16_t y) { return fold(x) < fold(y); });
}

// The published journal checksum.
std::uint32_t journalChecksum(const std::uint8_t* p, std::size_t n) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum = (sum << 8) ^ (sum + p[i]);
    return ~sum;
}

constexpr std::uint32_t kDate = 0xD5000000u; // every date the builder writes itself
constexpr std::uint16_t kThreadExistsFlag = 0x0002;
constexpr std::uint32_t kVolumeUnmounted = 0x0100;
constexpr std::uint32_t kVolumeJournaled = 0x2000;
constexpr std::uint32_t kBigKeys = 2;
constexpr std::uint32_t kVariableIndexKeys = 4;
constexpr std::uint64_t kJournalSize = 256u << 10;
constexpr std::uint32_t kJournalBlockListSize = 4096;
constexpr std::uint32_t kWrapperBlockSize = 4096;
constexpr std::uint64_t kWrapperAllocationStart = 8; // in 512-byte sectors, as the format counts it
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
    put(node, 0,
        {{0, fLink, 4},
         {4, bLink, 4},
         {8, static_cast<std::uint8_t>(kind), 1},
         {9, height, 1},
         {10, records.size(), 2}});
    std::size_t off = hfsplus::kBTNodeDescriptorSize;
    for (std::size_t i = 0; i < records.size(); ++i) {
        copyInto(node, off, records[i]);
        put(node, nodeSize - 2 * (i + 1), {{0, off, 2}});
        off += records[i].size();
    }
    put(node, nodeSize - 2 * (records.size() + 1), {{0, off, 2}});
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

// A whole B-tree: leaves numbered from 1, then each index level above them;
// node 0, the header node, is made last.
struct TreeNodes {
    std::vector<Bytes> nodes{Bytes{}};
    std::uint32_t depth = 0;
    std::uint32_t root = 0;
    std::uint32_t leafRecords = 0;
    std::vector<std::uint32_t> leaves;
};

TreeNodes buildTree(const std::vector<Bytes>& sortedRecords, std::uint32_t nodeSize, std::uint32_t maxPerLeaf,
                    std::size_t keyLength = 0) {
    TreeNodes t;
    t.leafRecords = static_cast<std::uint32_t>(sortedRecords.size());
    if (sortedRecords.empty()) return t;
    // A record's key: its first keyLength bytes, or as long as its key length says.
    const auto keyOf = [keyLength](const Bytes& r) {
        const std::size_t n = keyLength ? keyLength : 2 + ((std::size_t{r[0]} << 8) | r[1]);
        return Bytes(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(n));
    };
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
            t.nodes.push_back(encodeNode(groups[i], nodeSize, kind, height, f, i > 0 ? number - 1 : 0));
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
            r.resize(r.size() + 4);
            put(r, c.key.size(), {{0, c.node, 4}});
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
        level = makeLevel(groups, hfsplus::kIndexNode, ++height, firstKeys);
    }
    t.depth = height;
    t.root = level.front().node;
    return t;
}

// Node 0 of a tree: header record, user data record and map record, the
// tree's own nodes marked used.
Bytes encodeHeaderNode(const TreeNodes& t, std::uint32_t nodeSize, std::uint32_t totalNodes, std::uint16_t maxKeyLength,
                       std::uint8_t compareType, std::uint32_t attributes) {
    const std::size_t mapBytes = nodeSize - 256;
    if (totalNodes > mapBytes * 8) fail("B-tree too large for the header node's map (no map nodes are written)");
    const auto used = static_cast<std::uint32_t>(t.nodes.size());
    Bytes header(hfsplus::kBTHeaderRecordSize, 0);
    put(header, 0,
        {{0, t.depth, 2},
         {2, t.root, 4},
         {6, t.leafRecords, 4},
         {10, t.leaves.empty() ? 0 : t.leaves.front(), 4},
         {14, t.leaves.empty() ? 0 : t.leaves.back(), 4},
         {18, nodeSize, 2},
         {20, maxKeyLength, 2},
         {22, totalNodes, 4},
         {26, totalNodes - used, 4},
         {32, nodeSize * 4, 4},
         {37, compareType, 1},
         {38, attributes, 4}});
    Bytes map(mapBytes, 0);
    for (std::uint32_t i = 0; i < used; ++i)
        map[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
    return encodeNode({header, Bytes(128, 0), map}, nodeSize, hfsplus::kHeaderNode, 0, 0, 0);
}

Bytes encodeExtentsRecord(const HFSExtentsRecord& r) {
    Bytes out(hfsplus::kExtentLeafRecordSize, 0);
    put(out, 0, {{0, hfsplus::kExtentKeyLength, 2}, {2, r.forkType, 1}, {4, r.fileID, 4}, {8, r.startBlock, 4}});
    putExtents(out, 12, r.extents);
    return out;
}

bool extentsKeyLess(const HFSExtentsRecord& a, const HFSExtentsRecord& b) {
    return std::tie(a.fileID, a.forkType, a.startBlock) < std::tie(b.fileID, b.forkType, b.startBlock);
}

Bytes encodeCatalogRecord(const HFSCatalogRecord& r) {
    const std::u16string& name = r.keyName.units;
    const std::uint16_t storedLength = r.storedNameLength.value_or(static_cast<std::uint16_t>(name.size()));
    const std::size_t written = std::min<std::size_t>(storedLength, name.size());
    const std::size_t keyLength = 6 + 2 * written;
    const bool thread = r.type == hfsplus::kFolderThreadRecord || r.type == hfsplus::kFileThreadRecord;
    const bool file = r.type == hfsplus::kFileRecord;
    const std::size_t dataSize = thread ? hfsplus::kCatalogThreadNameOffset + 2 * r.threadName.units.size()
                                        : (file ? hfsplus::kCatalogFileSize : hfsplus::kCatalogFolderSize);
    Bytes out(2 + keyLength + dataSize, 0);
    put(out, 0, {{0, keyLength, 2}, {2, r.keyParentID, 4}, {6, storedLength, 2}});
    putUnits(out, 8, name.substr(0, written));
    const std::size_t d = 2 + keyLength;
    put(out, d, {{0, static_cast<std::uint16_t>(r.type), 2}});
    if (thread) {
        put(out, d, {{4, r.threadParentID, 4}, {8, r.threadName.units.size(), 2}});
        putUnits(out, d + hfsplus::kCatalogThreadNameOffset, r.threadName.units);
        return out;
    }
    put(out, d,
        {{2, r.flags, 2},
         {8, r.id, 4},
         {12, r.createDate, 4},
         {16, r.contentModDate, 4},
         {20, r.attributeModDate, 4},
         {24, r.accessDate, 4},
         {32, r.ownerID, 4},
         {36, r.groupID, 4},
         {42, r.fileMode, 2}});
    if (!file) put(out, d, {{4, r.valence, 4}}); // the file record's word at 4 is reserved
    if (file) {
        putFork(out, d + hfsplus::kCatalogFileDataForkOffset, r.dataFork);
        putFork(out, d + hfsplus::kCatalogFileResourceForkOffset, r.resourceFork);
    }
    return out;
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

} // namespace

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
    if (o.totalSize == 0 || o.totalSize % bs != 0 || o.totalSize / bs > 0xFFFFFFFFu ||
        o.totalSize % kWrapperBlockSize != 0)
        throw std::invalid_argument("HFS+ builder: total size must be a multiple of the block size and of 4096");
    if (o.diskOffset % o.sectorSize != 0) throw std::invalid_argument("HFS+ builder: disk offset");

    totalBlocks_ = static_cast<std::uint32_t>(o.totalSize / bs);
    volume_.assign(o.totalSize, 0);
    used_.assign(totalBlocks_, false);
    layout_.sectorSize = o.sectorSize;
    layout_.blockSize = bs;
    layout_.containerOffset = layout_.volumeOffset = o.diskOffset;
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper)
        layout_.volumeOffset += kWrapperAllocationStart * 512 + kWrapperEmbedStartBlock * kWrapperBlockSize;

    // The tail holding the alternate header, then the boot blocks and the
    // volume header, then the special files in their order.
    dataLimit_ = static_cast<std::uint32_t>((o.totalSize - 1024) / bs);
    for (std::uint32_t b = dataLimit_; b < totalBlocks_; ++b)
        used_[b] = true;
    allocateContiguous(static_cast<std::uint32_t>(ceilDiv(1536, bs)), true);
    const auto bitmapBlocks = static_cast<std::uint32_t>(ceilDiv(ceilDiv(totalBlocks_, 8), bs));
    allocationFile_ = {{allocateContiguous(bitmapBlocks, true), bitmapBlocks}};
    const auto extentBlocks = static_cast<std::uint32_t>(ceilDiv(std::uint64_t{16} * o.extentsNodeSize, bs));
    extentsFile_ = {{allocateContiguous(extentBlocks, true), extentBlocks}};
    extentsNodes_ = static_cast<std::uint32_t>(std::uint64_t{extentBlocks} * bs / o.extentsNodeSize);

    std::uint32_t catalogNodes = o.catalogNodeCount;
    if (catalogNodes == 0) catalogNodes = std::max<std::uint32_t>(32, (256u << 10) / o.catalogNodeSize);
    // Each extent of the catalog holds whole nodes.
    const std::uint32_t unit = std::max<std::uint32_t>(1, o.catalogNodeSize / bs);
    auto catalogBlocks = static_cast<std::uint32_t>(ceilDiv(std::uint64_t{catalogNodes} * o.catalogNodeSize, bs));
    catalogBlocks = static_cast<std::uint32_t>(ceilDiv(catalogBlocks, unit) * unit);
    layout_.catalogFile = allocateRuns(catalogBlocks, o.catalogExtentCount, true, unit);
    layout_.catalogNodeSize = o.catalogNodeSize;
    catalogNodes_ = static_cast<std::uint32_t>(std::uint64_t{catalogBlocks} * bs / o.catalogNodeSize);

    if (o.journaled) {
        journalInfoBlock_ = allocateContiguous(1, true);
        journalStart_ = allocateContiguous(static_cast<std::uint32_t>(kJournalSize / bs), true);
    }
}

std::uint32_t HFSPlusImageBuilder::allocateContiguous(std::uint32_t blocks, bool used) {
    if (std::uint64_t{cursor_} + blocks > dataLimit_)
        fail("volume full: raise totalSize (" + std::to_string(blocks) + " blocks wanted at block " +
             std::to_string(cursor_) + " of " + std::to_string(dataLimit_) + ")");
    std::fill(used_.begin() + cursor_, used_.begin() + cursor_ + blocks, used);
    cursor_ += blocks;
    return cursor_ - blocks;
}

std::vector<HFSExtent> HFSPlusImageBuilder::allocateRuns(std::uint32_t blocks, std::uint32_t runs, bool used,
                                                         std::uint32_t unit) {
    std::vector<HFSExtent> out;
    if (blocks == 0) return out;
    runs = std::max<std::uint32_t>(runs, 1);
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

std::vector<HFSExtent> HFSPlusImageBuilder::placeFork(const Bytes& data, std::uint32_t runs, bool used) {
    const std::uint32_t bs = options_.blockSize;
    auto extents = allocateRuns(static_cast<std::uint32_t>(ceilDiv(data.size(), bs)), runs, used);
    std::size_t done = 0;
    for (const auto& x : extents) {
        const std::size_t n = std::min<std::size_t>(data.size() - done, std::size_t{x.blockCount} * bs);
        copyInto(volume_, std::uint64_t{x.startBlock} * bs, Bytes(data.begin() + done, data.begin() + done + n));
        done += n;
    }
    return extents;
}

// ------------------------------------------------------------ entries ----

HFSPlusImageBuilder::Entry& HFSPlusImageBuilder::makeEntry(std::uint32_t id, std::uint32_t parentID,
                                                           const HFSName& name, Kind kind, bool live) {
    if (id == 0) id = nextID_;
    if (entryIndex_.count(id) != 0 || id == kRoot) fail("entry ID " + std::to_string(id) + " used twice");
    nextID_ = std::max(nextID_, id + 1);
    entryIndex_[id] = entries_.size();
    return entries_.emplace_back(Entry{.id = id, .parentID = parentID, .name = name, .kind = kind, .live = live});
}

std::uint32_t HFSPlusImageBuilder::addFileEntry(std::uint32_t id, std::uint32_t parentID, const HFSName& name,
                                                std::vector<std::uint8_t> data, const HFSFileOptions& options,
                                                bool live) {
    Entry& e = makeEntry(id, parentID, name, Kind::File, live);
    const std::uint32_t bs = options_.blockSize;
    e.size = data.size();
    e.data = std::move(data);
    e.resource = options.resourceFork;
    e.dataTotalBlocks = static_cast<std::uint32_t>(ceilDiv(e.data.size(), bs));
    e.dataExtents = placeFork(e.data, options.extentCount, live);
    e.resourceTotalBlocks = static_cast<std::uint32_t>(ceilDiv(e.resource.size(), bs));
    e.resourceExtents = placeFork(e.resource, options.resourceExtentCount, live);
    return e.id;
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

const HFSPlusImageBuilder::Entry* HFSPlusImageBuilder::entryNamed(const HFSName& name) const {
    for (const auto& e : entries_)
        if (e.name == name) return &e;
    return nullptr;
}

HFSCatalogRecord HFSPlusImageBuilder::recordOf(std::uint32_t id) const {
    const Entry& e = existingEntry(id);
    const bool folder = e.kind == Kind::Folder;
    HFSCatalogRecord r{.type = folder ? hfsplus::kFolderRecord : hfsplus::kFileRecord,
                       .keyParentID = e.parentID,
                       .keyName = e.name,
                       .id = e.id,
                       .flags = folder ? std::uint16_t{0} : kThreadExistsFlag,
                       .createDate = kDate,
                       .contentModDate = kDate,
                       .attributeModDate = kDate,
                       .accessDate = kDate,
                       .ownerID = 501,
                       .groupID = 20,
                       .fileMode = static_cast<std::uint16_t>(folder ? 0040755 : 0100644),
                       .dataFork = {e.data.size(), 0, e.dataTotalBlocks, e.dataExtents},
                       .resourceFork = {e.resource.size(), 0, e.resourceTotalBlocks, e.resourceExtents}};
    if (folder)
        r.valence = static_cast<std::uint32_t>(std::count_if(
            entries_.begin(), entries_.end(), [&](const Entry& c) { return c.parentID == id && c.live == e.live; }));
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
                                                                     std::uint32_t nodeSize) {
    std::vector<Bytes> encoded;
    for (const auto& r : records)
        encoded.push_back(encodeCatalogRecord(r));
    return encodeNode(encoded, nodeSize, hfsplus::kLeafNode, 1, 0, 0);
}

// ---------------------------------------------- journal and stale nodes ----

std::uint32_t HFSPlusImageBuilder::addDeletedFileInJournal(std::uint32_t parentID, const HFSName& name,
                                                           std::vector<std::uint8_t> data, std::uint32_t extentCount) {
    const std::uint32_t id = addDeletedFile(parentID, name, std::move(data), {.extentCount = extentCount});
    addJournalCopyOf(id);
    return id;
}

void HFSPlusImageBuilder::addJournalCopyOf(std::uint32_t id) {
    addJournalRecords({recordOf(id)});
    addJournalExtentsRecords(overflowRecordsOf(id));
}

void HFSPlusImageBuilder::addJournalRecords(const std::vector<HFSCatalogRecord>& records) {
    if (journalCatalogRecords_.empty()) endJournalTransaction();
    journalCatalogRecords_.back().insert(journalCatalogRecords_.back().end(), records.begin(), records.end());
}

void HFSPlusImageBuilder::addJournalExtentsRecords(const std::vector<HFSExtentsRecord>& records) {
    if (journalCatalogRecords_.empty()) endJournalTransaction();
    journalExtentsRecords_.back().insert(journalExtentsRecords_.back().end(), records.begin(), records.end());
}

void HFSPlusImageBuilder::endJournalTransaction() {
    if (!journalCatalogRecords_.empty() && journalCatalogRecords_.back().empty() &&
        journalExtentsRecords_.back().empty())
        return; // the current one is still empty
    journalCatalogRecords_.emplace_back();
    journalExtentsRecords_.emplace_back();
}

void HFSPlusImageBuilder::addStaleLeafNodeOf(const std::vector<std::uint32_t>& ids) {
    std::vector<HFSCatalogRecord> records;
    for (std::uint32_t id : ids)
        records.push_back(recordOf(id));
    const Bytes node = encodeCatalogLeafNode(records, options_.catalogNodeSize);
    const auto blocks = static_cast<std::uint32_t>(ceilDiv(options_.catalogNodeSize, options_.blockSize));
    copyInto(volume_, std::uint64_t{allocateContiguous(blocks, false)} * options_.blockSize, node);
}

// -------------------------------------------------------------- build ----

std::uint64_t HFSPlusImageBuilder::catalogNodeOffset(std::uint32_t node) const {
    std::uint64_t rest = std::uint64_t{node} * options_.catalogNodeSize;
    for (const auto& e : layout_.catalogFile) {
        const std::uint64_t bytes = std::uint64_t{e.blockCount} * options_.blockSize;
        if (rest < bytes) return std::uint64_t{e.startBlock} * options_.blockSize + rest;
        rest -= bytes;
    }
    fail("no catalog node " + std::to_string(node));
}

std::vector<std::uint8_t> HFSPlusImageBuilder::buildVolume() {
    const auto& o = options_;
    const std::uint32_t bs = o.blockSize;
    Bytes vol = volume_;
    const bool binary = o.hfsx;
    const auto catalogOrder = [&](const HFSCatalogRecord& a, const HFSCatalogRecord& b) {
        return keyLess(a, b, binary);
    };

    // --- the live catalog: the root, then every live entry, each with its thread ---
    HFSCatalogRecord root{.type = hfsplus::kFolderRecord,
                          .keyParentID = hfsplus::kRootParentID,
                          .keyName = HFSName(o.volumeName),
                          .id = kRoot,
                          .createDate = kDate,
                          .contentModDate = kDate,
                          .attributeModDate = kDate,
                          .accessDate = kDate,
                          .groupID = 80,
                          .fileMode = 0040755};
    std::vector<HFSCatalogRecord> live{root};
    std::uint32_t fileCount = 0, folderCount = 0, maxID = kRoot;
    const auto threadOf = [&](std::uint32_t id, std::uint32_t parentID, const HFSName& name, bool folder) {
        live.push_back({.type = folder ? hfsplus::kFolderThreadRecord : hfsplus::kFileThreadRecord,
                        .keyParentID = id,
                        .threadParentID = parentID,
                        .threadName = name});
    };
    threadOf(kRoot, hfsplus::kRootParentID, root.keyName, true);
    for (const auto& e : entries_) {
        maxID = std::max(maxID, e.id);
        if (!e.live) continue;
        (e.kind == Kind::Folder ? folderCount : fileCount) += 1;
        live.push_back(recordOf(e.id));
        threadOf(e.id, e.parentID, e.name, e.kind == Kind::Folder);
    }
    live.front().valence = static_cast<std::uint32_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.parentID == kRoot && e.live; }));
    std::stable_sort(live.begin(), live.end(), catalogOrder);
    std::vector<Bytes> liveBytes;
    for (const auto& r : live)
        liveBytes.push_back(encodeCatalogRecord(r));
    TreeNodes cat = buildTree(liveBytes, o.catalogNodeSize, o.maxRecordsPerLeaf);
    if (cat.nodes.size() > catalogNodes_)
        fail("catalog full: " + std::to_string(cat.nodes.size()) + " nodes needed, " + std::to_string(catalogNodes_) +
             " available; raise catalogNodeCount");
    layout_.catalogDepth = cat.depth;
    cat.nodes[0] = encodeHeaderNode(cat, o.catalogNodeSize, catalogNodes_, hfsplus::kCatalogKeyMaxSize - 2,
                                    binary ? 0xBC : 0xCF, kBigKeys | kVariableIndexKeys);
    for (std::uint32_t n = 0; n < cat.nodes.size(); ++n)
        copyInto(vol, catalogNodeOffset(n), cat.nodes[n]);

    // --- the extents-overflow tree: the catalog's own overflow and the live files' ---
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
    TreeNodes ext = buildTree(overflowBytes, o.extentsNodeSize, 0, 12);
    if (ext.nodes.size() > extentsNodes_) fail("extents file full");
    ext.nodes[0] = encodeHeaderNode(ext, o.extentsNodeSize, extentsNodes_, hfsplus::kExtentKeyLength, 0, kBigKeys);
    for (std::uint32_t n = 0; n < ext.nodes.size(); ++n)
        copyInto(vol, std::uint64_t{extentsFile_[0].startBlock} * bs + std::uint64_t{n} * o.extentsNodeSize,
                 ext.nodes[n]);

    // --- the journal: every transaction checkpointed, so start equals end ---
    layout_.journalCatalogNodes.clear();
    layout_.journalExtentsNodes.clear();
    layout_.journalInfoBlock = 0;
    for (std::size_t t = 0; t < journalCatalogRecords_.size(); ++t)
        if (!o.journaled && (!journalCatalogRecords_[t].empty() || !journalExtentsRecords_[t].empty()))
            fail("journal records on a volume that is not journaled");
    if (o.journaled) {
        const std::uint64_t jOff = std::uint64_t{journalStart_} * bs;
        const std::uint32_t jh = o.sectorSize; // the journal header's size
        std::uint64_t pos = jh;
        std::uint64_t written = 0;
        auto putCircular = [&](const Bytes& b) {
            written += b.size();
            if (written > kJournalSize - jh) fail("journal full");
            for (std::uint8_t byte : b) {
                vol[jOff + pos] = byte;
                if (++pos == kJournalSize) pos = jh;
            }
        };
        const std::uint32_t maxBlocks = kJournalBlockListSize / 16 - 1;
        const std::uint64_t catalogTarget = catalogNodeOffset(cat.leaves.empty() ? 1 : cat.leaves.front());
        const std::uint64_t extentsTarget = std::uint64_t{extentsFile_[0].startBlock} * bs + o.extentsNodeSize;
        for (std::size_t t = 0; t < journalCatalogRecords_.size(); ++t) {
            struct Copy {
                Bytes node;
                std::uint64_t target;
                bool catalog;
            };
            std::vector<Copy> copies;
            auto records = journalCatalogRecords_[t];
            std::stable_sort(records.begin(), records.end(), catalogOrder);
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
                if (group.size() == 1) group.push_back(encodeExtentsRecord({hfsplus::kDataFork, 0xFFFFFF00u, 0, {}}));
                copies.push_back(
                    {encodeNode(group, o.extentsNodeSize, hfsplus::kLeafNode, 1, 0, 0), extentsTarget, false});
            }
            for (std::size_t c = 0; c < copies.size(); c += maxBlocks) {
                const std::size_t n = std::min<std::size_t>(maxBlocks, copies.size() - c);
                Bytes list(kJournalBlockListSize, 0);
                std::uint64_t bytesUsed = kJournalBlockListSize;
                for (std::size_t i = 0; i < n; ++i) {
                    const Copy& copy = copies[c + i];
                    put(list, 16 * (i + 1), {{0, copy.target / jh, 8}, {8, copy.node.size(), 4}}, true);
                    bytesUsed += copy.node.size();
                }
                put(list, 0, {{0, maxBlocks, 2}, {2, n + 1, 2}, {4, bytesUsed, 4}}, true);
                put(list, 0, {{8, journalChecksum(list.data(), 32), 4}}, true);
                putCircular(list);
                for (std::size_t i = 0; i < n; ++i) {
                    const Copy& copy = copies[c + i];
                    (copy.catalog ? layout_.journalCatalogNodes : layout_.journalExtentsNodes)
                        .push_back({layout_.volumeOffset + jOff + pos});
                    putCircular(copy.node);
                }
            }
        }
        put(vol, jOff,
            {{0, 0x4A4E4C78, 4},
             {4, 0x12345678, 4},
             {8, pos, 8},
             {16, pos, 8},
             {24, kJournalSize, 8},
             {32, kJournalBlockListSize, 4},
             {40, jh, 4}},
            true); // "JNLx", the endian mark, start, end, size, block list size, header size
        put(vol, jOff, {{36, journalChecksum(vol.data() + jOff, 44), 4}}, true);

        using JD = HFSPlusImageOptions::JournalDamage;
        layout_.journalInfoBlock = o.journalDamage == JD::NoInfoBlock        ? 0
                                   : o.journalDamage == JD::InfoBlockPastEnd ? totalBlocks_ + 16
                                                                             : journalInfoBlock_;
        const std::uint64_t infoOffset = o.journalDamage == JD::OffsetPastEnd ? o.totalSize + bs : jOff;
        const std::uint64_t infoSize = o.journalDamage == JD::SizePastEnd ? o.totalSize : kJournalSize;
        // The journal lies in the file system.
        put(vol, std::uint64_t{journalInfoBlock_} * bs, {{0, 1, 4}, {36, infoOffset, 8}, {44, infoSize, 8}});
    }

    // --- the allocation bitmap ---
    layout_.freeBlocks = static_cast<std::uint32_t>(std::count(used_.begin(), used_.end(), false));
    for (std::uint32_t b = 0; b < totalBlocks_; ++b)
        if (used_[b]) vol[std::uint64_t{allocationFile_[0].startBlock} * bs + b / 8] |= 0x80 >> (b % 8);

    // --- the volume headers ---
    Bytes header(hfsplus::kVolumeInformationBlockSize, 0);
    put(header, 0,
        {{0, o.hfsx ? hfsplus::kHFSXSignature : hfsplus::kHFSPlusSignature, 2},
         {2, o.hfsx ? 5u : 4u, 2},
         {4, kVolumeUnmounted | (o.journaled ? kVolumeJournaled : 0), 4},
         {8, o.journaled ? 0x4846534Au : 0x31302E30u, 4}, // last mounted by "HFSJ" or "10.0"
         {12, layout_.journalInfoBlock, 4},
         {16, kDate, 4},
         {20, kDate, 4},
         {28, kDate, 4},
         {32, fileCount, 4},
         {36, folderCount, 4},
         {40, bs, 4},
         {44, totalBlocks_, 4},
         {48, layout_.freeBlocks, 4},
         {52, cursor_, 4},
         {56, 65536, 4},
         {60, 65536, 4},
         {64, std::max(nextID_, maxID + 1), 4},
         {68, 1, 4},
         {72, 1, 8},             // MacRoman
         {104, 0x48425544, 4},   // the last two words of the Finder information:
         {108, 0x0000B11D, 4}}); // the volume's identifier
    putFork(header, 112, specialFork(allocationFile_, bs));
    putFork(header, 192, specialFork(extentsFile_, bs));
    putFork(header, 272, specialFork(layout_.catalogFile, bs));
    const Bytes zeroHeader(hfsplus::kVolumeInformationBlockSize, 0);
    copyInto(vol, hfsplus::kVolumeHeaderOffset, damage_.zeroPrimary ? zeroHeader : header);
    copyInto(vol, o.totalSize - hfsplus::kAlternateHeaderFromEnd, header);

    // --- damage ---
    if (damage_.zeroCatalogHeader) copyInto(vol, catalogNodeOffset(0), Bytes(o.catalogNodeSize, 0));
    auto leafAt = [&](std::size_t i) {
        if (i >= cat.leaves.size()) fail("no leaf " + std::to_string(i) + " in the chain");
        return cat.leaves[i];
    };
    for (const auto& [from, to] : damage_.leafLoops)
        put(vol, catalogNodeOffset(leafAt(to)), {{0, leafAt(from), 4}});
    return vol;
}

std::vector<std::uint8_t> HFSPlusImageBuilder::build() {
    const auto& o = options_;
    Bytes container = buildVolume();
    if (o.wrapping == HFSPlusImageOptions::Wrapping::HFSWrapper) {
        const std::uint64_t embedBlocks = o.totalSize / kWrapperBlockSize;
        const std::uint64_t wrapperBlocks = kWrapperEmbedStartBlock + embedBlocks + 1;
        if (wrapperBlocks > 0xFFFF) fail("volume too large for an HFS wrapper");
        Bytes wrapper(kWrapperAllocationStart * 512 + wrapperBlocks * kWrapperBlockSize, 0);
        copyInto(wrapper, layout_.volumeOffset - layout_.containerOffset, container);
        Bytes mdb(hfsplus::kMasterDirectoryBlockSize, 0);
        const std::string name = o.volumeName.substr(0, 27);
        put(mdb, 0,
            {{0, hfsplus::kHFSSignature, 2},
             {2, kDate, 4},
             {6, kDate, 4},
             {10, kVolumeUnmounted, 2},
             {14, 3, 2}, // the bitmap's sector
             {18, wrapperBlocks, 2},
             {20, kWrapperBlockSize, 4},
             {24, kWrapperBlockSize, 4},
             {28, kWrapperAllocationStart, 2},
             {30, 16, 4},
             {36, name.size(), 1},
             {124, o.hfsx ? hfsplus::kHFSXSignature : hfsplus::kHFSPlusSignature, 2},
             {126, kWrapperEmbedStartBlock, 2},
             {128, embedBlocks, 2}});
        copyInto(mdb, 37, Bytes(name.begin(), name.end()));
        copyInto(wrapper, 1024, mdb);
        copyInto(wrapper, wrapper.size() - 1024, mdb);
        container = std::move(wrapper);
    }
    const std::uint64_t imageSize = o.diskSize ? o.diskSize : o.diskOffset + container.size();
    if (o.diskOffset + container.size() > imageSize) fail("volume does not fit in the disk size given");
    Bytes image(imageSize, 0);
    copyInto(image, o.diskOffset, container);
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
