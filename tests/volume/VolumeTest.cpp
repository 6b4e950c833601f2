#include "volume/Volume.h"

#include "media/Sleep.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassUInt32.h"

#include <gtest/gtest.h>

using platform::Dict;
using platform::Value;
using testsupport::ControllerScope;
using testsupport::LogCapture;

namespace {

Dict wholeDisk(std::uint64_t size, std::uint32_t sector) {
    return Dict{{"WhetherDiskDict", Value(true)},
                {"Path", Value("/dev/sdz")},
                {"Size", Value(static_cast<unsigned long long>(size))},
                {"Preferred Block Size", Value(sector)},
                {"device model", Value("Model X")},
                {"device serial", Value("SN1")},
                {"device revision", Value("1.0")}};
}

Dict mountedVolume(std::string content) {
    return Dict{{"WhetherVolume", Value(true)},
                {"Path", Value("/dev/sdz2")},
                {"Volume Name", Value("Photos")},
                {"Size", Value(static_cast<unsigned long long>(1048576))},
                {"Preferred Block Size", Value(512)},
                {"Parent Drive Path", Value("/dev/sdz")},
                {"Content", Value(std::move(content))},
                {"journaled", Value("Yes")},
                {"supportFileSystemRecovery", Value(true)},
                {"device model", Value("Model X")},
                {"device serial", Value("SN1")},
                {"device revision", Value("1.0")}};
}

Dict foundVolume(int scanType) {
    return Dict{{"Path", Value("/dev/sdz")},
                {"Volume Name", Value("Lost")},
                {"Preferred Block Size", Value(512)},
                {"Volume Size In Sectors", Value(static_cast<unsigned long long>(409600))},
                {"Volume Start", Value(static_cast<unsigned long long>(2048))},
                {"Volume Scan Type", Value(scanType)},
                {"WhetherAlternateSector", Value(static_cast<unsigned long long>(411646))},
                {"Content", Value("Apple_HFS")}};
}

NewDir* node(std::uint16_t type, std::uint32_t id) {
    NewDir* d = newdir::allocate();
    d->fileType = type;
    d->fileID = id;
    return d;
}

// The node an index holds under an ID, or null.
NewDir* dirOf(BTreeTableClass& index, std::uint32_t id) {
    ItemType* item = index.retrieveKeyField(id);
    return item ? item->dir() : nullptr;
}

// What construction made of a row: scan type, sectors, header sector, start
// sector, first free file ID.
std::tuple<int, std::uint64_t, std::uint64_t, std::uint64_t, std::uint32_t> shapeOf(const Volume& v) {
    return {v.volumeScanType, v.sizeInSect(), v.vibAtSector, v.startSector, v.maxFileID};
}

} // namespace

