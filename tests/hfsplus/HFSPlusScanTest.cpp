// The normal HFS+ tree scan's steps on the macOS-made volume and the xorriso image: folders, files, IDs and parents
// against fls (the tools tests compare paths, IDs and bytes of files with fls and icat through scan-image); damaged
// copies must still give the tree or end cleanly.

#include "formats/HFSPlusStructures.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "hfsplus/HFSPlusVolume.h"
#include "platform/ByteView.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/NewDir.h"
#include "volume/NodePool.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace testsupport;
using platform::ByteView;
using platform::Dict;

namespace {

struct Image {
    fs::path path;
    std::uint64_t start = 0;   // first 512-byte sector of the HFS+ volume
    std::uint64_t sectors = 0; // volume length in sectors
};

Image macVolume() {
    const fs::path p = copyOfReadyImage("hfsplus.raw");
    return {p, 0, fs::file_size(p) / 512};
}

// A copy of the xorriso image; no path when it was not made.
Image xorrisoVolume() {
    const auto iso = xorrisoImage();
    if (!iso) return {};
    const fs::path p = copyToTemp(iso.path);
    return {p, iso.start, fs::file_size(p) / 512 - iso.start};
}

struct Outcome {
    bool headerFound = false, treesValid = false, treeBuilt = false;
};

Outcome runNormalScan(HFSPlusReaderState& state) {
    Outcome o;
    Volume& v = state.volume;
    v.resetSigArraysAndBtreesAndOthers();
    HFSPlusVolume hfs(state);
    o.headerFound = hfs.initializeVIB();
    if (!o.headerFound) return o;
    o.treesValid = hfs.checkCatalogAndExtentsFile();
    if (!o.treesValid) {
        hfs.getCatalogExtFromVIB();
        return o;
    }
    CatalogNodeSearch(state).findCatalogLeafNodes();
    if (v.firstLeafNode != 0 && v.catNodeSize != 0) {
        CatalogReader(state).makeTree();
        o.treeBuilt = true;
    }
    return o;
}

// A volume as the partition search reports one; parked entries belong to nobody before the orphan passes, which
// these tests do not run, so the fixture frees them.
class HFSPlusScan : public ScanFixture {
public:
    using ScanFixture::hfsState;
    std::shared_ptr<Volume> volumeFor(const Image& image, std::uint64_t sectors = 0,
                                      std::uint32_t bytesPerSector = 512) {
        return keep(volumeOver(image.path, image.start, sectors ? sectors : image.sectors, bytesPerSector));
    }
};

std::size_t filesIn(const std::set<std::string>& list) {
    return std::count_if(list.begin(), list.end(), [](const std::string& e) { return e[0] == 'r'; });
}

struct Found {
    NewDir *node = nullptr, *parent = nullptr;
    std::string path; // from the root, as fls gives it
};

// Every node below the root by file ID (the catalog's IDs are unique).
std::map<std::uint32_t, Found> treeByID(Volume& v, std::size_t* nodes = nullptr) {
    std::map<std::uint32_t, Found> byID;
    std::size_t count = 0;
    std::vector<Found> pending{{v.dirRoot, nullptr, ""}};
    while (v.dirRoot && !pending.empty()) {
        Found f = pending.back();
        pending.pop_back();
        for (NewDir* child : f.node->childList) {
            ++count;
            const std::string name = newdir::utf8(newdir::fileName(child));
            Found c{child, f.node, f.path.empty() ? name : f.path + "/" + name};
            byID[child->fileID] = c;
            if (child->isFolder()) pending.push_back(c);
        }
    }
    if (nodes) *nodes = count;
    return byID;
}

std::map<std::uint32_t, std::string> treeSignature(Volume& v) {
    std::map<std::uint32_t, std::string> sig;
    for (const auto& [id, f] : treeByID(v)) {
        std::ostringstream s;
        s << f.path << '|' << f.node->fileType << '|' << f.node->parentID << '|' << (f.parent ? f.parent->fileID : 0)
          << '|' << f.node->fileSize << '|' << f.node->fileCount << '|' << f.node->childrenCount << '|'
          << newdir::utf8(newdir::pathName(f.node));
        for (const ExtP& e : f.node->extents)
            s << '|' << e.startBlock << '+' << e.blockCount;
        sig[id] = s.str();
    }
    return sig;
}

// The tree as fls lists it, "kind ID parent/folder path" an entry (the record's parent ID, the holding folder's ID).
// fls shows control characters as '^'; the private folder's name begins with four NULs, so it has none here.
std::set<std::string> treeAsFlsListsIt(Volume& v) {
    std::set<std::string> out;
    std::size_t nodes = 0;
    for (const auto& [id, f] : treeByID(v, &nodes)) {
        EXPECT_EQ(f.node->pndirPointer, f.parent) << f.path;
        std::string path = f.path;
        for (char& c : path)
            if (static_cast<unsigned char>(c) < 0x20) c = '^';
        if (path.empty() || path.starts_with('/')) path = "^^^^HFS+ Private Data" + path;
        out.insert(std::string(f.node->isFolder() ? "d " : "r ") + std::to_string(id) + " " +
                   std::to_string(f.node->parentID) + "/" + std::to_string(f.parent->fileID) + " " + path);
    }
    EXPECT_EQ(nodes, out.size()) << "file IDs met twice";
    return out;
}

// What `fls -r -p` lists in that form, less deleted entries (not the normal scan's) and the special files
// ($ExtentsFile ...) it adds from the volume header.
std::set<std::string> flsList(const fs::path& image, std::uint64_t start) {
    std::map<std::string, std::pair<char, std::uint32_t>> byPath; // kind and ID
    std::istringstream lines(
        runCommand("fls -r -p -f hfs -o " + std::to_string(start) + " " + shellQuoted(image)).value_or(""));
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t'), colon = line.find(':'), space = line.find(' ');
        if (tab == std::string::npos || colon == std::string::npos || space == std::string::npos) continue;
        const auto id = static_cast<std::uint32_t>(std::stoul(line.substr(space + 1, colon - space - 1)));
        const std::string path = line.substr(tab + 1);
        if (line.find('*') > tab && !(path.starts_with('$') && id < 16)) byPath[path] = {line[0], id};
    }
    std::set<std::string> out;
    for (const auto& [path, e] : byPath) {
        const auto slash = path.rfind('/');
        const std::string parent =
            slash == std::string::npos ? "2" : std::to_string(byPath.at(path.substr(0, slash)).second);
        out.insert(std::string(e.first == 'd' ? "d " : "r ") + std::to_string(e.second) + " " + parent + "/" + parent +
                   " " + path);
    }
    return out;
}

