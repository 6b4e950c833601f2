// The normal HFS+ tree scan, end to end: opening the volume, checking its
// B-tree headers, the searches for index and leaf nodes and the catalog
// walk, run in the order the scan thread runs them on a volume made by
// macOS and on the xorriso image. The found tree is compared with what The
// Sleuth Kit's fls, istat and icat read from the same image; damaged copies
// (broken leaf chains, a damaged index, nonsensical geometry, truncation,
// random bytes in catalog nodes) must still give the tree or end cleanly.

#include "formats/HFSPlusStructures.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusVolume.h"
#include "platform/ByteView.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/NewDir.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::ByteView;
using platform::Dict;
using testsupport::be16;
using testsupport::be32;
using testsupport::readThroughExtents;
using testsupport::runCommand;
using testsupport::writeAt;

namespace {

// ------------------------------------------------------------- tools ----

bool haveSleuthKit() {
    static const bool have =
        testsupport::haveTool("fls") && testsupport::haveTool("icat") && testsupport::haveTool("istat");
    return have;
}

// One entry of `fls -r -p`: kind letter, inode (the catalog node ID) and
// the path from the root.
struct FlsEntry {
    char kind = 0;
    std::uint32_t id = 0;
    std::string path;
};

std::string sleuthKit(const char* tool, const fs::path& image, std::uint64_t start, const std::string& args) {
    return runCommand(std::string(tool) + " -o " + std::to_string(start) + " -f hfs " +
                      testsupport::shellQuoted(image) + " " + args)
        .value_or("");
}

std::vector<FlsEntry> flsEntries(const fs::path& image, std::uint64_t start) {
    std::vector<FlsEntry> entries;
    std::istringstream lines(sleuthKit("fls", image, start, "-r -p"));
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        const auto colon = line.find(':');
        const auto space = line.find(' ');
        if (tab == std::string::npos || colon == std::string::npos || space == std::string::npos) continue;
        if (line.find('*') < tab) continue; // deleted entries: none expected, not the normal scan's
        entries.push_back({line[0], static_cast<std::uint32_t>(std::stoul(line.substr(space + 1, colon - space - 1))),
                           line.substr(tab + 1)});
    }
    return entries;
}

std::uint64_t istatSize(const fs::path& image, std::uint64_t start, std::uint32_t id) {
    const std::string out = sleuthKit("istat", image, start, std::to_string(id));
    const auto at = out.find("\nSize:");
    return at == std::string::npos ? UINT64_MAX : std::stoull(out.substr(at + 6));
}

// fls shows control characters of a name as '^'.
std::string asFlsShowsIt(std::string name) {
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20) c = '^';
    return name;
}

std::vector<std::uint8_t> readBytes(const fs::path& image, std::uint64_t offset, std::size_t n) {
    std::ifstream f(image, std::ios::binary);
    std::vector<std::uint8_t> bytes(n, 0);
    f.seekg(static_cast<std::streamoff>(offset));
    f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(n));
    return bytes;
}

// ------------------------------------------------------------ images ----

struct Image {
    fs::path path;
    std::uint64_t start = 0;   // first 512-byte sector of the HFS+ volume
    std::uint64_t sectors = 0; // volume length in sectors
};

Image macVolume() {
    const fs::path p = testsupport::copyOfReadyImage("hfsplus.raw");
    return {p, 0, fs::file_size(p) / 512};
}

Image xorrisoVolume() {
    const auto iso = testsupport::xorrisoImage();
    if (!iso) return {};
    const fs::path p = testsupport::copyToTemp(iso.path);
    return {p, iso.start, fs::file_size(p) / 512 - iso.start};
}

// ----------------------------------------------------------- the scan ----

struct Outcome {
    bool headerFound = false;
    bool treesValid = false;
    bool treeBuilt = false;
};

