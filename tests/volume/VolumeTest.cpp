#include "volume/Volume.h"

#include "media/Sleep.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"

#include <gtest/gtest.h>

using platform::Dict;
using platform::Value;

namespace {

struct ControllerScope {
    platform::RecordingController controller;
    ControllerScope() { platform::setAppController(&controller); }
    ~ControllerScope() { platform::setAppController(nullptr); }
};

struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() {
        platform::setLogSink([this](const std::string& l) { lines.push_back(l); });
    }
    ~LogCapture() { platform::setLogSink(nullptr); }
};

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

} // namespace

// --- construction ---

TEST(VolumeConstruction, WholeDiskCountsSectorsAndBlocksFromTheSize) {
    auto v = Volume::initWithDictionary(wholeDisk(1000000000ull, 512));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->sizeInSect(), 1953125u);
    EXPECT_EQ(v->totalBlocks, 1953125u);
    EXPECT_EQ(v->sizeInBytes(), 1000000000u);
    EXPECT_EQ(v->u32BytesInSector(), 512u);
    EXPECT_EQ(Volume::bytesPerSector(), 512u);
    EXPECT_EQ(v->volumeScanType, 3);
    EXPECT_EQ(v->blockSize(), 1u);
    EXPECT_EQ(v->HPlusVolStart(), 0u);
    EXPECT_EQ(v->maxFileID, 9u);
    EXPECT_EQ(v->path(), "/dev/sdz");
    EXPECT_EQ(v->cPath(), "/dev/sdz");
    EXPECT_EQ(v->model(), "Model X");
    EXPECT_NE(v->btree, nullptr);
    EXPECT_EQ(v->btreeAdvScan, nullptr);
    EXPECT_EQ(v->btreeNormalScan, nullptr);
    EXPECT_NE(v->btreeOrph, nullptr);
    EXPECT_NE(v->btreeOrphAdvScanEntries, nullptr);
    EXPECT_FALSE(v->stopTreeThread());
    EXPECT_EQ(v->dirRoot, nullptr);
}

TEST(VolumeConstruction, MountedVolumeReadsItsRowAndHeaderAtSectorTwo) {
    auto v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->volumeScanType, 2);
    EXPECT_EQ(v->sizeInSect(), 2048u);
    EXPECT_EQ(v->vibAtSector, 2u);
    EXPECT_EQ(v->startSector, 0u);
    EXPECT_EQ(v->maxFileID, 9u);
    EXPECT_EQ(v->volumeName, "Photos");
    EXPECT_EQ(v->volumeContent, "Apple_HFS");
    EXPECT_EQ(v->parentDrivePath, "/dev/sdz");
    EXPECT_TRUE(v->isJournaled);
    EXPECT_TRUE(v->supportsFileSystemRecovery);
    EXPECT_EQ(v->cPath(), "/dev/sdz2");
    EXPECT_NE(v->btree, nullptr);
    EXPECT_NE(v->btreeNormalScan, nullptr);
    EXPECT_NE(v->btreeForUsedCatNodeSector, nullptr);
    EXPECT_NE(v->btreeFirstFileBlock, nullptr);
    EXPECT_EQ(v->btreeAdvScan, nullptr);
}

TEST(VolumeConstruction, RowThatIsNotAVolumeSetsOnlyTheDriveIdentity) {
    Dict d = mountedVolume("Apple_HFS");
    d.set("WhetherVolume", Value(false));
    Volume::setBytesPerSector(512);
    d.set("Preferred Block Size", Value(4096));
    auto v = Volume::initWithDictionary(d);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->model(), "Model X");
    EXPECT_EQ(v->path(), "");
    EXPECT_EQ(v->u32BytesInSector(), 0u);
    EXPECT_EQ(v->volumeName, "");
    EXPECT_EQ(v->btree, nullptr);
    EXPECT_EQ(Volume::bytesPerSector(), 512u);
    EXPECT_NE(v->btreeOrph, nullptr);
}