// Where the nodes of an image's catalog lie, from a scan of a good copy.
struct CatalogLayout {
    std::uint32_t nodeBytes = 0, root = 0, firstLeaf = 0;
    std::vector<std::uint32_t> leavesInKeyOrder, level2Nodes;
    std::map<std::uint32_t, std::uint64_t> offsetOfNode; // byte offset in the image file
};

CatalogLayout layoutOf(const Image& image) {
    CatalogLayout layout;
    auto v = volumeOver(image.path, image.start, image.sectors);
    HFSPlusReaderState state(*v);
    HFSPlusVolume hfs(state);
    if (!hfs.initializeVIB() || !hfs.checkCatalogAndExtentsFile()) return layout;
    CatalogNodeSearch(state).enumerateLevel2IndexNodes();
    layout.nodeBytes = static_cast<std::uint32_t>(hfs.catNodeBytes());
    layout.root = v->catRootNode;
    layout.firstLeaf = v->firstLeafNode;
    if (state.leafNodePointerArray) layout.leavesInKeyOrder = *state.leafNodePointerArray;
    for (std::uint32_t n = 0; hfs.catNodeToSector(n) != 0; ++n) {
        const std::uint64_t sector = hfs.catNodeToSector(n);
        layout.offsetOfNode[n] = sector * 512;
        std::vector<std::uint8_t> node;
        if (hfs.readNode(sector, v->catNodeSize, node) && CatalogNodeSearch::isIndexNode(ByteView(node), 2))
            layout.level2Nodes.push_back(n);
    }
    return layout;
}

