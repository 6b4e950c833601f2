// The deleted-file scan of HFS+ volumes through the scan thread, on built volumes keeping deleted records in
// journal copies: what is recovered is read back and compared with what was written; damaged journals end promptly
// with whatever can be recovered.

#include "hfsplus/DeletedFileScan.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/JournalExtents.h"
#include "scan/ScanThread.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <numeric>
#include <ranges>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::Array;
using platform::Dict;
using platform::RecordingController;
using namespace testsupport;

namespace {

using Builder = HFSPlusImageBuilder;
using Names = std::set<std::string>;
constexpr std::uint32_t kRoot = Builder::kRoot;
constexpr std::uint32_t kDocs = Builder::kFirstUserID; // "Docs", the first entry a test adds
constexpr std::uint8_t kComplete = JournalExtents::kComplete, kIncomplete = JournalExtents::kIncomplete;

HFSPlusImageOptions journaled(HFSPlusImageOptions o = {}) {
    o.journaled = true;
    o.volumeName = "Deleted";
    return o;
}

HFSFileOptions extentsOf(std::uint32_t count) {
    HFSFileOptions o;
    o.extentCount = count;
    return o;
}

Names pathsOf(const NewDir* root) {
    const auto tree = nodesByPath(root);
    const auto paths = std::views::keys(tree);
    return Names(paths.begin(), paths.end());
}

class HFSPlusDeletedScan : public ScanFixture {
protected:
    static std::uint64_t blocksOf(const NewDir* f) {
        return std::accumulate(f->extents.begin(), f->extents.end(), 0ull,
                               [](auto n, const ExtP& e) { return n + e.blockCount; });
    }
    static constexpr auto pattern = &Builder::patternData;
    // The image as a mounted volume (its device begins with it), as the deleted-file scan is run on, live index kept.
    std::shared_ptr<Volume> mounted(const std::vector<std::uint8_t>& bytes, std::uint32_t sectorSize = 512) {
        const fs::path p = makeTempDir("deleted") / "volume.img";
        writeText(p, asString(bytes));
        return mountedFile(p, sectorSize);
    }
    std::shared_ptr<Volume> mountedFile(const fs::path& p, std::uint32_t sectorSize = 512) {
        return keep(Volume::initWithDictionary(Dict{{"WhetherVolume", true},
                                                    {"Path", p.string()},
                                                    {"Preferred Block Size", sectorSize},
                                                    {"Size", static_cast<unsigned long long>(fs::file_size(p))},
                                                    {"Content", "Apple_HFS"},
                                                    {"Volume Name", "test"},
                                                    {"device model", "-"},
                                                    {"device serial", "-"},
                                                    {"device revision", "-"}}));
    }

    // Where the journal lies, read again as the deleted-file scan reads it.
    HFSPlusReaderState& journalOf(Volume& v) {
        HFSPlusReaderState& state = hfsState(v);
        HFSPlusVolume(state).fillVIB();
        JournalExtents(state).getJournalSizeAndStart();
        return state;
    }

    // What a mode-0 wizard row does: recover deleted files, no search.
    void scan(const std::shared_ptr<Volume>& v) { ScanThread(v).scanForDeletedFiles(Array{1, 0}); }
    std::shared_ptr<Volume> scanned(const std::vector<std::uint8_t>& image, std::uint32_t sectorSize = 512) {
        auto v = mounted(image, sectorSize);
        scan(v);
        return v;
    }

    // The file at `path` has this mark and, read through its extents, these bytes; answers it (nullptr: missing).
    static NewDir* expectRecovered(Volume& v, const std::string& path, const std::vector<std::uint8_t>& data,
                                   std::uint8_t complete) {
        NewDir* file = nodeAt(v.dirRoot, path);
        if (!file) {
            ADD_FAILURE() << path << " not found";
            return nullptr;
        }
        EXPECT_EQ(file->complete, complete) << path;
        EXPECT_EQ(readThroughExtents(v, *file), asString(data)) << path;
        return file;
    }
};

} // namespace

