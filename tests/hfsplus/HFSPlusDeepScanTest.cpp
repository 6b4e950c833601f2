// The advanced HFS+ tree scan on built volumes (damaged where a test needs it) and the macOS-made one, and its
// parts: the search for catalog leaf nodes, the catalog-sector test and the orphan passes (also on nodes in memory).

#include "hfsplus/AdvancedTreeScan.h"
#include "hfsplus/CatalogFragmentSearch.h"
#include "hfsplus/OrphanEntries.h"
#include "platform/ByteView.h"
#include "scan/ScanThread.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/NewDir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <ranges>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace testsupport;
using platform::Array;
using platform::Dict;
using Builder = HFSPlusImageBuilder;
using Names = std::set<std::string>;
using Tree = std::map<std::string, NewDir*>;

namespace {

HFSFileOptions inExtents(std::uint32_t count) {
    HFSFileOptions o;
    o.extentCount = count;
    return o;
}

// A name met twice in one folder shows up as two paths only when the passes renamed it.
constexpr auto listTree = &nodesByPath;

Names pathsOf(const Tree& tree) {
    const auto paths = std::views::keys(tree);
    return Names(paths.begin(), paths.end());
}

Names namesIn(const Tree& tree, const std::string& folder) {
    Names s;
    for (const auto& [p, d] : tree)
        if (p.starts_with(folder + "/") && p.find('/', folder.size() + 1) == std::string::npos)
            s.insert(p.substr(folder.size() + 1));
    return s;
}

// Every node's parent links lead to the root in fewer steps than there are nodes, each naming the folder holding it.
void expectNoRings(const NewDir* root) {
    const auto tree = listTree(root);
    for (const auto& [path, d] : tree) {
        const NewDir* a = d;
        for (std::size_t steps = 0; a && a != root && steps <= tree.size() + 2; ++steps)
            a = a->pndirPointer;
        EXPECT_EQ(a, root) << path << " does not lead to the root";
        const NewDir* p = d->pndirPointer;
        EXPECT_TRUE(!p || std::find(p->childList.begin(), p->childList.end(), d) != p->childList.end()) << path;
    }
}

// Gives fn this long on a thread of its own: a scan that loops would otherwise hold the test run for ever.
void within(std::chrono::seconds limit, const std::function<void()>& fn) {
    auto done = std::async(std::launch::async, fn);
    if (done.wait_for(limit) == std::future_status::ready) return done.get();
    std::fprintf(stderr, "the scan did not end within %lld s\n", static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(1);
}

// Records the fragment search takes: dates set; a file of one extent that agrees with its size in 4096-byte blocks.
HFSCatalogRecord folderRecord(std::uint32_t id, std::uint32_t parent, const char* name) {
    HFSCatalogRecord r;
    r.type = hfsplus::kFolderRecord;
    r.keyParentID = parent;
    r.keyName = name;
    r.id = id;
    r.createDate = r.contentModDate = r.attributeModDate = r.accessDate = 0xD5000000u;
    return r;
}

HFSCatalogRecord fileRecord(std::uint32_t id, std::uint32_t parent, const char* name, std::uint64_t size,
                            std::uint32_t startBlock) {
    HFSCatalogRecord r = folderRecord(id, parent, name);
    r.type = hfsplus::kFileRecord;
    r.dataFork.logicalSize = size;
    r.dataFork.totalBlocks = static_cast<std::uint32_t>((size + 4095) / 4096);
    if (size) r.dataFork.extents.push_back({startBlock, r.dataFork.totalBlocks});
    return r;
}

// The file at `path` is the builder's entry: kind, ID, size and (eight or fewer, all in the record) its extents.
void expectFileIs(const Tree& tree, const std::string& path, const Builder::Entry* entry) {
    ASSERT_TRUE(tree.count(path)) << path << " not found";
    ASSERT_NE(entry, nullptr);
    const NewDir* d = tree.at(path);
    EXPECT_EQ(std::tuple(d->fileType, d->fileID, d->fileSize), std::tuple(NewDir::File, entry->id, entry->size))
        << path;
    std::vector<HFSPlusExtentDescriptor_> got;
    for (const ExtP& e : d->extents)
        got.push_back({e.startBlock, e.blockCount});
    if (entry->dataExtents.size() <= 8) {
        EXPECT_EQ(got, entry->dataExtents) << path;
    }
}
void expectFiles(const Tree& tree, const Builder& b, const std::vector<std::string>& paths) {
    for (const std::string& path : paths)
        expectFileIs(tree, path, b.entryNamed(path.substr(path.rfind('/') + 1)));
}

class DeepScan : public ScanFixture {
protected:
    static constexpr auto bytes = &Builder::patternData;
    static std::vector<std::uint8_t> leaf(const std::vector<HFSCatalogRecord>& records) {
        return Builder::encodeCatalogLeafNode(records, 4096);
    }
    static std::string pathOf(const NewDir* d) { return newdir::utf8(newdir::pathName(d)); }
    // A node as the tree shows it: name, ID, parent ID, deleted mark, the path of its folder.
    static std::string shown(const NewDir* d) {
        return newdir::utf8(newdir::fileName(d)) + " #" + std::to_string(d->fileID) + " in " +
               std::to_string(d->parentID) + (d->deleted ? " deleted " : " ") + pathOf(d);
    }
    fs::path write(Builder& b) { return b.writeTo(makeTempDir("deep") / "volume.img"); }

    // The volume as the partition search reports one: from its container's first sector to the container's end.
    std::shared_ptr<Volume> open(const fs::path& image, std::uint64_t startSector, std::uint64_t sectors,
                                 std::uint32_t bytesPerSector = 512) {
        return keep(volumeOver(image, startSector, sectors, bytesPerSector));
    }
    std::shared_ptr<Volume> open(const fs::path& image, const Builder& b) {
        const auto& l = b.layout();
        return open(image, l.containerOffset / l.sectorSize, (l.imageSize - l.containerOffset) / l.sectorSize,
                    l.sectorSize);
    }

    std::shared_ptr<Volume> scan(std::shared_ptr<Volume> v, const char* mode) {
        within(std::chrono::seconds(120), [&] { ScanThread(v).startMakingTree(Array{mode, 0}); });
        return v;
    }

    // A volume over 8192 zero sectors, reset, with eight-sector blocks and a root; if `searched`, after a fragment
    // search.
    std::shared_ptr<Volume> memoryVolume(bool searched = false) {
        auto v = open(zeroImage(4u << 20), 0, 8192);
        v->resetSigArraysAndBtreesAndOthers();
        v->setBlockSize(8);
        v->createRoot();
        if (searched) CatalogFragmentSearch(hfsState(*v)).searchCatFrags();
        return v;
    }

    bool progressShown(const std::string& status) const {
        const auto posts = controller.callsNamed("updateProgress:");
        return std::any_of(posts.begin(), posts.end(), [&](const platform::Value& c) {
            return c.dictValue().get("Progress Status").stringValue() == status;
        });
    }

    // An advanced scan of a zero image of `sectors` sectors holding these 4096-byte leaf nodes at these sectors.
    Tree scanLeafNodes(std::uint64_t sectors, const std::map<std::uint64_t, std::vector<std::uint8_t>>& nodes) {
        const fs::path image = zeroImage(sectors * 512);
        for (const auto& [sector, node] : nodes)
            writeAt(image, sector * 512, node);
        return listTree(scan(open(image, 0, sectors), "Advanced Scan")->dirRoot);
    }
};

} // namespace

TEST_F(DeepScan, AdvancedScanOfAVolumeWithAZeroedCatalogHeaderRecoversEveryFile) {
    Builder b({.volumeName = "Deep", .maxRecordsPerLeaf = 4});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    b.addFile(Builder::kRoot, "top.bin", bytes(5000, 1));
    b.addFile(docs, "a.txt", bytes(10000, 2));
    b.addFile(b.addFolder(docs, "Sub"), "b.dat", bytes(70000, 3), inExtents(3));
    b.addFile(docs, "frag.bin", bytes(200000, 4), inExtents(8));
    b.damageZeroCatalogHeaderNode();
    const fs::path image = write(b);
    scan(open(image, b), "Normal Scan");
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "!Can not process");
    controller.clear();