// The normal tree scan's HFS+ steps, in the scan thread's order.
Outcome runNormalScan(Volume& v) {
    Outcome o;
    v.resetSigArraysAndBtreesAndOthers();
    HFSPlusVolume hfs(v);
    o.headerFound = hfs.initializeVIB();
    if (!o.headerFound) return o;
    o.treesValid = hfs.checkCatalogAndExtentsFile();
    if (!o.treesValid) {
        hfs.getCatalogExtFromVIB();
        return o;
    }
    CatalogNodeSearch(v).findCatalogLeafNodes();
    if (v.firstLeafNode != 0 && v.catNodeSize != 0) {
        CatalogReader(v).makeTree();
        o.treeBuilt = true;
    }
    return o;
}

// A volume as the partition search reports one, read like a disk; parked
// entries belong to nobody until the orphan passes run, which these tests
// stop before, so the fixture frees them.
class Scan : public testsupport::ScanFixture {
public:
    std::shared_ptr<Volume> volumeFor(const Image& image, std::uint64_t sectors = 0,
                                      std::uint32_t bytesPerSector = 512) {
        return keep(
            testsupport::volumeOver(image.path, image.start, sectors ? sectors : image.sectors, bytesPerSector));
    }
};

using HFSPlusScan = Scan;

// ------------------------------------------------------- the found tree ----

struct Found {
    NewDir* node = nullptr;
    NewDir* parent = nullptr;
    std::string path; // from the root, as fls gives it
};

// Every node below the root by file ID (the catalog's IDs are unique).
std::map<std::uint32_t, Found> treeByID(Volume& v, std::size_t* nodes = nullptr) {
    std::map<std::uint32_t, Found> byID;
    std::size_t count = 0;
    if (!v.dirRoot) return byID;
    std::vector<Found> pending{{v.dirRoot, nullptr, ""}};
    while (!pending.empty()) {
        Found f = pending.back();
        pending.pop_back();
        for (NewDir* child : f.node->childList) {
            ++count;
            const std::string name = newdir::utf8(v.fileNameOfDir(child));
            Found c{child, f.node, f.path.empty() ? name : f.path + "/" + name};
            byID[child->fileID] = c;
            if (child->isFolder()) pending.push_back(c);
        }
    }
    if (nodes) *nodes = count;
    return byID;
}

// What a tree says about each entry, for comparing two scans.
std::map<std::uint32_t, std::string> treeSignature(Volume& v) {
    std::map<std::uint32_t, std::string> sig;
    for (const auto& [id, f] : treeByID(v)) {
        std::ostringstream s;
        s << f.path << '|' << f.node->fileType << '|' << f.node->parentID << '|' << (f.parent ? f.parent->fileID : 0)
          << '|' << f.node->fileSize << '|' << f.node->fileCount << '|' << f.node->childrenCount << '|'
          << newdir::utf8(v.pathNameOfDir(f.node));
        for (const ExtP& e : f.node->extents)
            s << '|' << e.startBlock << '+' << e.blockCount;
        sig[id] = s.str();
    }
    return sig;
}

