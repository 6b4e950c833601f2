#include "fs/exfat/ExFATFileSystem.h"

#include "scan/ScanThread.h"
#include "support/ExFATImageBuilder.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

using namespace testsupport;
namespace fs = std::filesystem;
using Set = ExFATImageBuilder::Set;

namespace {

const std::string kExFAT = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";

class ExFATWalkTest : public ScanFixture {
protected:
    // The builder's volume walked from a fresh root, on a device of that
    // sector size.
    std::shared_ptr<Volume> walk(ExFATImageBuilder& b, std::uint32_t deviceSector = 512,
                                 const FailingReads* bad = nullptr) {
        auto v = keep(volumeOver(b.write(makeTempDir("exfat") / "v.img"), 0, 0, deviceSector, kExFAT));
        if (bad) v->setRawRead(bad->reader());
        v->resetSigArraysAndBtreesAndOthers();
        v->createRoot();
        found = ExFATFileSystem(*v).startExFATFileSystemRecovery();
        return v;
    }
    bool found = false;
};

TEST_F(ExFATWalkTest, DeletedFileOfALiveFolderComesOutWholeAndLiveFilesStayOut) {
    ExFATImageBuilder b;
    const std::string content = patternBytes(0, 10000);
    b.addSet(2, {u"Docs", true, false, 3});
    const std::size_t at = b.addSet(3, {u"a name of twenty.txt", false, true, 5, 10000});
    b.addSet(3, {u"live.txt", false, false, 9, 100});
    b.writeCluster(5, content);
    b.bytes()[at + 23] = 0x80 | 4; // modified at UTC+1
    auto v = walk(b);
    EXPECT_TRUE(found);
    const NewDir* docs = nodeAt(v->dirRoot, "Docs");
    const NewDir* file = nodeAt(v->dirRoot, "Docs/a name of twenty.txt");
    ASSERT_TRUE(docs && file);
    EXPECT_FALSE(docs->deleted);
    EXPECT_TRUE(file->deleted);
    EXPECT_EQ(file->fileSize, 10000u);
    EXPECT_EQ(docs->fileSize, 10000u);
    // One sector, then the rest of the run: 19 sectors of 512 bytes.
    ASSERT_EQ(file->extentCount(), 2u);
    EXPECT_EQ(file->extents[1].blockCount, 19u);
    EXPECT_EQ(readThroughExtents(*v, *file), content);
    EXPECT_EQ(nodeAt(v->dirRoot, "Docs/live.txt"), nullptr);
    // 2025-01-14 13:33:02 as HFS+ seconds; the UTC offset moves the other.
    EXPECT_EQ(file->createDate, 3819706382u);
    EXPECT_EQ(file->createDate - file->modDate, 3600u);
}

TEST_F(ExFATWalkTest, EverythingBelowADeletedFolderComesOutDeleted) {
    ExFATImageBuilder b;
    b.addSet(2, {u"Gone", true, true, 3});
    b.addSet(3, {u"a.txt", false, false, 4, 5});
    b.addSet(3, {u"Sub", true, false, 5});
    b.addSet(5, {u"b.txt", false, false, 6, 5});
    b.addSet(5, {u"c.txt", false, true, 7, 5});
    auto v = walk(b);
    for (const char* path : {"Gone", "Gone/a.txt", "Gone/Sub", "Gone/Sub/b.txt", "Gone/Sub/c.txt"}) {
        const NewDir* n = nodeAt(v->dirRoot, path);
        ASSERT_TRUE(n) << path;
        EXPECT_TRUE(n->deleted) << path;
    }
}

TEST_F(ExFATWalkTest, SetsWithTooManySecondariesOrReservedBitsAreRefused) {
    ExFATImageBuilder b;
    std::vector<std::size_t> at;
    for (char16_t c : std::u16string(u"wxyz"))
        at.push_back(b.addSet(2, {std::u16string(1, c), false, true, 3, 10}));
    b.bytes()[at[0] + 1] = 19;
    putLE(b.bytes(), at[1] + 6, 1, 2);
    b.bytes()[at[2] + 32 + 2] = 1;
    putLE(b.bytes(), at[3] + 32 + 16, 1, 4);
    b.addSet(2, {u"good", false, true, 3, 10});
    auto v = walk(b);
    ASSERT_EQ(v->dirRoot->childrenArrayCount(), 1u);
    EXPECT_NE(nodeAt(v->dirRoot, "good"), nullptr);
}

TEST_F(ExFATWalkTest, ClustersOf256SectorsAndOf4096ByteSectorsOnA512ByteDevice) {
    const std::string content = patternBytes(7, 200000);
    for (auto [sectorShift, clusterShift] : {std::pair{9, 8}, std::pair{12, 0}}) {
        ExFATImageBuilder b(static_cast<std::uint8_t>(sectorShift), static_cast<std::uint8_t>(clusterShift), 64);
        b.addSet(2, {u"big.bin", false, true, 3, content.size()});
        b.writeCluster(3, content);
        auto v = walk(b);
        const NewDir* file = nodeAt(v->dirRoot, "big.bin");
        ASSERT_TRUE(file) << sectorShift;
        EXPECT_EQ(readThroughExtents(*v, *file), content) << sectorShift;
    }
}

// A folder is read along its whole chain, a set may cross into the next cluster wherever that lies, and a chain
// into an ancestor, into a walked cluster or into itself ends there. Files count as entries, as folders do.
TEST_F(ExFATWalkTest, FoldersFollowTheirChainsAndSetsCrossClustersButNoClusterIsReadTwice) {
    ExFATImageBuilder b;
    b.addSet(2, {u"Root again", true, true, 2, 0, false});
    b.addSet(2, {u"Long", true, false, 3, 0, false});
    b.setFat(3, 4);
    b.setFat(4, 5);
    b.addSet(3, {u"Back", true, true, 3, 0, false});
    b.addSet(4, {u"second.txt", false, true, 9, 1});
    b.addSet(5, {u"third.txt", false, true, 9, 1});
    b.addSet(2, {u"Ring", true, false, 6, 0, false});
    b.setFat(6, 6);
    b.addSet(6, {u"r.txt", false, true, 9, 1});
    // Cluster 7 full to its last entry, where a set begins that goes on in cluster 12.
    b.addSet(2, {u"Cross", true, false, 7, 0, false});
    b.setFat(7, 12);
    for (int i = 0; i < 41; ++i)
        b.addSet(7, {u"f" + newdir::utf16(std::to_string(i)), false, true, 9, 1});
    b.addSet(7, {u"a name of more than fifteen", false, true, 9, 1});
    const auto across =
        b.bytes().begin() + static_cast<std::ptrdiff_t>(b.addSet(7, {u"across.txt", false, true, 9, 1}));
    std::copy_n(across + 32, 64, b.bytes().begin() + static_cast<std::ptrdiff_t>(b.clusterOffset(12)));
    auto v = walk(b);
    EXPECT_EQ(nodeAt(v->dirRoot, "Root again")->childrenArrayCount(), 0u);
    EXPECT_EQ(nodeAt(v->dirRoot, "Long/Back")->childrenArrayCount(), 0u);
    EXPECT_NE(nodeAt(v->dirRoot, "Long/second.txt"), nullptr);
    EXPECT_NE(nodeAt(v->dirRoot, "Long/third.txt"), nullptr);
    EXPECT_EQ(nodeAt(v->dirRoot, "Ring")->childrenArrayCount(), 1u);
    EXPECT_EQ(nodeAt(v->dirRoot, "Cross")->childrenArrayCount(), 43u);
    EXPECT_NE(nodeAt(v->dirRoot, "Cross/across.txt"), nullptr);
    EXPECT_EQ(v->entryCount, v->folderCount + v->fileCount);
    EXPECT_EQ(v->fileCount, 46u);
}

// A directory sector that cannot be read costs only the sets that touch it.
TEST_F(ExFATWalkTest, AnUnreadableDirectorySectorCostsOnlyItsOwnSets) {
    ExFATImageBuilder b;
    b.addSet(2, {u"Docs", true, false, 3});
    for (int i = 0; i < 20; ++i)
        b.addSet(3, {u"d" + newdir::utf16(std::to_string(i)), false, true, 9, 1});
    FailingReads bad;
    bad.failSectors(b.clusterOffset(3) / 512 + 1);
    auto v = walk(b, 512, &bad);
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(nodeAt(v->dirRoot, "Docs/d" + std::to_string(i)) != nullptr, 96 * i + 96 <= 512 || 96 * i >= 1024);
}

// Cluster numbers outside the heap are neither read nor walked, and a deleted file's run ends with the heap,
// whatever size it claims, the file marked damaged.
TEST_F(ExFATWalkTest, ClusterNumbersOutsideTheHeapAreNeitherReadNorWalkedAndRunsEndWithIt) {
    ExFATImageBuilder b;
    for (std::uint32_t c : {0u, 1u, 66u}) {
        b.addSet(2, {u"f" + newdir::utf16(std::to_string(c)), false, true, c, 100});
        b.addSet(2, {u"d" + newdir::utf16(std::to_string(c)), true, true, c});
    }
    b.addSet(2, {u"huge.bin", false, true, 60, 1ull << 30});
    auto v = walk(b);
    ASSERT_EQ(v->dirRoot->childrenArrayCount(), 7u);
    const NewDir* huge = v->dirRoot->childList[6];
    EXPECT_EQ(huge->complete, NewDir::kDamaged);
    EXPECT_EQ((huge->extents[0].startBlock + std::uint64_t{huge->extents[1].blockCount} + 1) * 512, b.bytes().size());
    for (const NewDir* n : v->dirRoot->childList) {
        EXPECT_EQ(n->extentCount(), n == huge ? 2u : 0u);
        EXPECT_EQ(n->childrenArrayCount(), 0u);
    }
    putLE(b.bytes(), 96, 66, 4);
    EXPECT_EQ(walk(b)->dirRoot->childrenArrayCount(), 0u);
    EXPECT_TRUE(found);
}

TEST_F(ExFATWalkTest, UnusableGeometriesAreRefusedAndTwoFatsAreNotWalked) {
    for (auto [offset, value] : {std::pair{108, 255}, {109, 255}, {108, 13}, {109, 17}, {108, 8}}) {
        ExFATImageBuilder b;
        b.addSet(2, {u"x", false, true, 3, 1});
        b.bytes()[static_cast<std::size_t>(offset)] = static_cast<std::uint8_t>(value);
        EXPECT_EQ(walk(b)->dirRoot->childrenArrayCount(), 0u);
        EXPECT_FALSE(found) << offset << " " << value;
    }
    ExFATImageBuilder onDevice(9, 0, 64);
    walk(onDevice, 4096);
    EXPECT_FALSE(found);
    EXPECT_TRUE(logged("do not fall on"));
    ExFATImageBuilder twoFats;
    twoFats.addSet(2, {u"x", false, true, 3, 1});
    twoFats.bytes()[110] = 2;
    EXPECT_EQ(walk(twoFats)->dirRoot->childrenArrayCount(), 0u);
    EXPECT_TRUE(found);
}

// --- A volume made by the real tools ---

class ExFATFuseTest : public ScanFixture {
protected:
    static void SetUpTestSuite() {
        if (::geteuid() != 0)
            reason = "needs root for the loop device and the mount";
        else if (!fs::exists("/dev/fuse"))
            reason = "needs /dev/fuse";
        else
            for (const char* tool : {"mkfs.exfat", "mount.exfat-fuse", "losetup", "sgdisk", "fls"})
                if (!haveTool(tool)) reason = std::string("needs ") + tool;
        if (!reason.empty()) return;
        dir = makeTempDir("exfat-fuse");
        const fs::path script = readyImagesDir().parent_path() / "fixtures" / "make-exfat-fuse.sh";
        made = runCommand("bash " + shellQuote(script.string()) + " " + shellQuote(dir.string())).has_value();
    }

