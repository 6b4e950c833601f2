#include "hfsplus/DeletedFileScan.h"

#include "formats/HFSPlusStructures.h"
#include "hfsplus/CatalogEntryNode.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/JournalExtents.h"
#include "hfsplus/JournalSectorReader.h"
#include "hfsplus/LeafNodeRecords.h"
#include "hfsplus/LiveFileReader.h"
#include "platform/AppController.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>

using platform::ByteView;
using platform::Dict;

namespace {

constexpr std::int64_t kFirstRecordOffset = 14;

// Finder's folder-view files: never worth recovering.
constexpr std::u16string_view kDSStore = u".DS_Store";

} // namespace

DeletedFileScan::DeletedFileScan(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}
DeletedFileScan::~DeletedFileScan() = default;

// ---------------------------------------------------------------------------
// The live-file pass

void DeletedFileScan::startMakingTreeDeletedFileScan() {
    Volume& v = volume_;
    auto phase = [&v](auto&& step) {
        v.startPreventingSleep();
        step();
        v.stopPreventingSleep();
    };
    CatalogNodeSearch(state_).findCatalogLeafNodes([&phase](const std::function<void()>& step) { phase(step); });
    if (v.firstLeafNode != 0 && v.catNodeSize != 0) phase([&] { makeTreeDeletedFileScan(); });
}

bool DeletedFileScan::makeTreeDeletedFileScan() {
    auto* controller = platform::appController();
    if (controller) controller->setUpTimer();
    readFilesAndFoldersDeletedFileScan();
    if (controller) controller->invalidateTimer();
    return true;
}

bool DeletedFileScan::readFilesAndFoldersDeletedFileScan() {
    LiveFileReader(state_).readFilesAndFolders();
    return true;
}

// ---------------------------------------------------------------------------
// The journal node search

void DeletedFileScan::searchCatFragsForDeletedFiles() {
    Volume& v = volume_;
    v.fileCount = v.folderCount = v.entryCount = 0;
    v.dataSize = 0;

    const std::uint32_t bps = v.u32BytesInSector();
    const std::uint64_t n = bps == 0 ? 0 : state_.journalSize / bps;
    HFSPlusVolume::postProgress(Dict{{"Progress Status", "default"}, {"Progress Type", 1}, {"BarDoubleValue", 0}});
    HFSPlusVolume::postProgress(
        Dict{{"BarMaxValue", static_cast<unsigned long long>(n)}, {"Progress Status", "default"}, {"BarMinValue", 0}});
    HFSPlusVolume::postProgress(Dict{{"TimeRemaining", ""}});
    if (auto* c = platform::appController()) c->setUpTimer();
    const auto start = std::chrono::steady_clock::now();

    filesRepresentable_ = HFSPlusVolume(state_).filesRepresentable();
    if (!filesRepresentable_)
        platform::logFormat("HFS+ volume on %@: allocation blocks of %u sectors cannot be kept with found files; "
                            "journal files are skipped",
                            v.path(), v.blockSize());
    if (n == 0) return;

    // The journal lies inside the volume (getJournalSizeAndStart sees to
    // it), so its sector numbers cannot wrap.
    const std::uint64_t first = v.HPlusVolStart() + state_.journalStart / bps;
    journal_ = std::make_unique<JournalSectorReader>(state_, first, n);
    const std::uint64_t nodeSectors = v.catNodeSize > 0 ? static_cast<std::uint64_t>(v.catNodeSize) : 0;
    auto timeText = [&](std::uint64_t counted) {
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double c = static_cast<double>(counted);
        return v.getTimeFormStringForInterval(elapsed * (static_cast<double>(n) - c) / c);
    };

    std::vector<std::uint8_t> head;
    std::vector<bool> headUnreadable;
    for (std::uint64_t i = 0; i < n && !v.stopTreeThread(); ++i) {
        if (!v.timerFireMethodCanRun()) {
            Dict& update = v.dataUpdate;
            update.clear();
            update.set("Progress Status", "default");
            update.set("BarDoubleValue", static_cast<unsigned long long>(i));
            update.set("TimeRemaining", timeText(i + 1));
            v.setTimerFireMethodCanRun(true);
        }

        // The last sector of a node: the offsets of its first record (14)
        // and of its second (further on) end it. A sector that could not be
        // read may have been one, and the copy is still found by its
        // descriptor; a descriptor that could not be read leaves the copy to
        // its offset table. One of the two must be read.
        const ByteView sector = journal_->sector(i);
        if (sector.size() < 4) continue;
        const bool tableRead =
            sector.be16(sector.size() - 2) == kFirstRecordOffset && sector.be16(sector.size() - 4) > kFirstRecordOffset;
        if (!tableRead && !(sector.be16(sector.size() - 2) == 0 && journal_->unreadable(i))) continue;
        const std::uint64_t s = first + i;
        if (nodeSectors == 0 || s + 1 < nodeSectors) continue;
        const std::uint64_t t = s + 1 - nodeSectors;
        if (!journal_->readAround(t, 1, head, headUnreadable)) continue;
        const bool take =
            headUnreadable.front() ? tableRead : LeafNodeRecords::isLeafDescriptor(convertBTNodeDesc(ByteView(head)));
        if (take) processCatFragForDeletedFiles(t, timeText(i + 1));
        // Every sector is examined: copies overlap and are not jumped over.
    }
    journal_.reset();
}