TEST(VolumeConstruction, EachKindOfRowGivesItsScanTypeSizeAndHeaderSectorAndA4096ByteSectorIsProcessWide) {
    auto disk = Volume::initWithDictionary(wholeDisk(1000000000ull, 512));
    ASSERT_NE(disk, nullptr);
    EXPECT_EQ(shapeOf(*disk), std::tuple(3, 1953125u, 0u, 0u, 9u));
    EXPECT_EQ(std::tuple(disk->totalBlocks, disk->sizeInBytes(), disk->u32BytesInSector(), Volume::bytesPerSector(),
                         disk->blockSize(), disk->HPlusVolStart()),
              std::tuple(1953125u, 1000000000u, 512u, 512u, 1u, 0u));
    EXPECT_EQ(disk->description(), "(null) /dev/sdz Model X SN1 1.0 size:1000000000");

    // A mounted volume reads its header at sector 2.
    auto mounted = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    ASSERT_NE(mounted, nullptr);
    EXPECT_EQ(shapeOf(*mounted), std::tuple(2, 2048u, 2u, 0u, 9u));
    EXPECT_TRUE(mounted->supportsFileSystemRecovery);
    EXPECT_NE(mounted->btreeNormalScan, nullptr);
    EXPECT_EQ(mounted->btreeAdvScan, nullptr);
    EXPECT_EQ(mounted->description(), "Photos /dev/sdz2 Model X SN1 1.0 size:1048576");

    // A found volume reads its header at the alternate sector only for scan type 1.
    auto found = Volume::initWithDictionary(foundVolume(1));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(shapeOf(*found), std::tuple(1, 409600u, 411646u, 2048u, 0u));
    EXPECT_EQ(found->HPlusVolStart(), 2048u);
    ASSERT_NE(found->btree, nullptr);
    EXPECT_EQ(found->btreeAdvScan, found->btree.get());
    EXPECT_EQ(found->btreeNormalScan, nullptr);
    EXPECT_EQ(Volume::initWithDictionary(foundVolume(0))->vibAtSector, 0u);
    // A sector size of 4096 becomes the process-wide value; none makes no volume.
    auto v = Volume::initWithDictionary(wholeDisk(1ull << 30, 4096));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::tuple(Volume::bytesPerSector(), v->sizeInSect()), std::tuple(4096u, (1ull << 30) / 4096));
    Volume::setBytesPerSector(512);
    LogCapture log;
    Dict d = wholeDisk(1000000000ull, 512);
    d.remove("Preferred Block Size");
    EXPECT_EQ(Volume::initWithDictionary(d), nullptr);
    d.set("Preferred Block Size", Value(0));
    EXPECT_EQ(Volume::initWithDictionary(d), nullptr);
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST(VolumeConstruction, RowThatIsNotAVolumeSetsOnlyTheDriveIdentityApfsIsReadThroughItsPartitionAndPathsAreKeptWhole) {
    Dict d = mountedVolume("Apple_HFS");
    d.set("WhetherVolume", Value(false));
    Volume::setBytesPerSector(512);
    d.set("Preferred Block Size", Value(4096));
    auto v = Volume::initWithDictionary(d);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(std::tuple(v->model(), v->path(), v->u32BytesInSector(), v->volumeName, Volume::bytesPerSector()),
              std::tuple("Model X", "", 0u, "", 512u));
    EXPECT_EQ(v->btree, nullptr);
    // An APFS volume is read through its container's partition, not the
    // disk above it, where its block numbers would not start.
    v = Volume::initWithDictionary(mountedVolume("APFS"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->parentDrivePath, "/dev/sdz");
    EXPECT_EQ(v->cPath(), "/dev/sdz2");
    Dict disk = wholeDisk(1 << 20, 512);
    const std::string longPath = "/dev/disk/by-id/usb-Generic_Flash_Disk_ABCDEF0123456789-0:0";
    disk.set("Path", Value(longPath));
    EXPECT_EQ(Volume::initWithDictionary(disk)->cPath(), longPath);
}

TEST(VolumeState, ConstructionClearsTheStopByteAndTheStopFlagWritesIt) {
    Volume::setStopByte(true);
    auto v = Volume::initWithDictionary(foundVolume(0));
    ASSERT_NE(v, nullptr);
    EXPECT_FALSE(Volume::stopByte());
    v->setStopTreeThread(true);
    EXPECT_TRUE(v->stopTreeThread() && Volume::stopByte());
    v->setStopTreeThread(false);
    EXPECT_FALSE(Volume::stopByte());
}

TEST(VolumeState, KeepAwakeFollowsTheScansPhases) {
    auto v = Volume::initWithDictionary(foundVolume(0));
    setKeepAwakeInterval(std::chrono::milliseconds(1));
    v->stopPreventingSleep();
    EXPECT_TRUE(preventSleepStopFlag());
    v->startPreventingSleep();
    EXPECT_FALSE(preventSleepStopFlag());
    v->stopPreventingSleep();
    EXPECT_TRUE(preventSleepStopFlag());
}

TEST(VolumeState, EachTickShowsTheProgressOnceAndHandsTheFlagBack) {
    ControllerScope scope;
    auto v = Volume::initWithDictionary(foundVolume(0));
    v->dataUpdate.set("Files", Value(3));
    v->setTimerFireMethodCanRun(true);
    v->myTimerFireMethod();
    // The scan fills the dictionary again; what was shown stays as it was.
    v->dataUpdate.set("Files", Value(4));
    v->myTimerFireMethod();
    auto shown = scope.controller.callsNamed("updateProgress:");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].dictValue().get("Files").intValue(), 3);
    EXPECT_FALSE(v->timerFireMethodCanRun());
    // Without a controller the tick still hands the flag back.
    platform::setAppController(nullptr);
    v->setTimerFireMethodCanRun(true);
    v->myTimerFireMethod();
    EXPECT_FALSE(v->timerFireMethodCanRun());
}

