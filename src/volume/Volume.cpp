#include "volume/Volume.h"

#include "media/Sleep.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassUInt32.h"

#include <algorithm>
#include <cstddef>
#include <unordered_set>
#include <utility>

namespace {

// The size calculators of the carving drivers hold no volume, so the sector
// size and the user's stop reach them through these two process-wide values.
std::atomic<std::uint32_t> gBytesPerSector{512};
std::atomic<bool> gStopByte{false};

// Drive-list rows carry strings; a copy of an absent entry is empty.
std::string textOf(const platform::Value& v) {
    if (v.isNull()) return {};
    if (v.isString()) return v.stringValue();
    return v.description();
}

// "%@" of an unset string shows "(null)", as the log and the about text
// always have.
platform::Value shown(const std::string& s) {
    return s.empty() ? platform::Value() : platform::Value(s);
}

} // namespace

// ---------------------------------------------------------------------------
// Construction and per-scan state

Volume::Volume() = default;

// The found-file tree is not freed here: its owner frees it first (freeTree),
// possibly on another thread while this object lives on.
Volume::~Volume() = default;

std::shared_ptr<Volume> Volume::initWithDictionary(const platform::Dict& d) {
    const std::uint32_t bytesInSector = d.get("Preferred Block Size").unsignedIntValue();
    if (bytesInSector == 0) {
        platform::logFormat("Volume %@ has no sector size; it cannot be read", d.get("Path"));
        return nullptr;
    }
    auto v = std::make_shared<Volume>();

    if (d.contains("WhetherDiskDict")) {
        v->u32BytesInSector_ = bytesInSector;
        setBytesPerSector(bytesInSector);
        v->path_ = textOf(d.get("Path"));
        v->model_ = textOf(d.get("device model"));
        v->serial_ = textOf(d.get("device serial"));
        v->revision_ = textOf(d.get("device revision"));
        v->sizeInBytes_ = d.get("Size").uint64Value();
        v->sizeInSect_ = v->sizeInBytes_ / bytesInSector;
        v->totalBlocks = v->sizeInSect_;
        v->volumeScanType = 3;
        v->HPlusVolStart_ = 0;
        v->blockSize_ = 1;
        v->btree = std::make_unique<BTreeTableClass>();
        v->maxFileID = 9;
    } else if (d.contains("WhetherVolume")) {
        v->model_ = textOf(d.get("device model"));
        v->serial_ = textOf(d.get("device serial"));
        v->revision_ = textOf(d.get("device revision"));
        // A row that says it is not a volume carries nothing more we use.
        if (d.get("WhetherVolume").boolValue()) {
            v->u32BytesInSector_ = bytesInSector;
            setBytesPerSector(bytesInSector);
            v->path_ = textOf(d.get("Path"));
            v->volumeName = textOf(d.get("Volume Name"));
            v->sizeInSect_ = d.get("Size").uint64Value() / bytesInSector;
            v->volumeScanType = 2;
            v->parentDrivePath = textOf(d.get("Parent Drive Path"));
            v->HPlusVolStart_ = 0;
            v->btree = std::make_unique<BTreeTableClass>();
            v->btreeNormalScan = std::make_unique<BTreeTableClass>();
            v->btreeFirstFileBlock = std::make_unique<BTreeTableClassUInt32>();
            // A mounted volume's device begins at the volume.
            v->vibAtSector = 2;
            v->startSector = 0;
            v->maxFileID = 9;
            v->volumeContent = textOf(d.get("Content"));
            v->supportsFileSystemRecovery = d.get("supportFileSystemRecovery").boolValue();
            v->blocksStartsAtSector = 0;
        }
    } else {
        // A volume the partition search found on a disk.
        v->model_ = textOf(d.get("device model"));
        v->serial_ = textOf(d.get("device serial"));
        v->revision_ = textOf(d.get("device revision"));
        v->u32BytesInSector_ = bytesInSector;
        setBytesPerSector(bytesInSector);
        v->path_ = textOf(d.get("Path"));
        v->volumeName = textOf(d.get("Volume Name"));
        v->sizeInSect_ = d.get("Volume Size In Sectors").uint64Value();
        v->startSector = d.get("Volume Start").uint64Value();
        v->HPlusVolStart_ = v->startSector;
        v->volumeScanType = d.get("Volume Scan Type").intValue();
        v->vibAtSector = v->volumeScanType == 1 ? d.get("WhetherAlternateSector").uint64Value() : 0;
        v->btree = std::make_unique<BTreeTableClass>();
        v->btreeAdvScan = v->btree.get();
        v->btreeFirstFileBlock = std::make_unique<BTreeTableClassUInt32>();
        v->maxFileID = 0;
        v->catNodeSize = 0;
        if (!d.contains("Content"))
            platform::logFormat("Volume found at sector %@ of %@ has no content type", d.get("Volume Start"),
                                d.get("Path"));
        v->volumeContent = textOf(d.get("Content"));
    }

    // Every kind. An APFS volume has no device of its own: its row's device
    // is the container's partition, whose first sector is the container's
    // block 0. The whole disk above it would put every block number of the
    // container off by the partition's start.
    v->cPath_ = v->path_;
    v->openedScanInfo = false;
    v->dataUpdate.clear();
    v->setStopTreeThread(false);
    v->autoCrashRecovery = false;
    return v;
}