// ---------------------------------------------------------------------------
// One journal node

void DeletedFileScan::postNodeEnd(const std::optional<std::string>& timeRemaining) {
    Dict progress;
    if (timeRemaining) progress.set("TimeRemaining", *timeRemaining);
    progress.set("Progress Status", "default");
    progress.set("Folders", volume_.folderCount);
    progress.set("Files", volume_.fileCount);
    progress.set("Entries Found", volume_.entryCount);
    progress.set("Data", static_cast<unsigned long long>(volume_.dataSize));
    HFSPlusVolume::postProgress(progress);
}

void DeletedFileScan::processCatFragForDeletedFiles(std::uint64_t sector,
                                                    const std::optional<std::string>& timeRemaining) {
    Volume& v = volume_;
    Dict opening{{"Progress Status", "default"}};
    if (timeRemaining) opening.set("TimeRemaining", *timeRemaining);
    HFSPlusVolume::postProgress(opening);

    const std::int32_t nodeSectors = v.catNodeSize;
    std::vector<bool> unreadable;
    const bool read =
        nodeSectors > 0 &&
        (journal_
             ? journal_->readAround(sector, static_cast<std::uint32_t>(nodeSectors), buffer_, unreadable)
             : LeafNodeRecords::read(state_, sector, static_cast<std::uint64_t>(nodeSectors), buffer_, unreadable));
    if (!read) {
        // Nothing of a node that lies nowhere is taken.
        postNodeEnd(timeRemaining);
        return;
    }

    const ByteView node(buffer_);
    LeafNodeRecords records(node, v.u32BytesInSector(), std::move(unreadable));
    for (const LeafNodeRecords::Record& record : records.records()) {
        if (v.stopTreeThread()) break;
        // The last byte a record may use: the offset table (and its
        // free-space slot) lies behind it.
        const auto limit = static_cast<std::int64_t>(record.limit);
        const auto r = static_cast<std::int64_t>(record.offset);
        if (r < kFirstRecordOffset || r + 2 > limit) break;
        // Zeros where a sector could not be read are no record: one that
        // meets such a sector is passed over, and the next is read.
        const auto readable = [&](std::int64_t from, std::int64_t to) {
            if (records.readable(static_cast<std::size_t>(from), static_cast<std::size_t>(to))) return true;
            records.passOver();
            return false;
        };
        if (!readable(r, r + 2)) continue;
        const std::int64_t k = node.be16(static_cast<std::size_t>(r));
        if (k > hfsplus::kCatalogKeyMaxLength || k < hfsplus::kCatalogKeyMinLength || r + k + 2 > limit) break;
        if (!readable(r, r + k + 4)) continue;
        const std::uint32_t parentID = node.be32(static_cast<std::size_t>(r + 2));
        if (parentID == 0) break;
        const std::int64_t nameLength = node.be16(static_cast<std::size_t>(r + 6));
        if (nameLength == 0) continue;
        if (nameLength > static_cast<std::int64_t>(hfsplus::kMaxNameLength)) break;
        // The name must lie inside its own key, which counts the parent ID,
        // the name length and the name's units. The key length still places
        // the record's data and the next record, so only this one is lost.
        if (6 + 2 * nameLength > k) continue;
        const HFSPlusCatalogKey_ key = convertHPlusCatalogKey(
            node.sub(static_cast<std::size_t>(r),
                     std::min<std::size_t>(static_cast<std::size_t>(k) + 2, hfsplus::kCatalogKeyMaxSize)));
        if (r + key.keyLength + 4 > limit) break;
        const std::u16string& name = key.nodeName.unicode;
        if (name.empty() || name == kDSStore) continue;

        const std::size_t data = static_cast<std::size_t>(r + k + 2);
        const std::int16_t type = node.bes16(data);
        if (type != hfsplus::kFolderRecord && type != hfsplus::kFileRecord) continue;
        // The root folder's own record: "Root" stands for it.
        if (key.parentID == hfsplus::kRootParentID) continue;
        // A fork of zeros would pass for an empty file: a file whose data
        // fork was read is taken without its resource fork, and marked.
        const std::size_t size =
            type == hfsplus::kFolderRecord ? hfsplus::kCatalogFolderSize : hfsplus::kCatalogFileSize;
        const LeafNodeRecords::DataRead read = static_cast<std::int64_t>(data + size) <= limit
                                                   ? records.dataRead(data, type)
                                                   : LeafNodeRecords::DataRead::Whole;
        if (read == LeafNodeRecords::DataRead::Short) {
            records.passOver();
            continue;
        }

        const bool resourceForkRead = read == LeafNodeRecords::DataRead::Whole;
        const Next next = type == hfsplus::kFolderRecord ? takeFolder(data, key.parentID, name, limit)
                                                         : takeFile(data, key.parentID, name, limit, resourceForkRead);
        if (next == Next::EndNode) break;
    }
    if (records.lost() != 0)
        platform::logFormat("Journal copy of a catalog node at sector %llu of %@: %u of its records meet sectors that "
                            "could not be read; they are passed over",
                            static_cast<unsigned long long>(sector), v.path(), records.lost());
    postNodeEnd(timeRemaining);
}