// Every entry fls lists must be in the tree with its name, ID, parent and
// size (from istat, or from the manifest when given); the tree holds nothing
// else. Answers the files to read back.
std::vector<const FlsEntry*> expectTreeMatchesFls(Volume& v, const Image& image, const std::vector<FlsEntry>& fls,
                                                  const std::map<std::string, testsupport::ManifestEntry>* sizes) {
    std::size_t nodes = 0;
    const auto byID = treeByID(v, &nodes);
    std::map<std::string, std::uint32_t> idOfPath;
    for (const FlsEntry& e : fls)
        idOfPath[e.path] = e.id;

    std::vector<const FlsEntry*> files;
    std::size_t expected = 0;
    for (const FlsEntry& e : fls) {
        // fls adds the volume's special files ($ExtentsFile, $CatalogFile,
        // ...) from the volume header; they are not catalog records.
        if (e.path.starts_with('$') && e.id < 16) continue;
        ++expected;
        SCOPED_TRACE(e.path);
        const auto it = byID.find(e.id);
        if (it == byID.end()) {
            ADD_FAILURE() << "missing from the tree";
            continue;
        }
        const Found& f = it->second;
        const auto slash = e.path.rfind('/');
        const std::string parentPath = slash == std::string::npos ? "" : e.path.substr(0, slash);
        const std::uint32_t parentID = parentPath.empty() ? 2 : idOfPath.at(parentPath);
        EXPECT_EQ(f.node->parentID, parentID);
        EXPECT_EQ(f.parent->fileID, parentID);
        EXPECT_EQ(f.node->pndirPointer, f.parent);
        const std::string name = newdir::utf8(v.fileNameOfDir(f.node));
        if (e.path.starts_with("^^^^HFS+ Private Data"))
            // Its name begins with four NUL units, and names end at the
            // first NUL: the clean-up calls it "Untitled", or drops it empty.
            EXPECT_EQ(name, "");
        else
            EXPECT_EQ(asFlsShowsIt(name), e.path.substr(slash == std::string::npos ? 0 : slash + 1));
        EXPECT_EQ(f.node->fileType, e.kind == 'd' ? NewDir::Folder : NewDir::File);
        if (e.kind == 'd') continue;
        const std::uint64_t size = !sizes                 ? istatSize(image.path, image.start, e.id)
                                   : sizes->count(e.path) ? sizes->at(e.path).size
                                                          : UINT64_MAX;
        EXPECT_EQ(f.node->fileSize, size);
        files.push_back(&e);
    }
    EXPECT_EQ(nodes, expected) << "the tree holds entries fls does not list";
    return files;
}

void expectContentMatchesIcat(Volume& v, const Image& image, const std::vector<const FlsEntry*>& files) {
    const auto byID = treeByID(v);
    for (const FlsEntry* e : files) {
        SCOPED_TRACE(e->path);
        EXPECT_EQ(readThroughExtents(v, *byID.at(e->id).node),
                  sleuthKit("icat", image.path, image.start, std::to_string(e->id)));
    }
}

// ------------------------------------------------------ catalog layout ----

// Where the nodes of an image's catalog lie, from a scan of a good copy.
struct CatalogLayout {
    std::uint32_t nodeBytes = 0;
    std::uint32_t root = 0;
    std::uint32_t firstLeaf = 0;
    std::vector<std::uint32_t> leavesInKeyOrder;
    std::vector<std::uint32_t> level2Nodes;
    std::map<std::uint32_t, std::uint64_t> offsetOfNode; // byte offset in the image file
};

CatalogLayout layoutOf(const Image& image) {
    CatalogLayout layout;
    auto v = testsupport::volumeOver(image.path, image.start, image.sectors);
    HFSPlusVolume hfs(*v);
    if (!hfs.initializeVIB() || !hfs.checkCatalogAndExtentsFile()) return layout;
    CatalogNodeSearch(*v).enumerateLevel2IndexNodes();
    layout.nodeBytes = static_cast<std::uint32_t>(hfs.catNodeBytes());
    layout.root = v->catRootNode;
    layout.firstLeaf = v->firstLeafNode;
    if (v->leafNodePointerArray) layout.leavesInKeyOrder = *v->leafNodePointerArray;
    for (std::uint32_t n = 0;; ++n) {
        const std::uint64_t sector = hfs.catNodeToSector(n);
        if (sector == 0) break;
        layout.offsetOfNode[n] = sector * 512;
        std::vector<std::uint8_t> node;
        if (hfs.readNode(sector, v->catNodeSize, node) && CatalogNodeSearch::isIndexNode(ByteView(node), 2))
            layout.level2Nodes.push_back(n);
    }
    return layout;
}

#define REQUIRE_IMAGE(image)                                                                                           \
    do {                                                                                                               \
        if ((image).path.empty()) GTEST_SKIP() << "test image not available";                                          \
    } while (0)

