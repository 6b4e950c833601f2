#include "hfsplus/HFSPlusVolume.h"

#include "hfsplus/HFSPlusStructures.h"
#include "platform/AppController.h"
#include "platform/SystemLog.h"
#include "volume/Volume.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <unordered_set>

using platform::ByteView;
using platform::Dict;

namespace {

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

// a + b, or nothing when the sum does not fit 64 bits.
std::optional<std::uint64_t> add64(std::uint64_t a, std::uint64_t b) {
    std::uint64_t sum;
    if (__builtin_add_overflow(a, b, &sum)) return std::nullopt;
    return sum;
}

// a x b, or nothing when the product does not fit 64 bits.
std::optional<std::uint64_t> mul64(std::uint64_t a, std::uint64_t b) {
    std::uint64_t product;
    if (__builtin_mul_overflow(a, b, &product)) return std::nullopt;
    return product;
}

// A size in bytes from the medium is only usable when it is a whole,
// non-zero number of sectors; anything else would divide by zero or cut
// nodes and blocks across sector boundaries.
std::uint32_t wholeSectors(std::uint64_t bytes, std::uint32_t bytesPerSector) {
    if (bytesPerSector == 0 || bytes == 0 || bytes % bytesPerSector != 0) return 0;
    const std::uint64_t sectors = bytes / bytesPerSector;
    return sectors > std::numeric_limits<std::uint32_t>::max() ? 0 : static_cast<std::uint32_t>(sectors);
}

// Extents keys are ordered by file ID, then fork type, then start block.
bool extentKeyNotAbove(const HFSPlusExtentKey_& key, std::uint32_t id, std::uint8_t fork, std::uint32_t start) {
    return std::tie(key.fileID, key.forkType, key.startBlock) <= std::tie(id, fork, start);
}

} // namespace

// ---------------------------------------------------------------------------
// Shared helpers

void HFSPlusVolume::postProgress(const Dict& progress) {
    if (auto* c = platform::appController()) c->updateProgress(progress);
}

bool HFSPlusVolume::sectorsInVolume(std::uint64_t sector, std::uint64_t count) const {
    const std::uint64_t end = add64(volume_.startSector, volume_.sizeInSect()).value_or(kU64Max);
    return count <= end && sector <= end - count;
}

bool HFSPlusVolume::readNode(std::uint64_t sector, std::int32_t sectors, std::vector<std::uint8_t>& buffer) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    buffer.assign(sectors > 0 ? static_cast<std::size_t>(sectors) * bps : 0, 0);
    if (sector == 0 || sectors <= 0 || bps == 0 || !sectorsInVolume(sector, static_cast<std::uint64_t>(sectors)))
        return false;
    if (volume_.readSector(sector, sectors, buffer.data())) return true;
    // Whatever the reader left behind is not this node.
    std::fill(buffer.begin(), buffer.end(), 0);
    return false;
}

std::size_t HFSPlusVolume::catNodeBytes() const {
    if (volume_.catNodeSize <= 0 || volume_.u32BytesInSector() == 0) return 0;
    return static_cast<std::size_t>(volume_.catNodeSize) * volume_.u32BytesInSector();
}

std::size_t HFSPlusVolume::offsetTableStart(std::size_t nodeBytes, std::uint32_t numRecords) {
    const std::uint64_t table = 2 * (static_cast<std::uint64_t>(numRecords) + 1);
    if (nodeBytes < hfsplus::kBTNodeDescriptorSize || table > nodeBytes - hfsplus::kBTNodeDescriptorSize) return 0;
    return nodeBytes - static_cast<std::size_t>(table);
}

std::optional<std::size_t> HFSPlusVolume::recordOffset(ByteView node, std::uint32_t numRecords, std::uint32_t i) {
    const std::size_t table = offsetTableStart(node.size(), numRecords);
    if (table == 0 || i >= numRecords) return std::nullopt;
    const std::size_t offset = node.be16(node.size() - 2 * (static_cast<std::size_t>(i) + 1));
    if (offset < hfsplus::kBTNodeDescriptorSize || offset >= table) return std::nullopt;
    return offset;
}

std::uint16_t HFSPlusVolume::lastOffset(ByteView node) {
    return node.size() < 2 ? 0 : node.be16(node.size() - 2);
}

