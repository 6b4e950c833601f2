#include "hfsplus/CatalogReader.h"

#include "formats/HFSPlusStructures.h"
#include "hfsplus/CatalogEntryNode.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/LeafNodeRecords.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>

using platform::ByteView;
using platform::Dict;
using platform::saturatingAdd;
using platform::saturatingMul;

namespace {

constexpr std::size_t kFirstRecordOffset = 14;

// Finder's folder-view files: never worth recovering.
constexpr std::u16string_view kDSStore = u".DS_Store";

// Every folder from `folder` up to the root: the running totals of a scan.
template <class Change> void forEachAncestor(NewDir* folder, Change&& change) {
    for (NewDir* a = folder; a != nullptr; a = a->pndirPointer)
        change(*a);
}

} // namespace

// ---------------------------------------------------------------------------
// Entry

bool CatalogReader::makeTree() {
    volume_.createRoot();
    auto* controller = platform::appController();
    if (controller) controller->setUpTimer();
    readFilesAndFolders();
    if (controller) controller->invalidateTimer();
    return true;
}

// ---------------------------------------------------------------------------
// The leaf walk

std::uint32_t CatalogReader::nextNodeFromLists() {
    // Node 0 is the header node and never a leaf; a damaged index that
    // names it must not end the walk early.
    if (mode_ == Mode::Chain) {
        if (const auto* chain = state_.leafNodePointerArray.get()) {
            while (chainPosition_ < chain->size())
                if (const std::uint32_t node = (*chain)[chainPosition_++]; node != 0) return node;
        }
        // The index's leaves are used up: from here on only the leaves the
        // sweep found, without following their links.
        mode_ = Mode::Total;
    }
    if (const auto* total = state_.leafNodePointerTotalArray.get()) {
        while (totalPosition_ < total->size())
            if (const std::uint32_t node = (*total)[totalPosition_++]; node != 0) return node;
    }
    return 0;
}

bool CatalogReader::readFilesAndFolders() {
    HFSPlusVolume hfs(state_);
    HFSPlusVolume::postProgress(
        Dict{{"Progress Status", "default"}, {"Progress Type", 1}, {"BarMaxValue", state_.leafRecords}});
    HFSPlusVolume::postProgress(Dict{{"TimeRemaining", ""}});
    start_ = std::chrono::steady_clock::now();
    mode_ = Mode::Chain;
    chainPosition_ = totalPosition_ = 0;
    recordsMet_ = 0;

    filesRepresentable_ = HFSPlusVolume(state_).filesRepresentable();
    if (!filesRepresentable_)
        platform::logFormat("HFS+ volume on %@: allocation blocks of %u sectors cannot be kept with found files; "
                            "files are skipped",
                            volume_.path(), volume_.blockSize());

    // The sectors of the leaves taken by this walk. Without the volume's
    // index (never expected) a private one still keeps the walk finite.
    BTreeTableClassUInt32 privateUsed;
    BTreeTableClassUInt32* used =
        state_.btreeForUsedCatNodeSector ? state_.btreeForUsedCatNodeSector.get() : &privateUsed;
    const std::uint64_t expectedRecords = 2 * static_cast<std::uint64_t>(state_.leafRecords);

    std::uint32_t node = volume_.firstLeafNode;
    while (node != 0 && !volume_.stopTreeThread()) {
        const std::optional<BTNodeDescriptor_> desc = takeLeaf(hfs.catNodeToSector(node), *used);
        if (!desc || mode_ == Mode::Total)
            node = nextNodeFromLists();
        else if (desc->fLink != 0)
            node = desc->fLink;
        else if (recordsMet_ < expectedRecords)
            node = nextNodeFromLists(); // the chain broke off early
        else
            break;
    }
    if (filesMissingOverflowExtents_ != 0)
        platform::logFormat("HFS+ volume on %@: %llu files have extents in the extents-overflow file, whose header "
                            "node could not be read; they keep only the extents their catalog records list",
                            volume_.path(), static_cast<unsigned long long>(filesMissingOverflowExtents_));
    postEnd();
    return true;
}

