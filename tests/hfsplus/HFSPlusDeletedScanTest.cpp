// The deleted-file scan of HFS+ volumes, end to end through the scan thread:
// the live-file pass over the catalog, the search of the journal for copies
// of catalog leaf nodes, the orphan pass, the search of the journal for
// copies of extents-overflow leaf nodes and the putting in order of the
// extents found. Images come from the HFS+ image builder, which keeps
// deleted records in journal copies on purpose and knows where every byte
// of every file lies, so what the scan recovers is read back through its
// extents and compared with what was written. Damaged journals (no journal,
// a journal outside the volume, looping links, hostile records) must end
// promptly with whatever can be recovered.

#include "hfsplus/DeletedFileScan.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/JournalExtents.h"
#include "scan/ScanThread.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::Array;
using platform::Dict;
using platform::RecordingController;
using testsupport::HFSPlusImageBuilder;
using testsupport::HFSPlusImageOptions;
using testsupport::nodeAt;

namespace {

using Builder = HFSPlusImageBuilder;
constexpr std::uint32_t kRoot = Builder::kRoot;

std::vector<std::uint8_t> pattern(std::size_t size, std::uint32_t seed) {
    return Builder::patternData(size, seed);
}

HFSPlusImageOptions journaled() {
    HFSPlusImageOptions o;
    o.journaled = true;
    o.volumeName = "Deleted";
    return o;
}

testsupport::HFSFileOptions extentsOf(std::uint32_t count) {
    testsupport::HFSFileOptions o;
    o.extentCount = count;
    return o;
}

void put(std::vector<std::uint8_t>& image, std::uint64_t at, const std::vector<std::uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
}

using Names = std::set<std::string>;
Names pathsOf(const NewDir* root) {
    Names paths;
    for (const auto& [path, node] : testsupport::nodesByPath(root))
        paths.insert(path);
    return paths;
}

class HFSPlusDeletedScan : public testsupport::ScanFixture {
protected:
    // The image as a mounted volume (its device begins with the volume), the
    // kind the deleted-file scan is run on, with a live-file index.
    std::shared_ptr<Volume> mounted(const std::vector<std::uint8_t>& bytes, std::uint32_t sectorSize = 512) {
        const fs::path p = testsupport::makeTempDir("deleted") / "volume.img";
        testsupport::writeText(p, testsupport::asString(bytes));
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

    // What a mode-0 wizard row does: recover deleted files, no search.
    void scan(const std::shared_ptr<Volume>& v) { ScanThread(v).scanForDeletedFiles(Array{1, 0}); }
    std::shared_ptr<Volume> scanned(const std::vector<std::uint8_t>& image, std::uint32_t sectorSize = 512) {
        auto v = mounted(image, sectorSize);
        scan(v);
        return v;
    }

    // The file at `path` is there with this mark, and its bytes read back
    // through its extents equal `data`; answers it (nullptr when missing).
    static NewDir* expectRecovered(Volume& v, const std::string& path, const std::vector<std::uint8_t>& data,
                                   std::uint8_t complete) {
        NewDir* file = nodeAt(v.dirRoot, path);
        if (!file) {
            ADD_FAILURE() << path << " not found";
            return nullptr;
        }
        EXPECT_EQ(file->complete, complete) << path;
        EXPECT_EQ(testsupport::readThroughExtents(v, *file), testsupport::asString(data)) << path;
        return file;
    }

    std::vector<std::string> statuses() const {
        std::vector<std::string> out;
        for (const auto& c : controller.calls()) {
            const std::string status = c.argument.dictValue().get("Progress Status").stringValue();
            out.push_back(status.empty() ? c.name : c.name + " " + status);
        }
        return out;
    }
};

} // namespace

// ------------------------------------------------------------------------
// Recovery from journal copies

TEST_F(HFSPlusDeletedScan, DeletedFileWithMoreThanEightExtentsIsRecoveredWhole) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addFile(docs, "kept.txt", pattern(5000, 1));
    b.addJournalCopyOf(docs);
    const auto data = pattern(12 * 4096 + 100, 2);
    const auto gone = b.addDeletedFileInJournal(docs, "gone.bin", data, 12);
    const auto image = b.build();
    ASSERT_EQ(b.entry(gone)->dataExtents.size(), 12u);
    ASSERT_FALSE(b.layout().journalExtentsNodes.empty());