std::optional<std::vector<std::uint8_t>> HFSPlusVolume::readStructure(std::uint64_t sector, std::uint64_t offset,
                                                                      std::size_t length) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return std::nullopt;
    const std::uint64_t count = (offset + length + bps - 1) / bps;
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) || !sectorsInVolume(sector, count))
        return std::nullopt;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count) * bps, 0);
    if (!volume_.readSector(sector, static_cast<std::int32_t>(count), buffer.data())) return std::nullopt;
    return std::vector<std::uint8_t>(buffer.begin() + static_cast<std::ptrdiff_t>(offset),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(offset + length));
}

std::optional<std::pair<std::uint64_t, std::uint64_t>>
HFSPlusVolume::positionBeforeEnd(std::uint64_t first, std::uint64_t sectors, std::uint64_t bytesBack) const {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return std::nullopt;
    const std::uint64_t sectorsBack = (bytesBack + bps - 1) / bps;
    if (sectors < sectorsBack) return std::nullopt;
    const auto end = add64(first, sectors);
    if (!end) return std::nullopt;
    return std::pair{*end - sectorsBack, sectorsBack * bps - bytesBack};
}

bool HFSPlusVolume::takeBlockSize() {
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint32_t sectors = wholeSectors(volume_.vib.blockSize, bps);
    volume_.setBlockSize(sectors);
    if (sectors == 0)
        platform::logFormat("HFS+ volume on %@: allocation block size %u is not a whole number of %u-byte "
                            "sectors; the volume cannot be read",
                            volume_.path(), volume_.vib.blockSize, bps);
    return sectors != 0;
}

// ---------------------------------------------------------------------------
// Volume header

bool HFSPlusVolume::followWrapper(std::uint64_t volumeStart) {
    const MasterDirectoryBlock& mdb = volume_.mdb;
    if (!hfsplus::isHFSPlusSignature(mdb.drEmbedSigWord)) return false;
    const std::uint32_t bps = volume_.u32BytesInSector();
    const std::uint32_t wrapperBlock = wholeSectors(mdb.drAlBlkSiz, bps);
    if (wrapperBlock == 0) {
        platform::logFormat("HFS wrapper on %@: allocation block size %u is not a whole number of sectors",
                            volume_.path(), mdb.drAlBlkSiz);
        return false;
    }
    const auto offset = embeddedVolumeSectorOffset(mdb, bps);
    if (!offset) return false;
    const auto embeddedStart = add64(volumeStart, *offset);
    if (!embeddedStart) return false;
    volume_.setHPlusVolStart(*embeddedStart);

    const std::uint64_t headerSector = add64(*embeddedStart, hfsplus::kVolumeHeaderOffset / bps).value_or(kU64Max);
    auto bytes = readStructure(headerSector, hfsplus::kVolumeHeaderOffset % bps, hfsplus::kVolumeInformationBlockSize);
    volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
    if (!hfsplus::isHFSPlusSignature(volume_.vib.signature)) {
        const std::uint64_t embeddedSectors = static_cast<std::uint64_t>(mdb.drEmbedExtent.xdrNumABlks) * wrapperBlock;
        if (auto at = positionBeforeEnd(*embeddedStart, embeddedSectors, hfsplus::kAlternateHeaderFromEnd)) {
            bytes = readStructure(at->first, at->second, hfsplus::kVolumeInformationBlockSize);
            volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
        }
    }
    if (!hfsplus::isHFSPlusSignature(volume_.vib.signature)) return false;
    return takeBlockSize();
}