std::optional<BTNodeDescriptor_> CatalogReader::takeLeaf(std::uint64_t sector, BTreeTableClassUInt32& used) {
    const std::uint64_t sectors = volume_.catNodeSize > 0 ? static_cast<std::uint64_t>(volume_.catNodeSize) : 0;
    std::vector<bool> unreadable;
    if (!LeafNodeRecords::read(state_, sector, sectors, buffer_, unreadable)) return std::nullopt;
    const bool whole = std::none_of(unreadable.begin(), unreadable.end(), [](bool lost) { return lost; });
    // What lay in sectors the medium would not give is missing from the
    // tree; the advanced scan may still find it elsewhere.
    if (!whole && volume_.unreadableSectorsIn(sector, sectors) != 0) volume_.catalogNodesUnread = true;

    std::optional<LeafNodeRecords> records;
    BTNodeDescriptor_ desc{};
    if (whole) {
        desc = convertBTNodeDesc(ByteView(buffer_));
        if (!CatalogNodeSearch::verifyLeafNodeDesc(desc)) return std::nullopt;
    } else {
        records.emplace(ByteView(buffer_), volume_.u32BytesInSector(), std::move(unreadable));
        if (!records->isLeaf()) return std::nullopt;
        if (records->readable(0, hfsplus::kBTNodeDescriptorSize)) desc = convertBTNodeDesc(ByteView(buffer_));
    }
    if (used.retrieveKeyField(sector) != nullptr) {
        // Taken already, and its forward link was followed when it was:
        // go on with the lists. Following the link again would walk the
        // chain up to the same break a second time and, meeting its
        // nodes a third time, end the walk before the leaves behind the
        // break were reached. Every step now either reads a new node or
        // uses up a list entry, so the walk ends without a cycle test.
        return std::nullopt;
    }
    used.insert(std::make_unique<ItemTypeUInt32>(sector));

    if (records) {
        // A descriptor that could not be read counts the records its offset
        // table names, and links nowhere: the walk goes on with the lists.
        recordsMet_ += desc.numRecords != 0 ? desc.numRecords : records->records().size();
        takeRecordsThatRead(*records);
        if (records->lost() != 0)
            platform::logFormat("Catalog node at sector %llu of %@: %u of its records meet sectors that could not "
                                "be read; they are passed over",
                                static_cast<unsigned long long>(sector), volume_.path(), records->lost());
        return desc;
    }

    recordsMet_ += desc.numRecords;
    const std::size_t table = hfsplus::offsetTableStart(buffer_.size(), desc.numRecords);
    // The strict tests keep a byte's distance from the offset table.
    const std::size_t limit = mode_ == Mode::Total ? table - 1 : table;
    for (std::uint32_t i = 0; table != 0 && i < desc.numRecords; ++i) {
        if (volume_.stopTreeThread()) break;
        Record record;
        if (!locateRecord(desc.numRecords, i, record)) continue;
        if (record.recordType == hfsplus::kFolderRecord)
            takeFolder(record, limit);
        else
            takeFile(record, limit);
    }
    return desc;
}