std::string Volume::description() const {
    return platform::format("%@ %@ %@ %@ %@ size:%@", shown(volumeName), shown(path_), shown(model_), shown(serial_),
                            shown(revision_), static_cast<unsigned long long>(sizeInSect_ * 512));
}

// ---------------------------------------------------------------------------
// Archive

void Volume::encodeWithCoder(platform::KeyedArchiver& coder) const {
    auto text = [&](const std::string& s, const char* key) {
        if (!s.empty()) coder.encodeObject(platform::Value(s), key);
    };
    // A number object stands for a field that was set: 0 is none, as the
    // reader takes a missing key.
    auto number = [&](std::uint64_t v, const char* key) {
        if (v != 0) coder.encodeObject(platform::Value(static_cast<unsigned long long>(v)), key);
    };
    // The archive's integers are signed: unsigned fields travel as their bit
    // pattern and come back whole.
    auto int32 = [](std::uint32_t v) { return static_cast<std::int32_t>(v); };
    auto int64 = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
    coder.encodeInt(volumeScanType, "volumeScanType");
    if (volumeScanType != 2) {
        number(startSector, "startSector");
        text(volumeName, "volumeName");
        text(volumeContent, "volumeContent");
        text(scanMode, "scanMode");
        text(path_, "path");
        text(model_, "model");
        text(serial_, "serial");
        text(revision_, "revision");
        number(sizeInSect_, "sizeInSect");
        coder.encodeInt64(int64(HPlusVolStart_), "HPlusVolStart");
        coder.encodeInt(int32(blockSize_), "blockSize");
        coder.encodeInt64(int64(totalBlocks), "totalBlocks");
        coder.encodeInt(int32(u32BytesInSector_), "u32BytesInSector");
    } else {
        text(volumeName, "volumeName");
        text(volumeContent, "volumeContent");
        text(scanMode, "scanMode");
        text(path_, "path");
        number(sizeInSect_, "sizeInSect");
        coder.encodeInt64(int64(HPlusVolStart_), "HPlusVolStart");
        coder.encodeInt(int32(blockSize_), "blockSize");
        coder.encodeInt64(int64(totalBlocks), "totalBlocks");
        coder.encodeBool(supportsFileSystemRecovery, "supportsFileSystemRecovery");
        coder.encodeInt(int32(u32BytesInSector_), "u32BytesInSector");
        text(parentDrivePath, "parentDrivePath");
    }
    coder.encodeInt64(int64(blocksStartsAtSector), "blocksStartsAtSector");
    coder.encodeInt32(int32(entryCount), "entryCount");
    coder.encodeInt32(int32(folderCount), "folderCount");
    coder.encodeInt32(int32(fileCount), "fileCount");
    coder.encodeInt64(int64(dataSize), "dataSize");
    coder.encodeFloat(startPos, "startPos");
    coder.encodeFloat(endPos, "endPos");
    coder.encodeInt32(int32(maxFileID), "maxFileID");
    coder.encodeInt32(int32(u32RootDirectoryStart), "u32RootDirectoryStart");
    coder.encodeInt32(int32(u32RootDirectorySectors), "u32RootDirectorySectors");
}