TEST_F(HFSPlusScan, VolumeMadeByMacOSGivesTheTreeSleuthKitReads) {
    const Image image = macVolume();
    if (!haveTool("fls") || !haveTool("icat")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    auto v = volumeFor(image);
    ASSERT_TRUE(runNormalScan(hfsState(*v)).treeBuilt);
    // A single leaf is not enumerated and nothing is searched for.
    EXPECT_FALSE(hfsState(*v).leafNodePointerArray);
    EXPECT_FALSE(hfsState(*v).leafNodePointerTotalArray);
    EXPECT_EQ(hfsState(*v).orphEntriesTotal, 0u);
    const auto fls = flsList(image.path, 0);
    EXPECT_EQ(filesIn(fls), 8u);
    EXPECT_EQ(treeAsFlsListsIt(*v), fls);
    // Each file's bytes (so its size) against icat, .fseventsd files and the link too: the tools tests leave them out.
    for (const auto& [id, f] : treeByID(*v))
        EXPECT_EQ(readThroughExtents(*v, *f.node),
                  f.node->isFolder() ? ""
                                     : runCommand("icat -f hfs " + shellQuoted(image.path) + " " + std::to_string(id)))
            << f.path;
    // The root stands for the volume's root folder; folders directly below it have the path "1/Root".
    EXPECT_EQ(newdir::utf8(newdir::fileName(v->dirRoot)), "Root");
    EXPECT_EQ(newdir::utf8(newdir::pathName(treeByID(*v).at(18).node)), "1/Root");
    EXPECT_EQ(std::tuple(v->fileCount, v->folderCount, v->entryCount), std::tuple(8u, 4u, 12u));
}

TEST_F(HFSPlusScan, XorrisoVolumeGivesTheTreeSleuthKitReads) {
    const Image image = xorrisoVolume();
    if (image.path.empty()) GTEST_SKIP() << "xorriso image not made";
    if (!haveTool("fls")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    auto v = volumeFor(image);
    ASSERT_TRUE(runNormalScan(hfsState(*v)).treeBuilt);
    EXPECT_EQ(v->HPlusVolStart(), image.start);
    EXPECT_FALSE(hfsState(*v).level2IndexNodeHasProblems);
    ASSERT_TRUE(hfsState(*v).leafNodePointerArray);
    EXPECT_EQ(hfsState(*v).leafNodePointerArray->size(), 252u);
    EXPECT_EQ(hfsState(*v).leafNodePointerArray->front(), v->firstLeafNode);
    EXPECT_FALSE(hfsState(*v).leafNodePointerTotalArray);
    EXPECT_EQ(hfsState(*v).leafRecords, 6536u / 2);
    const auto fls = flsList(image.path, image.start);
    EXPECT_EQ(filesIn(fls), 3005u);
    EXPECT_EQ(treeAsFlsListsIt(*v), fls);
    EXPECT_EQ(hfsState(*v).orphEntriesTotal, 0u);
    EXPECT_EQ(std::tuple(v->fileCount, v->folderCount, v->dirRoot->fileCount, v->dirRoot->childrenCount),
              std::tuple(3005u, 262u, 3005u, 3005u + 262u));
    const auto manifest = xorrisoManifest();
    EXPECT_EQ(v->dataSize, std::accumulate(manifest.begin(), manifest.end(), 0ull,
                                           [](std::uint64_t n, const auto& e) { return n + e.second.size; }));
}

TEST_F(HFSPlusScan, ProgressIsPostedAtTheStepsAndHandedOverBetween) {
    const Image image = xorrisoVolume();
    if (image.path.empty()) GTEST_SKIP() << "xorriso image not made";
    auto v = volumeFor(image);
    ASSERT_TRUE(runNormalScan(hfsState(*v)).treeBuilt);
    const auto posts = controller.callsNamed("updateProgress:");
    ASSERT_GE(posts.size(), 5u);
    const char* opening[] = {"Checking Extents File ...", "Checking Extents File ... done",
                             "Checking Catalog File ..."};
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_EQ(posts[i].dictValue().get("Progress Status").description(), opening[i]);
    // The walk: its opening, then only its closing; records in between go through the once-a-second hand-over.
    EXPECT_LE(posts.size(), 7u);
    const Dict& last = posts.back().dictValue();
    EXPECT_EQ(last.get("Progress Status").description(), "default");
    EXPECT_EQ(last.get("BarDoubleValue").unsignedIntValue(), hfsState(*v).leafRecords);
    EXPECT_EQ(last.get("Files").unsignedIntValue(), 3005u);
    EXPECT_EQ(last.get("Entries Found").unsignedIntValue(), 3267u);
    const auto names = controller.callNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "setUpTimer"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "invalidateTimer"), 1);
    EXPECT_TRUE(v->timerFireMethodCanRun());
    EXPECT_EQ(v->dataUpdate.get("Progress Status").description(), "default");
    EXPECT_FALSE(controller.terminateRequested());
    EXPECT_TRUE(controller.alerts().empty());
}

