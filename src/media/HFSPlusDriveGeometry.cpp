#include "media/HFSPlusDriveGeometry.h"

#include "media/DMedia.h"
#include "platform/CheckedMath.h"

#include <limits>
#include <tuple>
#include <unordered_set>

using platform::ByteView;
using platform::checkedAdd;
using platform::checkedMulAdd;

namespace {

// Extents keys are ordered by file ID, then fork type, then start block.
bool extentKeyNotAbove(const HFSPlusExtentKey_& key, std::uint32_t id, std::uint8_t fork, std::uint32_t start) {
    return std::tie(key.fileID, key.forkType, key.startBlock) <= std::tie(id, fork, start);
}

} // namespace

std::uint32_t HFSPlusDriveGeometry::wholeSectors(std::uint64_t bytes, std::uint32_t bytesPerSector) {
    if (bytesPerSector == 0 || bytes == 0 || bytes % bytesPerSector != 0) return 0;
    const std::uint64_t sectors = bytes / bytesPerSector;
    return sectors > std::numeric_limits<std::uint32_t>::max() ? 0 : static_cast<std::uint32_t>(sectors);
}

std::uint64_t HFSPlusDriveGeometry::appendListedExtents(const HFSPlusForkData_& fork, std::vector<Extent>& to) {
    std::uint64_t listed = 0;
    for (const HFSPlusExtentDescriptor_& d : fork.extents) {
        if (d.startBlock == 0) continue;
        to.emplace_back(d.startBlock, d.blockCount);
        listed += d.blockCount;
    }
    return listed;
}

// ---------------------------------------------------------------------------
// Node numbers to sectors