void CatalogReader::takeRecordsThatRead(LeafNodeRecords& records) {
    const ByteView node(buffer_);
    const std::size_t size = node.size();
    const bool descriptorRead = records.readable(0, hfsplus::kBTNodeDescriptorSize);
    const std::size_t table =
        descriptorRead ? hfsplus::offsetTableStart(size, convertBTNodeDesc(node).numRecords) : std::size_t{0};
    // Zeros where a sector could not be read are no record: one that meets
    // such a sector is passed over and counted. Bytes past the node are
    // left to the record tests, which refuse them.
    const auto readThrough = [&](std::size_t from, std::size_t to) {
        if (records.readable(from, std::min(to, size))) return true;
        records.passOver();
        return false;
    };
    for (const LeafNodeRecords::Record& at : records.records()) {
        if (volume_.stopTreeThread()) break;
        // Records end in front of the offset table, as in a node read whole;
        // in one judged without its descriptor, where the next one begins.
        const std::size_t end = descriptorRead ? table : at.limit;
        const std::size_t limit = descriptorRead && mode_ == Mode::Total ? table - 1 : end;
        const std::size_t r = at.offset;
        if (end == 0 || r + 2 > size) continue;
        if (!readThrough(r, r + 2)) continue;
        const std::size_t keyLength = node.be16(r);
        if (keyLength <= hfsplus::kCatalogKeyMaxLength && !readThrough(r, r + 2 + keyLength + 2)) continue;
        Record record;
        if (!recordAt(r, end, record)) continue;
        // A fork of zeros would pass for an empty file: a file whose data
        // fork was read is taken without its resource fork, and marked.
        const LeafNodeRecords::DataRead read = records.dataRead(record.dataOffset, record.recordType);
        if (read == LeafNodeRecords::DataRead::Short) {
            records.passOver();
            continue;
        }
        record.resourceForkRead = read == LeafNodeRecords::DataRead::Whole;
        if (record.recordType == hfsplus::kFolderRecord)
            takeFolder(record, limit);
        else
            takeFile(record, limit);
    }
}

// ---------------------------------------------------------------------------
// One record

bool CatalogReader::locateRecord(std::uint32_t numRecords, std::uint32_t i, Record& record) {
    const ByteView node(buffer_);
    const std::size_t size = node.size();
    const std::size_t table = hfsplus::offsetTableStart(size, numRecords);
    if (table == 0 || i >= numRecords) return false;
    const std::size_t slot = size - 2 * (static_cast<std::size_t>(i) + 1);
    if (mode_ == Mode::Total && slot < size - std::min<std::size_t>(size, volume_.u32BytesInSector())) return false;
    return recordAt(node.be16(slot), table, record);
}

bool CatalogReader::recordAt(std::size_t r, std::size_t table, Record& record) {
    const ByteView node(buffer_);
    if (table == 0) return false;
    const bool strict = mode_ == Mode::Total;
    // The last byte in front of the offset table.
    const std::size_t last = table - 1;

    if (r < kFirstRecordOffset || r + 8 > table) return false;
    if (strict && r + 2 > last) return false;

    const std::uint16_t keyLength = node.be16(r);
    if (keyLength < hfsplus::kCatalogKeyMinLength || keyLength > hfsplus::kCatalogKeyMaxLength) return false;
    if (strict && r + keyLength + 2 > last) return false;

    const std::uint32_t parentID = node.be32(r + 2);
    if (strict && parentID == 0) return false;

    const std::uint16_t nameLength = node.be16(r + 6);
    if (nameLength == 0 || nameLength > hfsplus::kMaxNameLength) return false;
    if (r + hfsplus::kCatalogKeyNameOffset + 2 * static_cast<std::size_t>(nameLength) > table) return false;

    const HFSPlusCatalogKey_ key =
        convertHPlusCatalogKey(node.sub(r, std::min(hfsplus::kCatalogKeyMaxSize, table - r)));
    if (strict && !key.nameLengthValid()) return false;
    if (strict && r + 2 + keyLength + 2 > last) return false;

    const std::size_t data = r + keyLength + 2;
    if (data + 2 > table) return false;
    if (key.nodeName.unicode == kDSStore) return false;
    recordNamed();

    const std::int16_t type = node.bes16(data);
    if (type != hfsplus::kFolderRecord && type != hfsplus::kFileRecord) return false;
    // The root folder's own record: "Root" stands for it.
    if (key.parentID == hfsplus::kRootParentID) return false;

    record.dataOffset = data;
    record.parentID = key.parentID;
    record.recordType = type;
    record.name = key.nodeName.unicode;
    return true;
}