TEST_F(HFSPlusDeletedScan, DeletedFileWithMoreThanEightExtentsIsRecoveredWhole) {
    Builder b(journaled());
    b.addFile(b.addFolder(kRoot, "Docs"), "kept.txt", pattern(5000, 1));
    b.addJournalCopyOf(kDocs);
    const auto data = pattern(12 * 4096 + 100, 2);
    const auto gone = b.addDeletedFileInJournal(kDocs, "gone.bin", data, 12);
    const auto image = b.build();
    ASSERT_EQ(b.entry(gone)->dataExtents.size(), 12u);
    ASSERT_FALSE(b.layout().journalExtentsNodes.empty());
    auto v = scanned(image);
    expectTreeCompleteLast();
    NewDir* folder = nodeAt(v->dirRoot, "Docs");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->deleted, 1);
    NewDir* file = expectRecovered(*v, "Docs/gone.bin", data, kComplete);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::tuple(file->fileID, file->deleted, file->fileSize), std::tuple(gone, 1, data.size()));
    // Eight from the journal copy of the leaf, eight more (four empty) from the copy of the extents node.
    ASSERT_EQ(file->extentCount(), 16u);
    EXPECT_EQ(blocksOf(file), b.entry(gone)->dataTotalBlocks);
    // The live catalog never enters the deleted-file tree.
    EXPECT_EQ(nodeAt(folder, "kept.txt"), nullptr);
    EXPECT_EQ(std::tuple(v->fileCount, v->treeScanMode), std::tuple(1u, 1));
    EXPECT_EQ(folder->deletedCount(), 1u); // the deleted-only lists were built from the marks
}

TEST_F(HFSPlusDeletedScan, ScanThreadRunsLivePassJournalSearchOrphansExtentsThenRearranging) {
    Builder b(journaled());
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    b.addDeletedFileInJournal(kDocs, "gone.bin", pattern(40000, 3), 10);
    scanned(b.build());
    std::vector<std::string> seen;
    for (const auto& c : controller.calls()) {
        const std::string status = c.argument.dictValue().get("Progress Status").stringValue();
        seen.push_back(status.empty() ? c.name : c.name + " " + status);
    }
    auto at = [&](const std::string& s, std::size_t from = 0) {
        return static_cast<std::size_t>(std::find(seen.begin() + static_cast<std::ptrdiff_t>(from), seen.end(), s) -
                                        seen.begin());
    };
    const std::size_t liveTimer = at("setUpTimer"), journalTimer = at("setUpTimer", liveTimer + 1);
    const std::size_t extents = at("updateProgress: Searching extra extents...");
    const std::size_t rearranging = at("updateProgress: Rearranging extra extents ..."),
                      rearranged = at("updateProgress: Rearranging extra extents ...", rearranging + 1);
    const std::size_t cleanUp = at("updateProgress: Rearranging tree...");
    ASSERT_LT(cleanUp, seen.size());
    EXPECT_TRUE(liveTimer < journalTimer && journalTimer < extents && extents < rearranging &&
                rearranging < rearranged && rearranged < cleanUp)
        << liveTimer << " " << journalTimer << " " << extents << " " << rearranging << " " << rearranged << " "
        << cleanUp;
    // Nothing was parked, so the orphan pass did not run.
    EXPECT_EQ(at("updateProgress: Processing orphan & lost entries..."), seen.size());
    // The timer is stopped after the journal node search and after the extents search, before the rearranging.
    EXPECT_LT(at("invalidateTimer", journalTimer), extents);
    EXPECT_LT(at("invalidateTimer", extents), rearranging);
    EXPECT_TRUE(logged("Removing redundant entries"));
    const Dict start = controller.calls()[rearranging].argument.dictValue();
    EXPECT_TRUE(start.get("Start Animation").boolValue());
    EXPECT_EQ(start.get("Progress Type").intValue(), 0);
    EXPECT_TRUE(controller.calls()[rearranged].argument.dictValue().get("Stop Animation").boolValue());
    expectTreeCompleteLast();
}