std::shared_ptr<Volume> Volume::initWithCoder(platform::KeyedUnarchiver& coder) {
    auto v = std::make_shared<Volume>();
    auto text = [&](const char* key, std::string& into) {
        if (coder.containsValueForKey(key)) into = coder.decodeObject(key).stringValue();
    };
    auto number = [&](const char* key, std::uint64_t& into) {
        if (coder.containsValueForKey(key)) into = coder.decodeObject(key).uint64Value();
    };
    auto uint32 = [&](const char* key) { return static_cast<std::uint32_t>(coder.decodeInt(key)); };
    auto uint64 = [&](const char* key) { return static_cast<std::uint64_t>(coder.decodeInt64(key)); };
    v->volumeScanType = coder.decodeInt("volumeScanType");
    text("volumeName", v->volumeName);
    text("path", v->path_);
    number("sizeInSect", v->sizeInSect_);
    v->HPlusVolStart_ = uint64("HPlusVolStart");
    v->blockSize_ = uint32("blockSize");
    text("volumeContent", v->volumeContent);
    text("scanMode", v->scanMode);
    v->totalBlocks = uint64("totalBlocks");
    v->u32BytesInSector_ = uint32("u32BytesInSector");
    v->blocksStartsAtSector = uint64("blocksStartsAtSector");
    if (v->volumeScanType == 2) {
        text("parentDrivePath", v->parentDrivePath);
        v->supportsFileSystemRecovery = coder.decodeBool("supportsFileSystemRecovery");
    } else {
        number("startSector", v->startSector);
        text("model", v->model_);
        text("serial", v->serial_);
        text("revision", v->revision_);
    }
    // The device path stays whole: /dev/disk/by-id/... names run far past
    // any fixed buffer.
    v->setCPath();
    v->entryCount = static_cast<std::uint32_t>(coder.decodeInt32("entryCount"));
    v->fileCount = static_cast<std::uint32_t>(coder.decodeInt32("fileCount"));
    v->folderCount = static_cast<std::uint32_t>(coder.decodeInt32("folderCount"));
    v->dataSize = uint64("dataSize");
    v->maxFileID = static_cast<std::uint32_t>(coder.decodeInt32("maxFileID"));
    v->startPos = coder.decodeFloat("startPos");
    v->endPos = coder.decodeFloat("endPos");
    v->u32RootDirectoryStart = static_cast<std::uint32_t>(coder.decodeInt32("u32RootDirectoryStart"));
    v->u32RootDirectorySectors = static_cast<std::uint32_t>(coder.decodeInt32("u32RootDirectorySectors"));
    return v;
}

void Volume::registerArchiveClass() {
    platform::KeyedUnarchiver::registerClass(
        "Volume", [](platform::KeyedUnarchiver& c) -> platform::ObjectPtr { return initWithCoder(c); });
}

std::shared_ptr<Volume> Volume::mutableCopy() const {
    auto v = std::make_shared<Volume>();
    v->path_ = path_;
    v->setCPath();
    v->volumeName = volumeName;
    v->model_ = model_;
    v->serial_ = serial_;
    v->revision_ = revision_;
    v->sizeInSect_ = sizeInSect_;
    v->HPlusVolStart_ = HPlusVolStart_;
    v->blockSize_ = blockSize_;
    v->volumeContent = volumeContent;
    v->scanMode = scanMode;
    v->totalBlocks = totalBlocks;
    v->supportsFileSystemRecovery = supportsFileSystemRecovery;
    v->u32BytesInSector_ = u32BytesInSector_;
    v->startSector = startSector;
    v->parentDrivePath = parentDrivePath;
    v->blocksStartsAtSector = blocksStartsAtSector;
    v->volumeScanType = volumeScanType;
    v->entryCount = entryCount;
    v->fileCount = fileCount;
    v->folderCount = folderCount;
    v->dataSize = dataSize;
    v->maxFileID = maxFileID;
    v->startPos = startPos;
    v->endPos = endPos;
    v->u32RootDirectoryStart = u32RootDirectoryStart;
    v->u32RootDirectorySectors = u32RootDirectorySectors;
    return v;
}