void CatalogReader::takeFolder(const Record& record, std::size_t limit) {
    if (record.dataOffset + hfsplus::kCatalogFolderSize > limit) return;
    const HFSPlusCatalogFolder_ folder =
        convertHPlusCatalogFolder(ByteView(buffer_).sub(record.dataOffset, hfsplus::kCatalogFolderSize));
    if (mode_ == Mode::Total) {
        if (folder.accessDate == 0 || folder.contentModDate == 0 || folder.createDate == 0 || folder.folderID == 0)
            return;
        if (folder.recordType != hfsplus::kFolderRecord) return;
    }

    NewDir* dir = CatalogEntryNode::folder(volume_, record.parentID, record.name, folder);
    volume_.maxFileID = std::max(volume_.maxFileID, folder.folderID);
    ++volume_.folderCount;
    ++volume_.entryCount;

    const ItemType* parentItem = volume_.btree ? volume_.btree->retrieveKeyField(record.parentID) : nullptr;
    NewDir* parent = parentItem ? parentItem->dir() : nullptr;
    dir->childIndex = volume_.btree.get();
    if (parent) {
        newdir::setPathBelow(dir, parent);
        dir->pndirPointer = parent;
        forEachAncestor(parent, [](NewDir& a) { ++a.childrenCount; });
        volume_.addChildUpdateBTree(dir, parent);
    } else {
        // Not in the index either, so whatever lies below it waits too.
        ++state_.orphEntriesTotal;
        park(folder.folderID, dir);
    }
    recordTaken();
}

NewDir* CatalogReader::fileNode(const Record& record, std::size_t limit, HFSPlusCatalogFile_& file) {
    if (record.dataOffset + hfsplus::kCatalogFileSize > limit) return nullptr;
    file = convertHPlusCatalogFile(ByteView(buffer_).sub(record.dataOffset, hfsplus::kCatalogFileSize));
    if (!record.resourceForkRead) file.resourceFork = {};
    if (mode_ == Mode::Total) {
        if (file.accessDate == 0 || file.contentModDate == 0 || file.createDate == 0 || file.fileID == 0)
            return nullptr;
        if (file.recordType != hfsplus::kFileRecord) return nullptr;
    }

    // Sizes must agree with the forks' block counts and fit the volume.
    const std::uint64_t blockBytes = static_cast<std::uint64_t>(volume_.blockSize()) * volume_.u32BytesInSector();
    if (blockBytes == 0 || !filesRepresentable_) return nullptr;
    const std::uint64_t volumeBytes = saturatingMul(volume_.sizeInSect(), volume_.u32BytesInSector());
    if (saturatingAdd(file.dataFork.logicalSize, file.resourceFork.logicalSize) >= volumeBytes) return nullptr;
    if (!HFSPlusVolume::forkSizesAgree(file, blockBytes)) return nullptr;

    NewDir* dir = CatalogEntryNode::file(volume_, record.parentID, record.name, file);
    volume_.maxFileID = std::max(volume_.maxFileID, file.fileID);

    // The data fork's extents: the eight in the record, and the rest from
    // the extents-overflow B-tree when those eight do not cover the fork.
    const std::uint32_t totalBlocks = file.dataFork.totalBlocks;
    const std::uint64_t listed = CatalogEntryNode::coveredBlocks(*dir);
    if (dir->extentCount() < hfsplus::kExtentsPerRecord) {
        if (listed != totalBlocks) {
            newdir::freeNDir(dir);
            return nullptr;
        }
    } else if (listed < totalBlocks && state_.extentsHeaderUnread) {
        // The rest lies in a tree that cannot be followed: the file keeps
        // what its record names, and is not taken for whole.
        dir->complete = NewDir::kDamaged;
        ++filesMissingOverflowExtents_;
    } else if (listed < totalBlocks) {
        if (auto more = HFSPlusVolume(state_).extentsForID(file.fileID, hfsplus::kDataFork,
                                                           static_cast<std::uint32_t>(listed), totalBlocks))
            for (const Extent& e : *more)
                newdir::appendDataExtent(dir, e.startBlock(), e.blockCount());
        if (CatalogEntryNode::coveredBlocks(*dir) != totalBlocks) {
            newdir::freeNDir(dir);
            return nullptr;
        }
    }
    return dir;
}

