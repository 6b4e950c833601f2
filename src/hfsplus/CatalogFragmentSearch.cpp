#include "hfsplus/CatalogFragmentSearch.h"

#include "formats/HFSPlusStructures.h"
#include "hfsplus/AdvancedTreeScan.h"
#include "hfsplus/CatalogEntryNode.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/LeafNodeRecords.h"
#include "hfsplus/OrphanEntries.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <limits>

using platform::ByteView;
using platform::Dict;
using platform::saturatingAdd;
using platform::saturatingMul;

namespace {

constexpr const char* kStatus = "Searching catalog fragments...";
constexpr std::uint64_t kProgressEveryGroups = 50;
constexpr std::int32_t kAssumedNodeSectors = 8;
constexpr std::uint16_t kFirstRecordOffset = 14;

// Finder's folder-view files: never worth recovering.
constexpr std::u16string_view kDSStore = u".DS_Store";

void post(const Dict& progress) {
    if (auto* c = platform::appController()) c->updateProgress(progress);
}

} // namespace

// ---------------------------------------------------------------------------
// The search

void CatalogFragmentSearch::searchCatFrags() {
    Volume& v = volume_;
    const std::uint64_t sectors = v.sizeInSect();
    const std::uint64_t groups = sectors / kGroupSectors;
    post(Dict{{"Progress Status", kStatus}, {"Progress Type", 1}, {"BarDoubleValue", 0}});
    post(Dict{
        {"BarMaxValue", static_cast<unsigned long long>(groups)}, {"Progress Status", kStatus}, {"BarMinValue", 0}});
    post(Dict{{"TimeRemaining", ""}});

    OrphanEntries(state_).makeLostFolders();

    const std::uint32_t bps = v.u32BytesInSector();
    if (bps == 0) return;
    // The volume's own sectors, counted on the device: a volume found on a
    // disk begins at startSector.
    const std::uint64_t first = v.startSector;
    const std::uint64_t end = saturatingAdd(first, sectors);
    const std::uint64_t groupsPerBatch = std::max<std::uint64_t>(1, kBatchBytes / (kGroupSectors * bps));
    const std::uint64_t batchSectors = groupsPerBatch * kGroupSectors;

    const auto started = std::chrono::steady_clock::now();
    std::uint64_t counted = 0;
    for (std::uint64_t at = first; at < end; at += std::min(batchSectors, end - at)) {
        if (v.stopTreeThread()) break;
        // One large read for many groups; sectors that cannot be read are
        // looked at as zeros, never as what an earlier read left (the reader
        // zero-fills what lies past the end of the medium), and the rest of
        // their batch is searched.
        const std::uint64_t n = std::min(batchSectors, end - at);
        batch_.resize(static_cast<std::size_t>(n) * bps);
        batchLost_ = v.readSweepSectors(at, static_cast<std::int32_t>(n), batch_.data());
        batchStart_ = at;
        batchSectors_ = n;

        for (std::uint64_t g = at; g < at + n; g += kGroupSectors) {
            if (v.stopTreeThread()) break;
            ++counted;
            if (counted % kProgressEveryGroups == 0) {
                const double elapsed =
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
                const double remaining = elapsed * (static_cast<double>(groups) - static_cast<double>(counted)) /
                                         static_cast<double>(counted);
                post(Dict{{"Progress Status", kStatus},
                          {"BarDoubleValue", static_cast<unsigned long long>(counted)},
                          {"TimeRemaining", v.getTimeFormStringForInterval(remaining)}});
            }
            const std::uint64_t groupEnd = std::min(g + kGroupSectors, at + n);
            for (std::uint64_t s = g; s < groupEnd; ++s) {
                if (v.stopTreeThread()) break;
                examineSector(s, ByteView(batch_.data() + (s - at) * bps, bps));
            }
        }
    }
    batch_.clear();
    batchStart_ = batchSectors_ = batchLost_ = 0;
}

void CatalogFragmentSearch::examineSector(std::uint64_t sector, ByteView bytes) {
    const std::size_t size = bytes.size();
    if (size < 4) return;
    Volume& v = volume_;
    // The end of a node: the offsets of its first record (14) and of its
    // second (further on). A sector that could not be read may have been
    // one, and the node is still found by its descriptor.
    const bool tableRead = bytes.be16(size - 2) == kFirstRecordOffset && bytes.be16(size - 4) > kFirstRecordOffset;
    if (!tableRead && !(bytes.be16(size - 2) == 0 && sectorUnreadable(sector))) return;
    if (v.catNodeSize <= 0) v.catNodeSize = kAssumedNodeSectors;
    const auto nodeSectors = static_cast<std::uint64_t>(v.catNodeSize);
    // A node that would begin before the volume is not the volume's (the
    // sector itself always lies inside it).
    if (sector < v.startSector || sector - v.startSector + 1 < nodeSectors) return;
    const std::uint64_t firstSector = sector + 1 - nodeSectors;
    std::vector<bool> unreadable;
    const ByteView head = sectorsAt(firstSector, 1, descriptor_, unreadable);
    // A descriptor that could not be read leaves the node to its offset
    // table; one of the two must be read.
    if (!unreadable.empty() && unreadable.front()) {
        if (tableRead) processCatFrags(firstSector);
        return;
    }
    if (LeafNodeRecords::isLeafDescriptor(convertBTNodeDesc(head))) processCatFrags(firstSector);
}