    // The volume walked from a fresh root, or (scanThread) put through the
    // whole deleted-file scan, whose clean-up also marks the folders above
    // deleted entries.
    std::shared_ptr<Volume> scan(const fs::path& image, std::uint64_t start, std::uint64_t sectors, bool scanThread) {
        if (!reason.empty()) return nullptr;
        EXPECT_TRUE(made);
        auto v = keep(volumeOver(image, start, sectors, 512, kExFAT));
        if (scanThread) {
            ScanThread t(v);
            t.scanForDeletedFilesExFAT(platform::Array{1, 0});
            EXPECT_TRUE(t.foundVolume());
        } else {
            v->resetSigArraysAndBtreesAndOthers();
            v->createRoot();
            EXPECT_TRUE(ExFATFileSystem(*v).startExFATFileSystemRecovery());
        }
        return v;
    }

    // Every deleted file is under its folder with its name, size and bytes.
    void expectDeletedFiles(Volume& v) {
        for (const auto& e : fs::recursive_directory_iterator(dir / "deleted")) {
            const std::string path = fs::relative(e.path(), dir / "deleted").string();
            const NewDir* n = nodeAt(v.dirRoot, path);
            ASSERT_TRUE(n) << path;
            if (e.is_directory()) continue;
            EXPECT_TRUE(n->deleted) << path;
            EXPECT_EQ(n->fileSize, e.file_size()) << path;
            const std::vector<std::uint8_t> bytes = readBytes(e.path());
            EXPECT_EQ(readThroughExtents(v, *n), std::string(bytes.begin(), bytes.end())) << path;
        }
        for (const char* folder : {"写真", "写真/trip"})
            EXPECT_TRUE(nodeAt(v.dirRoot, folder) && nodeAt(v.dirRoot, folder)->deleted) << folder;
        EXPECT_EQ(nodeAt(v.dirRoot, "Docs/keep.txt"), nullptr);
        EXPECT_EQ(nodeAt(v.dirRoot, "Docs/Reports/2023/q1.csv"), nullptr);
    }