    auto v = scan(open(image, b), "Advanced Scan");
    EXPECT_TRUE(controller.alerts().empty());
    EXPECT_EQ(v->blockSize(), 8u);
    const auto tree = listTree(v->dirRoot);
    expectFiles(tree, b, {"top.bin", "Docs/a.txt", "Docs/Sub/b.dat", "Docs/frag.bin"});
    // Nothing went astray: no lost entries on an intact catalog.
    EXPECT_EQ(tree.count("Lost Files") + tree.count("Lost Folders"), 0u);
    EXPECT_TRUE(progressShown("Searching catalog fragments..."));
    EXPECT_TRUE(progressShown("Processing orphan & lost entries..."));
    expectNoRings(v->dirRoot);
}

// Folders whose parent record is gone are recreated under "Lost Folders" as LostFolder<parent ID> with all below
// them, the catalog header intact (the walk parks them) or zeroed (the fragment search finds them); files whose
// parent is gone go to "Lost Files". The normal scan leaves such folders out and frees them (for the leak checker).
TEST_F(DeepScan, MissingParentsEndInLostFoldersAndLostFilesWithTheirSubtrees) {
    for (auto [mode, zeroHeader] :
         {std::pair{"Advanced Scan", false}, {"Advanced Scan", true}, {"Normal Scan", false}}) {
        SCOPED_TRACE(std::string(mode) + (zeroHeader ? ", header zeroed" : ""));
        Builder b({.volumeName = "Lost"});
        b.addFile(b.addFolder(Builder::kRoot, "Docs"), "keep.txt", bytes(3000, 1));
        const auto orphanA = b.addFolderWithID(500, 123, "Orphan A");
        b.addFile(orphanA, "a1.bin", bytes(9000, 2));
        const auto inner = b.addFolder(orphanA, "Inner");
        b.addFile(inner, "deep.bin", bytes(12000, 3));
        const auto orphanB = b.addFolderWithID(550, 123, "Orphan B");
        b.addFile(orphanB, "b1.bin", bytes(7000, 4));
        const auto lost1 = b.addFileWithID(600, 124, "lost.txt", bytes(3000, 5));
        const auto lost2 = b.addFileWithID(601, 125, "lost.txt", bytes(4000, 6));
        if (zeroHeader) b.damageZeroCatalogHeaderNode();
        auto v = scan(open(write(b), b), mode);
        const auto tree = listTree(v->dirRoot);
        expectFiles(tree, b, {"Docs/keep.txt"});
        expectNoRings(v->dirRoot);
        // Two parentless files of one name: the second gets "_" before its extension; both marked deleted.
        ASSERT_EQ(namesIn(tree, "Lost Files"), (Names{"lost.txt", "lost_.txt"}));
        const NewDir *first = tree.at("Lost Files/lost.txt"), *second = tree.at("Lost Files/lost_.txt");
        EXPECT_EQ((std::set{first->fileID, second->fileID}), (std::set{lost1, lost2}));
        EXPECT_EQ(first->deleted + second->deleted, 2);
        if (std::string(mode) == "Normal Scan") {
            for (const auto& [path, d] : tree)
                EXPECT_EQ(path.find("Orphan"), std::string::npos) << path;
            continue;
        }
        const std::string f1 = "Lost Folders/LostFolder123", f2 = f1 + "_";
        ASSERT_EQ(namesIn(tree, "Lost Folders"), (Names{"LostFolder123", "LostFolder123_"}));
        const std::string underA = tree.count(f1 + "/Orphan A") ? f1 : f2, underB = underA == f1 ? f2 : f1;
        expectFiles(tree, b,
                    {underA + "/Orphan A/a1.bin", underA + "/Orphan A/Inner/deep.bin", underB + "/Orphan B/b1.bin"});
        for (const auto& [path, id] : std::map<std::string, std::uint32_t>{{underA + "/Orphan A", orphanA},
                                                                           {underA + "/Orphan A/Inner", inner},
                                                                           {underB + "/Orphan B", orphanB},
                                                                           {"Lost Files", 7},
                                                                           {"Lost Folders", 8}})
            EXPECT_EQ(tree.at(path)->fileID, id) << path;
        EXPECT_EQ(shown(tree.at(f1)), "LostFolder123 #123 in 8 /Root/Lost Folders");
    }
}