// ====================================================== healthy volumes ====

TEST_F(HFSPlusScan, VolumeMadeByMacOSGivesTheTreeSleuthKitReads) {
    const Image image = macVolume();
    if (!haveSleuthKit()) GTEST_SKIP() << "The Sleuth Kit is not installed";
    auto v = volumeFor(image);
    ASSERT_TRUE(runNormalScan(*v).treeBuilt);
    // A single leaf is not enumerated and nothing is searched for.
    EXPECT_FALSE(v->leafNodePointerArray);
    EXPECT_FALSE(v->leafNodePointerTotalArray);
    EXPECT_EQ(v->orphEntriesTotal, 0u);

    const auto fls = flsEntries(image.path, 0);
    ASSERT_FALSE(fls.empty());
    const auto files = expectTreeMatchesFls(*v, image, fls, nullptr);
    EXPECT_EQ(files.size(), 8u);
    expectContentMatchesIcat(*v, image, files);

    // The root stands for the volume's root folder; folders directly below
    // it take "1/Root" as their path.
    EXPECT_EQ(newdir::utf8(v->fileNameOfDir(v->dirRoot)), "Root");
    EXPECT_EQ(newdir::utf8(v->pathNameOfDir(treeByID(*v).at(18).node)), "1/Root");
    EXPECT_EQ(v->fileCount, 8u);
    EXPECT_EQ(v->folderCount, 4u);
    EXPECT_EQ(v->entryCount, 12u);
}

TEST_F(HFSPlusScan, XorrisoVolumeGivesTheTreeSleuthKitReads) {
    const Image image = xorrisoVolume();
    REQUIRE_IMAGE(image);
    if (!haveSleuthKit()) GTEST_SKIP() << "The Sleuth Kit is not installed";
    auto v = volumeFor(image);
    ASSERT_TRUE(runNormalScan(*v).treeBuilt);
    EXPECT_EQ(v->HPlusVolStart(), image.start);
    EXPECT_FALSE(v->level2IndexNodeHasProblems);
    ASSERT_TRUE(v->leafNodePointerArray);
    EXPECT_EQ(v->leafNodePointerArray->size(), 252u);
    EXPECT_EQ(v->leafNodePointerArray->front(), v->firstLeafNode);
    EXPECT_FALSE(v->leafNodePointerTotalArray);
    EXPECT_EQ(v->leafRecords, 6536u / 2);

    const auto fls = flsEntries(image.path, image.start);
    ASSERT_GT(fls.size(), 3000u);
    const auto manifest = testsupport::xorrisoManifest();
    const auto files = expectTreeMatchesFls(*v, image, fls, &manifest);
    EXPECT_EQ(files.size(), 3005u);

    // Read back about fifty files: the large ones, the one in the folder
    // with a decomposed Unicode name, the empty one and a spread of the rest.
    std::vector<const FlsEntry*> sample;
    for (std::size_t i = 0; i < files.size(); ++i)
        if (i % 70 == 0 || !files[i]->path.starts_with("dir")) sample.push_back(files[i]);
    EXPECT_GE(sample.size(), 45u);
    expectContentMatchesIcat(*v, image, sample);

    // The whole volume, with nothing parked.
    EXPECT_EQ(v->orphEntriesTotal, 0u);
    EXPECT_EQ(v->fileCount, 3005u);
    EXPECT_EQ(v->folderCount, 262u);
    std::uint64_t bytes = 0;
    for (const auto& [path, e] : manifest)
        bytes += e.size;
    EXPECT_EQ(v->dataSize, bytes);
    EXPECT_EQ(v->dirRoot->fileCount, 3005u);
    EXPECT_EQ(v->dirRoot->childrenCount, 3005u + 262u);
}

