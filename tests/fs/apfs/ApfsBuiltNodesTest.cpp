// The APFS tree scan over nodes the builder writes into an mkapfs container:
// what no tool here leaves on a disk (removed files in stale node copies,
// orphans, odd field sizes, repeated extents) read back through the scan
// thread, each file's bytes through its extents.

#include "scan/ScanThread.h"
#include "support/ApfsNodeBuilder.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>
#include <optional>

using namespace testsupport;
using B = ApfsNodeBuilder;

namespace {

class ApfsBuiltNodesTest : public ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        image = B::makeContainer(makeTempDir("apfsbuilt") / "c.img");
        if (image.empty()) GTEST_SKIP() << "mkapfs is not installed or failed";
        builder.emplace(image);
    }

    // A file's inode and its one extent, its bytes in blocks of their own.
    std::vector<B::Record> file(std::uint64_t id, std::uint64_t parent, const std::string& name,
                                const std::string& content) {
        const std::uint64_t at = builder->writeData(content);
        return {B::inode({.id = id, .parent = parent, .name = name, .size = content.size()}),
                B::fileExtent(id, 0, (content.size() + 4095) / 4096 * 4096, at)};
    }
    static B::Record folder(std::uint64_t id, std::uint64_t parent, const std::string& name) {
        return B::inode({.id = id, .parent = parent, .name = name, .folder = true});
    }
    static std::vector<B::Record> join(std::initializer_list<std::vector<B::Record>> parts) {
        std::vector<B::Record> all;
        for (const auto& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    }

    static int rootChildrenNamed(const Volume& v, const std::u16string& name) {
        int named = 0;
        for (std::uint32_t i = 0; i < v.dirRoot->childrenArrayCount(); ++i)
            named += newdir::fileName(newdir::childAtIndex(v.dirRoot, i)) == name;
        return named;
    }

    std::shared_ptr<Volume> scan(const FailingReads* failing = nullptr) {
        auto v = keep(volumeOver(image, 0, 0, 512, "APFS"));
        if (failing) v->setRawRead(failing->reader());
        ScanThread(v).startMakingTree(platform::Array{"Normal Scan", 0});
        return v;
    }

    std::filesystem::path image;
    std::optional<B> builder;
};

TEST_F(ApfsBuiltNodesTest, StaleCopyOfALeafGivesBackTheRemovedFileBesideTheLiveOnes) {
    const std::string a = patternBytes(0, 6000), gone = patternBytes(7, 9000);
    // a.txt in two extents whose blocks lie in the other order; the first
    // extent's length word carries a flag in its top byte.
    const std::uint64_t second = builder->writeData(a.substr(4096));
    const std::uint64_t first = builder->writeData(a.substr(0, 4096));
    const auto live = join({{folder(100, 2, "Docs"), B::dirRecord(2, "Docs", 100, true),
                             B::inode({.id = 101, .parent = 100, .name = "a.txt", .size = a.size()}),
                             B::fileExtent(101, 0, 4096, first, 0x01), B::fileExtent(101, 4096, 4096, second)}});
    builder->writeNode({.records = live, .xid = 9});
    builder->writeNode({.records = join({live, file(102, 100, "gone.bin", gone)}), .xid = 8});
    auto v = scan();
    const NewDir* docs = nodeAt(v->dirRoot, "Docs");
    const NewDir* liveFile = nodeAt(v->dirRoot, "Docs/a.txt");
    const NewDir* removed = nodeAt(v->dirRoot, "Docs/gone.bin");
    ASSERT_TRUE(docs && liveFile && removed);
    EXPECT_TRUE(docs->isFolder());
    EXPECT_EQ(liveFile->fileSize, a.size());
    EXPECT_TRUE(readThroughExtents(*v, *liveFile) == a) << "bytes differ";
    EXPECT_EQ(removed->fileSize, gone.size());
    EXPECT_TRUE(readThroughExtents(*v, *removed) == gone) << "bytes differ";
}