TEST(VolumeConstruction, FoundVolumeOfScanTypeOneReadsItsHeaderAtTheAlternateSector) {
    auto v = Volume::initWithDictionary(foundVolume(1));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->volumeScanType, 1);
    EXPECT_EQ(v->vibAtSector, 411646u);
    EXPECT_EQ(v->startSector, 2048u);
    EXPECT_EQ(v->HPlusVolStart(), 2048u);
    EXPECT_EQ(v->sizeInSect(), 409600u);
    EXPECT_EQ(v->volumeContent, "Apple_HFS");
    EXPECT_EQ(v->maxFileID, 0u);
    ASSERT_NE(v->btree, nullptr);
    EXPECT_EQ(v->btreeAdvScan, v->btree.get());
    EXPECT_NE(v->btreeForUsedCatNodeSector, nullptr);
    EXPECT_NE(v->btreeFirstFileBlock, nullptr);
    EXPECT_EQ(v->btreeNormalScan, nullptr);
}

TEST(VolumeConstruction, FoundVolumeOfScanTypeZeroIgnoresTheAlternateSector) {
    auto v = Volume::initWithDictionary(foundVolume(0));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->volumeScanType, 0);
    EXPECT_EQ(v->vibAtSector, 0u);
}

TEST(VolumeConstruction, ApfsVolumeIsReadThroughItsParentDrive) {
    auto v = Volume::initWithDictionary(mountedVolume("APFS"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->path(), "/dev/sdz2");
    EXPECT_EQ(v->cPath(), "/dev/sdz");
    // Refreshing from the path alone takes the volume's own path.
    v->setCPath();
    EXPECT_EQ(v->cPath(), "/dev/sdz2");
}

TEST(VolumeConstruction, ApfsVolumeWithoutParentDriveUsesItsOwnPath) {
    Dict d = mountedVolume("APFS");
    d.remove("Parent Drive Path");
    auto v = Volume::initWithDictionary(d);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->cPath(), "/dev/sdz2");
}

TEST(VolumeConstruction, LongDevicePathIsKeptWhole) {
    Dict d = wholeDisk(1 << 20, 512);
    const std::string longPath = "/dev/disk/by-id/usb-Generic_Flash_Disk_ABCDEF0123456789-0:0";
    d.set("Path", Value(longPath));
    auto v = Volume::initWithDictionary(d);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->cPath(), longPath);
}

TEST(VolumeConstruction, SectorSizeOf4096BecomesTheProcessWideValue) {
    auto v = Volume::initWithDictionary(wholeDisk(1ull << 30, 4096));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(Volume::bytesPerSector(), 4096u);
    EXPECT_EQ(v->sizeInSect(), (1ull << 30) / 4096);
    Volume::setBytesPerSector(512);
}

TEST(VolumeConstruction, RowWithoutSectorSizeMakesNoVolume) {
    LogCapture log;
    Dict d = wholeDisk(1000000000ull, 512);
    d.remove("Preferred Block Size");
    EXPECT_EQ(Volume::initWithDictionary(d), nullptr);
    d.set("Preferred Block Size", Value(0));
    EXPECT_EQ(Volume::initWithDictionary(d), nullptr);
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST(VolumeConstruction, ConstructionClearsTheProcessWideStopByte) {
    Volume::setStopByte(true);
    auto v = Volume::initWithDictionary(foundVolume(0));
    ASSERT_NE(v, nullptr);
    EXPECT_FALSE(Volume::stopByte());
}

TEST(VolumeConstruction, DescriptionNamesTheVolumeAndItsSizeInBytes) {
    auto v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->description(), "Photos /dev/sdz2 Model X SN1 1.0 size:1048576");
    auto disk = Volume::initWithDictionary(wholeDisk(1000000000ull, 512));
    EXPECT_EQ(disk->description(), "(null) /dev/sdz Model X SN1 1.0 size:1000000000");
}

// --- flags and per-scan state ---

TEST(VolumeState, StopFlagAlsoWritesTheProcessWideStopByte) {
    auto v = Volume::initWithDictionary(foundVolume(0));
    v->setStopTreeThread(true);
    EXPECT_TRUE(v->stopTreeThread());
    EXPECT_TRUE(Volume::stopByte());
    v->setStopTreeThread(false);
    EXPECT_FALSE(Volume::stopByte());
}