TEST_F(HFSPlusScan, ProgressIsPostedAtTheStepsAndHandedOverBetween) {
    const Image image = xorrisoVolume();
    REQUIRE_IMAGE(image);
    auto v = volumeFor(image);
    ASSERT_TRUE(runNormalScan(*v).treeBuilt);

    const auto posts = controller.callsNamed("updateProgress:");
    std::vector<std::string> statuses;
    for (const auto& p : posts)
        statuses.push_back(p.dictValue().get("Progress Status").description());
    ASSERT_GE(statuses.size(), 5u);
    EXPECT_EQ(statuses[0], "Checking Extents File ...");
    EXPECT_EQ(statuses[1], "Checking Extents File ... done");
    EXPECT_EQ(statuses[2], "Checking Catalog File ...");
    // The walk: its opening, then only its closing; records in between go
    // through the once-a-second hand-over.
    EXPECT_LE(posts.size(), 7u);
    const Dict& last = posts.back().dictValue();
    EXPECT_EQ(last.get("Progress Status").description(), "default");
    EXPECT_EQ(last.get("BarDoubleValue").unsignedIntValue(), v->leafRecords);
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
    REQUIRE_IMAGE(image);
    auto v = volumeFor(image);
    HFSPlusVolume hfs(*v);
    ASSERT_TRUE(hfs.initializeVIB());
    ASSERT_TRUE(hfs.checkCatalogAndExtentsFile());
    // One extent of 514 blocks of 4 sectors, nodes of 8 sectors.
    ASSERT_EQ(v->catalogExt.size(), 1u);
    const std::uint64_t first = image.start + static_cast<std::uint64_t>(v->catalogExt[0].startBlock()) * 4;
    EXPECT_EQ(hfs.catNodeToSector(0), first);
    EXPECT_EQ(hfs.catNodeToSector(256), first + 256 * 8);
    EXPECT_EQ(hfs.catNodeToSector(257), 0u);
    EXPECT_EQ(hfs.catNodeToSector(0xFFFFFFFFu), 0u);
    // Neither volume has an extents B-tree: the lookup has nothing to ask.
    EXPECT_EQ(v->extRootNode, 0u);
    EXPECT_FALSE(hfs.extentsForID(21, 0, 0, 10).has_value());
}

// ======================================================= broken chains ====