bool HFSPlusVolume::initializeVIB() {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) return false;
    const std::uint64_t s = volume_.startSector;

    // Primary header: 1024 bytes into the volume, or in the sector the
    // partition search found it in.
    const std::uint64_t primarySector =
        volume_.vibAtSector != 0 ? volume_.vibAtSector
                                 : add64(s, hfsplus::kVolumeHeaderOffset / bps).value_or(kU64Max);
    const std::uint64_t primaryOffset = hfsplus::kVolumeHeaderOffset % bps;
    auto bytes = readStructure(primarySector, primaryOffset, hfsplus::kVolumeInformationBlockSize);
    volume_.mdb = convertMDB(bytes ? ByteView(*bytes) : ByteView());
    if (volume_.mdb.drSigWord == hfsplus::kHFSSignature) return followWrapper(s);
    if (hfsplus::isHFSPlusSignature(volume_.mdb.drSigWord)) {
        volume_.setHPlusVolStart(s);
        volume_.vib = convertVIB(ByteView(*bytes));
        return takeBlockSize();
    }

    // The alternate copy, 1024 bytes before the volume's end.
    bytes.reset();
    if (auto at = positionBeforeEnd(s, volume_.sizeInSect(), hfsplus::kAlternateHeaderFromEnd))
        bytes = readStructure(at->first, at->second, hfsplus::kVolumeInformationBlockSize);
    volume_.mdb = convertMDB(bytes ? ByteView(*bytes) : ByteView());
    if (volume_.mdb.drSigWord == hfsplus::kHFSSignature) return followWrapper(s);
    volume_.setHPlusVolStart(s);
    if (!hfsplus::isHFSPlusSignature(volume_.mdb.drSigWord)) return false;
    volume_.vib = convertVIB(ByteView(*bytes));
    return takeBlockSize();
}

void HFSPlusVolume::fillVIB() {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (bps == 0) {
        volume_.setBlockSize(0);
        return;
    }
    auto bytes = readStructure(hfsplus::kVolumeHeaderOffset / bps, hfsplus::kVolumeHeaderOffset % bps,
                               hfsplus::kVolumeInformationBlockSize);
    volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
    if (volume_.vib.signature == hfsplus::kHFSSignature) {
        volume_.mdb = convertMDB(ByteView(*bytes));
        const MasterDirectoryBlock& mdb = volume_.mdb;
        if (hfsplus::isHFSPlusSignature(mdb.drEmbedSigWord)) {
            const std::uint32_t wrapperBlock = wholeSectors(mdb.drAlBlkSiz, bps);
            if (wrapperBlock == 0) {
                volume_.setBlockSize(0);
                return;
            }
            const auto offset = embeddedVolumeSectorOffset(mdb, bps);
            if (!offset) {
                volume_.setBlockSize(0);
                return;
            }
            const std::uint64_t start = *offset;
            volume_.setHPlusVolStart(start);
            bytes = readStructure(start + hfsplus::kVolumeHeaderOffset / bps, hfsplus::kVolumeHeaderOffset % bps,
                                  hfsplus::kVolumeInformationBlockSize);
            volume_.vib = convertVIB(bytes ? ByteView(*bytes) : ByteView());
        }
    } else {
        volume_.setHPlusVolStart(0);
    }
    takeBlockSize();
    volume_.totalBlocks = volume_.vib.totalBlocks;
}

// ---------------------------------------------------------------------------
// B-tree header nodes

bool HFSPlusVolume::readHeaderNode(std::uint32_t firstBlock, std::int32_t& nodeSectors, std::uint32_t& rootNode,
                                   std::uint32_t& firstLeaf, std::uint32_t& leafRecords, std::uint16_t& depth) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    const auto blockStart = mul64(firstBlock, volume_.blockSize());
    const auto sector = blockStart ? add64(volume_.HPlusVolStart(), *blockStart) : std::nullopt;
    if (!sector || bps == 0 || volume_.blockSize() == 0) return false;
    auto bytes = readStructure(*sector, 0, hfsplus::kBTHeaderRecordOffset + hfsplus::kBTHeaderRecordSize);
    if (!bytes) return false;
    const ByteView node(*bytes);
    const BTNodeDescriptor_ desc = convertBTNodeDesc(node);
    if (desc.bLink != 0 || desc.kind != hfsplus::kHeaderNode || desc.height != 0 || desc.numRecords != 3)
        return false;
    const BTHeaderRecord header = convertBTHdrRec(node.sub(hfsplus::kBTHeaderRecordOffset));
    const std::uint32_t sectors = wholeSectors(header.nodeSize, bps);
    if (sectors == 0) {
        platform::logFormat("HFS+ volume on %@: B-tree node size %u is not a whole number of %u-byte sectors",
                            volume_.path(), header.nodeSize, bps);
        return false;
    }
    nodeSectors = static_cast<std::int32_t>(sectors);
    rootNode = header.rootNode;
    firstLeaf = header.firstLeafNode;
    leafRecords = header.leafRecords;
    depth = header.treeDepth;
    return true;
}