    static inline std::string reason;
    static inline fs::path dir;
    static inline bool made = false;
};

TEST_F(ExFATFuseTest, DeletedFilesAndFoldersComeBackUnderTheirParents) {
    auto v = scan(dir / "exfat.img", 0, 0, false);
    if (!v) GTEST_SKIP() << reason;
    expectDeletedFiles(*v);
    EXPECT_FALSE(nodeAt(v->dirRoot, "Docs/Reports")->deleted);
}

// Every deleted file and folder The Sleuth Kit lists is in the tree at its path, those of folders whose hundreds of
// entries take many clusters included.
TEST_F(ExFATFuseTest, EveryDeletedEntryTheSleuthKitListsIsInTheTree) {
    auto v = scan(dir / "exfat.img", 0, 0, false);
    if (!v) GTEST_SKIP() << reason;
    const auto listed = runCommand("fls -r -d -p " + shellQuote((dir / "exfat.img").string()));
    ASSERT_TRUE(listed);
    std::istringstream lines(*listed);
    std::size_t crowd = 0;
    for (std::string line; std::getline(lines, line);) {
        const std::string path = line.substr(line.find('\t') + 1);
        if (path.starts_with("$")) continue;
        EXPECT_NE(nodeAt(v->dirRoot, path), nullptr) << path;
        crowd += path.starts_with("Crowd/");
    }
    EXPECT_EQ(crowd, 400u);
}

TEST_F(ExFATFuseTest, TheSameVolumeInAGptPartitionGivesTheSameTree) {
    auto alone = scan(dir / "exfat.img", 0, 0, true);
    if (!alone) GTEST_SKIP() << reason;
    auto inDisk = scan(dir / "gpt.img", 2048, fs::file_size(dir / "exfat.img") / 512, true);
    expectDeletedFiles(*inDisk);
    auto summary = [](const Volume& v) {
        std::map<std::string, std::pair<std::uint64_t, int>> out;
        for (const auto& [path, node] : nodesByPath(v.dirRoot))
            out[path] = {node->fileSize, node->deleted};
        return out;
    };
    EXPECT_EQ(summary(*alone), summary(*inDisk));
}

} // namespace