    auto v = scanned(image);
    expectTreeCompleteLast();
    NewDir* folder = nodeAt(v->dirRoot, "Docs");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->deleted, 1);
    NewDir* file = expectRecovered(*v, "Docs/gone.bin", data, JournalExtents::kComplete);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fileID, gone);
    EXPECT_EQ(file->deleted, 1);
    EXPECT_EQ(file->fileSize, data.size());
    // Eight from the journal copy of the leaf, eight more (four of them
    // empty) from the copy of the extents node.
    ASSERT_EQ(file->extentCount(), 16u);
    std::uint64_t blocks = 0;
    for (const ExtP& e : file->extents)
        blocks += e.blockCount;
    EXPECT_EQ(blocks, b.entry(gone)->dataTotalBlocks);
    // The live catalog never enters the deleted-file tree.
    EXPECT_EQ(nodeAt(folder, "kept.txt"), nullptr);
    EXPECT_EQ(v->fileCount, 1u);
    EXPECT_EQ(v->treeScanMode, 1);
    // The deleted-only lists were built from the marks.
    EXPECT_EQ(folder->deletedCount(), 1u);
}

TEST_F(HFSPlusDeletedScan, ScanThreadRunsLivePassJournalSearchOrphansExtentsThenRearranging) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addJournalCopyOf(docs);
    b.addDeletedFileInJournal(docs, "gone.bin", pattern(40000, 3), 10);
    scanned(b.build());

    const auto seen = statuses();
    auto at = [&](const std::string& s, std::size_t from = 0) {
        return static_cast<std::size_t>(std::find(seen.begin() + static_cast<std::ptrdiff_t>(from), seen.end(), s) -
                                        seen.begin());
    };
    const std::size_t liveTimer = at("setUpTimer");
    const std::size_t journalTimer = at("setUpTimer", liveTimer + 1);
    const std::size_t extents = at("updateProgress: Searching extra extents...");
    const std::size_t rearranging = at("updateProgress: Rearranging extra extents ...");
    const std::size_t rearranged = at("updateProgress: Rearranging extra extents ...", rearranging + 1);
    const std::size_t cleanUp = at("updateProgress: Rearranging tree...");
    ASSERT_LT(cleanUp, seen.size());
    EXPECT_TRUE(liveTimer < journalTimer && journalTimer < extents && extents < rearranging &&
                rearranging < rearranged && rearranged < cleanUp)
        << liveTimer << " " << journalTimer << " " << extents << " " << rearranging << " " << rearranged << " "
        << cleanUp;
    // Nothing was parked, so the orphan pass did not run.
    EXPECT_EQ(at("updateProgress: Processing orphan & lost entries..."), seen.size());
    // The timer is stopped after the journal node search and again after
    // the extents search, before the rearranging.
    EXPECT_LT(at("invalidateTimer", journalTimer), extents);
    EXPECT_LT(at("invalidateTimer", extents), rearranging);
    EXPECT_TRUE(logged("Removing redundant entries"));
    const Dict start = controller.calls()[rearranging].argument.dictValue();
    EXPECT_TRUE(start.get("Start Animation").boolValue());
    EXPECT_EQ(start.get("Progress Type").intValue(), 0);
    EXPECT_TRUE(controller.calls()[rearranged].argument.dictValue().get("Stop Animation").boolValue());
    expectTreeCompleteLast();
}

