// The HFS+ image builder checked against readers it does not share code
// with: The Sleuth Kit (fsstat, fls, istat, icat) must read every kind of
// live image it writes and list exactly the live entries of its manifest.
// The normal catalog scan must then build the same live tree through index
// levels and extents-overflow records.

#include "support/HFSPlusImageBuilder.h"

#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusVolume.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <cstdint>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::Dict;
using testsupport::HFSFileOptions;
using testsupport::HFSPlusImageBuilder;
using testsupport::HFSPlusImageOptions;
using testsupport::runCommand;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kRoot = HFSPlusImageBuilder::kRoot;

Bytes pattern(std::size_t size, std::uint32_t seed) {
    return HFSPlusImageBuilder::patternData(size, seed);
}

// ------------------------------------------------------- Sleuth Kit ----

bool haveSleuthKit() {
    using testsupport::haveTool;
    return haveTool("fls") && haveTool("fsstat") && haveTool("icat") && haveTool("istat");
}

// Every live entry of the manifest.
std::vector<const HFSPlusImageBuilder::Entry*> liveEntries(const HFSPlusImageBuilder& b) {
    std::vector<const HFSPlusImageBuilder::Entry*> out;
    for (const auto& e : b.manifest())
        if (e.live) out.push_back(&e);
    return out;
}

#define REQUIRE_SLEUTHKIT()                                                                                            \
    if (!haveSleuthKit()) GTEST_SKIP() << "The Sleuth Kit is not installed"

// An image on disk as the Sleuth Kit tools address it.
struct TskImage {
    fs::path path;
    std::uint64_t offsetSectors = 0; // -o, in units of sectorSize
    std::uint32_t sectorSize = 512;  // -b

    std::string args() const {
        return "-f hfs -o " + std::to_string(offsetSectors) + " -b " + std::to_string(sectorSize) + " '" +
               path.string() + "'";
    }
};

TskImage writeImage(HFSPlusImageBuilder& b, const std::string& name, std::uint64_t tskOffsetBytes = 0) {
    TskImage t;
    t.path = b.writeTo(testsupport::makeTempDir("hfsbuild") / name);
    t.sectorSize = b.options().sectorSize;
    t.offsetSectors = tskOffsetBytes / t.sectorSize;
    return t;
}

std::optional<std::string> fsstat(const TskImage& t) {
    return runCommand("fsstat " + t.args() + " 2>/dev/null");
}

// fls -r -p: path by inode (the catalog node ID), kind letter first.
std::map<std::uint32_t, std::string> flsListing(const TskImage& t) {
    std::map<std::uint32_t, std::string> out;
    auto text = runCommand("fls -r -p " + t.args() + " 2>/dev/null");
    if (!text) return out;
    std::istringstream lines(*text);
    for (std::string line; std::getline(lines, line);) {
        const auto tab = line.find('\t');
        const auto colon = line.find(':');
        const auto space = line.find(' ');
        if (tab == std::string::npos || colon == std::string::npos || space == std::string::npos) continue;
        if (line.find('*') < tab) continue;
        const auto id = static_cast<std::uint32_t>(std::stoul(line.substr(space + 1, colon - space - 1)));
        // The volume's special files come from the volume header, not the catalog.
        if (id < HFSPlusImageBuilder::kFirstUserID) continue;
        out[id] = line.substr(0, 1) + " " + line.substr(tab + 1);
    }
    return out;
}

std::uint64_t istatSize(const TskImage& t, std::uint32_t id) {
    auto out = runCommand("istat " + t.args() + " " + std::to_string(id) + " 2>/dev/null");
    if (!out) return UINT64_MAX;
    const auto at = out->find("\nSize:");
    return at == std::string::npos ? UINT64_MAX : std::stoull(out->substr(at + 6));
}

std::optional<std::string> icat(const TskImage& t, const std::string& inode) {
    return runCommand("icat " + t.args() + " " + inode + " 2>/dev/null");
}