bool DeletedFileScan::alreadyFound(std::uint32_t id) {
    // In the tree from an earlier generation of its node, or parked from
    // one: a later copy adds nothing, and is not counted again.
    if (volume_.btree && volume_.btree->retrieveKeyField(id) != nullptr) return true;
    return state_.btreeOrph && state_.btreeOrph->retrieveKeyField(id) != nullptr;
}

DeletedFileScan::Next DeletedFileScan::takeFolder(std::size_t dataOffset, std::uint32_t parentID,
                                                  const std::u16string& name, std::int64_t limit) {
    Volume& v = volume_;
    if (static_cast<std::int64_t>(dataOffset + hfsplus::kCatalogFolderSize) > limit) return Next::EndNode;
    const HFSPlusCatalogFolder_ folder =
        convertHPlusCatalogFolder(ByteView(buffer_).sub(dataOffset, hfsplus::kCatalogFolderSize));
    if (folder.accessDate == 0 || folder.contentModDate == 0 || folder.createDate == 0 || folder.folderID == 0 ||
        folder.recordType != hfsplus::kFolderRecord)
        return Next::EndNode;
    if (alreadyFound(folder.folderID)) return Next::Record;

    NewDir* dir = CatalogEntryNode::folder(v, parentID, name, folder);
    dir->deleted = 1;
    v.maxFileID = std::max(v.maxFileID, folder.folderID);
    ++v.folderCount;
    ++v.entryCount;
    attach(dir, parentID);
    return Next::Record;
}