TEST(VolumeState, ResetOfANewScanKeepsTheIndexesAndClearsTheCounters) {
    auto v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    BTreeTableClass* before = v->btree.get();
    BTreeTableClass* normalBefore = v->btreeNormalScan.get();
    v->entryCount = 5;
    v->folderCount = 2;
    v->fileCount = 3;
    v->dataSize = 1234;
    v->maxFileID = 77;
    v->blocksStartsAtSector = 99;
    v->orphEntriesTotal = 4;
    v->sigArray.push_back(Value("jpg"));
    v->dataUpdate.set("Files", Value(3));
    v->scanInfoSaved = true;
    v->openedScanInfo = true;
    v->catNodeSize = 8;
    v->setStopTreeThread(true);

    v->resetSigArraysAndBtreesAndOthers();

    EXPECT_EQ(v->btree.get(), before);
    EXPECT_EQ(v->btreeNormalScan.get(), normalBefore);
    EXPECT_EQ(v->entryCount, 0u);
    EXPECT_EQ(v->folderCount, 0u);
    EXPECT_EQ(v->fileCount, 0u);
    EXPECT_EQ(v->dataSize, 0u);
    EXPECT_EQ(v->maxFileID, 9u);
    EXPECT_EQ(v->blocksStartsAtSector, 0u);
    EXPECT_EQ(v->orphEntriesTotal, 0u);
    EXPECT_TRUE(v->sigArray.empty());
    EXPECT_TRUE(v->dataUpdate.empty());
    EXPECT_FALSE(v->scanInfoSaved);
    EXPECT_FALSE(v->openedScanInfo);
    EXPECT_EQ(v->catNodeSize, 0);
    EXPECT_FALSE(v->stopTreeThread());
    EXPECT_FALSE(Volume::stopByte());
}

TEST(VolumeState, ResetOfAResumedScanMakesNewIndexesAndKeepsTheRestoredCounters) {
    auto v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    BTreeTableClass* before = v->btree.get();
    BTreeTableClassOrph* orphBefore = v->btreeOrph.get();
    v->autoCrashRecovery = true;
    v->entryCount = 5;
    v->folderCount = 2;
    v->fileCount = 3;
    v->dataSize = 1234;
    v->maxFileID = 77;
    v->blocksStartsAtSector = 99;
    v->orphEntriesTotal = 4;
    v->sigArray.push_back(Value("jpg"));
    v->lookForRtfAttachments = true;
    v->dataUpdate.set("Files", Value(3));

    v->resetSigArraysAndBtreesAndOthers();

    ASSERT_NE(v->btree, nullptr);
    EXPECT_NE(v->btree.get(), before);
    EXPECT_EQ(v->btreeAdvScan, v->btree.get());
    EXPECT_NE(v->btreeNormalScan, nullptr);
    EXPECT_NE(v->btreeForUsedCatNodeSector, nullptr);
    EXPECT_NE(v->btreeOrph.get(), orphBefore);
    EXPECT_EQ(v->entryCount, 5u);
    EXPECT_EQ(v->folderCount, 2u);
    EXPECT_EQ(v->fileCount, 3u);
    EXPECT_EQ(v->dataSize, 1234u);
    EXPECT_EQ(v->maxFileID, 77u);
    EXPECT_EQ(v->blocksStartsAtSector, 99u);
    EXPECT_EQ(v->orphEntriesTotal, 0u);
    ASSERT_EQ(v->sigArray.size(), 1u);
    EXPECT_FALSE(v->lookForRtfAttachments);
    EXPECT_TRUE(v->dataUpdate.empty());
}

TEST(VolumeState, TwoTicksWithoutNewProgressShowTheDictionaryOnce) {
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
}

TEST(VolumeState, TickWithoutControllerStillHandsTheFlagBack) {
    platform::setAppController(nullptr);
    auto v = Volume::initWithDictionary(foundVolume(0));
    v->setTimerFireMethodCanRun(true);
    v->myTimerFireMethod();
    EXPECT_FALSE(v->timerFireMethodCanRun());
}