std::string asString(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

// The path of a live entry from the root, the way fls prints it.
std::string pathOf(const HFSPlusImageBuilder& b, std::uint32_t id) {
    std::string path;
    for (int guard = 0; id != kRoot && guard < 1000; ++guard) {
        const auto* e = b.entry(id);
        if (!e) return "?";
        path = path.empty() ? e->name.utf8() : e->name.utf8() + "/" + path;
        id = e->parentID;
    }
    return path;
}

// What fls must list: every live entry reachable from the root.
std::map<std::uint32_t, std::string> expectedListing(const HFSPlusImageBuilder& b) {
    std::map<std::uint32_t, std::string> out;
    for (const auto* e : liveEntries(b))
        out[e->id] = std::string(e->kind == HFSPlusImageBuilder::Kind::Folder ? "d" : "r") + " " + pathOf(b, e->id);
    return out;
}

// fls lists the live entries, istat their sizes and icat their bytes.
void expectSleuthKitReadsLiveEntries(const HFSPlusImageBuilder& b, const TskImage& t) {
    EXPECT_EQ(flsListing(t), expectedListing(b));
    for (const auto* e : liveEntries(b)) {
        if (e->kind != HFSPlusImageBuilder::Kind::File) continue;
        SCOPED_TRACE(e->name.utf8());
        EXPECT_EQ(istatSize(t, e->id), e->size);
        const auto bytes = icat(t, std::to_string(e->id));
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(*bytes, asString(e->data));
        if (!e->resource.empty()) {
            EXPECT_EQ(icat(t, std::to_string(e->id) + "-4353"), asString(e->resource));
        }
    }
}

std::string fsstatLine(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    if (at == std::string::npos) return "(missing)";
    const auto end = text.find('\n', at);
    std::string value = text.substr(at + label.size(), end - at - label.size());
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.erase(0, 1);
    return value;
}

// --------------------------------------------------- the program's scan ----

class BuilderScan : public ::testing::Test {
public:
    void TearDown() override {
        for (auto& v : volumes_)
            v->freeTree();
    }

    // The normal tree scan's HFS+ steps, in the scan thread's order, on an
    // image read as a disk whose volume starts at volumeStartSector.
    std::shared_ptr<Volume> scan(const TskImage& t, std::uint64_t volumeStartSector, std::uint64_t sectors) {
        scope_.controller.setDriveDictArray(platform::Array{Dict{{"Path", t.path.string()}}});
        auto v = Volume::initWithDictionary(Dict{{"Path", t.path.string()},
                                                 {"Preferred Block Size", t.sectorSize},
                                                 {"Volume Start", static_cast<unsigned long long>(volumeStartSector)},
                                                 {"Volume Size In Sectors", static_cast<unsigned long long>(sectors)},
                                                 {"Volume Scan Type", 0},
                                                 {"Content", "Apple_HFS"},
                                                 {"Volume Name", "x"},
                                                 {"device model", "-"},
                                                 {"device serial", "-"},
                                                 {"device revision", "-"}});
        if (!v) return v;
        volumes_.push_back(v);
        v->resetSigArraysAndBtreesAndOthers();
        HFSPlusVolume hfs(*v);
        if (!hfs.initializeVIB() || !hfs.checkCatalogAndExtentsFile()) return nullptr;
        CatalogNodeSearch(*v).findCatalogLeafNodes();
        if (v->firstLeafNode == 0 || v->catNodeSize == 0) return nullptr;
        CatalogReader(*v).makeTree();
        return v;
    }

    testsupport::ControllerScope scope_;
    std::vector<std::shared_ptr<Volume>> volumes_;
};

std::string readThroughExtents(Volume& v, const NewDir* file) {
    std::string data;
    const std::uint32_t bps = v.u32BytesInSector();
    for (const ExtP& e : file->extents) {
        const std::uint64_t sector = v.HPlusVolStart() + file->dataStartSector +
                                     static_cast<std::uint64_t>(e.startBlock) * file->sectorsPerBlock;
        const auto count = static_cast<std::int32_t>(e.blockCount * file->sectorsPerBlock);
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count) * bps);
        EXPECT_TRUE(v.readSector(sector, count, buffer.data()));
        data.append(reinterpret_cast<const char*>(buffer.data()), buffer.size());
    }
    if (data.size() > file->fileSize) data.resize(file->fileSize);
    return data;
}

// The found tree holds exactly the live entries, under their parents, with
// their sizes and bytes.
void expectTreeIsTheLiveCatalog(Volume& v, const HFSPlusImageBuilder& b) {
    std::map<std::uint32_t, const NewDir*> byID;
    std::vector<const NewDir*> pending{v.dirRoot};
    while (!pending.empty()) {
        const NewDir* dir = pending.back();
        pending.pop_back();
        for (NewDir* child : dir->childList) {
            EXPECT_TRUE(byID.emplace(child->fileID, child).second) << "ID twice in the tree: " << child->fileID;
            EXPECT_EQ(child->parentID, dir->fileID);
            if (child->isFolder()) pending.push_back(child);
        }
    }
    std::size_t live = 0;
    for (const auto* e : liveEntries(b)) {
        ++live;
        SCOPED_TRACE(e->name.utf8());
        const auto it = byID.find(e->id);
        ASSERT_NE(it, byID.end());
        const NewDir* n = it->second;
        EXPECT_EQ(n->parentID, e->parentID);
        EXPECT_EQ(newdir::utf8(v.fileNameOfDir(const_cast<NewDir*>(n))), e->name.utf8());
        if (e->kind == HFSPlusImageBuilder::Kind::Folder) {
            EXPECT_EQ(n->fileType, NewDir::Folder);
        } else {
            EXPECT_EQ(n->fileType, NewDir::File);
            EXPECT_EQ(n->fileSize, e->size);
            EXPECT_EQ(readThroughExtents(v, n), asString(e->data));
        }
    }
    EXPECT_EQ(byID.size(), live);
}