TEST_F(HFSPlusScan, NodeNumbersMapToSectorsInsideTheCatalogOnly) {
    const Image image = xorrisoVolume();
    if (image.path.empty()) GTEST_SKIP() << "xorriso image not made";
    auto v = volumeFor(image);
    HFSPlusVolume hfs(hfsState(*v));
    ASSERT_TRUE(hfs.initializeVIB());
    ASSERT_TRUE(hfs.checkCatalogAndExtentsFile());
    // One extent of 514 blocks of 4 sectors, nodes of 8 sectors.
    ASSERT_EQ(v->catalogExt.size(), 1u);
    const std::uint64_t first = image.start + static_cast<std::uint64_t>(v->catalogExt[0].startBlock()) * 4;
    EXPECT_EQ(std::tuple(hfs.catNodeToSector(0), hfs.catNodeToSector(256), hfs.catNodeToSector(257),
                         hfs.catNodeToSector(0xFFFFFFFFu)),
              std::tuple(first, first + 256 * 8, 0u, 0u));
    // Neither volume has an extents B-tree: the lookup has nothing to ask.
    EXPECT_EQ(v->extRootNode, 0u);
    EXPECT_FALSE(hfs.extentsForID(21, 0, 0, 10).has_value());
}

// Damage to the catalog of a copy of the xorriso volume, against the tree of the good copy.
class HFSPlusScanBrokenCatalog : public HFSPlusScan {
protected:
    void SetUp() override {
        HFSPlusScan::SetUp();
        image_ = xorrisoVolume();
        if (image_.path.empty()) GTEST_SKIP() << "xorriso image not made";
        auto good = volumeFor(image_);
        ASSERT_TRUE(runNormalScan(hfsState(*good)).treeBuilt);
        reference_ = treeSignature(*good);
        ASSERT_EQ(reference_.size(), 3267u);
        layout_ = layoutOf(image_);
        ASSERT_EQ(layout_.leavesInKeyOrder.size(), 252u);
        ASSERT_EQ(layout_.level2Nodes.size(), 3u);
    }

    void setForwardLink(std::uint32_t node, std::uint32_t link) {
        writeAt(image_.path, layout_.offsetOfNode.at(node), be32(link));
    }
    // Makes a node fail every node test: kind 0x7F, height 0x7F.
    void spoilNode(std::uint32_t node) { writeAt(image_.path, layout_.offsetOfNode.at(node) + 8, {0x7F, 0x7F}); }
    // The root and the level above the leaves.
    void spoilIndex() {
        spoilNode(layout_.root);
        for (std::uint32_t n : layout_.level2Nodes)
            spoilNode(n);
    }

    std::shared_ptr<Volume> rescan() {
        auto v = volumeFor(image_);
        EXPECT_TRUE(runNormalScan(hfsState(*v)).treeBuilt);
        return v;
    }