TEST_F(DeepScan, FragmentsOutsideTheCatalogFileArePlacedByTheAdvancedPasses) {
    Builder b({.volumeName = "Stale"});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    b.addFile(docs, "live.txt", bytes(3000, 1));
    const auto gone = b.addDeletedFile(docs, "gone.bin", bytes(30000, 2));
    const auto oldDir = b.addDeletedFolder(docs, "OldDir");
    b.addStaleLeafNodeOf({gone});
    b.addStaleLeafNodeOf({oldDir, b.addDeletedFile(oldDir, "old.bin", bytes(20000, 3), inExtents(2))});
    auto v = scan(open(write(b), b), "Advanced Scan");
    const auto tree = listTree(v->dirRoot);
    // The advanced passes look parents up among the fragments only: the deleted folder's live parent is recreated.
    expectFiles(
        tree, b,
        {"Docs/live.txt", "Lost Folders/LostFolder" + std::to_string(docs) + "/OldDir/old.bin", "Lost Files/gone.bin"});
    EXPECT_EQ(tree.at("Lost Files/gone.bin")->deleted, 1);
    expectNoRings(v->dirRoot);
}

TEST_F(DeepScan, ParentCyclesSelfParentsAndParentFilesTerminateWithEverythingRecovered) {
    Builder b({.volumeName = "Cycles", .maxRecordsPerLeaf = 3});
    const auto plain = b.addFile(b.addFolder(Builder::kRoot, "Docs"), "plain.bin", bytes(4000, 1));
    const auto cycA = b.addFolderWithID(700, 710, "CycA");
    const auto ina = b.addFile(cycA, "ina.bin", bytes(5000, 2));
    const auto cycB = b.addFolderWithID(710, 700, "CycB");
    const auto inb = b.addFile(cycB, "inb.bin", bytes(6000, 3));
    b.addFile(b.addFolderWithID(720, 720, "Self"), "ins.bin", bytes(7000, 4));
    const auto underFile = b.addFolderWithID(730, plain, "UnderFile");
    b.addFile(underFile, "inf.bin", bytes(8000, 5));
    b.addFileWithID(740, 740, "selffile.bin", bytes(9000, 6));
    const fs::path image = write(b);
    for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
        SCOPED_TRACE(mode);
        auto v = scan(open(image, b), mode);
        const auto tree = listTree(v->dirRoot);
        expectNoRings(v->dirRoot);
        // A file that names itself as its parent is lost, not its own child.
        expectFiles(tree, b, {"Docs/plain.bin", "Lost Files/selffile.bin"});
        if (std::string(mode) == "Normal Scan") continue;
        // A folder whose parent is a file goes to the lost folders.
        const std::string underPlain = "Lost Folders/LostFolder" + std::to_string(plain) + "/UnderFile";
        expectFiles(tree, b, {"Lost Folders/LostFolder720/Self/ins.bin", underPlain + "/inf.bin"});
        EXPECT_EQ(tree.at(underPlain)->fileID, underFile);
        // Of two folders naming each other, one ends below the other.
        const std::set<std::uint32_t> cycle{cycA, cycB, ina, inb};
        std::set<std::uint32_t> found;
        for (const auto& [path, d] : tree)
            if (path.starts_with("Lost Folders/") && cycle.count(d->fileID)) found.insert(d->fileID);
        EXPECT_EQ(found, cycle);
        EXPECT_TRUE(tree.count("Lost Folders/LostFolder710/CycA/CycB/inb.bin") ||
                    tree.count("Lost Folders/LostFolder700/CycB/CycA/ina.bin"));
    }
}

TEST_F(DeepScan, LoopingLeafLinksEndPromptlyInBothModes) {
    Builder b({.volumeName = "Loop", .maxRecordsPerLeaf = 3});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        b.addFile(docs, "f" + std::to_string(i) + ".bin", bytes(3000 + 100 * i, 10 + i));
        files.push_back("Docs/f" + std::to_string(i) + ".bin");
    }
    b.damageCatalogLeafLoop(0, 3);
    const fs::path image = write(b);
    for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
        SCOPED_TRACE(mode);
        auto v = scan(open(image, b), mode);
        expectNoRings(v->dirRoot);
        if (std::string(mode) == "Advanced Scan") expectFiles(listTree(v->dirRoot), b, files);
    }
}