std::uint64_t Volume::scanUnreadableSectorsBelow(std::uint64_t sector) const {
    if (!lostBeforeResume || sector < lostBeforeResume->sector) return unreadableSectorsIn(0, sector);
    const auto [resumedAt, before] = *lostBeforeResume;
    return std::max(before, unreadableSectorsIn(0, resumedAt)) + unreadableSectorsIn(resumedAt, sector - resumedAt);
}

void Volume::resetSigArraysAndBtreesAndOthers() {
    forgetUnreadableSectors();
    catalogNodesUnread = false;
    if (!autoCrashRecovery) {
        lostBeforeResume.reset();
        heldFileBeforeResume.reset();
        extentsExt.clear();
        catalogExt.clear();
        entryCount = folderCount = fileCount = 0;
        dataSize = 0;
        maxFileID = 9;
        blocksStartsAtSector = 0;
        setStopTreeThread(false);
        scanInfoSaved = false;
        previewWarningShown = false;
        openedScanInfo = false;
        catNodeSize = 0;
        dataUpdate.clear();
        // The indexes made at construction stay.
        return;
    }
    // Resuming: this object was restored from the snapshot, which carries the
    // counters and the next file ID but no indexes.
    extentsExt.clear();
    catalogExt.clear();
    setStopTreeThread(false);
    scanInfoSaved = false;
    previewWarningShown = false;
    {
        // A restored tree may name the old indexes; it names the new ones
        // from here on, so nothing points at a released index.
        auto fresh = std::make_unique<BTreeTableClass>();
        redirectNodeIndexes({btree.get(), btreeNormalScan.get(), btreeAdvScan}, fresh.get());
        btree = std::move(fresh);
    }
    btreeNormalScan = std::make_unique<BTreeTableClass>();
    btreeAdvScan = btree.get();
    catNodeSize = 0;
    openedScanInfo = false;
    dataUpdate.clear();
}

void Volume::postSweepProgress(const char* status, std::uint64_t done, std::uint64_t total, std::uint64_t unitBytes,
                               double elapsed, std::uint64_t doneBefore) {
    noteSweepProgress(done, total);
    if (timerFireMethodCanRun()) return;
    platform::Dict& d = dataUpdate;
    d.clear();
    const std::uint64_t doneNow = done > doneBefore ? done - doneBefore : 0;
    d.set("TimeRemaining", doneNow <= total / 1000 || doneNow == 0 || done > total
                               ? std::string("Calculating ...")
                               : getTimeFormStringForInterval(elapsed * double(total - done) / double(doneNow)));
    d.set("Percent Done", static_cast<unsigned long long>(total ? done * 100 / total : 0));
    d.set("Total Size", static_cast<unsigned long long>(platform::saturatingMul(total, unitBytes)));
    d.set("Size Done", static_cast<unsigned long long>(platform::saturatingMul(done, unitBytes)));
    d.set("Progress Status", status);
    d.set("Folders", folderCount);
    d.set("Files", fileCount);
    d.set("Entries Found", entryCount);
    d.set("Data", static_cast<unsigned long long>(dataSize));
    d.set("BarDoubleValue", static_cast<unsigned long long>(done));
    setTimerFireMethodCanRun(true);
}

void Volume::myTimerFireMethod() {
    if (!timerFireMethodCanRun()) return;
    // The display gets its own copy: the scan fills dataUpdate again as soon
    // as the flag is off.
    platform::Dict progress = dataUpdate;
    if (auto* c = platform::appController()) c->updateProgress(progress);
    setTimerFireMethodCanRun(false);
}

std::uint32_t Volume::bytesPerSector() {
    return gBytesPerSector.load(std::memory_order_relaxed);
}
void Volume::setBytesPerSector(std::uint32_t bytes) {
    gBytesPerSector.store(bytes, std::memory_order_relaxed);
}
bool Volume::stopByte() {
    return gStopByte.load(std::memory_order_relaxed);
}
void Volume::setStopByte(bool stop) {
    gStopByte.store(stop, std::memory_order_relaxed);
}