    // Each entry of the good scan is in the tree or parked, never both; files in the tree are as in the good scan
    // (folder totals count only what is attached so far).
    void expectPlacedOrParked(Volume& v) {
        EXPECT_GT(hfsState(v).orphEntriesTotal, 0u);
        EXPECT_EQ(v.entryCount, 3267u);
        const auto tree = treeSignature(v);
        const auto byID = treeByID(v);
        std::size_t parked = 0;
        for (const auto& [id, sig] : reference_) {
            SCOPED_TRACE(sig);
            const bool isParked = hfsState(v).btreeOrph->retrieveKeyField(id) != nullptr;
            parked += isParked;
            EXPECT_NE(tree.count(id), static_cast<std::size_t>(isParked));
            if (tree.count(id) && !byID.at(id).node->isFolder()) {
                EXPECT_EQ(tree.at(id), sig);
            }
        }
        EXPECT_EQ(parked, hfsState(v).orphEntriesTotal);
    }

    Image image_;
    std::map<std::uint32_t, std::string> reference_;
    CatalogLayout layout_;
};

// The walk goes on with the leaves of the index when the chain breaks off, points at an index node, ends at the
// first leaf or runs in a circle.
TEST_F(HFSPlusScanBrokenCatalog, BrokenForwardLinksGoOnWithTheLeavesOfTheIndex) {
    const auto& leaves = layout_.leavesInKeyOrder;
    const std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> damages{
        {{leaves[100], 0xDEADBEEF}},
        {{leaves[30], layout_.level2Nodes[1]}},
        {{layout_.firstLeaf, 0}},
        {{leaves[150], leaves[40]}, {leaves.back(), layout_.firstLeaf}}};
    const fs::path intact = copyToTemp(image_.path);
    for (const auto& links : damages) {
        SCOPED_TRACE(links.front().first);
        for (auto [node, link] : links)
            setForwardLink(node, link);
        auto v = rescan();
        EXPECT_FALSE(hfsState(*v).level2IndexNodeHasProblems);
        EXPECT_EQ(treeSignature(*v), reference_);
        EXPECT_EQ(hfsState(*v).orphEntriesTotal, 0u);
        freeVolumes();
        fs::copy_file(intact, image_.path, fs::copy_options::overwrite_existing);
    }
}

TEST_F(HFSPlusScanBrokenCatalog, ChainSkippingLeavesParksWhatItMeetsBeforeTheParent) {
    // Leaves 201 to 209 are read last, from the index: entries of their folders met before them wait.
    setForwardLink(layout_.leavesInKeyOrder[200], layout_.leavesInKeyOrder[210]);
    expectPlacedOrParked(*rescan());
}

TEST_F(HFSPlusScanBrokenCatalog, FolderRecordMetBeforeItsParentIsParkedWithItsEntries) {
    // The walk starts at the second half (the header's first leaf): what is below folders of the first half waits.
    writeAt(image_.path, layout_.offsetOfNode.at(0) + 14 + 10, be32(layout_.leavesInKeyOrder[126]));
    spoilIndex();
    expectPlacedOrParked(*rescan());
}

// With the root spoilt the search for the level above the leaves makes up for it; the flag, never cleared by it,
// also has the leaves searched for. With that level spoilt too, the leaf sweep gives them in file (here key) order.
TEST_F(HFSPlusScanBrokenCatalog, DamagedIndexIsMadeUpForByTheSearchesForIndexAndLeafNodes) {
    setForwardLink(layout_.leavesInKeyOrder[100], 0xDEADBEEF);
    std::vector<std::uint32_t> sorted = layout_.leavesInKeyOrder;
    std::sort(sorted.begin(), sorted.end());
    for (bool level2Spoilt : {false, true}) {
        SCOPED_TRACE(level2Spoilt);
        if (level2Spoilt)
            spoilIndex();
        else
            spoilNode(layout_.root);
        auto v = rescan();
        EXPECT_TRUE(hfsState(*v).level2IndexNodeHasProblems);
        ASSERT_TRUE(hfsState(*v).leafNodePointerArray);
        EXPECT_EQ(*hfsState(*v).leafNodePointerArray,
                  level2Spoilt ? std::vector<std::uint32_t>{} : layout_.leavesInKeyOrder);
        ASSERT_TRUE(hfsState(*v).leafNodePointerTotalArray);
        EXPECT_EQ(*hfsState(*v).leafNodePointerTotalArray, sorted);
        EXPECT_EQ(treeSignature(*v), reference_);
        freeVolumes();
    }
}