// Whatever the way in to the volume header, both scans find the same tree: the fragment search adds nothing to an
// intact volume.
TEST_F(DeepScan, VolumesOpenAndScanInBothModes) {
    const std::pair<const char*, HFSPlusImageOptions> variants[] = {
        {"HFSWrapper", {.wrapping = HFSPlusImageOptions::Wrapping::HFSWrapper}},
        {"HFSX", {.hfsx = true}},
        {"AlternateHeaderOnly", {}},
        {"InsideADisk", {.diskOffset = 1u << 20, .diskSize = (1u << 20) + (8u << 20) + (1u << 20)}},
        {"FourKSectors", {.sectorSize = 4096}}};
    for (auto [name, options] : variants) {
        SCOPED_TRACE(name);
        options.volumeName = "Variant";
        Builder b(options);
        const auto docs = b.addFolder(Builder::kRoot, "Docs");
        b.addFile(docs, "Readme", bytes(5000, 1));
        b.addFile(docs, "README", bytes(6000, 2));
        b.addFile(b.addFolder(docs, "Sub"), "big.bin", bytes(150000, 3), inExtents(4));
        b.addFile(Builder::kRoot, "top.bin", bytes(2000, 4));
        if (std::string(name) == "AlternateHeaderOnly") b.damageZeroPrimaryHeader();
        const fs::path image = write(b);
        Names normalPaths;
        for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
            SCOPED_TRACE(mode);
            auto v = scan(open(image, b), mode);
            EXPECT_TRUE(controller.alerts().empty());
            const auto tree = listTree(v->dirRoot);
            expectFiles(tree, b, {"Docs/Readme", "Docs/README", "Docs/Sub/big.bin", "top.bin"});
            if (std::string(mode) == "Normal Scan")
                normalPaths = pathsOf(tree);
            else
                EXPECT_EQ(pathsOf(tree), normalPaths);
        }
    }
}

// A volume 1 MiB into a disk, with look-alike leaf nodes before and behind it: only the volume's own node is taken.
TEST_F(DeepScan, TheFragmentSearchStaysInsideTheVolume) {
    const HFSPlusImageOptions o{
        .volumeName = "Inside", .diskOffset = 1u << 20, .diskSize = (1u << 20) + (8u << 20) + (1u << 20)};
    Builder b(o);
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    b.addFile(docs, "live.txt", bytes(3000, 1));
    b.addStaleLeafNodeOf({b.addDeletedFile(docs, "gone.bin", bytes(30000, 2))});
    const fs::path image = write(b);
    writeAt(image, 64u << 10, leaf({fileRecord(900, 2, "before.bin", 5000, 100)}));
    writeAt(image, o.diskOffset + o.totalSize + (64u << 10), leaf({fileRecord(901, 2, "after.bin", 5000, 100)}));
    // The partition's sectors only: the disk goes on behind it.
    const auto tree = listTree(scan(open(image, o.diskOffset / 512, o.totalSize / 512), "Advanced Scan")->dirRoot);
    EXPECT_TRUE(tree.count("Docs/live.txt"));
    expectFiles(tree, b, {"Lost Files/gone.bin"});
    EXPECT_EQ(namesIn(tree, "Lost Files"), (Names{"gone.bin"}));
}

// No volume header: eight-sector blocks and nodes are assumed. Sectors 60..67 cross the end of a group at 62, the
// next node the end of the first batch; the last is the volume's last node.
TEST_F(DeepScan, NodesAcrossGroupAndBatchBoundariesAreFound) {
    const std::uint64_t sectors = 32768;
    const std::uint64_t batch = std::max<std::uint64_t>(1, CatalogFragmentSearch::kBatchBytes / (63 * 512)) * 63;
    const auto tree = scanLeafNodes(sectors, {{60, leaf({fileRecord(900, 2, "group.bin", 5000, 100)})},
                                              {batch - 4, leaf({fileRecord(901, 2, "batch.bin", 6000, 200)})},
                                              {sectors - 8, leaf({fileRecord(902, 2, "last.bin", 7000, 300)})}});
    EXPECT_EQ(volumes.back()->catNodeSize, 8);
    ASSERT_EQ(namesIn(tree, "Lost Files"), (Names{"batch.bin", "group.bin", "last.bin"}));
    for (const char* name : {"group.bin", "batch.bin", "last.bin"})
        EXPECT_EQ(tree.at(std::string("Lost Files/") + name)->sectorsPerBlock, 8) << name;
    const NewDir* batchFile = tree.at("Lost Files/batch.bin");
    EXPECT_EQ(batchFile->fileSize, 6000u);
    ASSERT_EQ(batchFile->extents.size(), 1u);
    EXPECT_EQ(batchFile->extents[0].startBlock, 200u);
}

// In one sweep: names of 256 units or none, the root's record, ".DS_Store" (not a look-alike) and a size its blocks
// cannot hold are left out; a key length out of bounds skips its record, an offset into the offset table ends its
// node; of two fragments of one ID the first met stays.
TEST_F(DeepScan, RecordsThatFailTheBoundsArePassedOverAndTheRestTaken) {
    HFSCatalogRecord tooLongName = fileRecord(910, 2, "bad1.bin", 5000, 100);
    tooLongName.storedNameLength = 256;
    HFSCatalogRecord noName = fileRecord(911, 2, "x", 5000, 100);
    noName.storedNameLength = 0;
    HFSCatalogRecord sizeMismatch = fileRecord(913, 2, "mismatch.bin", 5000, 100);
    sizeMismatch.dataFork.totalBlocks = 3;
    auto badKeys = leaf({fileRecord(920, 2, "a.bin", 5000, 100), fileRecord(921, 2, "b.bin", 5000, 100),
                         fileRecord(922, 2, "c.bin", 5000, 100)});
    // Record 0: key length 517. Record 2: an offset inside the offset table.
    putBE(badKeys, platform::ByteView(badKeys).be16(4096 - 2), 517, 2);
    putBE(badKeys, 4096 - 6, 4096 - 4, 2);
    const auto tree = scanLeafNodes(
        8192, {{100, leaf({fileRecord(940, 2, "first.bin", 5000, 100)})},
               {500, leaf({fileRecord(940, 2, "second.bin", 5000, 100)})},
               {1000, leaf({tooLongName, noName, folderRecord(2, 1, "VolumeName"),
                            fileRecord(912, 2, ".DS_Store", 5000, 100), sizeMismatch,
                            fileRecord(914, 2, "good.bin", 5000, 100), fileRecord(915, 2, "DS_STORE.bin", 5000, 100)})},
               {2000, badKeys}});
    EXPECT_EQ(namesIn(tree, "Lost Files"), (Names{"DS_STORE.bin", "b.bin", "first.bin", "good.bin"}));
    for (const auto& [path, d] : tree)
        EXPECT_NE(d->fileID, 2u) << path;
}