// mkfs.exfat's volume cut short, as an image that stopped, inside the file that lies first on the volume: the files
// and the folder past the cut are unreadable, counted, and the file cut by it is not saved whole. scan-image exits 1
// from the scan and the save, and the save never says it completed.
TEST(ExFATCutShort, WhatLiesPastTheCutIsCountedAndNoFileCutByItIsSavedWhole) {
    const fs::path whole = exFATVolumeWithDeletedFiles();
    ASSERT_FALSE(whole.empty()) << "mkfs.exfat failed";
    const auto boot = readBytesAt(whole, 0, 512);
    const std::uint64_t cluster = 512ull << boot[109];
    // deleted5.bin begins 50 clusters before the heap's end, which is the image's; the cut lies 3 clusters into it.
    const fs::path cut = copyToTemp(whole);
    fs::resize_file(cut, fs::file_size(whole) - 47 * cluster + 300);
    const auto run = [](const std::string& command) {
        return runCommand(std::string(DRENTIC_SCAN_IMAGE) + " " + command + " 2>&1; echo \"exit $?\"").value_or("");
    };
    const std::string sound = run("tree " + shellQuote(whole.string()) + " --mode deleted");
    const std::string tree = run("tree " + shellQuote(cut.string()) + " --mode deleted");
    EXPECT_NE(sound.find("inside.bin"), std::string::npos) << sound;
    EXPECT_NE(sound.find("exit 0"), std::string::npos) << sound;
    EXPECT_EQ(tree.find("inside.bin"), std::string::npos) << tree;
    EXPECT_NE(tree.find("sectors of"), std::string::npos) << tree;
    EXPECT_NE(tree.find("exit 1"), std::string::npos) << tree;
    const fs::path dest = makeTempDir("exfat-cut-save");
    const std::string saved = run("save " + shellQuote(cut.string()) + " " + shellQuote(dest.string()));
    EXPECT_EQ(saved.find("Saving Completed"), std::string::npos) << saved;
    EXPECT_NE(saved.find("exit 1"), std::string::npos) << saved;
    for (int i = 0; i < 6; ++i) {
        const std::string name = "deleted" + std::to_string(i) + ".bin";
        const auto files = runCommand("find " + shellQuote(dest.string()) + " -name " + name);
        ASSERT_TRUE(files) << i;
        // Only what lies before the cut: the one it cuts holds its first three clusters; of those past it nothing is
        // saved, and none is left empty under its name.
        if (i < 5) {
            EXPECT_TRUE(files->empty()) << *files;
            EXPECT_NE(saved.find(name + " hold 0 of its"), std::string::npos) << saved;
            continue;
        }
        ASSERT_FALSE(files->empty()) << i;
        const std::string read = readText(files->substr(0, files->find('\n')));
        const std::string bytes = patternBytes(std::uint64_t(i) * 7919, 5000 + std::uint64_t(i) * 3001);
        EXPECT_EQ(read.size(), 3 * cluster) << i;
        EXPECT_TRUE(read == bytes.substr(0, read.size())) << i;
    }
}