TEST_F(HFSPlusScanBrokenCatalog, StopRequestEndsTheWalkWithWhatItBuilt) {
    auto v = volumeFor(image_);
    v->resetSigArraysAndBtreesAndOthers();
    HFSPlusVolume hfs(hfsState(*v));
    ASSERT_TRUE(hfs.initializeVIB());
    ASSERT_TRUE(hfs.checkCatalogAndExtentsFile());
    v->setStopTreeThread(true);
    CatalogNodeSearch(hfsState(*v)).enumerateLevel2IndexNodes();
    EXPECT_TRUE(hfsState(*v).leafNodePointerArray->empty());
    EXPECT_TRUE(CatalogReader(hfsState(*v)).makeTree());
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_TRUE(v->dirRoot->childList.empty());
    const auto posts = controller.callsNamed("updateProgress:");
    ASSERT_FALSE(posts.empty());
    EXPECT_TRUE(posts.back().dictValue().contains("BarDoubleValue"));
}

TEST_F(HFSPlusScan, DeeplyNestedFoldersTakeMemoryLinearInTheirDepthAndGiveItAllBack) {
    // Each folder's path is its parent's path and name: stored whole, these
    // take more than half a gigabyte.
    constexpr std::uint32_t kDepth = 10000;
    HFSPlusImageBuilder b({.totalSize = 16u << 20, .catalogNodeCount = 1024});
    std::uint32_t parent = HFSPlusImageBuilder::kRoot;
    for (std::uint32_t i = 0; i < kDepth; ++i)
        parent = b.addFolder(parent, "dir" + std::to_string(i));
    b.addFile(parent, "f", {1});
    const fs::path image = makeTempDir("deep") / "deep.img";
    writeText(image, asString(b.build()));
    const std::size_t before = NodePool::shared().bytesInUse();
    auto v = keep(scannedVolume(image));
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_LE(NodePool::shared().bytesInUse() - before, std::size_t{512} * kDepth);
    std::vector<NewDir*> chain{v->dirRoot};
    while (chain.size() <= kDepth && chain.back()->childrenArrayCount() == 1)
        chain.push_back(chain.back()->childList[0]);
    ASSERT_EQ(chain.size(), kDepth + 1);
    EXPECT_EQ(newdir::pathName(chain[3]), u"1/Root/dir0/dir1");
    // A path too long for the record is refused; the one below it starts
    // again from the name.
    auto below = [&](std::size_t i) { return newdir::pathName(chain[i - 1]) + u"/" + newdir::fileName(chain[i - 1]); };
    const auto refused = std::find_if(chain.begin() + 1, chain.end(), [](NewDir* d) { return d->pathLength == 0; });
    ASSERT_NE(refused, chain.end());
    const auto first = static_cast<std::size_t>(refused - chain.begin());
    EXPECT_EQ(newdir::pathName(chain[first - 1]), below(first - 1));
    EXPECT_GT(below(first).size(), 0xFFFFu);
    EXPECT_EQ(newdir::pathName(chain[first + 1]), below(first + 1));
    freeVolumes();
    EXPECT_EQ(NodePool::shared().bytesInUse(), before);
}

TEST_F(HFSPlusScan, BlockSizeThatIsNoWholeNumberOfSectorsMakesTheVolumeUnusable) {
    const Image image = macVolume();
    for (std::uint32_t blockSize : {0u, 100u, 1000u}) {
        SCOPED_TRACE(blockSize);
        writeAt(image.path, 1024 + 40, be32(blockSize));
        auto v = volumeFor(image);
        EXPECT_FALSE(runNormalScan(hfsState(*v)).headerFound);
        EXPECT_EQ(v->blockSize(), 0u);
        EXPECT_EQ(v->dirRoot, nullptr);
        // The deleted-file scan's reader tests no signature but still refuses the size; the checks refuse the volume.
        HFSPlusVolume hfs(hfsState(*v));
        hfs.fillVIB();
        EXPECT_EQ(v->blockSize(), 0u);
        EXPECT_FALSE(hfs.checkCatalogAndExtentsFile());
        EXPECT_EQ(hfs.catNodeToSector(1), 0u);
    }
}