TEST_F(DeepScan, TheMacOSVolumeScannedInAdvancedModeHoldsEveryEntryOfTheNormalScan) {
    const fs::path image = copyOfReadyImage("hfsplus.raw");
    const std::uint64_t sectors = fs::file_size(image) / 512;
    const auto n = listTree(scan(open(image, 0, sectors), "Normal Scan")->dirRoot);
    auto advanced = scan(open(image, 0, sectors), "Advanced Scan");
    const auto a = listTree(advanced->dirRoot);
    ASSERT_FALSE(n.empty());
    for (const auto& [path, d] : n) {
        ASSERT_TRUE(a.count(path)) << path << " missing from the advanced scan";
        const NewDir* f = a.at(path);
        EXPECT_EQ(std::tuple(f->fileType, f->fileSize, f->fileID), std::tuple(d->fileType, d->fileSize, d->fileID))
            << path;
    }
    expectNoRings(advanced->dirRoot);
}

TEST_F(DeepScan, AVolumeWithoutCatalogNodesStillGetsLostFoldersAndNoOrphanPass) {
    auto v = memoryVolume();
    EXPECT_TRUE(AdvancedTreeScan(hfsState(*v)).makeAdvTree());
    ASSERT_NE(v->dirLostFolders, nullptr);
    EXPECT_EQ(v->dirLostFolders->pndirPointer, v->dirRoot);
    EXPECT_EQ(shown(v->dirLostFolders), "Lost Folders #8 in 2 deleted /Root");
    EXPECT_EQ(v->btree->retrieveKeyField(8)->dir(), v->dirLostFolders);
    EXPECT_EQ(v->dirRoot->childrenCount, 1u);
    EXPECT_EQ(hfsState(*v).orphEntriesTotal + hfsState(*v).orphAdvScanEntriesTotal, 0u);
    EXPECT_FALSE(progressShown("Processing orphan & lost entries..."));
    EXPECT_TRUE(progressShown("Searching catalog fragments..."));
    EXPECT_EQ(v->catNodeSize, 0); // no candidate node met: no node size assumed
}

TEST_F(DeepScan, ANodeAtASectorTheCatalogWalkReadIsNotReadAgain) {
    auto v = memoryVolume();
    writeAt(v->cPath(), 300 * 512, leaf({fileRecord(930, 2, "once.bin", 5000, 100)}));
    v->catNodeSize = 8;
    CatalogFragmentSearch search(hfsState(*v));
    hfsState(*v).btreeForUsedCatNodeSector->insert(std::make_unique<ItemTypeUInt32>(300));
    EXPECT_FALSE(search.getIfUnusedSectorForCatalogNode(300));
    EXPECT_TRUE(search.getIfUnusedSectorForCatalogNode(301));
    search.processCatFrags(300);
    EXPECT_EQ(hfsState(*v).orphAdvScanEntriesTotal, 0u);
    EXPECT_TRUE(hfsState(*v).btreeOrphAdvScanEntries->empty());
}

TEST_F(DeepScan, FragmentsInsideTheCatalogFileGoToTheOrphanIndexOnlyWhenTheHeaderWasFound) {
    for (bool headerFound : {true, false}) {
        auto v = memoryVolume();
        writeAt(v->cPath(), 800 * 512, leaf({folderRecord(950, 2, "Inside")}));
        writeAt(v->cPath(), 2000 * 512, leaf({folderRecord(951, 2, "Outside")}));
        v->catNodeSize = 8;
        hfsState(*v).catalogExtAsPerVIB = {Extent(100, 10)}; // sectors 800..879
        hfsState(*v).advScanEntriesCanBePutIntoOrphanEntryArray = headerFound;
        CatalogFragmentSearch(hfsState(*v)).searchCatFrags();
        EXPECT_EQ(hfsState(*v).btreeOrph->retrieveKeyField(950) != nullptr, headerFound);
        EXPECT_EQ(hfsState(*v).btreeOrphAdvScanEntries->retrieveKeyField(950) != nullptr, !headerFound);
        EXPECT_NE(hfsState(*v).btreeOrphAdvScanEntries->retrieveKeyField(951), nullptr);
        EXPECT_EQ(hfsState(*v).orphEntriesTotal, headerFound ? 1u : 0u);
        EXPECT_EQ(v->maxFileID, 951u);
    }
}

TEST_F(DeepScan, TheCatalogSectorTestUsesTheFoundExtentsFirstAndEndsBeforeTheLastBlock) {
    auto v = memoryVolume();
    AdvancedTreeScan scan(hfsState(*v));
    EXPECT_FALSE(scan.sectorIsInCatalogFile(0));
    EXPECT_FALSE(scan.sectorIsInCatalogFile(1000));
    v->setHPlusVolStart(16);
    v->setBlockSize(8);
    hfsState(*v).catalogExtAsPerVIB = {Extent(10, 5)}; // sectors 96..135
    EXPECT_FALSE(scan.sectorIsInCatalogFile(95));
    EXPECT_TRUE(scan.sectorIsInCatalogFile(96));
    EXPECT_TRUE(scan.sectorIsInCatalogFile(135));
    EXPECT_FALSE(scan.sectorIsInCatalogFile(136));
    v->catalogExt = {Extent(20, 1)}; // sectors 176..183, and the header's list no longer counts
    EXPECT_FALSE(scan.sectorIsInCatalogFile(100));
    EXPECT_TRUE(scan.sectorIsInCatalogFile(176));
    EXPECT_FALSE(scan.sectorIsInCatalogFile(184));
    // Block numbers near the top of 32 bits do not wrap.
    EXPECT_TRUE(scan.sectorIsInThisExtArray({Extent(0xFFFFFFF0u, 0x10)}, 16 + 0xFFFFFFF0ull * 8));
}