bool CatalogFragmentSearch::sectorUnreadable(std::uint64_t sector) const {
    // Only a batch that lost sectors holds any.
    if (batchLost_ == 0 && sector >= batchStart_ && sector - batchStart_ < batchSectors_) return false;
    return volume_.unreadableSectorCount() != 0 && volume_.unreadableSectorsIn(sector, 1) != 0;
}

ByteView CatalogFragmentSearch::sectorsAt(std::uint64_t sector, std::uint64_t count, std::vector<std::uint8_t>& scratch,
                                          std::vector<bool>& unreadable) {
    const std::uint32_t bps = volume_.u32BytesInSector();
    if (sector >= batchStart_ && count <= batchSectors_ && sector - batchStart_ <= batchSectors_ - count &&
        !batch_.empty()) {
        unreadable = batchLost_ == 0 ? std::vector<bool>(static_cast<std::size_t>(count), false)
                                     : LeafNodeRecords::unreadableSectors(volume_, sector, count);
        return ByteView(batch_.data() + (sector - batchStart_) * bps, static_cast<std::size_t>(count) * bps);
    }
    // Zeros where the node could not be read, and all of it when it is not
    // wholly inside the volume.
    LeafNodeRecords::read(state_, sector, count, scratch, unreadable);
    return ByteView(scratch);
}

bool CatalogFragmentSearch::getIfUnusedSectorForCatalogNode(std::uint64_t sector) {
    BTreeTableClassUInt32* used = state_.btreeForUsedCatNodeSector.get();
    return !(used && used->retrieveKeyField(sector) != nullptr);
}

// ---------------------------------------------------------------------------
// One fragment

void CatalogFragmentSearch::processCatFrags(std::uint64_t sector) {
    Volume& v = volume_;
    if (!getIfUnusedSectorForCatalogNode(sector)) return;
    const bool inCatalogFile =
        state_.advScanEntriesCanBePutIntoOrphanEntryArray && AdvancedTreeScan(state_).sectorIsInCatalogFile(sector);
    if (v.catNodeSize <= 0) v.catNodeSize = kAssumedNodeSectors;
    std::vector<bool> unreadable;
    const ByteView node = sectorsAt(sector, static_cast<std::uint64_t>(v.catNodeSize), node_, unreadable);
    if (node.empty()) return;
    LeafNodeRecords records(node, v.u32BytesInSector(), std::move(unreadable));
    if (!records.isLeaf()) return;
    takeRecords(node, records, inCatalogFile);
    if (records.lost() != 0)
        platform::logFormat("Catalog node at sector %llu of %@: %u of its records meet sectors that could not be "
                            "read; they are passed over",
                            static_cast<unsigned long long>(sector), v.path(), records.lost());
}