// A small tree with the usual variety: nesting, an empty file, a resource
// fork, a name outside ASCII, and forks in more than eight extents.
void addVariety(HFSPlusImageBuilder& b) {
    const auto docs = b.addFolder(kRoot, "Docs");
    const auto deep = b.addFolder(docs, "Deep");
    b.addFolder(deep, "Empty");
    b.addFile(docs, "a.txt", pattern(10000, 1));
    b.addFile(deep, "zero", {});
    HFSFileOptions rsrc;
    rsrc.resourceFork = pattern(3000, 2);
    b.addFile(deep, "with resource", pattern(100, 3), rsrc);
    b.addFile(kRoot, u"caf\u00e9 \u65e5\u672c", pattern(777, 4));
    HFSFileOptions twelve;
    twelve.extentCount = 12;
    b.addFile(kRoot, "twelve extents", pattern(100000, 5), twelve);
    HFSFileOptions twenty;
    twenty.extentCount = 20;
    twenty.resourceFork = pattern(40000, 6);
    twenty.resourceExtentCount = 10;
    b.addFile(docs, "twenty extents", pattern(90000, 7), twenty);
}

} // namespace

// ======================================================= Sleuth Kit ====

TEST(HFSPlusImageBuilderSleuthKit, ReadsAPlainVolumeWithItsLiveEntriesSizesAndBytes) {
    REQUIRE_SLEUTHKIT();
    HFSPlusImageBuilder b({.volumeName = "Plain"});
    addVariety(b);
    const TskImage t = writeImage(b, "plain.img");
    const auto stat = fsstat(t);
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(fsstatLine(*stat, "File System Type:"), "HFS+");
    EXPECT_EQ(fsstatLine(*stat, "Volume Name:"), "Plain");
    EXPECT_EQ(fsstatLine(*stat, "Number of files:"), "6");
    EXPECT_EQ(fsstatLine(*stat, "Number of folders:"), "3");
    EXPECT_EQ(fsstatLine(*stat, "Allocation Block Size:"), "4096");
    EXPECT_EQ(fsstatLine(*stat, "Number of Free Blocks:"), std::to_string(b.layout().freeBlocks));
    EXPECT_EQ(stat->find("Journal Info Block"), std::string::npos);
    expectSleuthKitReadsLiveEntries(b, t);
}

TEST(HFSPlusImageBuilderSleuthKit, ReadsHFSXWithSmallNodesAndSeveralIndexLevels) {
    REQUIRE_SLEUTHKIT();
    HFSPlusImageOptions o;
    o.hfsx = true;
    o.blockSize = 512;
    o.catalogNodeSize = 512;
    o.extentsNodeSize = 512;
    o.volumeName = "Case";
    HFSPlusImageBuilder b(o);
    for (int i = 0; i < 30; ++i) {
        const auto dir = b.addFolder(kRoot, "Dir" + std::to_string(i));
        b.addFile(dir, "file" + std::to_string(i), pattern(700 + 13 * i, 100 + i));
    }
    // Binary order: names differing only in case are two entries.
    b.addFile(kRoot, "Same", pattern(10, 1));
    b.addFile(kRoot, "same", pattern(20, 2));
    HFSFileOptions many;
    many.extentCount = 30;
    b.addFile(kRoot, "many", pattern(40 * 512, 3), many);
    const TskImage t = writeImage(b, "hfsx.img");
    EXPECT_GE(b.layout().catalogDepth, 3u);
    EXPECT_GE(b.layout().extentsDepth, 1u);
    const auto stat = fsstat(t);
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(fsstatLine(*stat, "File System Type:"), "HFSX");
    EXPECT_EQ(fsstatLine(*stat, "Allocation Block Size:"), "512");
    expectSleuthKitReadsLiveEntries(b, t);
}