// The node size at byte 18 of the header record, in node 0 of the catalog (block 186) and of the extents file (2).
TEST_F(HFSPlusScan, NodeSizeThatIsNoWholeNumberOfSectorsMakesTheTreesUnusable) {
    const Image image = macVolume();
    for (std::uint64_t nodeSizeAt : {186ull * 4096 + 14 + 18, 2ull * 4096 + 14 + 18}) {
        const auto saved = readBytesAt(image.path, nodeSizeAt, 2);
        for (std::uint16_t nodeSize : {0, 1000, 100}) {
            SCOPED_TRACE(nodeSize);
            writeAt(image.path, nodeSizeAt, be16(nodeSize));
            auto v = volumeFor(image);
            const Outcome o = runNormalScan(hfsState(*v));
            EXPECT_TRUE(o.headerFound);
            EXPECT_FALSE(o.treesValid || o.treeBuilt);
            EXPECT_EQ(hfsState(*v).catalogExtAsPerVIB.size(),
                      1u); // what the header lists is kept for the advanced scan
        }
        writeAt(image.path, nodeSizeAt, saved);
    }
}

TEST_F(HFSPlusScan, SectorsOf4096BytesGiveTheSameTree) {
    const Image image = macVolume();
    auto small = volumeFor(image);
    ASSERT_TRUE(runNormalScan(hfsState(*small)).treeBuilt);
    auto large = volumeFor(image, image.sectors / 8, 4096);
    ASSERT_TRUE(runNormalScan(hfsState(*large)).treeBuilt);
    EXPECT_EQ(large->blockSize(), 1u);
    EXPECT_EQ(large->catNodeSize, 1);
    const auto a = treeByID(*small), b = treeByID(*large);
    ASSERT_EQ(a.size(), b.size());
    for (const auto& [id, f] : a) {
        SCOPED_TRACE(f.path);
        ASSERT_EQ(b.count(id), 1u);
        EXPECT_EQ(b.at(id).path, f.path);
        EXPECT_EQ(readThroughExtents(*large, *b.at(id).node), readThroughExtents(*small, *f.node)); // folders: none
    }
}

// Cut in the volume header, the catalog's header node and mid-catalog; the volume as the partition map describes it
// and as long as what is left.
TEST_F(HFSPlusScan, TruncatedImagesEndWithATreeOrTheNotFoundAnswer) {
    const Image full = xorrisoVolume();
    if (full.path.empty()) GTEST_SKIP() << "xorriso image not made";
    const CatalogLayout layout = layoutOf(full);
    ASSERT_FALSE(layout.offsetOfNode.empty());
    const std::uint64_t catalogStart = layout.offsetOfNode.at(0), catalogMiddle = layout.offsetOfNode.at(128);
    const std::uint64_t volumeStart = full.start * 512;
    for (std::uint64_t length : {volumeStart, volumeStart + 1024, volumeStart + 1536, volumeStart + 4096, catalogStart,
                                 catalogStart + 100, catalogMiddle, catalogMiddle + 3000}) {
        SCOPED_TRACE(length);
        Image cut = full;
        cut.path = copyToTemp(full.path);
        fs::resize_file(cut.path, length);
        for (std::uint64_t sectors : {full.sectors, std::max<std::uint64_t>(1, length / 512 - full.start)}) {
            auto v = volumeFor(cut, sectors);
            if (runNormalScan(hfsState(*v)).treeBuilt) {
                ASSERT_NE(v->dirRoot, nullptr);
                EXPECT_LE(v->entryCount, 3267u);
            } else {
                EXPECT_EQ(v->dirRoot, nullptr);
            }
            EXPECT_TRUE(length >= catalogMiddle || v->fileCount == 0) << v->fileCount << " files";
        }
        fs::remove(cut.path);
    }
}