TEST_F(ApfsBuiltNodesTest, ContainerInAGptPartitionSavesTheLiveAndTheRemovedFileThroughScanImage) {
    if (!haveTool("sgdisk")) GTEST_SKIP() << "sgdisk is not installed";
    const std::string kept = patternBytes(8, 5000), gone = patternBytes(9, 7000);
    const auto live = join({{folder(100, 2, "Docs")}, file(101, 100, "kept.txt", kept)});
    builder->writeNode({.records = live, .xid = 9});
    builder->writeNode({.records = join({live, file(102, 100, "gone.txt", gone)}), .xid = 8});
    const auto disk = image.parent_path() / "gpt.img";
    const auto dest = image.parent_path() / "saved";
    ASSERT_TRUE(runCommand("truncate -s " + std::to_string((2048 + 262144 + 64) * 512) + " " + shellQuote(disk) +
                           " && sgdisk -n 1:2048:+128M -t 1:AF0A " + shellQuote(disk) +
                           " >/dev/null && dd if=" + shellQuote(image) + " of=" + shellQuote(disk) +
                           " bs=1M seek=1 conv=notrunc,sparse status=none && mkdir " + shellQuote(dest)));
    ASSERT_TRUE(runCommand(std::string(DRENTIC_SCAN_IMAGE) + " save " + shellQuote(disk) + " " + shellQuote(dest) +
                           " --content APFS --start 2048 >/dev/null 2>&1"));
    EXPECT_TRUE(readText(dest / "Root/Docs/kept.txt") == kept) << "bytes differ";
    EXPECT_TRUE(readText(dest / "Root/Docs/gone.txt") == gone) << "bytes differ";
}

TEST_F(ApfsBuiltNodesTest, RootIndexNodesGiveNothingWhateverTheirEntriesLookLike) {
    // Inode records in nodes whose flags say root index node, at levels 1
    // and 0; the same kind of record in a leaf is found.
    for (const std::uint16_t level : {1, 0})
        builder->writeNode({.records = file(200 + level, 2, "index" + std::to_string(level) + ".txt", "x"),
                            .flags = B::kRoot,
                            .level = level});
    builder->writeNode({.records = file(210, 2, "leaf.txt", "y")});
    auto v = scan();
    EXPECT_TRUE(nodeAt(v->dirRoot, "leaf.txt"));
    EXPECT_FALSE(nodeAt(v->dirRoot, "index1.txt"));
    EXPECT_FALSE(nodeAt(v->dirRoot, "index0.txt"));
}

TEST_F(ApfsBuiltNodesTest, FileWhoseParentIsNowhereGoesToLostFiles) {
    const std::string content = patternBytes(4, 100);
    builder->writeNode({.records = file(400, 4444, "orphan.txt", content)});
    auto v = scan();
    const NewDir* lost = nodeAt(v->dirRoot, "Lost Files");
    const NewDir* orphan = nodeAt(v->dirRoot, "Lost Files/orphan.txt");
    ASSERT_TRUE(lost && orphan);
    EXPECT_EQ(lost->fileID, 7u);
    EXPECT_EQ(orphan->parentID, 7u);
    EXPECT_TRUE(readThroughExtents(*v, *orphan) == content) << "bytes differ";
}

TEST_F(ApfsBuiltNodesTest, ParentWithAHigherIdIsBuiltOnceWithItsChildBelowIt) {
    // The folder also carries a second field, so only its mode makes it one.
    builder->writeNode({.records = join({file(500, 900, "early.txt", "early"),
                                         {B::inode({.id = 900,
                                                    .parent = 2,
                                                    .name = "Later",
                                                    .folder = true,
                                                    .fieldsBefore = {{.type = 1, .value = {1, 2, 3, 4}}}})}})});
    auto v = scan();
    const NewDir* child = nodeAt(v->dirRoot, "Later/early.txt");
    ASSERT_TRUE(child);
    EXPECT_EQ(readThroughExtents(*v, *child), "early");
    EXPECT_EQ(rootChildrenNamed(*v, u"Later"), 1);
    EXPECT_TRUE(nodeAt(v->dirRoot, "Later")->isFolder());
}