TEST_F(HFSPlusDeletedScan, GroupsFoundOutOfOrderAreAppendedInFileOrder) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    const auto data = pattern(20 * 4096, 4);
    const auto f = b.addDeletedFile(docs, "many.bin", data, extentsOf(20));
    const auto overflow = b.overflowRecordsOf(f);
    ASSERT_EQ(overflow.size(), 2u);
    b.addJournalCopyOf(docs);
    b.addJournalRecords({b.recordOf(f)});
    // The copy holding the record of the file's last extents comes first
    // in the journal: it cannot follow on yet and waits as a group.
    b.addJournalExtentsRecords({overflow[1]});
    b.endJournalTransaction();
    b.addJournalExtentsRecords({overflow[0]});
    auto v = scanned(b.build());
    // The group completed the file, and the mark says so.
    NewDir* file = expectRecovered(*v, "Docs/many.bin", data, JournalExtents::kComplete);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->extentGroupCount(), 1u);
    EXPECT_EQ(file->extentGroups[0].groupStartBlock, overflow[1].startBlock);
    EXPECT_EQ(file->extentGroups[0].cellCount(), 8u);
}

TEST_F(HFSPlusDeletedScan, AGroupListedBeforeTheOneItFollowsStaysUnusedAndTheFileIsIncomplete) {
    // 200 blocks, the catalog record naming the first 50; journal records
    // for 150, 100 and 50 in that order.
    HFSPlusImageOptions o = journaled();
    o.totalSize = 16u << 20;
    Builder b(o);
    const auto docs = b.addFolder(kRoot, "Docs");
    const auto f = b.addDeletedFile(docs, "big.bin", pattern(200 * 4096, 5), extentsOf(4));
    const auto runs = b.entry(f)->dataExtents;
    ASSERT_EQ(runs.size(), 4u);
    for (const auto& r : runs)
        ASSERT_EQ(r.blockCount, 50u);
    auto record = b.recordOf(f);
    record.dataFork.extents = {runs[0]};
    b.addJournalCopyOf(docs);
    b.addJournalRecords({record});
    for (std::uint32_t start : {150u, 100u, 50u}) {
        b.endJournalTransaction();
        b.addJournalExtentsRecords({{hfsplus::kDataFork, f, start, {runs[start / 50]}}});
    }
    auto v = scanned(b.build());
    NewDir* file = nodeAt(v->dirRoot, "Docs/big.bin");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->extentGroupCount(), 2u);
    EXPECT_EQ(file->extentGroups[0].groupStartBlock, 150u);
    EXPECT_EQ(file->extentGroups[1].groupStartBlock, 100u);
    std::uint64_t covered = 0;
    for (const ExtP& e : file->extents)
        covered += e.blockCount;
    EXPECT_EQ(covered, 150u);
    EXPECT_EQ(file->complete, JournalExtents::kIncomplete);
}

TEST_F(HFSPlusDeletedScan, LiveUnchangedFileInTheJournalAddsNothingButAChangedOneIsDeleted) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    const auto same = b.addFile(docs, "same.txt", pattern(5000, 6));
    const auto changed = b.addFile(docs, "changed.txt", pattern(5000, 7));
    b.addJournalCopyOf(docs);
    b.addJournalCopyOf(same);
    auto older = b.recordOf(changed);
    older.dataFork.logicalSize = 4500; // an older generation, still two blocks
    b.addJournalRecords({older});
    auto v = scanned(b.build());
    EXPECT_EQ(nodeAt(v->dirRoot, "Docs/same.txt"), nullptr);
    NewDir* file = nodeAt(v->dirRoot, "Docs/changed.txt");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->fileSize, 4500u);
    EXPECT_EQ(file->deleted, 1);
}

TEST_F(HFSPlusDeletedScan, LaterGenerationsOfAnEntryAddNothing) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addJournalCopyOf(docs);
    const auto f = b.addDeletedFileInJournal(docs, "gone.bin", pattern(9000, 8), 1);
    b.endJournalTransaction();
    b.addJournalCopyOf(docs);
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
    NewDir* file = expectRecovered(*v, "Lost Files/orphan.bin", data, JournalExtents::kComplete);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->deleted, 1);
}

