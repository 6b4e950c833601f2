// The advanced HFS+ tree scan end to end, and its parts: the search of the
// whole volume for catalog leaf nodes, the allocation file's extents, the
// catalog-sector test and the three orphan passes that build the tree from
// what was parked. Volumes come from the HFS+ image builder (damaged on
// purpose where a test needs it) and from the macOS-made fixture; the orphan
// passes are also driven directly on parked nodes made in memory.

#include "hfsplus/AdvancedTreeScan.h"
#include "hfsplus/CatalogFragmentSearch.h"
#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/OrphanEntries.h"
#include "platform/ByteView.h"
#include "scan/ScanThread.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

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
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using platform::Array;
using platform::Dict;
using testsupport::HFSCatalogRecord;
using testsupport::HFSPlusImageBuilder;
using testsupport::HFSPlusImageOptions;
using testsupport::writeAt;
using testsupport::zeroImage;
using Builder = HFSPlusImageBuilder;

namespace {

std::vector<std::uint8_t> bytes(std::size_t size, std::uint32_t seed) {
    return Builder::patternData(size, seed);
}

testsupport::HFSFileOptions inExtents(std::uint32_t count) {
    testsupport::HFSFileOptions o;
    o.extentCount = count;
    return o;
}

std::string nameOf(const NewDir* d) {
    return newdir::utf8(newdir::fileName(d));
}
std::string pathOf(const NewDir* d) {
    return newdir::utf8(newdir::pathName(d));
}

// A name met twice in one folder shows up as two paths only when the passes
// renamed it.
std::map<std::string, NewDir*> listTree(const NewDir* root) {
    return testsupport::nodesByPath(root);
}

std::set<std::string> pathsOf(const std::map<std::string, NewDir*>& tree) {
    std::set<std::string> s;
    for (const auto& [p, d] : tree)
        s.insert(p);
    return s;
}

// The names directly below a folder of the tree.
std::set<std::string> namesIn(const std::map<std::string, NewDir*>& tree, const std::string& folder) {
    std::set<std::string> s;
    for (const auto& [p, d] : tree)
        if (p.starts_with(folder + "/") && p.find('/', folder.size() + 1) == std::string::npos)
            s.insert(p.substr(folder.size() + 1));
    return s;
}
using Names = std::set<std::string>;

// A node as the tree shows it: name, ID, parent ID, deleted mark, the path
// of its folder.
std::string shown(const NewDir* d) {
    return nameOf(d) + " #" + std::to_string(d->fileID) + " in " + std::to_string(d->parentID) +
           (d->deleted ? " deleted " : " ") + pathOf(d);
}

// Every node's parent links lead to the root in fewer steps than there are
// nodes, and each node's link names the folder that holds it.
void expectNoRings(const NewDir* root) {
    const auto tree = listTree(root);
    const std::size_t limit = tree.size() + 2;
    for (const auto& [path, d] : tree) {
        std::size_t steps = 0;
        const NewDir* a = d;
        while (a && a != root && steps <= limit) {
            a = a->pndirPointer;
            ++steps;
        }
        EXPECT_EQ(a, root) << path << " does not lead to the root";
        if (const NewDir* p = d->pndirPointer) {
            EXPECT_NE(std::find(p->childList.begin(), p->childList.end(), d), p->childList.end()) << path;
        }
    }
}

// Runs fn on a thread of its own and gives it this long: a scan that loops
// would otherwise hold the test run for ever.
void within(std::chrono::seconds limit, const std::function<void()>& fn) {
    std::promise<void> done;
    auto finished = done.get_future();
    std::thread worker([&] {
        fn();
        done.set_value();
    });
    if (finished.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "the scan did not end within %lld s\n", static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    worker.join();
}

// Records the fragment search takes: dates set; a file with one extent that
// agrees with its size in 4096-byte blocks.
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

class DeepScan : public testsupport::ScanFixture {
protected:
    fs::path write(Builder& b) {
        const fs::path p = testsupport::makeTempDir("deep") / "volume.img";
        b.writeTo(p);
        return p;
    }

    // The volume as the partition search reports one: it begins at its
    // container's first sector and runs to the end of the container.
    std::shared_ptr<Volume> open(const fs::path& image, std::uint64_t startSector, std::uint64_t sectors,
                                 std::uint32_t bytesPerSector = 512) {
        return keep(testsupport::volumeOver(image, startSector, sectors, bytesPerSector));
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

    // A fresh volume over a zero image of 8192 sectors, reset for a scan,
    // with eight-sector blocks and a root.
    std::shared_ptr<Volume> memoryVolume() {
        auto v = open(zeroImage(4u << 20), 0, 8192);
        v->resetSigArraysAndBtreesAndOthers();
        v->setBlockSize(8);
        v->createRoot();
        return v;
    }

    bool progressShown(const std::string& status) const {
        for (const auto& c : controller.callsNamed("updateProgress:"))
            if (c.dictValue().get("Progress Status").stringValue() == status) return true;
        return false;
    }

    // An advanced scan of a zero image of `sectors` sectors holding these
    // leaf nodes (4096 bytes each) at these sectors.
    std::map<std::string, NewDir*> scanLeafNodes(std::uint64_t sectors,
                                                 const std::map<std::uint64_t, std::vector<std::uint8_t>>& nodes) {
        const fs::path image = zeroImage(sectors * 512);
        for (const auto& [sector, node] : nodes)
            writeAt(image, sector * 512, node);
        return listTree(scan(open(image, 0, sectors), "Advanced Scan")->dirRoot);
    }
};

std::vector<std::uint8_t> leaf(const std::vector<HFSCatalogRecord>& records) {
    return Builder::encodeCatalogLeafNode(records, 4096);
}

// The file at `path` is the builder's entry: kind, ID, size and (with eight
// extents or fewer, all in the record) its extents.
void expectFileIs(const std::map<std::string, NewDir*>& tree, const std::string& path, const Builder::Entry* entry) {
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

} // namespace

// ===================================================================
// Whole scans of built volumes

TEST_F(DeepScan, AdvancedScanOfAVolumeWithAZeroedCatalogHeaderRecoversEveryFile) {
    Builder b({.volumeName = "Deep", .maxRecordsPerLeaf = 4});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    const auto sub = b.addFolder(docs, "Sub");
    const auto top = b.addFile(Builder::kRoot, "top.bin", bytes(5000, 1));
    const auto a = b.addFile(docs, "a.txt", bytes(10000, 2));
    const auto bd = b.addFile(sub, "b.dat", bytes(70000, 3), inExtents(3));
    const auto frag = b.addFile(docs, "frag.bin", bytes(200000, 4), inExtents(8));
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
    expectFileIs(tree, "top.bin", b.entry(top));
    expectFileIs(tree, "Docs/a.txt", b.entry(a));
    expectFileIs(tree, "Docs/Sub/b.dat", b.entry(bd));
    expectFileIs(tree, "Docs/frag.bin", b.entry(frag));
    // Nothing went astray: no lost entries on an intact catalog.
    EXPECT_EQ(tree.count("Lost Files") + tree.count("Lost Folders"), 0u);
    EXPECT_TRUE(progressShown("Searching catalog fragments..."));
    EXPECT_TRUE(progressShown("Processing orphan & lost entries..."));
    expectNoRings(v->dirRoot);
}

struct MissingParentsCase {
    const char* mode;
    bool zeroHeader;
};
class MissingParents : public DeepScan, public ::testing::WithParamInterface<MissingParentsCase> {};

// Folders whose parent record is gone are recreated under "Lost Folders" as
// LostFolder<parent ID> with everything below them; files whose parent is
// gone go to "Lost Files". Both with the catalog header intact (the catalog
// walk parks them) and with it zeroed (the fragment search finds them). The
// normal scan has no "Lost Folders": it leaves such folders out, and frees
// them (the leak checker would say otherwise).
TEST_P(MissingParents, EndInLostFoldersAndLostFilesWithTheirSubtrees) {
    Builder b({.volumeName = "Lost"});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    const auto keep = b.addFile(docs, "keep.txt", bytes(3000, 1));
    const auto orphanA = b.addFolderWithID(500, 123, "Orphan A");
    const auto a1 = b.addFile(orphanA, "a1.bin", bytes(9000, 2));
    const auto inner = b.addFolder(orphanA, "Inner");
    const auto deep = b.addFile(inner, "deep.bin", bytes(12000, 3));
    const auto orphanB = b.addFolderWithID(550, 123, "Orphan B");
    const auto b1 = b.addFile(orphanB, "b1.bin", bytes(7000, 4));
    const auto lost1 = b.addFileWithID(600, 124, "lost.txt", bytes(3000, 5));
    const auto lost2 = b.addFileWithID(601, 125, "lost.txt", bytes(4000, 6));
    if (GetParam().zeroHeader) b.damageZeroCatalogHeaderNode();
    auto v = scan(open(write(b), b), GetParam().mode);
    const auto tree = listTree(v->dirRoot);
    expectFileIs(tree, "Docs/keep.txt", b.entry(keep));
    expectNoRings(v->dirRoot);
    // Two parentless files of one name: the second gets "_" before its
    // extension, both marked deleted.
    ASSERT_EQ(namesIn(tree, "Lost Files"), (Names{"lost.txt", "lost_.txt"}));
    EXPECT_EQ((std::set{tree.at("Lost Files/lost.txt")->fileID, tree.at("Lost Files/lost_.txt")->fileID}),
              (std::set{lost1, lost2}));
    EXPECT_EQ(tree.at("Lost Files/lost.txt")->deleted + tree.at("Lost Files/lost_.txt")->deleted, 2);
    if (std::string(GetParam().mode) == "Normal Scan") {
        for (const auto& [path, d] : tree)
            EXPECT_EQ(path.find("Orphan"), std::string::npos) << path;
        return;
    }

    // Two orphan folders of one missing parent: two recreated parents.
    const std::string f1 = "Lost Folders/LostFolder123", f2 = f1 + "_";
    ASSERT_EQ(namesIn(tree, "Lost Folders"), (Names{"LostFolder123", "LostFolder123_"}));
    const std::string underA = tree.count(f1 + "/Orphan A") ? f1 : f2;
    const std::string underB = underA == f1 ? f2 : f1;
    expectFileIs(tree, underA + "/Orphan A/a1.bin", b.entry(a1));
    expectFileIs(tree, underA + "/Orphan A/Inner/deep.bin", b.entry(deep));
    expectFileIs(tree, underB + "/Orphan B/b1.bin", b.entry(b1));
    for (const auto& [path, id] : std::map<std::string, std::uint32_t>{{underA + "/Orphan A", orphanA},
                                                                       {underA + "/Orphan A/Inner", inner},
                                                                       {underB + "/Orphan B", orphanB},
                                                                       {"Lost Files", 7},
                                                                       {"Lost Folders", 8}})
        EXPECT_EQ(tree.at(path)->fileID, id) << path;
    EXPECT_EQ(shown(tree.at(f1)), "LostFolder123 #123 in 8 /Root/Lost Folders");
}

INSTANTIATE_TEST_SUITE_P(CatalogHeader, MissingParents,
                         ::testing::Values(MissingParentsCase{"Advanced Scan", false},
                                           MissingParentsCase{"Advanced Scan", true},
                                           MissingParentsCase{"Normal Scan", false}),
                         [](const auto& info) {
                             return std::string(info.param.mode[0] == 'N' ? "NormalScan" : "") +
                                    (info.param.zeroHeader ? "Zeroed" : "Intact");
                         });

TEST_F(DeepScan, FragmentsOutsideTheCatalogFileArePlacedByTheAdvancedPasses) {
    Builder b({.volumeName = "Stale"});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    const auto live = b.addFile(docs, "live.txt", bytes(3000, 1));
    const auto gone = b.addDeletedFile(docs, "gone.bin", bytes(30000, 2));
    const auto oldDir = b.addDeletedFolder(docs, "OldDir");
    const auto old = b.addDeletedFile(oldDir, "old.bin", bytes(20000, 3), inExtents(2));
    b.addStaleLeafNodeOf({gone});
    b.addStaleLeafNodeOf({oldDir, old});
    auto v = scan(open(write(b), b), "Advanced Scan");
    const auto tree = listTree(v->dirRoot);
    expectFileIs(tree, "Docs/live.txt", b.entry(live));
    // The advanced passes look parents up among the fragments only: the
    // deleted folder gets a recreated parent named by the live folder's ID.
    expectFileIs(tree, "Lost Folders/LostFolder" + std::to_string(docs) + "/OldDir/old.bin", b.entry(old));
    expectFileIs(tree, "Lost Files/gone.bin", b.entry(gone));
    EXPECT_EQ(tree.at("Lost Files/gone.bin")->deleted, 1);
    expectNoRings(v->dirRoot);
}

TEST_F(DeepScan, ParentCyclesSelfParentsAndParentFilesTerminateWithEverythingRecovered) {
    Builder b({.volumeName = "Cycles", .maxRecordsPerLeaf = 3});
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    const auto plain = b.addFile(docs, "plain.bin", bytes(4000, 1));
    const auto cycA = b.addFolderWithID(700, 710, "CycA");
    const auto ina = b.addFile(cycA, "ina.bin", bytes(5000, 2));
    const auto cycB = b.addFolderWithID(710, 700, "CycB");
    const auto inb = b.addFile(cycB, "inb.bin", bytes(6000, 3));
    const auto self = b.addFolderWithID(720, 720, "Self");
    const auto ins = b.addFile(self, "ins.bin", bytes(7000, 4));
    const auto underFile = b.addFolderWithID(730, plain, "UnderFile");
    const auto inf = b.addFile(underFile, "inf.bin", bytes(8000, 5));
    const auto selfFile = b.addFileWithID(740, 740, "selffile.bin", bytes(9000, 6));
    const fs::path image = write(b);

    for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
        SCOPED_TRACE(mode);
        auto v = scan(open(image, b), mode);
        const auto tree = listTree(v->dirRoot);
        expectNoRings(v->dirRoot);
        expectFileIs(tree, "Docs/plain.bin", b.entry(plain));
        // A file that names itself as its parent is lost, not its own child.
        expectFileIs(tree, "Lost Files/selffile.bin", b.entry(selfFile));
        if (std::string(mode) == "Normal Scan") continue;

        expectFileIs(tree, "Lost Folders/LostFolder720/Self/ins.bin", b.entry(ins));
        // A folder whose parent is a file goes to the lost folders.
        const std::string underPlain = "Lost Folders/LostFolder" + std::to_string(plain) + "/UnderFile";
        expectFileIs(tree, underPlain + "/inf.bin", b.entry(inf));
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
    std::vector<std::uint32_t> files;
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    for (int i = 0; i < 12; ++i)
        files.push_back(b.addFile(docs, "f" + std::to_string(i) + ".bin", bytes(3000 + 100 * i, 10 + i)));
    b.damageCatalogLeafLoop(0, 3);
    const fs::path image = write(b);
    for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
        SCOPED_TRACE(mode);
        auto v = scan(open(image, b), mode);
        expectNoRings(v->dirRoot);
        const auto tree = listTree(v->dirRoot);
        if (std::string(mode) == "Advanced Scan")
            for (std::uint32_t id : files)
                expectFileIs(tree, "Docs/" + b.entry(id)->name.utf8(), b.entry(id));
    }
}

struct Variant {
    const char* name;
    std::function<void(HFSPlusImageOptions&)> options;
    std::function<void(Builder&)> damage;
};

class Variants : public DeepScan, public ::testing::WithParamInterface<Variant> {};

// Whatever the way in to the volume header, both scans find the same tree:
// the fragment search adds nothing to an intact volume without stale nodes.
TEST_P(Variants, OpenAndScanInBothModes) {
    HFSPlusImageOptions o;
    o.volumeName = "Variant";
    GetParam().options(o);
    Builder b(o);
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    const auto readme = b.addFile(docs, "Readme", bytes(5000, 1));
    const auto upper = b.addFile(docs, "README", bytes(6000, 2));
    const auto sub = b.addFolder(docs, "Sub");
    const auto big = b.addFile(sub, "big.bin", bytes(150000, 3), inExtents(4));
    const auto top = b.addFile(Builder::kRoot, "top.bin", bytes(2000, 4));
    if (GetParam().damage) GetParam().damage(b);
    const fs::path image = write(b);

    std::set<std::string> normalPaths;
    for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
        SCOPED_TRACE(mode);
        auto v = scan(open(image, b), mode);
        EXPECT_TRUE(controller.alerts().empty());
        const auto tree = listTree(v->dirRoot);
        expectFileIs(tree, "Docs/Readme", b.entry(readme));
        expectFileIs(tree, "Docs/README", b.entry(upper));
        expectFileIs(tree, "Docs/Sub/big.bin", b.entry(big));
        expectFileIs(tree, "top.bin", b.entry(top));
        if (std::string(mode) == "Normal Scan")
            normalPaths = pathsOf(tree);
        else
            EXPECT_EQ(pathsOf(tree), normalPaths);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Volumes, Variants,
    ::testing::Values(Variant{"HFSWrapper",
                              [](HFSPlusImageOptions& o) { o.wrapping = HFSPlusImageOptions::Wrapping::HFSWrapper; },
                              {}},
                      Variant{"HFSX", [](HFSPlusImageOptions& o) { o.hfsx = true; }, {}},
                      Variant{"AlternateHeaderOnly", [](HFSPlusImageOptions&) {},
                              [](Builder& b) { b.damageZeroPrimaryHeader(); }},
                      Variant{"InsideADisk",
                              [](HFSPlusImageOptions& o) {
                                  o.diskOffset = 1u << 20;
                                  o.diskSize = (1u << 20) + o.totalSize + (1u << 20);
                              },
                              {}},
                      Variant{"FourKSectors", [](HFSPlusImageOptions& o) { o.sectorSize = 4096; }, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DeepScan, TheFragmentSearchStaysInsideTheVolume) {
    // A volume 1 MiB into a disk, with leaf nodes that look like the real
    // thing before it and behind it: only the volume's own node is taken.
    HFSPlusImageOptions o{.volumeName = "Inside", .diskOffset = 1u << 20};
    o.diskSize = (1u << 20) + o.totalSize + (1u << 20);
    Builder b(o);
    const auto docs = b.addFolder(Builder::kRoot, "Docs");
    b.addFile(docs, "live.txt", bytes(3000, 1));
    const auto gone = b.addDeletedFile(docs, "gone.bin", bytes(30000, 2));
    b.addStaleLeafNodeOf({gone});
    const fs::path image = write(b);
    writeAt(image, 64u << 10, leaf({fileRecord(900, 2, "before.bin", 5000, 100)}));
    writeAt(image, o.diskOffset + o.totalSize + (64u << 10), leaf({fileRecord(901, 2, "after.bin", 5000, 100)}));
    // The partition's sectors only: the disk goes on behind it.
    auto v = scan(open(image, o.diskOffset / 512, o.totalSize / 512), "Advanced Scan");
    const auto tree = listTree(v->dirRoot);
    EXPECT_TRUE(tree.count("Docs/live.txt"));
    expectFileIs(tree, "Lost Files/gone.bin", b.entry(gone));
    EXPECT_EQ(namesIn(tree, "Lost Files"), (Names{"gone.bin"}));
}

TEST_F(DeepScan, NodesAcrossGroupAndBatchBoundariesAreFound) {
    // No volume header at all: every fragment goes to the advanced passes
    // with eight-sector blocks and nodes assumed.
    const std::uint64_t sectors = 32768;
    const std::uint64_t batch = std::max<std::uint64_t>(1, CatalogFragmentSearch::kBatchBytes / (63 * 512)) * 63;
    // Sectors 60..67 cross the end of a group at 62, the next node the end of
    // the first batch; the last is the volume's last node.
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

// Names of 256 units or none, the root's record, ".DS_Store" (but not a
// name that only looks like it) and a size its blocks cannot hold are left
// out.
TEST_F(DeepScan, RecordsThatFailTheBoundsArePassedOverAndTheRestTaken) {
    HFSCatalogRecord tooLongName = fileRecord(910, 2, "bad1.bin", 5000, 100);
    tooLongName.storedNameLength = 256;
    HFSCatalogRecord noName = fileRecord(911, 2, "x", 5000, 100);
    noName.storedNameLength = 0;
    HFSCatalogRecord sizeMismatch = fileRecord(913, 2, "mismatch.bin", 5000, 100);
    sizeMismatch.dataFork.totalBlocks = 3;
    const auto tree = scanLeafNodes(8192, {{1000, leaf({tooLongName, noName, folderRecord(2, 1, "VolumeName"),
                                                        fileRecord(912, 2, ".DS_Store", 5000, 100), sizeMismatch,
                                                        fileRecord(914, 2, "good.bin", 5000, 100),
                                                        fileRecord(915, 2, "DS_STORE.bin", 5000, 100)})}});
    EXPECT_EQ(namesIn(tree, "Lost Files"), (Names{"DS_STORE.bin", "good.bin"}));
    for (const auto& [path, d] : tree)
        EXPECT_NE(d->fileID, 2u) << path;
}

TEST_F(DeepScan, AKeyLengthOutOfBoundsSkipsTheRecordAndAnOffsetPastTheTableEndsTheNode) {
    auto node = leaf({fileRecord(920, 2, "a.bin", 5000, 100), fileRecord(921, 2, "b.bin", 5000, 100),
                      fileRecord(922, 2, "c.bin", 5000, 100)});
    // Record 0: key length 517. Record 2: an offset inside the offset table.
    const std::size_t r0 = platform::ByteView(node).be16(4096 - 2);
    testsupport::putBE(node, r0, 517, 2);
    testsupport::putBE(node, 4096 - 6, 4096 - 4, 2);
    EXPECT_EQ(namesIn(scanLeafNodes(8192, {{1000, node}}), "Lost Files"), (Names{"b.bin"}));
}

TEST_F(DeepScan, TheMacOSVolumeScannedInAdvancedModeHoldsEveryEntryOfTheNormalScan) {
    const fs::path image = testsupport::copyOfReadyImage("hfsplus.raw");
    const std::uint64_t sectors = fs::file_size(image) / 512;
    auto normal = scan(open(image, 0, sectors), "Normal Scan");
    auto advanced = scan(open(image, 0, sectors), "Advanced Scan");
    const auto n = listTree(normal->dirRoot);
    const auto a = listTree(advanced->dirRoot);
    ASSERT_FALSE(n.empty());
    for (const auto& [path, d] : n) {
        auto it = a.find(path);
        ASSERT_NE(it, a.end()) << path << " missing from the advanced scan";
        const NewDir* f = it->second;
        EXPECT_EQ(std::tuple(f->fileType, f->fileSize, f->fileID), std::tuple(d->fileType, d->fileSize, d->fileID))
            << path;
    }
    expectNoRings(advanced->dirRoot);
}

// ===================================================================
// The parts on their own

TEST_F(DeepScan, AVolumeWithoutCatalogNodesStillGetsLostFoldersAndNoOrphanPass) {
    auto v = memoryVolume();
    AdvancedTreeScan scan(*v);
    EXPECT_TRUE(scan.makeAdvTree());
    ASSERT_NE(v->dirLostFolders, nullptr);
    EXPECT_EQ(v->dirLostFolders->pndirPointer, v->dirRoot);
    EXPECT_EQ(shown(v->dirLostFolders), "Lost Folders #8 in 2 deleted /Root");
    EXPECT_EQ(v->btree->retrieveKeyField(8)->dir(), v->dirLostFolders);
    EXPECT_EQ(v->dirRoot->childrenCount, 1u);
    EXPECT_EQ(v->orphEntriesTotal + v->orphAdvScanEntriesTotal, 0u);
    EXPECT_FALSE(progressShown("Processing orphan & lost entries..."));
    EXPECT_TRUE(progressShown("Searching catalog fragments..."));
    // No candidate node was met, so the node size was never assumed.
    EXPECT_EQ(v->catNodeSize, 0);
}

TEST_F(DeepScan, ANodeAtASectorTheCatalogWalkReadIsNotReadAgain) {
    auto v = memoryVolume();
    writeAt(v->cPath(), 300 * 512, leaf({fileRecord(930, 2, "once.bin", 5000, 100)}));
    v->catNodeSize = 8;
    CatalogFragmentSearch search(*v);
    v->btreeForUsedCatNodeSector->insert(std::make_unique<ItemTypeUInt32>(300));
    EXPECT_FALSE(search.getIfUnusedSectorForCatalogNode(300));
    EXPECT_TRUE(search.getIfUnusedSectorForCatalogNode(301));
    search.processCatFrags(300);
    EXPECT_EQ(v->orphAdvScanEntriesTotal, 0u);
    EXPECT_TRUE(v->btreeOrphAdvScanEntries->empty());
}

TEST_F(DeepScan, OfTwoFragmentsWithOneIDTheFirstMetStays) {
    const auto tree = scanLeafNodes(8192, {{100, leaf({fileRecord(940, 2, "first.bin", 5000, 100)})},
                                           {500, leaf({fileRecord(940, 2, "second.bin", 5000, 100)})}});
    EXPECT_EQ(namesIn(tree, "Lost Files"), (Names{"first.bin"}));
}

TEST_F(DeepScan, FragmentsInsideTheCatalogFileGoToTheOrphanIndexOnlyWhenTheHeaderWasFound) {
    for (bool headerFound : {true, false}) {
        auto v = memoryVolume();
        writeAt(v->cPath(), 800 * 512, leaf({folderRecord(950, 2, "Inside")}));
        writeAt(v->cPath(), 2000 * 512, leaf({folderRecord(951, 2, "Outside")}));
        v->catNodeSize = 8;
        v->catalogExtAsPerVIB = {Extent(100, 10)}; // sectors 800..879
        v->advScanEntriesCanBePutIntoOrphanEntryArray = headerFound;
        CatalogFragmentSearch(*v).searchCatFrags();
        EXPECT_EQ(v->btreeOrph->retrieveKeyField(950) != nullptr, headerFound);
        EXPECT_EQ(v->btreeOrphAdvScanEntries->retrieveKeyField(950) != nullptr, !headerFound);
        EXPECT_NE(v->btreeOrphAdvScanEntries->retrieveKeyField(951), nullptr);
        EXPECT_EQ(v->orphEntriesTotal, headerFound ? 1u : 0u);
        EXPECT_EQ(v->maxFileID, 951u);
    }
}

TEST_F(DeepScan, TheCatalogSectorTestUsesTheFoundExtentsFirstAndEndsBeforeTheLastBlock) {
    auto v = memoryVolume();
    AdvancedTreeScan scan(*v);
    EXPECT_FALSE(scan.sectorIsInCatalogFile(0));
    EXPECT_FALSE(scan.sectorIsInCatalogFile(1000));
    v->setHPlusVolStart(16);
    v->setBlockSize(8);
    v->catalogExtAsPerVIB = {Extent(10, 5)}; // sectors 96..135
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

// ------------------------------------------------------ orphan passes ----

namespace {

NewDir* folderNode(Volume& v, std::uint32_t id, std::uint32_t parent, const char* name) {
    NewDir* d = newdir::allocate();
    d->fileType = NewDir::Folder;
    d->fileID = id;
    d->parentID = parent;
    v.setFileName(newdir::utf16(name), d);
    return d;
}

NewDir* fileNode(Volume& v, std::uint32_t id, std::uint32_t parent, const char* name, std::uint64_t size,
                 std::uint32_t startBlock = 100) {
    NewDir* d = newdir::allocate();
    d->fileType = NewDir::File;
    d->fileID = id;
    d->parentID = parent;
    d->fileSize = size;
    d->fileCount = 1;
    v.setFileName(newdir::utf16(name), d);
    if (size) v.addDataExtStartBlock(startBlock, (size + 4095) / 4096, d);
    return d;
}

// Parks the entries in an orphan index and counts them there.
void park(BTreeTableClassOrph& tree, std::uint32_t& total, std::initializer_list<NewDir*> entries) {
    for (NewDir* d : entries)
        tree.insert(std::make_unique<ItemTypeOrph>(d->fileID, d));
    total += static_cast<std::uint32_t>(entries.size());
}

} // namespace

// A folder's totals: bytes, files and entries below it.
std::string totals(const NewDir* d) {
    return std::to_string(d->fileSize) + " bytes, " + std::to_string(d->fileCount) + " files, " +
           std::to_string(d->childrenCount) + " entries";
}

TEST_F(DeepScan, AParkedFileUnderAParkedFolderIsCountedOnceWhicheverComesFirst) {
    for (bool folderFirst : {true, false}) {
        SCOPED_TRACE(folderFirst);
        auto v = memoryVolume();
        const std::uint32_t folderID = folderFirst ? 300 : 302;
        NewDir* folder = folderNode(*v, folderID, 2, "Parked");
        NewDir* file = fileNode(*v, 301, folderID, "f.bin", 1000);
        park(*v->btreeOrph, v->orphEntriesTotal, {folder, file});
        OrphanEntries(*v).processOrphanEntriesWithIncrement(false, false);
        ASSERT_EQ(folder->pndirPointer, v->dirRoot);
        ASSERT_EQ(file->pndirPointer, folder);
        // Root: the folder, the file and the "Lost Files" made on the way.
        EXPECT_EQ(totals(v->dirRoot), "1000 bytes, 1 files, 3 entries");
        EXPECT_EQ(totals(folder), "1000 bytes, 1 files, 1 entries");
        EXPECT_TRUE(v->btreeOrph->retrieveKeyField(301)->parentFoundInBtree());
        EXPECT_TRUE(v->btreeOrph->retrieveKeyField(301)->alreadyPolled());
    }
}

TEST_F(DeepScan, ThePlainPassMakesLostFilesEvenWhenNothingGoesThere) {
    auto v = memoryVolume();
    park(*v->btreeOrph, v->orphEntriesTotal, {folderNode(*v, 300, 2, "Parked")});
    OrphanEntries(*v).processOrphanEntriesWithIncrement(false, false);
    ASSERT_NE(v->dirLostFiles, nullptr);
    EXPECT_EQ(shown(v->dirLostFiles), "Lost Files #7 in 2 deleted /Root");
    // Counted although the pass itself counts nothing.
    EXPECT_EQ(v->folderCount, 1u);
    EXPECT_EQ(v->entryCount, 1u);
    EXPECT_EQ(controller.callsNamed("setUpTimer").size(), 1u);
    // A second pass finds it by its ID and marks it deleted.
    v->dirLostFiles->deleted = 0;
    OrphanEntries(*v).processOrphanEntriesWithIncrement(false, false);
    EXPECT_EQ(v->dirLostFiles->deleted, 1);
    EXPECT_EQ(v->folderCount, 1u);
}

TEST_F(DeepScan, ThePlainPassNeverPutsAnEntryUnderItselfItsDescendantOrAFile) {
    auto v = memoryVolume();
    park(*v->btreeOrph, v->orphEntriesTotal,
         {folderNode(*v, 400, 400, "Self"), fileNode(*v, 401, 400, "inself.bin", 100), folderNode(*v, 402, 403, "A"),
          folderNode(*v, 403, 402, "B"), fileNode(*v, 404, 2, "parent.bin", 100),
          fileNode(*v, 405, 404, "underfile.bin", 200), fileNode(*v, 406, 406, "selffile.bin", 300)});
    within(std::chrono::seconds(30), [&] { OrphanEntries(*v).processOrphanEntriesWithIncrement(true, false); });
    expectNoRings(v->dirRoot);
    // The folders found no acceptable parent and were freed with what they
    // held (the leak checker sees to that); nothing of them is in the tree.
    EXPECT_EQ(pathsOf(listTree(v->dirRoot)),
              (Names{"parent.bin", "Lost Files", "Lost Files/underfile.bin", "Lost Files/selffile.bin"}));
    EXPECT_EQ(v->btreeOrph->retrieveKeyField(400)->dir(), nullptr);
    EXPECT_EQ(v->btreeOrph->retrieveKeyField(402)->dir(), nullptr);
}

TEST_F(DeepScan, OrphanFoldersOfOneMissingParentGetOneRecreatedParentEach) {
    auto v = memoryVolume();
    CatalogFragmentSearch(*v).searchCatFrags();
    NewDir* x = folderNode(*v, 200, 123, "X");
    NewDir* y = folderNode(*v, 201, 123, "Y");
    park(*v->btreeOrphAdvScanEntries, v->orphAdvScanEntriesTotal, {x, y});
    const std::uint32_t folders = v->folderCount;
    OrphanEntries orphans(*v);
    orphans.processOrphanAdvScanEntriesWithIncrement(true, false);
    EXPECT_EQ(x->pndirPointer, nullptr); // left for the second pass
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    // "Lost Files" from the first pass, and two recreated folders with one
    // orphan each.
    EXPECT_EQ(v->folderCount, folders + 1 + 4);
    ASSERT_NE(x->pndirPointer, nullptr);
    ASSERT_NE(y->pndirPointer, nullptr);
    EXPECT_EQ(shown(x->pndirPointer), "LostFolder123 #123 in 8 /Root/Lost Folders");
    EXPECT_EQ(shown(y->pndirPointer), "LostFolder123_ #123 in 8 /Root/Lost Folders");
    EXPECT_EQ(x->pndirPointer->pndirPointer, v->dirLostFolders);
    EXPECT_EQ(pathOf(x), "/Root/Lost Folders/LostFolder123");
    // Marks are left alone by the second pass.
    EXPECT_FALSE(v->btreeOrphAdvScanEntries->retrieveKeyField(200)->parentFoundInBtree());
    // Unmarked, but placed: a second run does not place them again.
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    EXPECT_EQ(v->dirLostFolders->childrenArrayCount(), 2u);
    EXPECT_EQ(v->folderCount, folders + 1 + 4);
}

TEST_F(DeepScan, TheFirstAdvancedPassPutsEntriesOnlyUnderParkedFolders) {
    auto v = memoryVolume();
    CatalogFragmentSearch(*v).searchCatFrags();
    NewDir* folder = folderNode(*v, 200, 2, "F");
    NewDir* inFolder = fileNode(*v, 201, 200, "in.bin", 100);
    NewDir* underFile = fileNode(*v, 203, 202, "under.bin", 100);
    park(*v->btreeOrphAdvScanEntries, v->orphAdvScanEntriesTotal,
         {folder, inFolder, fileNode(*v, 202, 2, "p.bin", 100), underFile});
    OrphanEntries orphans(*v);
    orphans.processOrphanAdvScanEntriesWithIncrement(true, false);
    EXPECT_EQ(inFolder->pndirPointer, folder);
    EXPECT_EQ(underFile->pndirPointer, nullptr);
    EXPECT_EQ(folder->pndirPointer, nullptr); // the root is not among the fragments
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    const auto tree = listTree(v->dirRoot);
    EXPECT_TRUE(tree.count("Lost Folders/LostFolder2/F/in.bin"));
    EXPECT_EQ(namesIn(tree, "Lost Files"), (Names{"p.bin", "under.bin"}));
}

// Empty, nameless, beyond the volume's last block, or without a parent.
TEST_F(DeepScan, TheSecondPassLeavesImplausibleFilesOut) {
    auto v = memoryVolume(); // 1024 blocks
    CatalogFragmentSearch(*v).searchCatFrags();
    OrphanEntries orphans(*v);
    orphans.processOrphanAdvScanEntriesWithIncrement(true, false); // makes "Lost Files"
    park(*v->btreeOrphAdvScanEntries, v->orphAdvScanEntriesTotal,
         {fileNode(*v, 300, 999, "empty.bin", 0), fileNode(*v, 301, 999, "", 100),
          fileNode(*v, 302, 999, "beyond.bin", 100, 1025), fileNode(*v, 303, 999, "atend.bin", 100, 1024),
          fileNode(*v, 304, 0, "noparent.bin", 100)});
    orphans.processOrphanAdvScanEntriesRun2WithIncrement(true, false);
    EXPECT_EQ(namesIn(listTree(v->dirRoot), "Lost Files"), (Names{"atend.bin"}));
    EXPECT_EQ(v->dirLostFiles->childrenArrayCount(), 1u);
}

TEST_F(DeepScan, AStoppedScanPlacesNothingAndLeaksNothing) {
    auto v = memoryVolume();
    CatalogFragmentSearch(*v).searchCatFrags();
    park(*v->btreeOrph, v->orphEntriesTotal, {fileNode(*v, 300, 2, "a.bin", 100)});
    park(*v->btreeOrphAdvScanEntries, v->orphAdvScanEntriesTotal, {folderNode(*v, 301, 999, "F")});
    v->setStopTreeThread(true);
    OrphanEntries orphans(*v);
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
    // The catalog walk ran before the stop: the live tree is there.
    EXPECT_TRUE(listTree(v->dirRoot).count("Docs/f0"));
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
    const auto orphan = b.addFolderWithID(500, 123, "Orphan");
    b.addFile(orphan, "o.bin", bytes(5000, 2));
    // Parent 701 survives only in a stale node: the first pass places this one.
    const auto gone = b.addDeletedFolderWithID(701, docs, "Gone");
    const auto kept = b.addFolderWithID(700, gone, "Kept");
    b.addFile(kept, "k.bin", bytes(7000, 3));
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
    EXPECT_EQ(v->folderCount, folders);
    EXPECT_EQ(v->fileCount, files);
    EXPECT_EQ(v->entryCount, folders + files);
    EXPECT_EQ(v->dataSize, data);
}