namespace {

NewDir* folderNode(Volume& v, std::uint32_t id, std::uint32_t parent, const char* name) {
    NewDir* d = newdir::allocate();
    d->fileType = NewDir::Folder;
    d->fileID = id;
    d->parentID = parent;
    newdir::setFileName(d, newdir::utf16(name));
    return d;
}

NewDir* fileNode(Volume& v, std::uint32_t id, std::uint32_t parent, const char* name, std::uint64_t size,
                 std::uint32_t startBlock = 100) {
    NewDir* d = folderNode(v, id, parent, name);
    d->fileType = NewDir::File;
    d->fileSize = size;
    d->fileCount = 1;
    if (size) newdir::appendDataExtent(d, startBlock, (size + 4095) / 4096);
    return d;
}

void park(BTreeTableClassOrph& tree, std::uint32_t& total, std::initializer_list<NewDir*> entries) {
    for (NewDir* d : entries)
        tree.insert(std::make_unique<ItemTypeOrph>(d->fileID, d));
    total += static_cast<std::uint32_t>(entries.size());
}

} // namespace

TEST_F(DeepScan, AParkedFileUnderAParkedFolderIsCountedOnceWhicheverComesFirst) {
    for (bool folderFirst : {true, false}) {
        SCOPED_TRACE(folderFirst);
        auto v = memoryVolume();
        const std::uint32_t folderID = folderFirst ? 300 : 302;
        NewDir* folder = folderNode(*v, folderID, 2, "Parked");
        NewDir* file = fileNode(*v, 301, folderID, "f.bin", 1000);
        park(*hfsState(*v).btreeOrph, hfsState(*v).orphEntriesTotal, {folder, file});
        OrphanEntries(hfsState(*v)).processOrphanEntriesWithIncrement(false, false);
        ASSERT_EQ(folder->pndirPointer, v->dirRoot);
        ASSERT_EQ(file->pndirPointer, folder);
        // Root: the folder, the file and the "Lost Files" made on the way.
        EXPECT_EQ(std::tuple(v->dirRoot->fileSize, v->dirRoot->fileCount, v->dirRoot->childrenCount),
                  std::tuple(1000u, 1u, 3u));
        EXPECT_EQ(std::tuple(folder->fileSize, folder->fileCount, folder->childrenCount), std::tuple(1000u, 1u, 1u));
        EXPECT_TRUE(hfsState(*v).btreeOrph->retrieveKeyField(301)->parentFoundInBtree());
        EXPECT_TRUE(hfsState(*v).btreeOrph->retrieveKeyField(301)->alreadyPolled());
    }
}

TEST_F(DeepScan, ThePlainPassMakesLostFilesEvenWhenNothingGoesThere) {
    auto v = memoryVolume();
    park(*hfsState(*v).btreeOrph, hfsState(*v).orphEntriesTotal, {folderNode(*v, 300, 2, "Parked")});
    OrphanEntries(hfsState(*v)).processOrphanEntriesWithIncrement(false, false);
    ASSERT_NE(v->dirLostFiles, nullptr);
    EXPECT_EQ(shown(v->dirLostFiles), "Lost Files #7 in 2 deleted /Root");
    // Counted although the pass itself counts nothing.
    EXPECT_EQ(std::tuple(v->folderCount, v->entryCount), std::tuple(1u, 1u));
    EXPECT_EQ(controller.callsNamed("setUpTimer").size(), 1u);
    // A second pass finds it by its ID and marks it deleted.
    v->dirLostFiles->deleted = 0;
    OrphanEntries(hfsState(*v)).processOrphanEntriesWithIncrement(false, false);
    EXPECT_EQ(v->dirLostFiles->deleted, 1);
    EXPECT_EQ(v->folderCount, 1u);
}

// Folders with no acceptable parent are freed with all they hold (for the leak checker): none is in the tree.
TEST_F(DeepScan, ThePlainPassNeverPutsAnEntryUnderItselfItsDescendantOrAFile) {
    auto v = memoryVolume();
    park(*hfsState(*v).btreeOrph, hfsState(*v).orphEntriesTotal,
         {folderNode(*v, 400, 400, "Self"), fileNode(*v, 401, 400, "inself.bin", 100), folderNode(*v, 402, 403, "A"),
          folderNode(*v, 403, 402, "B"), fileNode(*v, 404, 2, "parent.bin", 100),
          fileNode(*v, 405, 404, "underfile.bin", 200), fileNode(*v, 406, 406, "selffile.bin", 300)});
    within(std::chrono::seconds(30),
           [&] { OrphanEntries(hfsState(*v)).processOrphanEntriesWithIncrement(true, false); });
    expectNoRings(v->dirRoot);
    EXPECT_EQ(pathsOf(listTree(v->dirRoot)),
              (Names{"parent.bin", "Lost Files", "Lost Files/underfile.bin", "Lost Files/selffile.bin"}));
    EXPECT_EQ(hfsState(*v).btreeOrph->retrieveKeyField(400)->dir(), nullptr);
    EXPECT_EQ(hfsState(*v).btreeOrph->retrieveKeyField(402)->dir(), nullptr);
}