// The copy of the record of the file's last extents comes first: it waits as a group, which then completes the file.
TEST_F(HFSPlusDeletedScan, GroupsFoundOutOfOrderAreAppendedInFileOrder) {
    Builder b(journaled());
    const auto data = pattern(20 * 4096, 4);
    const auto f = b.addDeletedFile(b.addFolder(kRoot, "Docs"), "many.bin", data, extentsOf(20));
    const auto overflow = b.overflowRecordsOf(f);
    ASSERT_EQ(overflow.size(), 2u);
    b.addJournalCopyOf(kDocs);
    b.addJournalRecords({b.recordOf(f)});
    b.addJournalExtentsRecords({overflow[1]});
    b.endJournalTransaction();
    b.addJournalExtentsRecords({overflow[0]});
    auto v = scanned(b.build());
    NewDir* file = expectRecovered(*v, "Docs/many.bin", data, kComplete);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->extentGroupCount(), 1u);
    EXPECT_EQ(file->extentGroups[0].groupStartBlock, overflow[1].startBlock);
    EXPECT_EQ(file->extentGroups[0].cellCount(), 8u);
}

// 200 blocks, the catalog record naming the first 50; journal records for 150, 100 and 50 in that order.
TEST_F(HFSPlusDeletedScan, AGroupListedBeforeTheOneItFollowsStaysUnusedAndTheFileIsIncomplete) {
    Builder b(journaled({.totalSize = 16u << 20}));
    const auto f = b.addDeletedFile(b.addFolder(kRoot, "Docs"), "big.bin", pattern(200 * 4096, 5), extentsOf(4));
    const auto runs = b.entry(f)->dataExtents;
    ASSERT_EQ(runs.size(), 4u);
    for (const auto& r : runs)
        ASSERT_EQ(r.blockCount, 50u);
    auto record = b.recordOf(f);
    record.dataFork.extents = {runs[0]};
    b.addJournalCopyOf(kDocs);
    b.addJournalRecords({record});
    for (std::uint32_t start : {150u, 100u, 50u}) {
        b.endJournalTransaction();
        b.addJournalExtentsRecords({{hfsplus::kDataFork, f, start, {runs[start / 50]}}});
    }
    auto v = scanned(b.build());
    NewDir* file = nodeAt(v->dirRoot, "Docs/big.bin");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->extentGroupCount(), 2u);
    EXPECT_EQ(std::tuple(file->extentGroups[0].groupStartBlock, file->extentGroups[1].groupStartBlock),
              std::tuple(150u, 100u));
    EXPECT_EQ(blocksOf(file), 150u);
    EXPECT_EQ(file->complete, kIncomplete);
}

TEST_F(HFSPlusDeletedScan, LiveUnchangedFileInTheJournalAddsNothingButAChangedOneIsDeleted) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    const auto same = b.addFile(docs, "same.txt", pattern(5000, 6));
    auto older = b.recordOf(b.addFile(docs, "changed.txt", pattern(5000, 7)));
    older.dataFork.logicalSize = 4500; // an older generation, still two blocks
    b.addJournalCopyOf(docs);
    b.addJournalCopyOf(same);
    b.addJournalRecords({older});
    auto v = scanned(b.build());
    EXPECT_EQ(nodeAt(v->dirRoot, "Docs/same.txt"), nullptr);
    NewDir* file = nodeAt(v->dirRoot, "Docs/changed.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::tuple(file->fileSize, file->deleted), std::tuple(4500u, 1));
}

TEST_F(HFSPlusDeletedScan, LaterGenerationsOfAnEntryAddNothing) {
    Builder b(journaled());
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    const auto f = b.addDeletedFileInJournal(kDocs, "gone.bin", pattern(9000, 8), 1);
    b.endJournalTransaction();
    b.addJournalCopyOf(kDocs);
    b.addJournalCopyOf(f);
    auto v = scanned(b.build());
    NewDir* folder = nodeAt(v->dirRoot, "Docs");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->childrenArrayCount(), 1u);
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 1u); // one "Docs"
    EXPECT_EQ(v->fileCount, 1u);
}