TEST(HFSPlusImageBuilderSleuthKit, ReadsManyFilesInLargeNodesWithAnIndexLevel) {
    REQUIRE_SLEUTHKIT();
    HFSPlusImageOptions o;
    o.catalogNodeSize = 8192;
    o.totalSize = 16u << 20;
    HFSPlusImageBuilder b(o);
    std::uint32_t probe = 0;
    for (int d = 0; d < 6; ++d) {
        const auto dir = b.addFolder(kRoot, "Folder " + std::to_string(d));
        for (int f = 0; f < 50; ++f)
            probe = b.addFile(dir, "item-" + std::to_string(f) + ".dat", pattern(f * 37, d * 100 + f));
    }
    const TskImage t = writeImage(b, "many.img");
    EXPECT_EQ(b.layout().catalogDepth, 2u);
    EXPECT_GT(b.layout().catalogLeafNodes.size(), 5u);
    EXPECT_EQ(flsListing(t), expectedListing(b));
    EXPECT_EQ(icat(t, std::to_string(probe)), asString(b.entry(probe)->data));
}

TEST(HFSPlusImageBuilderSleuthKit, Reads4096ByteSectorsInsideADiskAndThroughAnHFSWrapper) {
    REQUIRE_SLEUTHKIT();
    HFSPlusImageOptions o;
    o.sectorSize = 4096;
    o.diskOffset = 1u << 20;
    o.diskSize = 12u << 20;
    o.volumeName = "Far";
    HFSPlusImageBuilder plain(o);
    addVariety(plain);
    const TskImage t1 = writeImage(plain, "disk4k.img", plain.layout().volumeOffset);
    EXPECT_EQ(fs::file_size(t1.path), 12u << 20);
    expectSleuthKitReadsLiveEntries(plain, t1);

    o.wrapping = HFSPlusImageOptions::Wrapping::HFSWrapper;
    o.volumeName = "Wrapped";
    HFSPlusImageBuilder wrapped(o);
    addVariety(wrapped);
    // Sleuth Kit is pointed at the wrapper and finds the embedded volume itself.
    const TskImage t2 = writeImage(wrapped, "wrapped4k.img", wrapped.layout().containerOffset);
    const auto stat = fsstat(t2);
    ASSERT_TRUE(stat.has_value());
    EXPECT_NE(stat->find("embedded in an HFS wrapper at offset " +
                         std::to_string(wrapped.layout().volumeOffset - wrapped.layout().containerOffset)),
              std::string::npos);
    EXPECT_EQ(fsstatLine(*stat, "Volume Name:"), "Wrapped");
    expectSleuthKitReadsLiveEntries(wrapped, t2);
}

TEST(HFSPlusImageBuilderSleuthKit, ShowsTheJournalInfoBlockAndListsNoDeletedEntry) {
    REQUIRE_SLEUTHKIT();
    HFSPlusImageOptions o;
    o.journaled = true;
    o.volumeName = "Journaled";
    HFSPlusImageBuilder b(o);
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addFile(docs, "kept.txt", pattern(5000, 1));
    b.addJournalCopyOf(docs);
    b.addDeletedFileInJournal(docs, "gone.bin", pattern(60000, 2), 12);
    b.addJournalCopyOf(b.addDeletedFolder(kRoot, "Gone Folder"));
    const TskImage t = writeImage(b, "journaled.img");
    const auto stat = fsstat(t);
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(fsstatLine(*stat, "Journal Info Block:"), std::to_string(b.layout().journalInfoBlock));
    EXPECT_NE(stat->find("Journaled"), std::string::npos);
    EXPECT_EQ(fsstatLine(*stat, "Number of files:"), "1");
    expectSleuthKitReadsLiveEntries(b, t);
}

// ================================================ the catalog scan ====

TEST_F(BuilderScan, NormalScanBuildsTheLiveTreeThroughIndexLevelsOfSmallNodes) {
    HFSPlusImageOptions o;
    o.hfsx = true;
    o.blockSize = 512;
    o.catalogNodeSize = 512;
    HFSPlusImageBuilder b(o);
    for (int i = 0; i < 25; ++i) {
        const auto dir = b.addFolder(kRoot, "Dir" + std::to_string(i));
        HFSFileOptions f;
        f.extentCount = 1 + i % 11;
        b.addFile(dir, "file" + std::to_string(i), pattern(6000 + i, i), f);
    }
    const TskImage t = writeImage(b, "scan512.img");
    ASSERT_GE(b.layout().catalogDepth, 3u);
    auto v = scan(t, 0, b.layout().volumeSize / 512);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->catTreeDepth, b.layout().catalogDepth);
    expectTreeIsTheLiveCatalog(*v, b);
}