DeletedFileScan::Next DeletedFileScan::takeFile(std::size_t dataOffset, std::uint32_t parentID,
                                                const std::u16string& name, std::int64_t limit, bool resourceForkRead) {
    Volume& v = volume_;
    if (static_cast<std::int64_t>(dataOffset + hfsplus::kCatalogFileSize) > limit) return Next::EndNode;
    HFSPlusCatalogFile_ file = convertHPlusCatalogFile(ByteView(buffer_).sub(dataOffset, hfsplus::kCatalogFileSize));
    if (!resourceForkRead) file.resourceFork = {};
    if (file.accessDate == 0 || file.contentModDate == 0 || file.createDate == 0) return Next::Record;
    if (file.fileID == 0 || file.recordType != hfsplus::kFileRecord) return Next::EndNode;

    // Sizes must agree with the forks' block counts. Without a usable block
    // size (or one the record cannot keep) no file can be placed at all.
    const std::uint64_t blockBytes = static_cast<std::uint64_t>(v.blockSize()) * v.u32BytesInSector();
    if (blockBytes == 0 || !filesRepresentable_) return Next::Record;
    if (!HFSPlusVolume::forkSizesAgree(file, blockBytes)) return Next::Record;
    if (alreadyFound(file.fileID)) return Next::Record;
    const HFSPlusExtentDescriptor_& firstExtent = file.dataFork.extents[0];
    if (file.dataFork.logicalSize == 0 || file.dataFork.totalBlocks == 0 || firstExtent.startBlock == 0 ||
        firstExtent.blockCount == 0)
        return Next::Record;

    // The data fork's extents in the record; those beyond the eighth come
    // from journal copies of extents nodes later.
    NewDir* dir = CatalogEntryNode::file(v, parentID, name, file);
    // An extent leaving the volume cannot be the file's data: it is dropped
    // and the file listed as one its extents do not hold whole, so what
    // does lie inside can still be saved.
    const auto outside = dir->extents.eraseIf(
        [this](const ExtP& e) { return !JournalExtents::extentInVolume(state_, e.startBlock, e.blockCount); });
    if (outside != 0) {
        platform::logFormat("Journal record of file %u: %u of its extents lie outside the volume; dropped", file.fileID,
                            static_cast<unsigned>(outside));
        dir->complete = JournalExtents::kIncomplete;
    }

    // The live file itself, unchanged: not deleted.
    if (v.btreeNormalScan) {
        const ItemType* live = v.btreeNormalScan->retrieveKeyField(file.fileID);
        if (live && live->dir() && live->dir()->fileSize == dir->fileSize &&
            newdir::fileName(live->dir()) == newdir::fileName(dir)) {
            newdir::freeNDir(dir);
            return Next::Record;
        }
    }

    if (!resourceForkRead) CatalogEntryNode::markResourceForkLost(v, *dir);
    dir->deleted = 1;
    v.maxFileID = std::max(v.maxFileID, file.fileID);
    ++v.fileCount;
    ++v.entryCount;
    v.dataSize += dir->fileSize;
    attach(dir, parentID);
    return Next::Record;
}

void DeletedFileScan::attach(NewDir* node, std::uint32_t parentID) {
    Volume& v = volume_;
    // Set on parked entries too: whatever the orphan pass puts under them
    // must be found by ID as well, by the journal extents search among
    // others, whichever of them the pass meets first.
    node->childIndex = v.btree.get();
    const ItemType* parentItem = v.btree ? v.btree->retrieveKeyField(parentID) : nullptr;
    NewDir* parent = parentItem ? parentItem->dir() : nullptr;
    if (!parent) {
        ++state_.orphEntriesTotal;
        if (state_.btreeOrph)
            state_.btreeOrph->insert(std::make_unique<ItemTypeOrph>(node->fileID, node));
        else
            newdir::freeNDir(node);
        return;
    }
    const bool file = node->fileType == NewDir::File;
    // Nodes reach the tree only under a node already in it, so the parent
    // links lead to the root; the bound only keeps the climb finite.
    std::uint64_t steps = 0;
    for (NewDir* a = parent; a != nullptr && steps <= v.entryCount + 8ull; a = a->pndirPointer, ++steps) {
        ++a->childrenCount;
        if (file) {
            ++a->fileCount;
            a->fileSize += node->fileSize;
        }
    }
    node->pndirPointer = parent;
    v.addChildUpdateBTree(node, parent);
}