TEST_F(HFSPlusDeletedScan, DeletedFileWhoseFolderIsNowhereGoesToLostFiles) {
    Builder b(journaled());
    const auto data = pattern(7000, 9);
    b.addDeletedFileInJournal(b.addDeletedFolder(kRoot, "Gone folder"), "orphan.bin", data, 1);
    auto v = scanned(b.build());
    NewDir* file = expectRecovered(*v, "Lost Files/orphan.bin", data, kComplete);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->deleted, 1);
}

TEST_F(HFSPlusDeletedScan, AFileMetBeforeItsFolderWaitsForIt) {
    Builder b(journaled());
    const auto docs = b.addDeletedFolderWithID(500, kRoot, "Later");
    b.addJournalCopyOf(b.addDeletedFileWithID(40, docs, "early.bin", pattern(6000, 10), extentsOf(1)));
    b.endJournalTransaction();
    b.addJournalCopyOf(docs);
    EXPECT_NE(nodeAt(scanned(b.build())->dirRoot, "Later/early.bin"), nullptr);
}

TEST_F(HFSPlusDeletedScan, ParkedCopiesAreCountedOnce) {
    Builder b(journaled());
    const auto docs = b.addDeletedFolderWithID(900, 800, "Deep");
    b.addJournalCopyOf(docs);
    b.endJournalTransaction();
    b.addJournalCopyOf(docs);
    auto v = mounted(b.build());
    HFSPlusReaderState& state = hfsState(*v);
    DeletedFileScan scan(state);
    v->createRoot();
    HFSPlusVolume(state).fillVIB();
    HFSPlusVolume(state).checkCatalogAndExtentsFile();
    JournalExtents(state).getJournalSizeAndStart();
    scan.searchCatFragsForDeletedFiles();
    EXPECT_EQ(v->folderCount, 1u);
    EXPECT_EQ(state.orphEntriesTotal, 1u);
    EXPECT_NE(state.btreeOrph->retrieveKeyField(900), nullptr);
}

TEST_F(HFSPlusDeletedScan, DSStoreAndTheRootRecordAreNeverTaken) {
    Builder b(journaled());
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    b.addDeletedFileInJournal(kDocs, ".DS_Store", pattern(6000, 11), 1);
    b.addDeletedFileInJournal(kDocs, "real.bin", pattern(6000, 12), 1);
    // The volume's root folder as the catalog keeps it: parent 1.
    auto rootRecord = b.recordOf(kDocs);
    rootRecord.keyParentID = 1;
    rootRecord.keyName = "Deleted";
    rootRecord.id = kRoot;
    b.addJournalRecords({rootRecord});
    auto v = scanned(b.build());
    EXPECT_EQ(pathsOf(v->dirRoot), (Names{"Docs", "Docs/real.bin"}));
    for (const auto& [path, n] : nodesByPath(v->dirRoot))
        EXPECT_NE(n->fileID, kRoot) << path;
}

TEST_F(HFSPlusDeletedScan, FourKiBSectorsAndAWrapperFindTheSameFile) {
    for (auto o :
         {journaled({.sectorSize = 4096}), journaled({.wrapping = HFSPlusImageOptions::Wrapping::HFSWrapper})}) {
        SCOPED_TRACE(o.sectorSize == 4096 ? "4096-byte sectors" : "HFS wrapper");
        Builder b(o);
        b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
        const auto data = pattern(11 * 4096 + 7, 13);
        b.addDeletedFileInJournal(kDocs, "gone.bin", data, 11);
        auto v = scanned(b.build(), o.sectorSize);
        EXPECT_EQ(v->HPlusVolStart(), b.layout().volumeStartSector());
        expectRecovered(*v, "Docs/gone.bin", data, kComplete);
    }
}

TEST_F(HFSPlusDeletedScan, NoJournalMeansNoJournalReadsAndAnEmptyTree) {
    Builder b; // not journaled
    b.addFile(b.addFolder(kRoot, "Docs"), "live.txt", pattern(3000, 14));
    auto v = scanned(b.build());
    EXPECT_TRUE(logged("has no journal"));
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
    expectTreeCompleteLast();
}