TEST(VolumeState, KeepAwakeStartClearsAndStopSetsTheFlag) {
    setKeepAwakeInterval(std::chrono::milliseconds(1));
    auto v = Volume::initWithDictionary(foundVolume(0));
    v->stopPreventingSleep();
    EXPECT_TRUE(preventSleepStopFlag());
    v->startPreventingSleep();
    EXPECT_FALSE(preventSleepStopFlag());
    v->stopPreventingSleep();
    EXPECT_TRUE(preventSleepStopFlag());
}

// --- tree operations ---

TEST(VolumeTree, ChildAccessPastTheCountIsNull) {
    Volume v;
    NewDir* f = node(NewDir::Folder, 20);
    EXPECT_EQ(v.childAtIndex_(0, f), nullptr);
    EXPECT_EQ(v.childAtIndex_(5, f), nullptr);
    EXPECT_EQ(v.childAtIndexDeleted_(0, f), nullptr);
    NewDir* a = node(NewDir::File, 21);
    NewDir* b = node(NewDir::File, 22);
    v.addChild(a, f);
    v.addChild(b, f);
    EXPECT_EQ(f->childrenArrayCount(), 2u);
    EXPECT_EQ(v.childAtIndex_(0, f), a);
    EXPECT_EQ(v.childAtIndex_(1, f), b);
    EXPECT_EQ(v.childAtIndex_(2, f), nullptr);
    EXPECT_EQ(a->pndirPointer, nullptr);
    v.freeNDir(f);
}

TEST(VolumeTree, RemovingTheOnlyChildEmptiesTheListAndAppendsStillWork) {
    Volume v;
    NewDir* f = node(NewDir::Folder, 20);
    v.addChild(node(NewDir::File, 21), f);
    v.removeChildAtIndex(0, f);
    EXPECT_EQ(f->childrenArrayCount(), 0u);
    EXPECT_EQ(v.childAtIndex_(0, f), nullptr);
    NewDir* b = node(NewDir::File, 22);
    v.addChild(b, f);
    EXPECT_EQ(f->childrenArrayCount(), 1u);
    EXPECT_EQ(v.childAtIndex_(0, f), b);
    v.freeNDir(f);
}

TEST(VolumeTree, RemovingTheLastOfThreeLeavesTwoAndOutOfRangeChangesNothing) {
    Volume v;
    NewDir* f = node(NewDir::Folder, 20);
    NewDir* a = node(NewDir::File, 21);
    NewDir* b = node(NewDir::Folder, 22);
    v.addChild(a, f);
    v.addChild(b, f);
    v.addChild(node(NewDir::File, 23), b);
    v.addChild(node(NewDir::File, 24), f);
    v.removeChildAtIndex(2, f);
    ASSERT_EQ(f->childrenArrayCount(), 2u);
    EXPECT_EQ(v.childAtIndex_(1, f), b);
    EXPECT_EQ(v.childAtIndex_(2, f), nullptr);
    v.removeChildAtIndex(2, f);
    v.removeChildAtIndex(100, f);
    EXPECT_EQ(f->childrenArrayCount(), 2u);
    // Removing a folder frees its subtree with it.
    v.removeChildAtIndex(1, f);
    EXPECT_EQ(f->childrenArrayCount(), 1u);
    EXPECT_EQ(v.childAtIndex_(0, f), a);
    v.freeNDir(f);
}

TEST(VolumeTree, IndexedAppendWithoutAnIndexOnlyAppends) {
    Volume v;
    NewDir* f = node(NewDir::Folder, 20);
    v.addChildUpdateBTree(node(NewDir::File, 30), f);
    EXPECT_EQ(f->childrenArrayCount(), 1u);
    v.freeNDir(f);
}

TEST(VolumeTree, IndexedAppendKeepsTheFirstNodeOfAnIdMetTwice) {
    Volume v;
    BTreeTableClass index;
    NewDir* f = node(NewDir::Folder, 20);
    f->childIndex = &index;
    NewDir* first = node(NewDir::File, 30);
    NewDir* second = node(NewDir::Folder, 30);
    NewDir* other = node(NewDir::Folder, 31);
    v.addChildUpdateBTree(first, f);
    v.addChildUpdateBTree(second, f);
    v.addChildUpdateBTree(other, f);
    EXPECT_EQ(f->childrenArrayCount(), 3u);
    ASSERT_NE(index.retrieveKeyField(30), nullptr);
    EXPECT_EQ(index.retrieveKeyField(30)->dir(), first);
    EXPECT_EQ(index.retrieveKeyField(31)->dir(), other);
    EXPECT_EQ(index.numItems(), 2);
    v.freeNDir(f);
}