bool HFSPlusVolume::checkCatalogAndExtentsFile() {
    postProgress(Dict{{"Progress Status", "Checking Extents File ..."},
                      {"Progress Type", 0},
                      {"Start Animation", true},
                      {"Folders", volume_.folderCount},
                      {"Files", volume_.fileCount},
                      {"Entries Found", volume_.entryCount},
                      {"Data", static_cast<unsigned long long>(volume_.dataSize)}});
    const Dict extentsDone{{"Progress Status", "Checking Extents File ... done"}, {"Stop Animation", true}};

    for (const HFSPlusExtentDescriptor_& d : volume_.vib.extentsFile.extents)
        if (d.startBlock != 0) volume_.extentsExt.emplace_back(d.startBlock, d.blockCount);

    std::int32_t nodeSectors = 0;
    std::uint32_t root = 0, firstLeaf = 0, leafRecords = 0;
    std::uint16_t depth = 0;
    if (volume_.extentsExt.empty() ||
        !readHeaderNode(volume_.extentsExt.front().startBlock(), nodeSectors, root, firstLeaf, leafRecords, depth)) {
        postProgress(extentsDone);
        return false;
    }
    volume_.extNodeSize = nodeSectors;
    volume_.extRootNode = root;
    postProgress(extentsDone);
    postProgress(Dict{{"Progress Status", "Checking Catalog File ..."}, {"Start Animation", true}});

    std::uint64_t listed = 0;
    for (const HFSPlusExtentDescriptor_& d : volume_.vib.catalogFile.extents) {
        if (d.startBlock == 0) continue;
        volume_.catalogExt.emplace_back(d.startBlock, d.blockCount);
        listed += d.blockCount;
    }
    if (volume_.catalogExt.empty() ||
        !readHeaderNode(volume_.catalogExt.front().startBlock(), nodeSectors, root, firstLeaf, leafRecords, depth)) {
        postProgress(Dict{{"Progress Status", "Checking Catalog File ... done"}, {"Stop Animation", true}});
        return false;
    }
    volume_.catNodeSize = nodeSectors;
    volume_.catRootNode = root;
    volume_.firstLeafNode = firstLeaf;
    // The header counts every leaf record, thread records included; the
    // readers compare the records they meet with twice this.
    volume_.leafRecords = leafRecords >> 1;
    volume_.catTreeDepth = depth;

    const std::uint32_t total = volume_.vib.catalogFile.totalBlocks;
    if (listed < total) {
        if (auto more = extentsForID(hfsplus::kCatalogFileID, hfsplus::kDataFork, static_cast<std::uint32_t>(listed),
                                     total))
            volume_.catalogExt.insert(volume_.catalogExt.end(), more->begin(), more->end());
    }
    return true;
}

void HFSPlusVolume::getCatalogExtFromVIB() {
    volume_.catalogExtAsPerVIB.clear();
    for (const HFSPlusExtentDescriptor_& d : volume_.vib.catalogFile.extents) {
        if (d.blockCount == 0) break;
        volume_.catalogExtAsPerVIB.emplace_back(d.startBlock, d.blockCount);
    }
}

// ---------------------------------------------------------------------------
// Node numbers to sectors

std::uint64_t HFSPlusVolume::nodeToSector(std::uint32_t node, std::int32_t nodeSectors,
                                          const std::vector<Extent>& extents) const {
    const std::uint64_t blockSize = volume_.blockSize();
    if (nodeSectors <= 0 || blockSize == 0) return 0;
    const auto size = static_cast<std::uint64_t>(nodeSectors);
    std::uint64_t k = node;
    for (const Extent& e : extents) {
        const std::uint64_t extentSectors = static_cast<std::uint64_t>(e.blockCount()) * blockSize;
        const std::uint64_t offset = k * size; // k < 2^32 and size < 2^31: no overflow
        if (offset < extentSectors) {
            const auto sector = add64(volume_.HPlusVolStart(), static_cast<std::uint64_t>(e.startBlock()) * blockSize + offset);
            if (!sector || !sectorsInVolume(*sector, size)) return 0;
            return *sector;
        }
        k -= extentSectors / size;
    }
    return 0;
}

std::uint64_t HFSPlusVolume::catNodeToSector(std::uint32_t node) const {
    return nodeToSector(node, volume_.catNodeSize, volume_.catalogExt);
}