TEST_F(HFSPlusDeletedScan, JournalOutsideTheVolumeIsNotReadAndAJournalPastItsEndIsCut) {
    using JD = HFSPlusImageOptions::JournalDamage;
    for (JD damage : {JD::NoInfoBlock, JD::InfoBlockPastEnd, JD::OffsetPastEnd, JD::SizePastEnd}) {
        SCOPED_TRACE(static_cast<int>(damage));
        controller.clear();
        logs.clear();
        Builder b(journaled({.journalDamage = damage}));
        b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
        const auto data = pattern(10 * 4096, 15);
        b.addDeletedFileInJournal(kDocs, "gone.bin", data, 10);
        auto v = scanned(b.build());
        expectTreeCompleteLast();
        const std::uint64_t volumeBytes = v->sizeInSect() * v->u32BytesInSector();
        const HFSPlusReaderState& journal = journalOf(*v);
        EXPECT_LE(journal.journalStart + journal.journalSize, volumeBytes);
        if (damage == JD::SizePastEnd) {
            // The journal's real part is inside the volume: searched as far as the volume goes.
            EXPECT_TRUE(logged("reaches past the volume's end"));
            EXPECT_EQ(journal.journalSize, volumeBytes - journal.journalStart);
            expectRecovered(*v, "Docs/gone.bin", data, kComplete);
        } else {
            EXPECT_EQ(journal.journalSize, 0u);
            EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
        }
    }
}

// Journal copies linking to each other and to themselves, extents copies to themselves, a looping leaf chain.
TEST_F(HFSPlusDeletedScan, LoopingLinksInJournalCopiesAndTheCatalogEndTheScan) {
    Builder b(journaled({.maxRecordsPerLeaf = 2}));
    b.addFolder(kRoot, "Docs");
    for (int i = 0; i < 6; ++i)
        b.addFile(kDocs, "live" + std::to_string(i), pattern(1000, 20 + i));
    b.addJournalCopyOf(kDocs);
    const auto data = pattern(9 * 4096, 16);
    b.addDeletedFileInJournal(kDocs, "gone.bin", data, 9);
    b.endJournalTransaction();
    b.addJournalCopyOf(kDocs);
    b.damageCatalogLeafLoop(0, 2);
    auto image = b.build();
    const auto& copies = b.layout().journalCatalogNodes;
    ASSERT_GE(copies.size(), 2u);
    for (std::size_t i = 0; i < copies.size(); ++i) {
        putBE(image, copies[i].imageOffset, i % 2 ? 1 : 2, 4);
        putBE(image, copies[i].imageOffset + 4, i + 1, 4);
    }
    for (const auto& e : b.layout().journalExtentsNodes)
        putBE(image, e.imageOffset, 1, 4);
    auto v = scanned(image);
    expectTreeCompleteLast();
    expectRecovered(*v, "Docs/gone.bin", data, kComplete);
}

// A record whose name runs past any name ends its copy; so does a record offset into the offset table of the first
// copy, ending it after its first record (the folder, then dropped as empty); untouched, that copy gives the file.
TEST_F(HFSPlusDeletedScan, HostileRecordsInACopyEndOnlyThatCopy) {
    Builder b(journaled());
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    b.addDeletedFileInJournal(kDocs, "good.bin", pattern(5000, 17), 1);
    b.endJournalTransaction();
    auto record = b.recordOf(b.addDeletedFile(kDocs, "bad.bin", pattern(5000, 18), extentsOf(1)));
    record.storedNameLength = 300;
    b.addJournalRecords({record});
    auto image = b.build();
    std::vector<std::uint8_t> mangled = image;
    const std::uint64_t nodeEnd = b.layout().journalCatalogNodes.front().imageOffset + b.layout().catalogNodeSize;
    putBE(mangled, nodeEnd - 4, b.layout().catalogNodeSize - 6, 2);
    for (const auto* img : {&image, &mangled}) {
        controller.clear();
        auto v = scanned(*img);
        expectTreeCompleteLast();
        EXPECT_EQ(pathsOf(v->dirRoot), (img == &image ? Names{"Docs", "Docs/good.bin"} : Names{}));
    }
}