class HFSPlusScanBrokenCatalog : public Scan {
protected:
    void SetUp() override {
        Scan::SetUp();
        image_ = xorrisoVolume();
        REQUIRE_IMAGE(image_);
        auto good = volumeFor(image_);
        ASSERT_TRUE(runNormalScan(*good).treeBuilt);
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

    std::shared_ptr<Volume> rescan() {
        auto v = volumeFor(image_);
        EXPECT_TRUE(runNormalScan(*v).treeBuilt);
        return v;
    }

    Image image_;
    std::map<std::uint32_t, std::string> reference_;
    CatalogLayout layout_;
};

// The walk goes on with the leaves of the index when the chain breaks off in
// the middle, points at an index node, ends at the first leaf or runs in a
// circle.
TEST_F(HFSPlusScanBrokenCatalog, BrokenForwardLinksGoOnWithTheLeavesOfTheIndex) {
    const auto& leaves = layout_.leavesInKeyOrder;
    const std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> damages{
        {{leaves[100], 0xDEADBEEF}},
        {{leaves[30], layout_.level2Nodes[1]}},
        {{layout_.firstLeaf, 0}},
        {{leaves[150], leaves[40]}, {leaves.back(), layout_.firstLeaf}}};
    for (const auto& links : damages) {
        SCOPED_TRACE(links.front().first);
        std::map<std::uint64_t, std::vector<std::uint8_t>> saved;
        for (auto [node, link] : links) {
            saved[layout_.offsetOfNode.at(node)] = readBytes(image_.path, layout_.offsetOfNode.at(node), 4);
            setForwardLink(node, link);
        }
        auto v = rescan();
        EXPECT_FALSE(v->level2IndexNodeHasProblems);
        EXPECT_EQ(treeSignature(*v), reference_);
        EXPECT_EQ(v->orphEntriesTotal, 0u);
        freeVolumes();
        for (const auto& [at, bytes] : saved)
            writeAt(image_.path, at, bytes);
    }
}

TEST_F(HFSPlusScanBrokenCatalog, ChainSkippingLeavesParksWhatItMeetsBeforeTheParent) {
    // Leaves 201 to 209 are read last, from the index, so entries of the
    // skipped-over folders met behind them wait for the orphan passes.
    setForwardLink(layout_.leavesInKeyOrder[200], layout_.leavesInKeyOrder[210]);
    auto v = rescan();
    EXPECT_GT(v->orphEntriesTotal, 0u);
    EXPECT_EQ(v->entryCount, 3267u);
    const auto tree = treeSignature(*v);
    const auto byID = treeByID(*v);
    std::size_t parked = 0;
    for (const auto& [id, sig] : reference_) {
        SCOPED_TRACE(sig);
        if (v->btreeOrph->retrieveKeyField(id) != nullptr) {
            ++parked;
            EXPECT_EQ(tree.count(id), 0u);
            continue;
        }
        ASSERT_EQ(tree.count(id), 1u);
        // Folder totals count only what is attached so far.
        if (!byID.at(id).node->isFolder()) {
            EXPECT_EQ(tree.at(id), sig);
        }
    }
    EXPECT_EQ(parked, v->orphEntriesTotal);
}

TEST_F(HFSPlusScanBrokenCatalog, DamagedRootIsMadeUpForByTheSearchForTheLevelAboveTheLeaves) {
    setForwardLink(layout_.leavesInKeyOrder[100], 0xDEADBEEF);
    spoilNode(layout_.root);
    auto v = rescan();
    // The descent failed; the file search found a node of the level and
    // walked it whole; the flag, never cleared by the search, also had the
    // leaves searched for.
    EXPECT_TRUE(v->level2IndexNodeHasProblems);
    ASSERT_TRUE(v->leafNodePointerArray);
    EXPECT_EQ(*v->leafNodePointerArray, layout_.leavesInKeyOrder);
    ASSERT_TRUE(v->leafNodePointerTotalArray);
    EXPECT_EQ(v->leafNodePointerTotalArray->size(), 252u);
    EXPECT_EQ(treeSignature(*v), reference_);
}

TEST_F(HFSPlusScanBrokenCatalog, WithoutAnyUsableIndexTheLeafSweepGivesTheTree) {
    setForwardLink(layout_.leavesInKeyOrder[100], 0xDEADBEEF);
    spoilNode(layout_.root);
    for (std::uint32_t n : layout_.level2Nodes)
        spoilNode(n);
    auto v = rescan();
    EXPECT_TRUE(v->level2IndexNodeHasProblems);
    ASSERT_TRUE(v->leafNodePointerArray);
    EXPECT_TRUE(v->leafNodePointerArray->empty());
    ASSERT_TRUE(v->leafNodePointerTotalArray);
    // In file order, which here is key order too.
    std::vector<std::uint32_t> sorted = layout_.leavesInKeyOrder;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(*v->leafNodePointerTotalArray, sorted);
    EXPECT_EQ(treeSignature(*v), reference_);
}

TEST_F(HFSPlusScanBrokenCatalog, FolderRecordMetBeforeItsParentIsParkedWithItsEntries) {
    // Start the walk at the second half of the catalog: what lies below
    // folders of the first half waits for the orphan passes.
    const std::uint64_t headerRecord = layout_.offsetOfNode.at(0) + 14;
    writeAt(image_.path, headerRecord + 10, be32(layout_.leavesInKeyOrder[126])); // first leaf node
    spoilNode(layout_.root);
    for (std::uint32_t n : layout_.level2Nodes)
        spoilNode(n);
    auto v = rescan();
    EXPECT_GT(v->orphEntriesTotal, 0u);
    const auto byID = treeByID(*v);
    std::size_t parked = 0;
    for (const auto& [id, sig] : reference_) {
        const bool inTree = byID.count(id) != 0;
        const bool isParked = v->btreeOrph->retrieveKeyField(id) != nullptr;
        EXPECT_NE(inTree, isParked) << sig;
        parked += isParked;
    }
    EXPECT_EQ(parked, v->orphEntriesTotal);
    EXPECT_EQ(v->entryCount, 3267u);
}

TEST_F(HFSPlusScanBrokenCatalog, StopRequestEndsTheWalkWithWhatItBuilt) {
    auto v = volumeFor(image_);
    v->resetSigArraysAndBtreesAndOthers();
    HFSPlusVolume hfs(*v);
    ASSERT_TRUE(hfs.initializeVIB());
    ASSERT_TRUE(hfs.checkCatalogAndExtentsFile());
    v->setStopTreeThread(true);
    CatalogNodeSearch(*v).enumerateLevel2IndexNodes();
    EXPECT_TRUE(v->leafNodePointerArray->empty());
    EXPECT_TRUE(CatalogReader(*v).makeTree());
    ASSERT_NE(v->dirRoot, nullptr);
    EXPECT_TRUE(v->dirRoot->childList.empty());
    // The closing progress is still sent.
    const auto posts = controller.callsNamed("updateProgress:");
    ASSERT_FALSE(posts.empty());
    EXPECT_TRUE(posts.back().dictValue().contains("BarDoubleValue"));
}

// ====================================================== damaged volumes ====

TEST_F(HFSPlusScan, BlockSizeThatIsNoWholeNumberOfSectorsMakesTheVolumeUnusable) {
    const Image image = macVolume();
    for (std::uint32_t blockSize : {0u, 100u, 1000u}) {
        SCOPED_TRACE(blockSize);
        writeAt(image.path, 1024 + 40, be32(blockSize));
        auto v = volumeFor(image);
        EXPECT_FALSE(runNormalScan(*v).headerFound);
        EXPECT_EQ(v->blockSize(), 0u);
        EXPECT_EQ(v->dirRoot, nullptr);
        // The deleted-file scan's reader takes no signature test but still
        // refuses the size, and the checks then refuse the volume.
        HFSPlusVolume hfs(*v);
        hfs.fillVIB();
        EXPECT_EQ(v->blockSize(), 0u);
        EXPECT_FALSE(hfs.checkCatalogAndExtentsFile());
        EXPECT_EQ(hfs.catNodeToSector(1), 0u);
    }
}

TEST_F(HFSPlusScan, NodeSizeThatIsNoWholeNumberOfSectorsMakesTheTreesUnusable) {
    const Image image = macVolume();
    // Node 0 of the catalog is at block 186, of the extents file at block 2
    // (4096-byte blocks); the node size is at byte 18 of the header record.
    for (std::uint64_t headerNode : {186ull * 4096, 2ull * 4096}) {
        for (std::uint16_t nodeSize : {0, 1000, 100}) {
            SCOPED_TRACE(nodeSize);
            const auto saved = readBytes(image.path, headerNode + 14 + 18, 2);
            writeAt(image.path, headerNode + 14 + 18, be16(nodeSize));
            auto v = volumeFor(image);
            const Outcome o = runNormalScan(*v);
            EXPECT_TRUE(o.headerFound);
            EXPECT_FALSE(o.treesValid);
            EXPECT_FALSE(o.treeBuilt);
            // What the header lists is kept for the advanced scan.
            EXPECT_EQ(v->catalogExtAsPerVIB.size(), 1u);
            writeAt(image.path, headerNode + 14 + 18, saved);
        }
    }
}

TEST_F(HFSPlusScan, SectorsOf4096BytesGiveTheSameTree) {
    const Image image = macVolume();
    auto small = volumeFor(image);
    ASSERT_TRUE(runNormalScan(*small).treeBuilt);
    auto large = volumeFor(image, image.sectors / 8, 4096);
    ASSERT_TRUE(runNormalScan(*large).treeBuilt);
    EXPECT_EQ(large->blockSize(), 1u);
    EXPECT_EQ(large->catNodeSize, 1);
    const auto a = treeByID(*small);
    const auto b = treeByID(*large);
    ASSERT_EQ(a.size(), b.size());
    for (const auto& [id, f] : a) {
        SCOPED_TRACE(f.path);
        ASSERT_EQ(b.count(id), 1u);
        EXPECT_EQ(b.at(id).path, f.path);
        if (!f.node->isFolder()) {
            EXPECT_EQ(readThroughExtents(*large, *b.at(id).node), readThroughExtents(*small, *f.node));
        }
    }
}

TEST_F(HFSPlusScan, TruncatedImagesEndWithATreeOrTheNotFoundAnswer) {
    const Image full = xorrisoVolume();
    REQUIRE_IMAGE(full);
    const CatalogLayout layout = layoutOf(full);
    ASSERT_FALSE(layout.offsetOfNode.empty());
    const std::uint64_t catalogStart = layout.offsetOfNode.at(0);
    const std::uint64_t catalogMiddle = layout.offsetOfNode.at(128);
    const std::uint64_t volumeStart = full.start * 512;
    for (std::uint64_t length : {volumeStart, volumeStart + 1024, volumeStart + 1536, volumeStart + 4096, catalogStart,
                                 catalogStart + 100, catalogMiddle, catalogMiddle + 3000}) {
        SCOPED_TRACE(length);
        Image cut = full;
        cut.path = testsupport::copyToTemp(full.path);
        fs::resize_file(cut.path, length);
        // The volume as the partition map describes it, and as long as what
        // is left of it.
        for (std::uint64_t sectors : {full.sectors, std::max<std::uint64_t>(1, length / 512 - full.start)}) {
            auto v = volumeFor(cut, sectors);
            if (runNormalScan(*v).treeBuilt) {
                ASSERT_NE(v->dirRoot, nullptr);
                EXPECT_LE(v->entryCount, 3267u);
            } else {
                EXPECT_EQ(v->dirRoot, nullptr);
            }
            if (length < catalogMiddle) {
                EXPECT_EQ(v->fileCount, 0u);
            }
        }
        fs::remove(cut.path);
    }
}

// Random bytes over catalog nodes (index, leaves, the header node): the scan
// must end, with a tree or with the not-found answer, and ASan must stay
// quiet. The seeds are fixed so a failure can be run again.
void scrambleAndScan(Scan& test, const Image& image, const CatalogLayout& layout, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint32_t> nodes;
    for (const auto& [n, off] : layout.offsetOfNode)
        nodes.push_back(n);
    std::map<std::uint64_t, std::vector<std::uint8_t>> saved;
    const int damagedNodes = 1 + static_cast<int>(rng() % 4);
    for (int k = 0; k < damagedNodes; ++k) {
        const std::uint32_t node = nodes[rng() % nodes.size()];
        const std::uint64_t at = layout.offsetOfNode.at(node);
        if (!saved.count(at)) saved[at] = readBytes(image.path, at, layout.nodeBytes);
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
    if (runNormalScan(*v).treeBuilt) {
        EXPECT_NE(v->dirRoot, nullptr);
        for (const auto& [id, f] : treeByID(*v))
            EXPECT_LE(f.node->nameLength, 255u);
    } else {
        EXPECT_EQ(v->dirRoot, nullptr);
    }
    for (const auto& [at, bytes] : saved)
        writeAt(image.path, at, bytes);
}

using HFSPlusScanRandomCatalogBytes = Scan;

// Each scan's tree is freed as it goes: the xorriso image is large.
TEST_F(HFSPlusScanRandomCatalogBytes, InTheCatalogsOfTheMacAndTheXorrisoVolumes) {
    const Image mac = macVolume(), xorriso = xorrisoVolume();
    REQUIRE_IMAGE(xorriso);
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