TEST_F(HFSPlusDeletedScan, AFileMetBeforeItsFolderWaitsForIt) {
    Builder b(journaled());
    const auto docs = b.addDeletedFolderWithID(500, kRoot, "Later");
    const auto f = b.addDeletedFileWithID(40, docs, "early.bin", pattern(6000, 10), extentsOf(1));
    b.addJournalCopyOf(f);
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
    DeletedFileScan scan(*v);
    v->createRoot();
    HFSPlusVolume(*v).fillVIB();
    HFSPlusVolume(*v).checkCatalogAndExtentsFile();
    JournalExtents(*v).getJournalSizeAndStart();
    scan.searchCatFragsForDeletedFiles();
    EXPECT_EQ(v->folderCount, 1u);
    EXPECT_EQ(v->orphEntriesTotal, 1u);
    EXPECT_NE(v->btreeOrph->retrieveKeyField(900), nullptr);
}

TEST_F(HFSPlusDeletedScan, DSStoreAndTheRootRecordAreNeverTaken) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addJournalCopyOf(docs);
    b.addDeletedFileInJournal(docs, ".DS_Store", pattern(6000, 11), 1);
    b.addDeletedFileInJournal(docs, "real.bin", pattern(6000, 12), 1);
    // The volume's root folder as the catalog keeps it: parent 1.
    auto rootRecord = b.recordOf(docs);
    rootRecord.keyParentID = 1;
    rootRecord.keyName = "Deleted";
    rootRecord.id = kRoot;
    b.addJournalRecords({rootRecord});
    auto v = scanned(b.build());
    EXPECT_EQ(pathsOf(v->dirRoot), (Names{"Docs", "Docs/real.bin"}));
    for (const auto& [path, n] : testsupport::nodesByPath(v->dirRoot))
        EXPECT_NE(n->fileID, kRoot) << path;
}

TEST_F(HFSPlusDeletedScan, FourKiBSectorsAndAWrapperFindTheSameFile) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE(variant == 0 ? "4096-byte sectors" : "HFS wrapper");
        HFSPlusImageOptions o = journaled();
        if (variant == 0)
            o.sectorSize = 4096;
        else
            o.wrapping = HFSPlusImageOptions::Wrapping::HFSWrapper;
        Builder b(o);
        const auto docs = b.addFolder(kRoot, "Docs");
        b.addJournalCopyOf(docs);
        const auto data = pattern(11 * 4096 + 7, 13);
        b.addDeletedFileInJournal(docs, "gone.bin", data, 11);
        auto v = scanned(b.build(), o.sectorSize);
        EXPECT_EQ(v->HPlusVolStart(), b.layout().volumeStartSector());
        expectRecovered(*v, "Docs/gone.bin", data, JournalExtents::kComplete);
    }
}

// ------------------------------------------------------------------------
// Damaged and missing journals

TEST_F(HFSPlusDeletedScan, NoJournalMeansNoJournalReadsAndAnEmptyTree) {
    Builder b; // not journaled
    b.addFile(b.addFolder(kRoot, "Docs"), "live.txt", pattern(3000, 14));
    auto v = scanned(b.build());
    EXPECT_EQ(v->journalSize, 0u);
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
        HFSPlusImageOptions o = journaled();
        o.journalDamage = damage;
        Builder b(o);
        const auto docs = b.addFolder(kRoot, "Docs");
        b.addJournalCopyOf(docs);
        const auto data = pattern(10 * 4096, 15);
        b.addDeletedFileInJournal(docs, "gone.bin", data, 10);
        auto v = scanned(b.build());
        expectTreeCompleteLast();
        const std::uint64_t volumeBytes = v->sizeInSect() * v->u32BytesInSector();
        EXPECT_LE(v->journalStart + v->journalSize, volumeBytes);
        if (damage == JD::SizePastEnd) {
            // The journal's real part is inside the volume: searched as far
            // as the volume goes.
            EXPECT_TRUE(logged("reaches past the volume's end"));
            EXPECT_EQ(v->journalSize, volumeBytes - v->journalStart);
            expectRecovered(*v, "Docs/gone.bin", data, JournalExtents::kComplete);
        } else {
            EXPECT_EQ(v->journalSize, 0u);
            EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
        }
    }
}