// Random bytes over catalog nodes (index, leaves, header): the scan ends with a tree or the not-found answer, ASan
// quiet. The seeds are fixed so a failure can be run again.
void scrambleAndScan(HFSPlusScan& test, const Image& image, const CatalogLayout& layout, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::map<std::uint64_t, std::vector<std::uint8_t>> saved;
    const int damagedNodes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < damagedNodes; ++k) {
        const std::uint64_t at = layout.offsetOfNode.at(rng() % layout.offsetOfNode.size()); // nodes 0 to n - 1
        if (!saved.count(at)) saved[at] = readBytesAt(image.path, at, layout.nodeBytes);
        std::vector<std::uint8_t> bytes = saved[at];
        switch (rng() % 3) {
        case 0: // a few bytes anywhere, the descriptor and offsets included
            for (int i = 0; i < 16; ++i)
                bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
            break;
        case 1: // the record-offset table
            for (std::size_t i = bytes.size() - 64; i < bytes.size(); ++i)
                if (rng() % 3 == 0) bytes[i] = static_cast<std::uint8_t>(rng());
            break;
        default: // all of it, keeping a leaf's look so the records are read
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(rng());
            bytes[8] = 0xFF;
            bytes[9] = 1;
            break;
        }
        writeAt(image.path, at, bytes);
    }
    auto v = test.volumeFor(image);
    if (runNormalScan(test.hfsState(*v)).treeBuilt) {
        EXPECT_NE(v->dirRoot, nullptr);
        for (const auto& [id, f] : treeByID(*v))
            EXPECT_LE(f.node->nameLength, 255u);
    } else {
        EXPECT_EQ(v->dirRoot, nullptr);
    }
    for (const auto& [at, bytes] : saved)
        writeAt(image.path, at, bytes);
}

using HFSPlusScanRandomCatalogBytes = HFSPlusScan;

// Each scan's tree is freed as it goes: the xorriso image is large.
TEST_F(HFSPlusScanRandomCatalogBytes, InTheCatalogsOfTheMacAndTheXorrisoVolumes) {
    const Image mac = macVolume(), xorriso = xorrisoVolume();
    if (xorriso.path.empty()) GTEST_SKIP() << "xorriso image not made";
    for (const auto& [image, nodes, firstSeed] : {std::tuple{mac, 8u, 1u}, std::tuple{xorriso, 257u, 100u}}) {
        const CatalogLayout layout = layoutOf(image);
        ASSERT_EQ(layout.offsetOfNode.size(), nodes);
        for (std::uint32_t seed = firstSeed; seed < firstSeed + 40; ++seed) {
            SCOPED_TRACE(seed);
            scrambleAndScan(*this, image, layout, seed);
            freeVolumes();
        }
    }
}

} // namespace

// A readable catalog just before a bad area of a dying disk (file data behind the B-trees): the read-ahead window
// reaching into the area fails once, not once a leaf, and the tree is the sound disk's.
TEST_F(HFSPlusScan, ACatalogJustBeforeABadAreaCostsOneFailedRead) {
    const Image image = xorrisoVolume();
    ASSERT_FALSE(image.path.empty());
    auto sound = volumeFor(image);
    ASSERT_TRUE(runNormalScan(hfsState(*sound)).treeBuilt);
    const Extent& trees = std::max(sound->catalogExt.back(), sound->extentsExt.back(),
                                   [](const Extent& a, const Extent& b) { return a.startBlock() < b.startBlock(); });
    FailingReads disk;
    disk.setDelay(std::chrono::milliseconds(20)); // a dying disk takes its time to give up
    disk.failSectors(sound->HPlusVolStart() + (trees.startBlock() + trees.blockCount() + 64ull) * sound->blockSize(),
                     100);
    auto v = volumeFor(image);
    v->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
    runNormalScan(hfsState(*v));
    EXPECT_EQ(treeSignature(*v), treeSignature(*sound));
    EXPECT_EQ(disk.failedReads(), 1u);
}