void CatalogFragmentSearch::takeRecords(ByteView node, LeafNodeRecords& records, bool inCatalogFile) {
    Volume& v = volume_;
    const std::uint32_t bps = v.u32BytesInSector();

    const std::uint64_t blockBytes = static_cast<std::uint64_t>(v.blockSize()) * bps;
    const std::uint64_t volumeBytes = saturatingMul(v.sizeInSect(), bps);
    // Found files keep the sectors per block in 8 bits and the data start in
    // 32; a geometry beyond that cannot be represented, so no file is taken.
    const bool filesRepresentable = HFSPlusVolume(state_).filesRepresentable();
    if (!filesRepresentable && !loggedUnrepresentable_) {
        loggedUnrepresentable_ = true;
        platform::logFormat("HFS+ volume on %@: allocation blocks of %u sectors cannot be kept with found files; "
                            "file fragments are skipped",
                            v.path(), v.blockSize());
    }

    for (const LeafNodeRecords::Record& record : records.records()) {
        if (v.stopTreeThread()) return;
        // L: the last byte the record may use.
        const std::uint64_t r = record.offset;
        const std::uint64_t L = record.limit;
        if (r < kFirstRecordOffset || r + 2 > L) return;
        // Zeros where a sector could not be read are no record: one that
        // meets such a sector is passed over, and the next is read.
        if (!records.readable(r, r + 2)) {
            records.passOver();
            continue;
        }
        const std::uint16_t keyLength = node.be16(r);
        if (keyLength < hfsplus::kCatalogKeyMinLength || keyLength > hfsplus::kCatalogKeyMaxLength) continue;
        if (r + keyLength + 2 > L) return;
        const std::uint64_t data = r + keyLength + 2;
        if (!records.readable(r, data + 2)) {
            records.passOver();
            continue;
        }
        if (node.be32(r + 2) == 0) return;
        const std::uint16_t nameLength = node.be16(r + 6);
        if (nameLength < 1 || nameLength > hfsplus::kMaxNameLength) continue;
        const HFSPlusCatalogKey_ key = convertHPlusCatalogKey(node.sub(r, std::size_t{keyLength} + 2));
        if (r + 2 + keyLength + 2 > L) return;
        // The name lies inside its key, as in every key the file system writes.
        if (6 + 2 * static_cast<std::uint64_t>(nameLength) > keyLength) continue;
        const std::u16string& name = key.nodeName.unicode;
        if (name.empty() || name == kDSStore) continue;
        const std::int16_t type = node.bes16(data);
        if (type != hfsplus::kFolderRecord && type != hfsplus::kFileRecord) continue;
        // The root folder's own record: "Root" stands for it.
        if (key.parentID == hfsplus::kRootParentID) continue;

        if (type == hfsplus::kFolderRecord) {
            if (data + hfsplus::kCatalogFolderSize > L) return;
            if (!records.readable(data, data + hfsplus::kCatalogFolderSize)) {
                records.passOver();
                continue;
            }
            const HFSPlusCatalogFolder_ folder = convertHPlusCatalogFolder(node.sub(data, hfsplus::kCatalogFolderSize));
            if (folder.accessDate == 0 || folder.contentModDate == 0 || folder.createDate == 0 || folder.folderID == 0)
                return;
            if (folder.recordType != hfsplus::kFolderRecord) return;
            NewDir* dir = CatalogEntryNode::folder(v, key.parentID, name, folder);
            v.maxFileID = std::max(v.maxFileID, folder.folderID);
            park(folder.folderID, dir, inCatalogFile);
            continue;
        }

        if (data + hfsplus::kCatalogFileSize > L) return;
        // A fork of zeros would pass for an empty file: a file whose data
        // fork was read is taken without its resource fork, and marked.
        const LeafNodeRecords::DataRead read = records.dataRead(data, type);
        if (read == LeafNodeRecords::DataRead::Short) {
            records.passOver();
            continue;
        }
        HFSPlusCatalogFile_ file = convertHPlusCatalogFile(node.sub(data, hfsplus::kCatalogFileSize));
        if (read == LeafNodeRecords::DataRead::WithoutResourceFork) file.resourceFork = {};
        if (file.accessDate == 0 || file.contentModDate == 0 || file.createDate == 0 || file.fileID == 0) return;
        if (file.recordType != hfsplus::kFileRecord) return;
        // Sizes must agree with the forks' block counts and fit the volume.
        if (blockBytes == 0 || !filesRepresentable) continue;
        if (saturatingAdd(file.dataFork.logicalSize, file.resourceFork.logicalSize) >= volumeBytes) continue;
        if (!HFSPlusVolume::forkSizesAgree(file, blockBytes)) continue;

        // The eight extents of the record; overflow records are not looked up
        // for a fragment.
        NewDir* dir = CatalogEntryNode::file(v, key.parentID, name, file);
        const std::uint64_t listed = CatalogEntryNode::coveredBlocks(*dir);
        const std::uint32_t total = file.dataFork.totalBlocks;
        if ((dir->extentCount() < hfsplus::kExtentsPerRecord && listed != total) ||
            (dir->extentCount() == hfsplus::kExtentsPerRecord && listed > total)) {
            newdir::freeNDir(dir);
            continue;
        }
        if (read == LeafNodeRecords::DataRead::WithoutResourceFork) CatalogEntryNode::markResourceForkLost(v, *dir);
        v.maxFileID = std::max(v.maxFileID, file.fileID);
        park(file.fileID, dir, inCatalogFile);
    }
}

void CatalogFragmentSearch::park(std::uint32_t id, NewDir* node, bool inCatalogFile) {
    BTreeTableClassOrph* orphans;
    if (inCatalogFile) {
        ++state_.orphEntriesTotal;
        orphans = state_.btreeOrph.get();
    } else {
        ++state_.orphAdvScanEntriesTotal;
        orphans = state_.btreeOrphAdvScanEntries.get();
    }
    // The first fragment met with an ID stays (the lowest sector); a later
    // one is dropped, and so is everything when there is no index to park in.
    if (!orphans || orphans->retrieveKeyField(id) != nullptr) {
        newdir::freeNDir(node);
        return;
    }
    orphans->insert(std::make_unique<ItemTypeOrph>(id, node));
}