TEST(VolumeTree, AdvancedScanAppendIndexesFoldersButNotFiles) {
    Volume v;
    BTreeTableClass index;
    NewDir* f = node(NewDir::Folder, 20);
    f->advScanIndex = &index;
    NewDir* file = node(NewDir::File, 40);
    NewDir* folder = node(NewDir::Folder, 41);
    v.addChildAdvScan(file, f);
    v.addChildAdvScan(folder, f);
    EXPECT_EQ(f->childrenArrayCount(), 2u);
    EXPECT_EQ(index.retrieveKeyField(40), nullptr);
    ASSERT_NE(index.retrieveKeyField(41), nullptr);
    EXPECT_EQ(index.retrieveKeyField(41)->dir(), folder);
    v.freeNDir(f);
}

TEST(VolumeTree, ExtentGroupsAndTheirCellsCountEachAppend) {
    Volume v;
    NewDir* f = node(NewDir::File, 20);
    EXPECT_TRUE(v.addDataExtStartBlock(100, 8, f));
    EXPECT_FALSE(v.addDataExtStartBlock(1ull << 32, 8, f));
    EXPECT_EQ(f->extentCount(), 1u);
    v.addDataExtComp(ExtCompP{16, {}}, f);
    v.addDataExtComp(ExtCompP{32, {}}, f);
    EXPECT_EQ(f->extentGroupCount(), 2u);
    ExtCompP group{8, {}};
    EXPECT_TRUE(v.addDataExtCompEXTP(ExtP{1, 2}, group));
    EXPECT_TRUE(v.addDataExtCompEXTP(ExtP{3, 4}, group));
    EXPECT_TRUE(v.addDataExtCompEXTP(ExtP{5, 6}, group));
    EXPECT_EQ(group.cellCount(), 3u);
    EXPECT_EQ(group.extents[2].startBlock, 5u);
    v.freeNDir(f);
}

TEST(VolumeTree, NamesStopAtTheFirstNulAndAnEmptyNameReadsBackEmpty) {
    Volume v;
    NewDir* f = node(NewDir::File, 20);
    v.setFileName(std::u16string(u"abc\0def", 7), f);
    EXPECT_EQ(f->nameLength, 3u);
    EXPECT_EQ(v.fileNameOfDir(f), u"abc");
    v.setFileName(u"", f);
    EXPECT_EQ(f->nameLength, 0u);
    EXPECT_TRUE(v.fileNameOfDir(f).empty());
    v.setPathName(u"1/Root", f);
    EXPECT_EQ(v.pathNameOfDir(f), u"1/Root");
    v.setExtension(u"jpg", f);
    EXPECT_EQ(f->extensionLength, 3u);
    EXPECT_EQ(v.extensionOfDir(f), u"jpg");
    v.freeNDir(f);
}

TEST(VolumeTree, FreeingAFolderWhoseDeletedListNamesItsChildrenFreesEachOnce) {
    // AddressSanitizer reports a second free or a leak.
    Volume v;
    NewDir* f = node(NewDir::Folder, 20);
    NewDir* a = node(NewDir::File, 21);
    NewDir* b = node(NewDir::Folder, 22);
    NewDir* c = node(NewDir::File, 23);
    v.addChild(a, f);
    v.addChild(b, f);
    v.addChild(c, b);
    v.addChildDeletedArray(a, f);
    v.addChildDeletedArray(b, f);
    v.addChildDeletedArray(c, b);
    EXPECT_EQ(v.childAtIndexDeleted_(1, f), b);
    v.freeNDir(f);
}