TEST_F(DeepScan, OrphanFoldersOfOneMissingParentGetOneRecreatedParentEach) {
    auto v = memoryVolume(true);
    NewDir* x = folderNode(*v, 200, 123, "X");
    NewDir* y = folderNode(*v, 201, 123, "Y");
    park(*hfsState(*v).btreeOrphAdvScanEntries, hfsState(*v).orphAdvScanEntriesTotal, {x, y});
    const std::uint32_t folders = v->folderCount;
    OrphanEntries orphans(hfsState(*v));
    orphans.processOrphanAdvScanEntriesWithIncrement(true, false);
    EXPECT_EQ(x->pndirPointer, nullptr); // left for the second pass
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    // "Lost Files" from the first pass, and two recreated folders with one orphan each.
    EXPECT_EQ(v->folderCount, folders + 1 + 4);
    ASSERT_NE(x->pndirPointer, nullptr);
    ASSERT_NE(y->pndirPointer, nullptr);
    EXPECT_EQ(shown(x->pndirPointer), "LostFolder123 #123 in 8 /Root/Lost Folders");
    EXPECT_EQ(shown(y->pndirPointer), "LostFolder123_ #123 in 8 /Root/Lost Folders");
    EXPECT_EQ(x->pndirPointer->pndirPointer, v->dirLostFolders);
    EXPECT_EQ(pathOf(x), "/Root/Lost Folders/LostFolder123");
    // Marks are left alone by the second pass.
    EXPECT_FALSE(hfsState(*v).btreeOrphAdvScanEntries->retrieveKeyField(200)->parentFoundInBtree());
    // Unmarked, but placed: a second run does not place them again.
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    EXPECT_EQ(v->dirLostFolders->childrenArrayCount(), 2u);
    EXPECT_EQ(v->folderCount, folders + 1 + 4);
}

TEST_F(DeepScan, TheFirstAdvancedPassPutsEntriesOnlyUnderParkedFolders) {
    auto v = memoryVolume(true);
    NewDir* folder = folderNode(*v, 200, 2, "F");
    NewDir* inFolder = fileNode(*v, 201, 200, "in.bin", 100);
    NewDir* underFile = fileNode(*v, 203, 202, "under.bin", 100);
    park(*hfsState(*v).btreeOrphAdvScanEntries, hfsState(*v).orphAdvScanEntriesTotal,
         {folder, inFolder, fileNode(*v, 202, 2, "p.bin", 100), underFile});
    OrphanEntries orphans(hfsState(*v));
    orphans.processOrphanAdvScanEntriesWithIncrement(true, false);
    EXPECT_EQ(inFolder->pndirPointer, folder);
    EXPECT_EQ(underFile->pndirPointer, nullptr);
    EXPECT_EQ(folder->pndirPointer, nullptr); // the root is not among the fragments
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    const auto tree = listTree(v->dirRoot);
    EXPECT_TRUE(tree.count("Lost Folders/LostFolder2/F/in.bin"));
    EXPECT_EQ(namesIn(tree, "Lost Files"), (Names{"p.bin", "under.bin"}));
}

// Empty, nameless, beyond the volume's last block (of 1024), or without a parent.
TEST_F(DeepScan, TheSecondPassLeavesImplausibleFilesOut) {
    auto v = memoryVolume(true);
    OrphanEntries orphans(hfsState(*v));
    orphans.processOrphanAdvScanEntriesWithIncrement(true, false); // makes "Lost Files"
    park(*hfsState(*v).btreeOrphAdvScanEntries, hfsState(*v).orphAdvScanEntriesTotal,
         {fileNode(*v, 300, 999, "empty.bin", 0), fileNode(*v, 301, 999, "", 100),
          fileNode(*v, 302, 999, "beyond.bin", 100, 1025), fileNode(*v, 303, 999, "atend.bin", 100, 1024),
          fileNode(*v, 304, 0, "noparent.bin", 100)});
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    EXPECT_EQ(namesIn(listTree(v->dirRoot), "Lost Files"), (Names{"atend.bin"}));
    EXPECT_EQ(v->dirLostFiles->childrenArrayCount(), 1u);
}

TEST_F(DeepScan, AStoppedScanPlacesNothingAndLeaksNothing) {
    auto v = memoryVolume(true);
    park(*hfsState(*v).btreeOrph, hfsState(*v).orphEntriesTotal, {fileNode(*v, 300, 2, "a.bin", 100)});
    park(*hfsState(*v).btreeOrphAdvScanEntries, hfsState(*v).orphAdvScanEntriesTotal, {folderNode(*v, 301, 999, "F")});
    v->setStopTreeThread(true);
    OrphanEntries orphans(hfsState(*v));
    orphans.processOrphanEntriesWithIncrement(true, false);
    orphans.processOrphanAdvScanEntriesWithIncrement(true, false);
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    EXPECT_EQ(v->dirRoot->childrenArrayCount(), 1u); // "Lost Folders" only
    EXPECT_TRUE(controller.callsNamed("setUpTimer").empty());
}

TEST_F(DeepScan, StoppingDuringTheFragmentSearchEndsTheScanWithWhatItHas) {
    Builder b({.totalSize = 32u << 20, .volumeName = "Stop"});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    for (int i = 0; i < 20; ++i)
        b.addFile(docs, "f" + std::to_string(i), bytes(4000, i));
    b.addStaleLeafNodeOf({b.addDeletedFile(docs, "gone.bin", bytes(30000, 2))});
    auto v = open(write(b), b);
    // The bar's value in the fragment search's posts; -1 for other posts.
    const auto searched = [](const Dict& d) -> std::int64_t {
        return d.get("Progress Status").stringValue() == "Searching catalog fragments..." &&
                       d.contains("BarDoubleValue")
                   ? static_cast<std::int64_t>(d.get("BarDoubleValue").uint64Value())
                   : -1;
    };
    controller.setCallObserver([v, searched](const platform::RecordingController::Call& c) {
        if (c.name == "updateProgress:" && searched(c.argument.dictValue()) >= 50) v->setStopTreeThread(true);
    });
    scan(v, "Advanced Scan");
    controller.setCallObserver(nullptr);
    EXPECT_TRUE(listTree(v->dirRoot).count("Docs/f0")); // the catalog walk ran before the stop
    std::int64_t last = -1;
    for (const auto& c : controller.callsNamed("updateProgress:"))
        last = std::max(last, searched(c.dictValue()));
    EXPECT_EQ(last, 50);
    expectTreeCompleteLast();
}