// A resumed sweep that took up half the medium at once: the time left goes
// by what it has done itself since, not by the half it was handed.
TEST(VolumeState, TheTimeLeftOfAResumedSweepGoesByTheUnitsItDidItself) {
    auto v = Volume::initWithDictionary(foundVolume(0));
    v->postSweepProgress("Searching", 600, 1000, 512, 10.0, 500);
    EXPECT_EQ(v->dataUpdate.get("TimeRemaining").stringValue(), "0:00:00:40");
    EXPECT_EQ(v->dataUpdate.get("Percent Done").intValue(), 60);
}

namespace {
// Counters a scan leaves behind, as a reset should find them.
void leaveCounters(Volume& v) {
    v.entryCount = 5;
    v.folderCount = 2;
    v.fileCount = 3;
    v.dataSize = 1234;
    v.maxFileID = 77;
    v.blocksStartsAtSector = 99;
    v.dataUpdate.set("Files", Value(3));
}
auto countersOf(const Volume& v) {
    return std::tuple(v.entryCount, v.folderCount, v.fileCount, v.dataSize, v.maxFileID, v.blocksStartsAtSector,
                      v.dataUpdate.empty());
}
} // namespace

TEST(VolumeState, ResetKeepsTheIndexesAndClearsTheCountersOfANewScanButRenewsAndKeepsThoseOfAResumedOne) {
    auto v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    BTreeTableClass* before = v->btree.get();
    BTreeTableClass* normalBefore = v->btreeNormalScan.get();
    leaveCounters(*v);
    v->scanInfoSaved = true;
    v->openedScanInfo = true;
    v->catNodeSize = 8;
    v->setStopTreeThread(true);
    v->resetSigArraysAndBtreesAndOthers();
    EXPECT_EQ(std::tuple(v->btree.get(), v->btreeNormalScan.get()), std::tuple(before, normalBefore));
    EXPECT_EQ(countersOf(*v), std::tuple(0u, 0u, 0u, 0u, 9u, 0u, true));
    EXPECT_EQ(std::tuple(v->scanInfoSaved, v->openedScanInfo, v->catNodeSize, v->stopTreeThread(), Volume::stopByte()),
              std::tuple(false, false, 0, false, false));

    // A resumed scan gets new indexes and keeps the restored counters; only
    // the progress starts again.
    auto resumed = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    before = resumed->btree.get();
    resumed->autoCrashRecovery = true;
    leaveCounters(*resumed);
    resumed->resetSigArraysAndBtreesAndOthers();
    ASSERT_NE(resumed->btree, nullptr);
    EXPECT_NE(resumed->btree.get(), before);
    EXPECT_EQ(resumed->btreeAdvScan, resumed->btree.get());
    EXPECT_NE(resumed->btreeNormalScan, nullptr);
    EXPECT_EQ(countersOf(*resumed), std::tuple(5u, 2u, 3u, 1234u, 77u, 99u, true));
}