std::uint64_t HFSPlusVolume::extNodeToSector(std::uint32_t node) const {
    // The extents file's own extents are all in the volume header: it has
    // no overflow records of its own.
    std::vector<Extent> extents;
    for (const HFSPlusExtentDescriptor_& d : volume_.vib.extentsFile.extents)
        extents.emplace_back(d.startBlock, d.blockCount);
    return nodeToSector(node, volume_.extNodeSize, extents);
}

// ---------------------------------------------------------------------------
// Extents-overflow lookup

std::optional<std::vector<Extent>> HFSPlusVolume::extentsForID(std::uint32_t id, std::uint8_t fork,
                                                               std::uint32_t startBlock, std::uint32_t totalBlocks) {
    if (volume_.extRootNode == 0 || volume_.extNodeSize <= 0) return std::nullopt;
    std::vector<std::uint8_t> buffer;
    std::vector<Extent> found;

    // Descent from the root to the leaf that holds the first key not above
    // (id, fork, startBlock).
    std::uint32_t node = volume_.extRootNode;
    for (std::uint32_t level = 0;; ++level) {
        if (volume_.stopTreeThread()) return std::nullopt;
        if (level >= kMaxTreeDepth) return found;
        if (!readNode(extNodeToSector(node), volume_.extNodeSize, buffer)) return found;
        const ByteView view(buffer);
        const BTNodeDescriptor_ desc = convertBTNodeDesc(view);
        if (desc.kind != hfsplus::kIndexNode) break;
        const std::size_t table = offsetTableStart(view.size(), desc.numRecords);
        std::optional<std::uint32_t> child;
        for (std::uint32_t i = desc.numRecords; i-- > 0;) {
            const auto r = recordOffset(view, desc.numRecords, i);
            if (!r || *r + hfsplus::kExtentKeySize + 4 > table) continue;
            const HFSPlusExtentKey_ key = convertHPlusExtentKey(view.sub(*r, hfsplus::kExtentKeySize));
            if (extentKeyNotAbove(key, id, fork, startBlock)) {
                child = view.be32(*r + hfsplus::kExtentKeySize);
                break;
            }
        }
        if (!child) return found;
        node = *child;
    }

    // Leaf walk: records keyed exactly (fork, id, start), each continuing
    // where the previous one ended, within a leaf and on into the next.
    std::uint64_t covered = startBlock;
    std::unordered_set<std::uint32_t> visited;
    while (node != 0) {
        if (volume_.stopTreeThread()) return found;
        if (!visited.insert(node).second) break;
        if (!readNode(extNodeToSector(node), volume_.extNodeSize, buffer)) break;
        const ByteView view(buffer);
        const BTNodeDescriptor_ desc = convertBTNodeDesc(view);
        if (desc.kind != hfsplus::kLeafNode) {
            node = desc.fLink;
            continue;
        }
        const std::size_t table = offsetTableStart(view.size(), desc.numRecords);
        std::uint32_t lower = 0;
        std::uint32_t hits = 0;
        while (lower < desc.numRecords && covered <= std::numeric_limits<std::uint32_t>::max()) {
            std::optional<std::uint32_t> hit;
            std::size_t hitOffset = 0;
            for (std::uint32_t i = desc.numRecords; i-- > lower;) {
                const auto r = recordOffset(view, desc.numRecords, i);
                if (!r || *r + hfsplus::kExtentLeafRecordSize > table) continue;
                const HFSPlusExtentKey_ key = convertHPlusExtentKey(view.sub(*r, hfsplus::kExtentKeySize));
                if (key.forkType == fork && key.fileID == id && key.startBlock == covered) {
                    hit = i;
                    hitOffset = *r;
                    break;
                }
            }
            if (!hit) break;
            ++hits;
            const HFSPlusExtentRecord_ record =
                convertHPlusExtRec(view.sub(hitOffset + hfsplus::kExtentKeySize, hfsplus::kExtentRecordSize));
            for (const HFSPlusExtentDescriptor_& d : record) {
                if (d.startBlock == 0) break;
                found.emplace_back(d.startBlock, d.blockCount);
                covered += d.blockCount;
            }
            if (covered >= totalBlocks) return found;
            lower = *hit + 1;
        }
        if (hits == 0) break;
        node = desc.fLink;
    }
    return found;
}