TEST_F(DeepScan, EntriesTheNormalPassCouldNotPlaceAreCountedOnceByTheAdvancedPasses) {
    Builder b({.volumeName = "Counts"});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    b.addFile(docs, "keep.txt", bytes(3000, 1));
    // Parent 123 exists nowhere: the second advanced pass places this one.
    b.addFile(b.addFolderWithID(500, 123, "Orphan"), "o.bin", bytes(5000, 2));
    // Parent 701 survives only in a stale node: the first pass places this one.
    const auto gone = b.addDeletedFolderWithID(701, docs, "Gone");
    b.addFile(b.addFolderWithID(700, gone, "Kept"), "k.bin", bytes(7000, 3));
    b.addStaleLeafNodeOf({gone});
    b.addFileWithID(600, 124, "lost.txt", bytes(2000, 4));
    auto v = scan(open(write(b), b), "Advanced Scan");
    const auto tree = listTree(v->dirRoot);
    ASSERT_TRUE(tree.count("Lost Folders/LostFolder123/Orphan/o.bin"));
    ASSERT_TRUE(tree.count("Lost Folders/LostFolder" + std::to_string(docs) + "/Gone/Kept/k.bin"));
    std::uint32_t folders = 0, files = 0;
    std::uint64_t data = 0;
    for (const auto& [path, d] : tree) {
        if (path == "Lost Folders") continue; // the one folder no pass counts
        folders += d->isFolder();
        files += !d->isFolder();
        data += d->isFolder() ? 0 : d->fileSize;
    }
    EXPECT_EQ(std::tuple(v->folderCount, v->fileCount, v->entryCount, v->dataSize),
              std::tuple(folders, files, folders + files, data));
}

TEST_F(DeepScan, AVolumeHeaderThatWasReadKeepsItsBlockSizeWhenOnlyTheCatalogHeaderIsDamaged) {
    Builder b({.blockSize = 2048, .volumeName = "Small"});
    b.addFile(b.addFolder(Builder::kRoot, "Docs"), "a.txt", bytes(10000, 5));
    b.damageZeroCatalogHeaderNode();
    auto v = scan(open(write(b), b), "Advanced Scan");
    EXPECT_EQ(v->blockSize(), 4u);
    const NewDir* file = nodeAt(v->dirRoot, "Docs/a.txt");
    EXPECT_EQ(file ? readThroughExtents(*v, *file) : "", asString(bytes(10000, 5)));
}

// The catalog header node checks out but says 512-byte nodes over nodes of 4096, or the catalog's extent is cut to it.
TEST_F(DeepScan, ACatalogThatCannotBeReadEndsTheScanWithTheAlertNotAnEmptyTree) {
    Builder b({.volumeName = "Unread"});
    b.addFile(b.addFolder(Builder::kRoot, "Docs"), "a.txt", bytes(10000, 6));
    const fs::path image = write(b), nodeSize = copyToTemp(image), cut = copyToTemp(image);
    const auto& l = b.layout(); // the header node's node size at its byte 32; the catalog's first extent's length
    writeAt(nodeSize, l.volumeOffset + std::uint64_t(l.catalogFile[0].startBlock) * l.blockSize + 32, be16(512));
    writeAt(cut, l.volumeOffset + 1024 + 292, be32(1));
    for (const auto& [p, mode] :
         {std::pair{nodeSize, "Normal Scan"}, {cut, "Normal Scan"}, {nodeSize, "Advanced Scan"}}) {
        controller.clear();
        scan(open(p, b), mode);
        ASSERT_EQ(controller.alerts().size(), 1u) << p << " " << mode;
        EXPECT_EQ(controller.alerts()[0].title, "!Can not process");
        expectTreeCompleteLast();
    }
    EXPECT_TRUE(logged("no leaf node of its catalog could be read"));
}

// Unreadable sectors of a dying disk hide only themselves from the fragment search: the volume's first eight (its
// only header with them) or one in its catalog's header node, either way in the search's first batch. Every entry of
// the sound volume is found, if not where its header would have put it.
TEST_F(DeepScan, UnreadableSectorsHideOnlyThemselvesFromTheFragmentSearch) {
    Builder b({.volumeName = "Dying"});
    b.addFile(b.addFolder(Builder::kRoot, "Docs"), "a.txt", bytes(10000, 1));
    b.addFile(Builder::kRoot, "top.bin", bytes(5000, 2));
    const fs::path image = write(b);
    const std::uint64_t sectors = fs::file_size(image) / 512;
    writeAt(image, sectors * 512 - 1024, std::vector<std::uint8_t>(512));
    const auto ids = [](const Tree& tree) {
        std::set<std::uint32_t> out;
        for (const auto& [path, d] : tree)
            out.insert(d->fileID);
        return out;
    };
    const auto want = ids(listTree(scan(open(image, 0, sectors), "Normal Scan")->dirRoot));
    ASSERT_EQ(want.size(), 3u);
    for (auto [bad, count] : {std::pair{std::uint64_t{0}, 8}, {b.layout().catalogFile[0].startBlock * 8ull, 1}}) {
        SCOPED_TRACE(bad);
        auto v = open(image, 0, sectors);
        FailingReads disk;
        disk.failSectors(bad, count);
        v->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
        const auto got = ids(listTree(scan(v, "Advanced Scan")->dirRoot));
        EXPECT_TRUE(std::includes(got.begin(), got.end(), want.begin(), want.end()));
    }
}