void CatalogReader::takeFile(const Record& record, std::size_t limit) {
    HFSPlusCatalogFile_ file;
    NewDir* dir = fileNode(record, limit, file);
    if (!dir) return;
    if (!record.resourceForkRead) CatalogEntryNode::markResourceForkLost(volume_, *dir);
    const std::uint64_t bothForks = file.dataFork.logicalSize + file.resourceFork.logicalSize;

    const ItemType* parentItem = volume_.btree ? volume_.btree->retrieveKeyField(record.parentID) : nullptr;
    NewDir* parent = parentItem ? parentItem->dir() : nullptr;
    dir->pndirPointer = parent;

    // The searches that run later skip blocks a found file already starts at.
    const std::uint32_t firstBlock = file.dataFork.extents[0].startBlock;
    if (volume_.btreeFirstFileBlock && (parent == nullptr || firstBlock != 0))
        volume_.btreeFirstFileBlock->insert(std::make_unique<ItemTypeUInt32>(firstBlock));

    ++volume_.fileCount;
    ++volume_.entryCount;
    if (parent) {
        volume_.dataSize += file.dataFork.logicalSize;
        const std::uint64_t size = dir->fileSize;
        forEachAncestor(parent, [size](NewDir& a) {
            ++a.childrenCount;
            a.fileSize += size;
            ++a.fileCount;
        });
        newdir::appendChild(parent, dir);
    } else {
        volume_.dataSize += bothForks;
        ++state_.orphEntriesTotal;
        park(file.fileID, dir);
    }
    recordTaken();
}

void CatalogReader::park(std::uint32_t id, NewDir* node) {
    BTreeTableClassOrph* orphans = state_.btreeOrph.get();
    if (!orphans || orphans->retrieveKeyField(id) != nullptr) {
        newdir::freeNDir(node);
        return;
    }
    orphans->insert(std::make_unique<ItemTypeOrph>(id, node));
}

// ---------------------------------------------------------------------------
// Progress

void CatalogReader::recordTaken() {
    // Filled only while the display is not holding the last one; the
    // once-a-second tick shows it and hands it back.
    if (volume_.timerFireMethodCanRun()) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const double expected = 2.0 * static_cast<double>(state_.leafRecords);
    const double met = static_cast<double>(recordsMet_);
    const double remaining = met > 0 ? elapsed * (expected - met) / met : 0.0;
    Dict& update = volume_.dataUpdate;
    update.clear();
    update.set("TimeRemaining", volume_.getTimeFormStringForInterval(remaining));
    update.set("Progress Status", "default");
    update.set("Folders", volume_.folderCount);
    update.set("Files", volume_.fileCount);
    update.set("Entries Found", volume_.entryCount);
    update.set("Data", static_cast<unsigned long long>(volume_.dataSize));
    update.set("BarDoubleValue", volume_.entryCount);
    volume_.setTimerFireMethodCanRun(true);
}

void CatalogReader::postEnd() {
    HFSPlusVolume::postProgress(Dict{{"Progress Status", "default"},
                                     {"Folders", volume_.folderCount},
                                     {"Files", volume_.fileCount},
                                     {"Entries Found", volume_.entryCount},
                                     {"Data", static_cast<unsigned long long>(volume_.dataSize)},
                                     {"BarDoubleValue", state_.leafRecords}});
}