TEST_F(HFSPlusDeletedScan, LoopingLinksInJournalCopiesAndTheCatalogEndTheScan) {
    HFSPlusImageOptions o = journaled();
    o.maxRecordsPerLeaf = 2;
    Builder b(o);
    const auto docs = b.addFolder(kRoot, "Docs");
    for (int i = 0; i < 6; ++i)
        b.addFile(docs, "live" + std::to_string(i), pattern(1000, 20 + i));
    b.addJournalCopyOf(docs);
    const auto data = pattern(9 * 4096, 16);
    b.addDeletedFileInJournal(docs, "gone.bin", data, 9);
    b.endJournalTransaction();
    b.addJournalCopyOf(docs);
    b.damageCatalogLeafLoop(0, 2);
    auto image = b.build();
    // Journal copies link to each other and to themselves.
    const auto& copies = b.layout().journalCatalogNodes;
    ASSERT_GE(copies.size(), 2u);
    for (std::size_t i = 0; i < copies.size(); ++i) {
        put(image, copies[i].imageOffset, testsupport::be32(i % 2 ? 1 : 2));
        put(image, copies[i].imageOffset + 4, testsupport::be32(static_cast<std::uint32_t>(i + 1)));
    }
    for (const auto& e : b.layout().journalExtentsNodes)
        put(image, e.imageOffset, testsupport::be32(1));
    auto v = scanned(image);
    expectTreeCompleteLast();
    expectRecovered(*v, "Docs/gone.bin", data, JournalExtents::kComplete);
}

TEST_F(HFSPlusDeletedScan, HostileRecordsInACopyEndOnlyThatCopy) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addJournalCopyOf(docs);
    b.addDeletedFileInJournal(docs, "good.bin", pattern(5000, 17), 1);
    b.endJournalTransaction();
    auto record = b.recordOf(b.addDeletedFile(docs, "bad.bin", pattern(5000, 18), extentsOf(1)));
    record.storedNameLength = 300; // beyond any name
    b.addJournalRecords({record});
    auto image = b.build();
    // A record offset pointing into the offset table of the first copy.
    const std::uint64_t nodeEnd = b.layout().journalCatalogNodes.front().imageOffset + b.layout().catalogNodeSize;
    std::vector<std::uint8_t> mangled = image;
    put(mangled, nodeEnd - 4, testsupport::be16(static_cast<std::uint16_t>(b.layout().catalogNodeSize - 6)));
    for (const auto* img : {&image, &mangled}) {
        controller.clear();
        auto v = scanned(*img);
        expectTreeCompleteLast();
        // The mangled copy ends after its first record (the folder, which
        // the clean-up then drops as empty); the untouched one gives the file.
        EXPECT_EQ(pathsOf(v->dirRoot), (img == &image ? Names{"Docs", "Docs/good.bin"} : Names{}));
    }
}

TEST_F(HFSPlusDeletedScan, StopEndsThePassesButTheScanStillCompletes) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addJournalCopyOf(docs);
    b.addDeletedFileInJournal(docs, "gone.bin", pattern(9000, 21), 1);
    auto v = mounted(b.build());
    controller.setCallObserver([v](const RecordingController::Call& c) {
        if (c.name == "setUpTimer") v->setStopTreeThread(true);
    });
    scan(v);
    controller.setCallObserver(nullptr);
    expectTreeCompleteLast();
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
}

// ------------------------------------------------------------------------
// The macOS-made volume: no journal, no deleted files