void Volume::setStopTreeThread(bool stop) {
    stopTreeThread_.store(stop, std::memory_order_relaxed);
    setStopByte(stop);
}

void Volume::setPauseThread(bool pause) {
    {
        // Stored under the lock, so a waiter between its test and its sleep
        // cannot miss the clear.
        std::lock_guard<std::mutex> lock(pauseMutex_);
        pauseThread_.store(pause, std::memory_order_release);
    }
    if (!pause) pauseCleared_.notify_all();
}

void Volume::waitWhilePaused() {
    std::unique_lock<std::mutex> lock(pauseMutex_);
    pauseCleared_.wait(lock, [this] { return !pauseThread(); });
}

void Volume::startPreventingSleep() {
    setPreventSleepStopFlag(false);
    StartThread();
}

// Does not wait: the keep-awake thread sees the flag on its next pass.
void Volume::stopPreventingSleep() {
    setPreventSleepStopFlag(true);
}

// ---------------------------------------------------------------------------
// Tree operations

void Volume::addChildUpdateBTree(NewDir* child, NewDir* toDir) {
    newdir::appendChild(toDir, child);
    // An ID met twice keeps the node indexed first; the second is still in
    // the tree.
    if (toDir->childIndex) toDir->childIndex->insert(std::make_unique<ItemType>(child->fileID, child));
}

void Volume::addChildAdvScan(NewDir* child, NewDir* toDir) {
    newdir::appendChild(toDir, child);
    // Only folders: the advanced scan looks parents up, never files.
    if (toDir->advScanIndex && child->fileType == NewDir::Folder)
        toDir->advScanIndex->insert(std::make_unique<ItemType>(child->fileID, child));
}

void Volume::freeBtreeNormalScanNDIRs() {
    if (!btreeNormalScan || btreeNormalScan->empty()) return;
    // A node filed under two IDs is freed once.
    std::unordered_set<NewDir*> freed;
    forEachIndexNode(btreeNormalScan->root(), [&](NodeType* node) {
        for (std::int32_t i = 0; i < node->count(); ++i) {
            ItemType* item = node->key(i);
            if (NewDir* dir = item->dir(); dir && freed.insert(dir).second) newdir::freeNDir(dir);
            item->setNDIRPtr(nullptr);
        }
    });
}

NewDir* Volume::createRoot() {
    NewDir* root = newdir::allocate();
    root->fileType = NewDir::Folder;
    root->fileID = 2;
    root->parentID = 1;
    newdir::setFileName(root, u"Root");
    newdir::setPathName(root, u"1");
    newdir::setDataStartSector(root, blocksStartsAtSector);
    root->childIndex = btree.get();
    if (btree) btree->insert(std::make_unique<ItemType>(2u, root));
    dirRoot = root;
    return root;
}

void Volume::freeTree() {
    newdir::freeNDir(dirRoot);
    dirRoot = nullptr;
    dirLostFiles = nullptr;
    dirLostFolders = nullptr;
}

void Volume::redirectNodeIndexes(std::initializer_list<const BTreeTableClass*> replaced, BTreeTableClass* replacement) {
    auto isReplaced = [&](const BTreeTableClass* index) {
        return index && std::find(replaced.begin(), replaced.end(), index) != replaced.end();
    };
    newdir::preOrder(dirRoot, newdir::childList, newdir::anyChild, [&](NewDir* d) {
        if (isReplaced(d->childIndex)) d->childIndex = replacement;
        if (isReplaced(d->advScanIndex)) d->advScanIndex = replacement;
    });
}

void Volume::releaseHelperIndexes() {
    // Nodes name the index their children went into; once the indexes are
    // gone no node may reach them, so those links are cleared first.
    redirectNodeIndexes({btree.get(), btreeNormalScan.get(), btreeAdvScan}, nullptr);
    // From here on no node is found by its ID any more.
    btree.reset();
    btreeAdvScan = nullptr;
    btreeNormalScan.reset();
    btreeFirstFileBlock.reset();
}