TEST(VolumeTree, SwappingExchangesTheChildAndDeletedLists) {
    Volume v;
    NewDir* f = node(NewDir::Folder, 20);
    NewDir* a = node(NewDir::File, 21);
    NewDir* b = node(NewDir::File, 22);
    v.addChild(a, f);
    v.addChild(b, f);
    v.addChildDeletedArray(b, f);
    v.swapChildrenArrayOfDir(f);
    EXPECT_EQ(f->childrenArrayCount(), 1u);
    EXPECT_EQ(f->deletedCount(), 2u);
    EXPECT_EQ(v.childAtIndex_(0, f), b);
    v.swapChildrenArrayOfDir(f);
    EXPECT_EQ(f->childrenArrayCount(), 2u);
    v.freeNDir(f);
}

TEST(VolumeTree, RootIsIndexedUnderTwoAndInstalled) {
    auto v = Volume::initWithDictionary(mountedVolume("FAT32"));
    v->blocksStartsAtSector = 4096;
    NewDir* root = v->createRoot();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(v->dirRoot, root);
    EXPECT_EQ(root->fileType, NewDir::Folder);
    EXPECT_EQ(root->fileID, 2u);
    EXPECT_EQ(root->parentID, 1u);
    EXPECT_EQ(v->fileNameOfDir(root), u"Root");
    EXPECT_EQ(v->pathNameOfDir(root), u"1");
    EXPECT_EQ(root->dataStartSector, 4096u);
    EXPECT_EQ(root->childIndex, v->btree.get());
    ASSERT_NE(v->btree->retrieveKeyField(2), nullptr);
    EXPECT_EQ(v->btree->retrieveKeyField(2)->dir(), root);
    // Children added with indexing are found by ID through the root's index.
    NewDir* child = node(NewDir::Folder, 50);
    v->addChildUpdateBTree(child, root);
    EXPECT_EQ(v->btree->retrieveKeyField(50)->dir(), child);
    v->freeTree();
    EXPECT_EQ(v->dirRoot, nullptr);
}

TEST(VolumeTree, RootRefusesADataStartBeyond32Bits) {
    LogCapture log;
    auto v = Volume::initWithDictionary(wholeDisk(1ull << 40, 512));
    v->blocksStartsAtSector = 1ull << 33;
    NewDir* root = v->createRoot();
    EXPECT_EQ(root->dataStartSector, 0u);
    EXPECT_FALSE(log.lines.empty());
    v->freeTree();
}

TEST(VolumeTree, RootWithoutAnIndexIsStillMade) {
    Volume v;
    NewDir* root = v.createRoot();
    EXPECT_EQ(root->childIndex, nullptr);
    EXPECT_EQ(v.dirRoot, root);
    v.freeTree();
}

TEST(VolumeTree, FreeTreeForgetsTheLostFoldersToo) {
    auto v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    NewDir* root = v->createRoot();
    NewDir* lostFiles = node(NewDir::Folder, 7);
    NewDir* lostFolders = node(NewDir::Folder, 8);
    v->addChild(lostFiles, root);
    v->addChild(lostFolders, root);
    v->dirLostFiles = lostFiles;
    v->dirLostFolders = lostFolders;
    v->freeTree();
    EXPECT_EQ(v->dirRoot, nullptr);
    EXPECT_EQ(v->dirLostFiles, nullptr);
    EXPECT_EQ(v->dirLostFolders, nullptr);
    v->freeTree();
}

TEST(VolumeTree, NormalScanIndexNodesAreFreedAndTheIndexStays) {
    auto v = Volume::initWithDictionary(mountedVolume("Apple_HFS"));
    ASSERT_NE(v->btreeNormalScan, nullptr);
    v->freeBtreeNormalScanNDIRs(); // empty: nothing to do
    for (std::uint32_t id = 100; id < 160; ++id) {
        NewDir* d = node(id % 3 ? NewDir::File : NewDir::Folder, id);
        if (id % 3 == 0) v->addChild(node(NewDir::File, id + 1000), d);
        v->btreeNormalScan->insert(std::make_unique<ItemType>(id, d));
    }
    v->freeBtreeNormalScanNDIRs();
    ASSERT_NE(v->btreeNormalScan, nullptr);
    EXPECT_EQ(v->btreeNormalScan->numItems(), 60);
    EXPECT_EQ(v->btreeNormalScan->retrieveKeyField(130)->dir(), nullptr);
    v->btreeNormalScan.reset();
    v->freeBtreeNormalScanNDIRs(); // no index: nothing to do
}