TEST_F(HFSPlusDeletedScan, StopEndsThePassesButTheScanStillCompletes) {
    Builder b(journaled());
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    b.addDeletedFileInJournal(kDocs, "gone.bin", pattern(9000, 21), 1);
    auto v = mounted(b.build());
    controller.setCallObserver([v](const RecordingController::Call& c) {
        if (c.name == "setUpTimer") v->setStopTreeThread(true);
    });
    scan(v);
    controller.setCallObserver(nullptr);
    expectTreeCompleteLast();
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
}

// The live pass keeps every live file (the link is a file record too) in its index by ID, as fls lists them, and
// nothing reaches the tree or the counters; the whole scan finds no journal.
TEST_F(HFSPlusDeletedScan, MacOSVolumeKeepsItsLiveFilesInTheIndexAndFindsNothingDeleted) {
    const fs::path img = copyOfReadyImage("hfsplus.raw");
    auto v = mountedFile(img);
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    HFSPlusVolume(hfsState(*v)).fillVIB();
    ASSERT_TRUE(HFSPlusVolume(hfsState(*v)).checkCatalogAndExtentsFile());
    DeletedFileScan(hfsState(*v)).startMakingTreeDeletedFileScan();
    std::set<std::uint32_t> ids;
    for (std::uint32_t id = 16; id < 64; ++id)
        if (const ItemType* item = v->btreeNormalScan->retrieveKeyField(id)) {
            ids.insert(id);
            EXPECT_EQ(item->dir()->fileType, NewDir::File);
        }
    EXPECT_EQ(ids, (std::set<std::uint32_t>{19, 20, 21, 22, 24, 25, 26, 27}));
    const NewDir* passwords = v->btreeNormalScan->retrieveKeyField(20)->dir();
    EXPECT_EQ(newdir::fileName(passwords), u"passwords.txt");
    EXPECT_EQ(passwords->fileSize, 116u);
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
    EXPECT_EQ(v->fileCount + v->folderCount + v->entryCount, 0u);
    v->freeBtreeNormalScanNDIRs();
    controller.clear();
    auto again = mountedFile(img);
    scan(again);
    expectTreeCompleteLast();
    EXPECT_EQ(journalOf(*again).journalSize, 0u);
    ASSERT_NE(again->dirRoot, nullptr);
    EXPECT_EQ(again->dirRoot->childrenArrayCount(), 0u);
}

// The file (ID 40) and its folder (900) are parked, the folder's parent (800) coming later: the orphan pass puts the
// file under the folder before the folder is placed, and the extents search must still find it by its ID.
TEST_F(HFSPlusDeletedScan, AFilePlacedUnderAParkedFolderStillGetsItsJournalExtents) {
    Builder b(journaled());
    const auto top = b.addDeletedFolderWithID(800, kRoot, "Top");
    const auto mid = b.addDeletedFolderWithID(900, top, "Mid");
    const auto data = pattern(10 * 4096 + 5, 22);
    const auto f = b.addDeletedFileWithID(40, mid, "deep.bin", data, extentsOf(10));
    b.addJournalCopyOf(mid);
    b.addJournalCopyOf(f);
    b.endJournalTransaction();
    b.addJournalCopyOf(top);
    expectRecovered(*scanned(b.build()), "Top/Mid/deep.bin", data, kComplete);
}

TEST_F(HFSPlusDeletedScan, JournalExtentsOutsideTheVolumeAreDroppedAndTheFileIsBad) {
    Builder b(journaled());
    const auto data = pattern(10 * 4096, 23);
    const auto f = b.addDeletedFile(b.addFolder(kRoot, "Docs"), "cut.bin", data, extentsOf(10));
    auto overflow = b.overflowRecordsOf(f);
    ASSERT_EQ(overflow.size(), 1u);
    // Beyond the two extents the file needs.
    overflow[0].extents.resize(3);
    overflow[0].extents[2] = {0xFFFFFF00u, 1};
    b.addJournalCopyOf(kDocs);
    b.addJournalRecords({b.recordOf(f)});
    b.addJournalExtentsRecords(overflow);
    auto v = scanned(b.build());
    NewDir* file = expectRecovered(*v, "Docs/cut.bin", data, kIncomplete);
    ASSERT_NE(file, nullptr);
    // Eight from the catalog record, the record's seven others (five empty).
    EXPECT_EQ(file->extentCount(), 15u);
    EXPECT_TRUE(logged("lie outside the volume"));
}