TEST_F(ApfsBuiltNodesTest, RepeatedExtentsOfTwoNodeCopiesGiveTheFileOnceWithEachExtentOnce) {
    // Two extents, each repeated within a copy and across the copies.
    const std::string content = patternBytes(5, 12000);
    auto records = file(600, 2, "twice.bin", content.substr(0, 8192));
    records.push_back(B::fileExtent(600, 8192, 4096, builder->writeData(content.substr(8192))));
    records[0] = B::inode({.id = 600, .parent = 2, .name = "twice.bin", .size = content.size()});
    builder->writeNode({.records = records, .xid = 11});
    builder->writeNode({.records = join({records, {records[1], records[2]}}), .xid = 12});
    auto v = scan();
    const NewDir* f = nodeAt(v->dirRoot, "twice.bin");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->extentCount(), 2u);
    EXPECT_TRUE(readThroughExtents(*v, *f) == content) << "bytes differ";
    EXPECT_EQ(rootChildrenNamed(*v, u"twice.bin"), 1);
}

TEST_F(ApfsBuiltNodesTest, FileWithoutExtentsGetsNoFillerAndIsShownBad) {
    builder->writeNode({.records = {B::inode({.id = 700, .parent = 2, .name = "no-extents.bin", .size = 10000})}});
    auto v = scan();
    const NewDir* f = nodeAt(v->dirRoot, "no-extents.bin");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->extentCount(), 0u);
    EXPECT_EQ(f->complete, 2u); // "Bad"
}

TEST_F(ApfsBuiltNodesTest, FileOfManyExtentsRepeatedInAnyOrderKeepsEachOnceInItsPlace) {
    // More extents than a short list compares one by one, each block written
    // on its own; the second copy of the node repeats them all backwards and
    // adds another first extent under the same name, which is dropped.
    constexpr std::uint64_t kExtents = 24;
    const std::string content = patternBytes(6, kExtents * 4096);
    std::vector<B::Record> extents;
    for (std::uint64_t i = 0; i < kExtents; ++i)
        extents.push_back(B::fileExtent(800, i * 4096, 4096, builder->writeData(content.substr(i * 4096, 4096))));
    const auto inode = B::inode({.id = 800, .parent = 2, .name = "pieces.bin", .size = content.size()});
    std::vector<B::Record> again{inode, B::fileExtent(800, 0, 4096, builder->writeData(patternBytes(7, 4096)))};
    again.insert(again.end(), extents.rbegin(), extents.rend());
    builder->writeNode({.records = join({{inode}, extents}), .xid = 11});
    builder->writeNode({.records = again, .xid = 12});
    auto v = scan();
    const NewDir* f = nodeAt(v->dirRoot, "pieces.bin");
    ASSERT_TRUE(f);
    EXPECT_EQ(f->extentCount(), kExtents);
    EXPECT_TRUE(readThroughExtents(*v, *f) == content) << "bytes differ";
}

TEST_F(ApfsBuiltNodesTest, UnreadableSectorCostsOnlyTheNodeOnIt) {
    // Four leaves: the first two in neighbouring blocks, the third in the
    // next batch of 40 blocks that one large read takes with them, the
    // fourth far beyond. A bad sector in the first leaf's block fails that
    // read; it is read again piece by piece and only the first leaf is lost.
    const std::uint64_t lost = builder->writeNode({.records = file(901, 2, "lost.txt", "lost")});
    builder->writeNode({.records = file(904, 2, "beside.txt", "beside")});
    builder->writeData(std::string(40 * 4096, 'p'));
    builder->writeNode({.records = file(902, 2, "near.txt", "near")});
    builder->writeData(std::string(2000 * 4096, 'q'));
    builder->writeNode({.records = file(903, 2, "far.txt", "far")});
    FailingReads failing;
    failing.failSectors(lost * 8);
    auto v = scan(&failing);
    EXPECT_FALSE(nodeAt(v->dirRoot, "lost.txt"));
    EXPECT_TRUE(nodeAt(v->dirRoot, "beside.txt"));
    EXPECT_TRUE(nodeAt(v->dirRoot, "near.txt"));
    EXPECT_TRUE(nodeAt(v->dirRoot, "far.txt"));
    EXPECT_GE(failing.failedReads(), 2u);
}

} // namespace