std::optional<std::uint64_t> HFSPlusDriveGeometry::nodeToSector(std::uint32_t node, std::int32_t nodeSectors,
                                                                const std::vector<Extent>& extents) const {
    const std::uint64_t blockSize = media_.blockSize();
    if (nodeSectors <= 0 || blockSize == 0) return std::nullopt;
    const auto size = static_cast<std::uint64_t>(nodeSectors);
    std::uint64_t k = node;
    for (const Extent& e : extents) {
        const std::uint64_t extentSectors = static_cast<std::uint64_t>(e.blockCount()) * blockSize;
        const std::uint64_t offset = k * size; // k < 2^32 and size < 2^31: no overflow
        if (offset < extentSectors) {
            const auto origin = checkedAdd(media_.HPlusVolStart(), offset);
            const auto sector = origin ? checkedMulAdd(*origin, e.startBlock(), blockSize) : std::nullopt;
            if (!sector) return std::nullopt;
            if (endSector_ && (size > *endSector_ || *sector > *endSector_ - size)) return std::nullopt;
            return sector;
        }
        k -= extentSectors / size;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> HFSPlusDriveGeometry::catalogNodeToSector(std::uint32_t node) const {
    return nodeToSector(node, media_.catNodeSize, media_.catalogExt);
}

std::optional<std::uint64_t> HFSPlusDriveGeometry::extentsNodeToSector(std::uint32_t node) const {
    std::vector<Extent> extents;
    for (const HFSPlusExtentDescriptor_& d : media_.vib.extentsFile.extents)
        extents.emplace_back(d.startBlock, d.blockCount);
    return nodeToSector(node, media_.extNodeSize, extents);
}

// ---------------------------------------------------------------------------
// B-tree header nodes

std::optional<HFSPlusDriveGeometry::HeaderNode> HFSPlusDriveGeometry::readHeaderNode(std::uint32_t firstBlock,
                                                                                     const SectorReader& read) const {
    const std::uint32_t bps = media_.u32BytesInSector();
    if (bps == 0 || media_.blockSize() == 0) return std::nullopt;
    const auto sector = checkedMulAdd(media_.HPlusVolStart(), firstBlock, media_.blockSize());
    if (!sector) return std::nullopt;
    // The descriptor and the header record, in as many sectors as they span.
    constexpr std::uint64_t headerBytes = hfsplus::kBTHeaderRecordOffset + hfsplus::kBTHeaderRecordSize;
    const auto sectors = static_cast<std::int32_t>((headerBytes + bps - 1) / bps);
    std::vector<std::uint8_t> buffer;
    if (!read(*sector, sectors, buffer)) return std::nullopt;
    const ByteView node(buffer);
    const BTNodeDescriptor_ desc = convertBTNodeDesc(node);
    if (desc.bLink != 0 || desc.kind != hfsplus::kHeaderNode || desc.height != 0 || desc.numRecords != 3)
        return std::nullopt;
    HeaderNode header;
    header.record = convertBTHdrRec(node.sub(hfsplus::kBTHeaderRecordOffset));
    header.nodeSectors = wholeSectors(header.record.nodeSize, bps);
    return header;
}

bool HFSPlusDriveGeometry::takeExtentsTreeHeader(const SectorReader& read) {
    if (media_.extentsExt.empty()) return false;
    const auto header = readHeaderNode(media_.extentsExt.front().startBlock(), read);
    // Nodes that are not whole sectors cannot be found by sector.
    if (!header || header->nodeSectors == 0) return false;
    media_.extNodeSize = static_cast<std::int32_t>(header->nodeSectors);
    media_.extRootNode = header->record.rootNode;
    return true;
}

// ---------------------------------------------------------------------------
// Extents-overflow lookup

std::optional<std::vector<Extent>>
HFSPlusDriveGeometry::extentsForID(std::uint32_t fileID, std::uint8_t fork, std::uint32_t startBlock,
                                   std::uint32_t totalBlocks, const SectorReader& read, const StopTest& stop) const {
    if (media_.extRootNode == 0 || media_.extNodeSize <= 0) return std::nullopt;
    std::vector<std::uint8_t> buffer;
    std::vector<Extent> found;
    auto readNode = [&](std::uint32_t node) {
        const auto sector = extentsNodeToSector(node);
        return sector && read(*sector, media_.extNodeSize, buffer);
    };
    auto stopped = [&] { return stop && stop(); };

    // Descent from the root to the leaf that holds the last key not above
    // (fileID, fork, startBlock).
    std::uint32_t node = media_.extRootNode;
    for (std::uint32_t level = 0;; ++level) {
        if (stopped()) return std::nullopt;
        if (level >= kMaxTreeDepth) return found;
        if (!readNode(node)) return found;
        const ByteView view(buffer);
        const BTNodeDescriptor_ desc = convertBTNodeDesc(view);
        if (desc.kind != hfsplus::kIndexNode) break;
        const std::size_t table = hfsplus::offsetTableStart(view.size(), desc.numRecords);
        std::optional<std::uint32_t> child;
        for (std::uint32_t i = desc.numRecords; i-- > 0;) {
            const auto r = hfsplus::recordOffset(view, desc.numRecords, i);
            if (!r || *r + hfsplus::kExtentKeySize + 4 > table) continue;
            const HFSPlusExtentKey_ key = convertHPlusExtentKey(view.sub(*r, hfsplus::kExtentKeySize));
            if (extentKeyNotAbove(key, fileID, fork, startBlock)) {
                child = view.be32(*r + hfsplus::kExtentKeySize);
                break;
            }
        }
        if (!child) return found;
        node = *child;
    }

    // Leaf walk: records keyed exactly (fork, file, start), each going on
    // where the one before ended, within a leaf and on into the next.
    std::uint64_t covered = startBlock;
    std::unordered_set<std::uint32_t> visited;
    while (node != 0) {
        if (stopped()) return found;
        if (!visited.insert(node).second) break;
        if (!readNode(node)) break;
        const ByteView view(buffer);
        const BTNodeDescriptor_ desc = convertBTNodeDesc(view);
        if (desc.kind != hfsplus::kLeafNode) {
            node = desc.fLink;
            continue;
        }
        const std::size_t table = hfsplus::offsetTableStart(view.size(), desc.numRecords);
        std::uint32_t lower = 0;
        std::uint32_t hits = 0;
        while (lower < desc.numRecords && covered <= std::numeric_limits<std::uint32_t>::max()) {
            std::optional<std::uint32_t> hit;
            std::size_t hitOffset = 0;
            for (std::uint32_t i = desc.numRecords; i-- > lower;) {
                const auto r = hfsplus::recordOffset(view, desc.numRecords, i);
                if (!r || *r + hfsplus::kExtentLeafRecordSize > table) continue;
                const HFSPlusExtentKey_ key = convertHPlusExtentKey(view.sub(*r, hfsplus::kExtentKeySize));
                if (key.forkType == fork && key.fileID == fileID && key.startBlock == covered) {
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