TEST_F(HFSPlusDeletedScan, MacOSVolumeKeepsItsLiveFilesInTheIndexAndFindsNothingDeleted) {
    const fs::path img = testsupport::copyOfReadyImage("hfsplus.raw");
    auto v = mountedFile(img);
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    HFSPlusVolume(*v).fillVIB();
    ASSERT_TRUE(HFSPlusVolume(*v).checkCatalogAndExtentsFile());
    DeletedFileScan(*v).startMakingTreeDeletedFileScan();
    // Every live file of the catalog (regular files and the link, which is
    // a file record too), by its ID, as fls lists them.
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
    // Nothing reached the tree or the counters.
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 0u);
    EXPECT_EQ(v->fileCount + v->folderCount + v->entryCount, 0u);
    v->freeBtreeNormalScanNDIRs();

    controller.clear();
    auto again = mountedFile(img);
    scan(again);
    expectTreeCompleteLast();
    EXPECT_EQ(again->journalSize, 0u);
    ASSERT_NE(again->dirRoot, nullptr);
    EXPECT_EQ(again->dirRoot->childrenArrayCount(), 0u);
}

// ------------------------------------------------------------------------
// Extents of entries the orphan pass places

TEST_F(HFSPlusDeletedScan, AFilePlacedUnderAParkedFolderStillGetsItsJournalExtents) {
    // The file (ID 40) and its folder (900) are both parked: the folder's
    // parent (800) comes later in the journal. The orphan pass meets the
    // file first and puts it under the folder before the folder is placed;
    // the extents search must still find the file by its ID.
    Builder b(journaled());
    const auto top = b.addDeletedFolderWithID(800, kRoot, "Top");
    const auto mid = b.addDeletedFolderWithID(900, top, "Mid");
    const auto data = pattern(10 * 4096 + 5, 22);
    const auto f = b.addDeletedFileWithID(40, mid, "deep.bin", data, extentsOf(10));
    b.addJournalCopyOf(mid);
    b.addJournalCopyOf(f);
    b.endJournalTransaction();
    b.addJournalCopyOf(top);
    expectRecovered(*scanned(b.build()), "Top/Mid/deep.bin", data, JournalExtents::kComplete);
}

TEST_F(HFSPlusDeletedScan, JournalExtentsOutsideTheVolumeAreDroppedAndTheFileIsBad) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    const auto data = pattern(10 * 4096, 23);
    const auto f = b.addDeletedFile(docs, "cut.bin", data, extentsOf(10));
    auto overflow = b.overflowRecordsOf(f);
    ASSERT_EQ(overflow.size(), 1u);
    // Beyond the two extents the file needs.
    overflow[0].extents.resize(3);
    overflow[0].extents[2] = {0xFFFFFF00u, 1};
    b.addJournalCopyOf(docs);
    b.addJournalRecords({b.recordOf(f)});
    b.addJournalExtentsRecords(overflow);
    auto v = scanned(b.build());
    NewDir* file = expectRecovered(*v, "Docs/cut.bin", data, JournalExtents::kIncomplete);
    ASSERT_NE(file, nullptr);
    // Eight from the catalog record, the record's seven others (five empty).
    EXPECT_EQ(file->extentCount(), 15u);
    EXPECT_TRUE(logged("lie outside the volume"));
}

TEST_F(HFSPlusDeletedScan, AJournalRecordLosesOnlyItsExtentsOutsideTheVolumeOrItselfWhenItsNameOverrunsItsKey) {
    Builder b(journaled());
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addJournalCopyOf(docs);
    auto badRecord = b.recordOf(b.addDeletedFile(docs, "a-bad.bin", pattern(3000, 25), extentsOf(1)));
    badRecord.storedNameLength = 200; // more units than the key holds
    const auto data = pattern(5000, 24);
    auto farRecord = b.recordOf(b.addDeletedFile(docs, "b-far.bin", data, extentsOf(1)));
    const auto inside = farRecord.dataFork.extents.front();
    // The inside extent alone covers the file; the others start or end past the volume.
    const auto last = static_cast<std::uint32_t>(b.options().totalSize / b.options().blockSize) - 1;
    farRecord.dataFork.extents = {inside, {0x00FFFFF0u, 2}, {last, 5}};
    b.addJournalRecords({badRecord, farRecord});
    auto v = scanned(b.build());
    NewDir* folder = nodeAt(v->dirRoot, "Docs");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->childrenArrayCount(), 1u);
    NewDir* file = expectRecovered(*v, "Docs/b-far.bin", data, JournalExtents::kIncomplete);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->extentCount(), 1u);
}