TEST(VolumeTree, IndexedAppendKeepsTheFirstNodeOfAnIdAndTheAdvancedScanIndexesOnlyFolders) {
    Volume v;
    BTreeTableClass index, advanced;
    NewDir* f = node(NewDir::Folder, 20);
    f->childIndex = &index;
    f->advScanIndex = &advanced;
    NewDir* first = node(NewDir::File, 30);
    NewDir* other = node(NewDir::Folder, 31);
    for (NewDir* d : {first, node(NewDir::Folder, 30), other})
        v.addChildUpdateBTree(d, f);
    NewDir* folder = node(NewDir::Folder, 41);
    v.addChildAdvScan(node(NewDir::File, 40), f);
    v.addChildAdvScan(folder, f);
    EXPECT_EQ(f->childrenArrayCount(), 5u);
    EXPECT_EQ(std::tuple(index.numItems(), dirOf(index, 30), dirOf(index, 31)), std::tuple(2, first, other));
    EXPECT_EQ(std::tuple(dirOf(advanced, 40), dirOf(advanced, 41)), std::tuple(nullptr, folder));
    // Without an index it only appends.
    f->childIndex = nullptr;
    v.addChildUpdateBTree(node(NewDir::File, 32), f);
    EXPECT_EQ(f->childrenArrayCount(), 6u);
    newdir::freeNDir(f);
}

TEST(VolumeTree, RootIsIndexedUnderTwoFreeingForgetsTheLostFoldersAndNormalScanNodesGoButTheIndexStays) {
    auto v = Volume::initWithDictionary(mountedVolume("FAT32"));
    v->blocksStartsAtSector = 4096;
    NewDir* root = v->createRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(std::tuple(v->dirRoot, dirOf(*v->btree, 2)), std::tuple(root, root));
    EXPECT_EQ(std::tuple(root->fileType, root->fileID, root->parentID, newdir::fileName(root), newdir::pathName(root),
                         root->dataStartSector, root->childIndex),
              std::tuple(NewDir::Folder, 2u, 1u, u"Root", u"1", 4096u, v->btree.get()));
    // Children added with indexing are found by ID through the root's index.
    NewDir* child = node(NewDir::Folder, 50);
    v->addChildUpdateBTree(child, root);
    EXPECT_EQ(dirOf(*v->btree, 50), child);
    v->dirLostFiles = node(NewDir::Folder, 7);
    v->dirLostFolders = node(NewDir::Folder, 8);
    newdir::appendChild(root, v->dirLostFiles);
    newdir::appendChild(root, v->dirLostFolders);
    v->freeTree();
    EXPECT_EQ(std::tuple(v->dirRoot, v->dirLostFiles, v->dirLostFolders), std::tuple(nullptr, nullptr, nullptr));
    v->freeTree();
    // Normal-scan index nodes are freed and the index stays.
    v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    ASSERT_NE(v->btreeNormalScan, nullptr);
    v->freeBtreeNormalScanNDIRs(); // empty: nothing to do
    for (std::uint32_t id = 100; id < 160; ++id) {
        NewDir* d = node(id % 3 ? NewDir::File : NewDir::Folder, id);
        if (id % 3 == 0) newdir::appendChild(d, node(NewDir::File, id + 1000));
        v->btreeNormalScan->insert(std::make_unique<ItemType>(id, d));
    }
    v->freeBtreeNormalScanNDIRs();
    ASSERT_NE(v->btreeNormalScan, nullptr);
    EXPECT_EQ(v->btreeNormalScan->numItems(), 60);
    ASSERT_NE(v->btreeNormalScan->retrieveKeyField(130), nullptr);
    EXPECT_EQ(dirOf(*v->btreeNormalScan, 130), nullptr);
    v->btreeNormalScan.reset();
    v->freeBtreeNormalScanNDIRs(); // no index: nothing to do
}

TEST(VolumeTree, RootRefusesADataStartBeyond32BitsAndIsMadeWithoutAnIndex) {
    LogCapture log;
    auto v = Volume::initWithDictionary(wholeDisk(1ull << 40, 512));
    v->blocksStartsAtSector = 1ull << 33;
    EXPECT_EQ(v->createRoot()->dataStartSector, 0u);
    EXPECT_FALSE(log.lines.empty());
    v->freeTree();
    Volume plain;
    NewDir* root = plain.createRoot();
    EXPECT_EQ(root->childIndex, nullptr);
    EXPECT_EQ(plain.dirRoot, root);
    plain.freeTree();
}