TEST_F(HFSPlusDeletedScan, AJournalRecordLosesOnlyItsExtentsOutsideTheVolumeOrItselfWhenItsNameOverrunsItsKey) {
    Builder b(journaled());
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    auto badRecord = b.recordOf(b.addDeletedFile(kDocs, "a-bad.bin", pattern(3000, 25), extentsOf(1)));
    badRecord.storedNameLength = 200; // more units than the key holds
    const auto data = pattern(5000, 24);
    auto farRecord = b.recordOf(b.addDeletedFile(kDocs, "b-far.bin", data, extentsOf(1)));
    const auto inside = farRecord.dataFork.extents.front();
    // The inside extent alone covers the file; the others start or end past the volume.
    const auto last = static_cast<std::uint32_t>(b.options().totalSize / b.options().blockSize) - 1;
    farRecord.dataFork.extents = {inside, {0x00FFFFF0u, 2}, {last, 5}};
    b.addJournalRecords({badRecord, farRecord});
    auto v = scanned(b.build());
    NewDir* folder = nodeAt(v->dirRoot, "Docs");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->childrenArrayCount(), 1u);
    NewDir* file = expectRecovered(*v, "Docs/b-far.bin", data, kIncomplete);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->extentCount(), 1u);
}

TEST_F(HFSPlusDeletedScan, AVolumeInsideADiskImageIsReadWhereItBegins) {
    Builder b(journaled({.diskOffset = 40 * 512, .diskSize = (8u << 20) + 80 * 512}));
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    const auto data = pattern(5000, 26);
    b.addDeletedFileInJournal(kDocs, "gone.bin", data);
    auto v = keep(volumeOver(b.writeTo(makeTempDir("deleted") / "disk.img"), 40));
    scan(v);
    expectRecovered(*v, "Docs/gone.bin", data, kComplete);
}

// One unreadable sector of a dying disk's journal, behind the copies in the same batch, hides only itself.
TEST_F(HFSPlusDeletedScan, AnUnreadableJournalSectorHidesOnlyItself) {
    Builder b(journaled());
    b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
    const auto data = pattern(40000, 3);
    b.addDeletedFileInJournal(kDocs, "gone.bin", data);
    auto v = mounted(b.build());
    FailingReads disk;
    disk.failSectors(b.layout().journalCatalogNodes.back().imageOffset / 512 + 16);
    v->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
    scan(v);
    expectRecovered(*v, "Docs/gone.bin", data, kComplete);
    EXPECT_GT(disk.failedReads(), 0u);
}

// scan-image runs the deleted-file scan as the window does, on a volume of the drive list (or, at a start sector, on
// a volume of the disk with the same live-file index): the journal's copies of live files are not listed.
TEST_F(HFSPlusDeletedScan, ScanImageListsExactlyTheDeletedFilesOfAJournaledVolume) {
    for (const std::uint64_t start : {0, 40}) {
        Builder b(journaled({.diskOffset = start * 512, .diskSize = (8u << 20) + 80 * 512}));
        b.addJournalCopyOf(b.addFolder(kRoot, "Docs"));
        for (int i = 0; i < 3; ++i)
            b.addJournalCopyOf(b.addFile(kDocs, "live" + std::to_string(i), pattern(3000 + i, 30 + i)));
        b.addDeletedFileInJournal(kDocs, "gone.bin", pattern(5000, 34));
        const fs::path image = b.writeTo(makeTempDir("deleted-tool") / "disk.img");
        const auto files =
            runCommand(std::string(DRENTIC_SCAN_IMAGE) + " tree " + shellQuote(image.string()) +
                       " --mode deleted --start " + std::to_string(start) + " | grep -P '\\tf\\t' | cut -f1");
        EXPECT_EQ(files.value_or(""), "Root/Docs/gone.bin\n") << start;
    }
}
