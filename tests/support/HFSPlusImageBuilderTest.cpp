// The HFS+ image builder checked against readers it does not share code
// with: The Sleuth Kit (fsstat, fls, istat, icat) must read every live image
// it writes and list exactly the live entries of its manifest; the program's
// own decoders must read back the header fields it wrote; and the normal
// catalog scan must build the live tree from its images. The parts no Linux
// reader looks at (journal copies, stale nodes, damage) are checked byte by
// byte through the decoders.

#include "support/HFSPlusImageBuilder.h"

#include "formats/HFSPlusStructures.h"
#include "hfsplus/CatalogNodeSearch.h"
#include "hfsplus/CatalogReader.h"
#include "hfsplus/HFSPlusVolume.h"
#include "platform/AppController.h"
#include "platform/ByteView.h"
#include "platform/RecordingController.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::ByteView;
using platform::Dict;
using testsupport::HFSCatalogRecord;
using testsupport::HFSExtent;
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
    static const bool have =
        runCommand("fls -V 2>/dev/null").has_value() && runCommand("fsstat -V 2>/dev/null").has_value() &&
        runCommand("icat -V 2>/dev/null").has_value() && runCommand("istat -V 2>/dev/null").has_value();
    return have;
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
    for (const auto* e : b.liveEntries())
        out[e->id] = std::string(e->kind == HFSPlusImageBuilder::Kind::Folder ? "d" : "r") + " " + pathOf(b, e->id);
    return out;
}

// fls lists the live entries, istat their sizes and icat their bytes.
void expectSleuthKitReadsLiveEntries(const HFSPlusImageBuilder& b, const TskImage& t) {
    EXPECT_EQ(flsListing(t), expectedListing(b));
    for (const auto* e : b.liveEntries()) {
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

// ------------------------------------------------- reading back bytes ----

ByteView volumeView(const Bytes& image, const HFSPlusImageBuilder& b) {
    return ByteView(image).sub(b.layout().volumeOffset, b.layout().volumeSize);
}

ByteView catalogNode(const Bytes& image, const HFSPlusImageBuilder& b, std::uint32_t node) {
    return volumeView(image, b).sub(b.layout().catalogNodeOffset(node), b.layout().catalogNodeSize);
}

bool blockIsUsed(const Bytes& image, const HFSPlusImageBuilder& b, std::uint32_t block) {
    const ByteView bitmap =
        volumeView(image, b).sub(std::uint64_t{b.layout().allocationFile[0].startBlock} * b.layout().blockSize);
    return (bitmap.u8(block / 8) & (0x80 >> (block % 8))) != 0;
}

struct LeafRecord {
    HFSPlusCatalogKey_ key;
    std::int16_t type = 0;
    HFSPlusCatalogFolder_ folder;
    HFSPlusCatalogFile_ file;
    HFSPlusCatalogThread_ thread;
};

// The records of one catalog leaf node, through the program's decoders.
std::vector<LeafRecord> leafRecords(ByteView node) {
    std::vector<LeafRecord> out;
    const BTNodeDescriptor_ d = convertBTNodeDesc(node);
    for (std::uint16_t i = 0; i < d.numRecords; ++i) {
        const std::size_t offset = node.be16(node.size() - 2 * (i + 1));
        LeafRecord r;
        r.key = convertHPlusCatalogKey(node.sub(offset));
        const ByteView data = node.sub(offset + 2 + r.key.keyLength);
        r.type = data.bes16(0);
        if (r.type == hfsplus::kFolderRecord) r.folder = convertHPlusCatalogFolder(data);
        if (r.type == hfsplus::kFileRecord) r.file = convertHPlusCatalogFile(data);
        if (r.type >= hfsplus::kFolderThreadRecord) r.thread = convertHPlusCatalogThread(data);
        out.push_back(r);
    }
    return out;
}

// Every live leaf record, walking the leaf chain.
std::vector<LeafRecord> liveCatalog(const Bytes& image, const HFSPlusImageBuilder& b) {
    std::vector<LeafRecord> out;
    const ByteView header = catalogNode(image, b, 0);
    const BTHeaderRecord h = convertBTHdrRec(header.sub(hfsplus::kBTHeaderRecordOffset));
    std::set<std::uint32_t> seen;
    for (std::uint32_t node = h.firstLeafNode; node != 0 && seen.insert(node).second;) {
        const ByteView n = catalogNode(image, b, node);
        const auto records = leafRecords(n);
        out.insert(out.end(), records.begin(), records.end());
        node = convertBTNodeDesc(n).fLink;
    }
    return out;
}

const LeafRecord* findRecord(const std::vector<LeafRecord>& records, std::int16_t type, std::uint32_t id) {
    for (const auto& r : records) {
        if (r.type != type) continue;
        if (type == hfsplus::kFolderRecord && r.folder.folderID == id) return &r;
        if (type == hfsplus::kFileRecord && r.file.fileID == id) return &r;
        if (type >= hfsplus::kFolderThreadRecord && r.key.parentID == id) return &r;
    }
    return nullptr;
}

// A sector the catalog-node searches take for the last sector of a node.
bool looksLikeLastSectorOfNode(ByteView sector) {
    const std::size_t n = sector.size();
    return sector.be16(n - 2) == 14 && sector.be16(n - 4) > 14;
}

void expectExtentsEqual(const HFSPlusExtentRecord_& got, const std::vector<HFSExtent>& want) {
    for (std::size_t i = 0; i < hfsplus::kExtentsPerRecord; ++i) {
        const HFSExtent w = i < want.size() ? want[i] : HFSExtent{};
        EXPECT_EQ(got[i], w) << "descriptor " << i;
    }
}

// --------------------------------------------------- the program's scan ----

class BuilderScan : public ::testing::Test {
public:
    void SetUp() override { platform::setAppController(&controller_); }
    void TearDown() override {
        for (auto& v : volumes_)
            v->freeTree();
        platform::setAppController(nullptr);
    }

    // The normal tree scan's HFS+ steps, in the scan thread's order, on an
    // image read as a disk whose volume starts at volumeStartSector.
    std::shared_ptr<Volume> scan(const TskImage& t, std::uint64_t volumeStartSector, std::uint64_t sectors) {
        platform::Array drives = controller_.driveDictArray();
        drives.push_back(Dict{{"Path", t.path.string()}});
        controller_.setDriveDictArray(drives);
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

    platform::RecordingController controller_;
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
    for (const auto* e : b.liveEntries()) {
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
    for (int d = 0; d < 6; ++d) {
        const auto dir = b.addFolder(kRoot, "Folder " + std::to_string(d));
        for (int f = 0; f < 50; ++f)
            b.addFile(dir, "item-" + std::to_string(f) + ".dat", pattern(f * 37, d * 100 + f));
    }
    const TskImage t = writeImage(b, "many.img");
    EXPECT_EQ(b.layout().catalogDepth, 2u);
    EXPECT_GT(b.layout().catalogLeafNodes.size(), 5u);
    EXPECT_EQ(flsListing(t), expectedListing(b));
    const auto* probe = b.entryNamed("item-39.dat");
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(icat(t, std::to_string(probe->id)), asString(probe->data));
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
    b.addDeletedFolderInJournal(kRoot, "Gone Folder");
    const TskImage t = writeImage(b, "journaled.img");
    const auto stat = fsstat(t);
    ASSERT_TRUE(stat.has_value());
    EXPECT_EQ(fsstatLine(*stat, "Journal Info Block:"), std::to_string(b.layout().journalInfoBlock));
    EXPECT_NE(stat->find("Journaled"), std::string::npos);
    EXPECT_EQ(fsstatLine(*stat, "Number of files:"), "1");
    expectSleuthKitReadsLiveEntries(b, t);
}

// ==================================================== own decoders ====

TEST(HFSPlusImageBuilder, VolumeHeaderAndBTreeHeadersReadBackThroughTheDecoders) {
    HFSPlusImageOptions o;
    o.journaled = true;
    o.catalogExtentCount = 11; // three extents of the catalog in overflow records
    o.catalogNodeCount = 44;
    HFSPlusImageBuilder b(o);
    addVariety(b);
    const Bytes image = b.build();
    const auto& l = b.layout();
    const ByteView vol = volumeView(image, b);

    for (std::uint64_t at : {hfsplus::kVolumeHeaderOffset, l.volumeSize - hfsplus::kAlternateHeaderFromEnd}) {
        const VolumeInformationBlock vib = convertVIB(vol.sub(at));
        EXPECT_EQ(vib.signature, hfsplus::kHFSPlusSignature);
        EXPECT_EQ(vib.version, 4);
        EXPECT_EQ(vib.attributes & 0x2000u, 0x2000u);
        EXPECT_EQ(vib.journalInfoBlock, l.journalInfoBlock);
        EXPECT_EQ(vib.blockSize, 4096u);
        EXPECT_EQ(vib.totalBlocks, l.totalBlocks);
        EXPECT_EQ(vib.freeBlocks, l.freeBlocks);
        EXPECT_EQ(vib.fileCount, 6u);
        EXPECT_EQ(vib.folderCount, 3u);
        EXPECT_GT(vib.nextCatalogID, b.manifest().back().id);
        expectExtentsEqual(vib.allocationFile.extents, l.allocationFile);
        expectExtentsEqual(vib.extentsFile.extents, l.extentsFile);
        expectExtentsEqual(vib.catalogFile.extents, {l.catalogFile.begin(), l.catalogFile.begin() + 8});
        EXPECT_EQ(vib.catalogFile.totalBlocks * std::uint64_t{4096}, vib.catalogFile.logicalSize);
        EXPECT_EQ(vib.attributesFile.totalBlocks, 0u);
    }
    EXPECT_EQ(l.catalogFile.size(), 11u);

    const BTNodeDescriptor_ cd = convertBTNodeDesc(catalogNode(image, b, 0));
    EXPECT_EQ(cd.kind, hfsplus::kHeaderNode);
    EXPECT_EQ(cd.height, 0);
    EXPECT_EQ(cd.numRecords, 3);
    EXPECT_EQ(cd.bLink, 0u);
    const BTHeaderRecord ch = convertBTHdrRec(catalogNode(image, b, 0).sub(hfsplus::kBTHeaderRecordOffset));
    EXPECT_EQ(ch.treeDepth, l.catalogDepth);
    EXPECT_EQ(ch.rootNode, l.catalogRootNode);
    EXPECT_EQ(ch.leafRecords, l.catalogLeafRecords);
    EXPECT_EQ(ch.firstLeafNode, l.catalogLeafNodes.front());
    EXPECT_EQ(ch.nodeSize, 4096);
    EXPECT_EQ(ch.totalNodes, l.catalogTotalNodes);
    EXPECT_EQ(ch.freeNodes, l.catalogFreeNodes);
    EXPECT_EQ(ch.maxKeyLength, 516);
    EXPECT_EQ(ch.attributes, 6u);
    // Two entries with a thread each, root and its thread, the rest.
    EXPECT_EQ(ch.leafRecords, 2u + 2u * 9u);

    const ByteView extentsHeader = vol.sub(l.extentsNodeOffset(0), l.extentsNodeSize);
    const BTHeaderRecord eh = convertBTHdrRec(extentsHeader.sub(hfsplus::kBTHeaderRecordOffset));
    EXPECT_EQ(eh.treeDepth, 1);
    EXPECT_EQ(eh.rootNode, l.extentsRootNode);
    EXPECT_EQ(eh.maxKeyLength, 10);
    // The catalog's own overflow (1 record), twelve extents (1), twenty
    // extents (2 data, 1 resource).
    EXPECT_EQ(eh.leafRecords, 5u);
    const ByteView extentsLeaf = vol.sub(l.extentsNodeOffset(l.extentsLeafNodes.front()), l.extentsNodeSize);
    const HFSPlusExtentKey_ first = convertHPlusExtentKey(extentsLeaf.sub(14));
    EXPECT_EQ(first.fileID, hfsplus::kCatalogFileID);
    EXPECT_EQ(first.forkType, hfsplus::kDataFork);
    std::uint32_t covered = 0;
    for (std::size_t i = 0; i < 8; ++i)
        covered += l.catalogFile[i].blockCount;
    EXPECT_EQ(first.startBlock, covered);
    expectExtentsEqual(convertHPlusExtRec(extentsLeaf.sub(14 + 12)), {l.catalogFile.begin() + 8, l.catalogFile.end()});

    const JournalInfoBlock jib = convertJournalInfoBlock(vol.sub(std::uint64_t{l.journalInfoBlock} * 4096));
    EXPECT_EQ(jib.flags, 1u);
    EXPECT_EQ(jib.offset, l.journalOffset);
    EXPECT_EQ(jib.size, l.journalSize);
    EXPECT_EQ(jib.size, o.journalSize);
}

TEST(HFSPlusImageBuilder, LeafChainIsLinkedBothWaysInKeyOrderAndIndexNodesPointAtIt) {
    HFSPlusImageOptions o;
    o.maxRecordsPerLeaf = 3;
    o.maxRecordsPerIndexNode = 3;
    HFSPlusImageBuilder b(o);
    for (int i = 0; i < 12; ++i)
        b.addFolder(kRoot, "F" + std::to_string(i));
    const Bytes image = b.build();
    const auto& l = b.layout();
    ASSERT_GE(l.catalogDepth, 3u);
    std::uint32_t previousParent = 0;
    std::u16string previousName;
    for (std::size_t i = 0; i < l.catalogLeafNodes.size(); ++i) {
        const ByteView n = catalogNode(image, b, l.catalogLeafNodes[i]);
        const BTNodeDescriptor_ d = convertBTNodeDesc(n);
        EXPECT_EQ(d.kind, hfsplus::kLeafNode);
        EXPECT_EQ(d.height, 1);
        EXPECT_EQ(d.fLink, i + 1 < l.catalogLeafNodes.size() ? l.catalogLeafNodes[i + 1] : 0u);
        EXPECT_EQ(d.bLink, i > 0 ? l.catalogLeafNodes[i - 1] : 0u);
        EXPECT_TRUE(looksLikeLastSectorOfNode(n.sub(n.size() - 512)));
        for (const auto& r : leafRecords(n)) {
            EXPECT_LE(HFSPlusImageBuilder::compareCatalogKeys(previousParent, previousName, r.key.parentID,
                                                              r.key.nodeName.unicode, false),
                      0);
            previousParent = r.key.parentID;
            previousName = r.key.nodeName.unicode;
        }
    }
    // The level above the leaves names each leaf once, in order.
    std::vector<std::uint32_t> children;
    for (std::uint32_t node : l.catalogIndexNodes.front()) {
        const ByteView n = catalogNode(image, b, node);
        const BTNodeDescriptor_ d = convertBTNodeDesc(n);
        EXPECT_EQ(d.kind, hfsplus::kIndexNode);
        EXPECT_EQ(d.height, 2);
        for (std::uint16_t i = 0; i < d.numRecords; ++i) {
            const std::size_t at = n.be16(n.size() - 2 * (i + 1));
            children.push_back(n.be32(at + 2 + n.be16(at)));
        }
    }
    EXPECT_EQ(children, l.catalogLeafNodes);
    const BTNodeDescriptor_ root = convertBTNodeDesc(catalogNode(image, b, l.catalogRootNode));
    EXPECT_EQ(root.height, l.catalogDepth);
}

TEST(HFSPlusImageBuilder, HFSWrapperMasterDirectoryBlockPointsAtTheEmbeddedVolume) {
    HFSPlusImageOptions o;
    o.wrapping = HFSPlusImageOptions::Wrapping::HFSWrapper;
    o.wrapperAllocationStart = 6;
    o.wrapperEmbedStartBlock = 10;
    o.totalSize = 4u << 20;
    HFSPlusImageBuilder b(o);
    const Bytes image = b.build();
    const MasterDirectoryBlock mdb = convertMDB(ByteView(image).sub(1024));
    EXPECT_EQ(mdb.drSigWord, hfsplus::kHFSSignature);
    EXPECT_EQ(mdb.drEmbedSigWord, hfsplus::kHFSPlusSignature);
    EXPECT_EQ(mdb.drAlBlSt, 6);
    EXPECT_EQ(mdb.drAlBlkSiz, 4096u);
    EXPECT_EQ(mdb.drEmbedExtent.xdrStABN, 10);
    EXPECT_EQ(mdb.drEmbedExtent.xdrNumABlks, 1024);
    // 6 sectors of 512 bytes, then ten wrapper blocks.
    EXPECT_EQ(b.layout().volumeOffset, 6u * 512 + 10u * 4096);
    EXPECT_EQ(convertVIB(ByteView(image).sub(b.layout().volumeOffset + 1024)).signature, hfsplus::kHFSPlusSignature);
    EXPECT_EQ(convertMDB(ByteView(image).sub(image.size() - 1024)).drEmbedSigWord, hfsplus::kHFSPlusSignature);
}

TEST(HFSPlusImageBuilder, DeletedFileInTheJournalIsALeafCopyWithItsOverflowInAnExtentsCopy) {
    HFSPlusImageOptions o;
    o.journaled = true;
    HFSPlusImageBuilder b(o);
    const auto docs = b.addFolder(kRoot, "Docs");
    b.addJournalCopyOf(docs);
    const auto gone = b.addDeletedFileInJournal(docs, "gone.bin", pattern(60000, 2), 12);
    b.endJournalTransaction();
    const auto later = b.addDeletedFileInJournal(docs, "later.txt", pattern(3000, 3));
    const Bytes image = b.build();
    const auto& l = b.layout();
    const ByteView vol = volumeView(image, b);

    const auto* e = b.entry(gone);
    ASSERT_NE(e, nullptr);
    EXPECT_TRUE(e->deleted);
    EXPECT_FALSE(e->live);
    EXPECT_TRUE(e->inJournal);
    ASSERT_EQ(e->dataExtents.size(), 12u);
    for (const auto& x : e->dataExtents)
        for (std::uint32_t k = 0; k < x.blockCount; ++k)
            EXPECT_FALSE(blockIsUsed(image, b, x.startBlock + k));
    EXPECT_EQ(HFSPlusImageBuilder::readFork(image, l, e->dataExtents, e->size), e->data);
    EXPECT_EQ(findRecord(liveCatalog(image, b), hfsplus::kFileRecord, gone), nullptr);

    // Journal header: little-endian, a clean journal (start == end).
    const ByteView journal = vol.sub(l.journalOffset, l.journalSize);
    EXPECT_EQ(journal.le32(0), 0x4A4E4C78u);
    EXPECT_EQ(journal.le32(4), 0x12345678u);
    EXPECT_EQ(journal.le64(8), journal.le64(16));
    EXPECT_EQ(journal.le64(24), l.journalSize);
    EXPECT_EQ(journal.le32(40), 512u);

    ASSERT_EQ(l.journalCatalogNodes.size(), 2u);
    ASSERT_EQ(l.journalExtentsNodes.size(), 1u);
    // The first transaction: the folder and the deleted file, in key order.
    const ByteView copy = vol.sub(l.journalCatalogNodes[0].volumeOffset, 4096);
    EXPECT_EQ(l.journalCatalogNodes[0].volumeOffset % 512, 0u);
    EXPECT_TRUE(looksLikeLastSectorOfNode(copy.sub(4096 - 512, 512)));
    const BTNodeDescriptor_ d = convertBTNodeDesc(copy);
    EXPECT_EQ(d.kind, hfsplus::kLeafNode);
    EXPECT_EQ(d.height, 1);
    EXPECT_EQ(d.reserved, 0);
    const auto records = leafRecords(copy);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].type, hfsplus::kFolderRecord);
    EXPECT_EQ(records[0].folder.folderID, docs);
    EXPECT_EQ(records[1].type, hfsplus::kFileRecord);
    EXPECT_EQ(records[1].key.parentID, docs);
    EXPECT_EQ(records[1].key.nodeName.unicode, u"gone.bin");
    EXPECT_EQ(records[1].file.fileID, gone);
    EXPECT_EQ(records[1].file.dataFork.logicalSize, 60000u);
    EXPECT_EQ(records[1].file.dataFork.totalBlocks, 15u);
    EXPECT_NE(records[1].file.createDate, 0u);
    EXPECT_NE(records[1].file.accessDate, 0u);
    expectExtentsEqual(records[1].file.dataFork.extents, {e->dataExtents.begin(), e->dataExtents.begin() + 8});

    // The extents copy starts like an extents leaf as stored, with the key
    // lengths of two records (the second is the pad record) at 14 and 90.
    const ByteView ext = vol.sub(l.journalExtentsNodes[0].volumeOffset, 4096);
    EXPECT_EQ(ext.u8(8), 0xFF);
    EXPECT_EQ(ext.u8(9), 1);
    EXPECT_EQ(ext.be16(10), 2);
    EXPECT_EQ(ext.be16(12), 0);
    EXPECT_EQ(ext.be16(14), 10);
    EXPECT_EQ(ext.be16(90), 10);
    const HFSPlusExtentKey_ key = convertHPlusExtentKey(ext.sub(14));
    EXPECT_EQ(key.fileID, gone);
    EXPECT_EQ(key.forkType, hfsplus::kDataFork);
    std::uint32_t covered = 0;
    for (std::size_t i = 0; i < 8; ++i)
        covered += e->dataExtents[i].blockCount;
    EXPECT_EQ(key.startBlock, covered);
    expectExtentsEqual(convertHPlusExtRec(ext.sub(26)), {e->dataExtents.begin() + 8, e->dataExtents.end()});

    // The second transaction comes after the first in the journal.
    EXPECT_GT(l.journalCatalogNodes[1].volumeOffset, l.journalExtentsNodes[0].volumeOffset);
    const auto second = leafRecords(vol.sub(l.journalCatalogNodes[1].volumeOffset, 4096));
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].file.fileID, later);
}

TEST(HFSPlusImageBuilder, JournalTransactionsWrapAroundTheCircularBuffer) {
    HFSPlusImageOptions o;
    o.journaled = true;
    o.journalSize = 64u << 10;
    o.journalClean = false;
    // Room for the block list header and half a node before the end.
    o.journalFirstTransactionOffset = o.journalSize - 4096 - 2048;
    HFSPlusImageBuilder b(o);
    const auto gone = b.addDeletedFileInJournal(kRoot, "gone", pattern(100, 1));
    const Bytes image = b.build();
    const auto& l = b.layout();
    const ByteView journal = volumeView(image, b).sub(l.journalOffset, l.journalSize);
    EXPECT_EQ(journal.le64(8), o.journalFirstTransactionOffset);
    EXPECT_EQ(journal.le64(16), 512u + 2048u); // the node's second half follows the journal header
    ASSERT_EQ(l.journalCatalogNodes.size(), 1u);
    EXPECT_EQ(l.journalCatalogNodes[0].volumeOffset - l.journalOffset, o.journalSize - 2048);
    Bytes node(journal.data() + o.journalSize - 2048, journal.data() + o.journalSize);
    node.insert(node.end(), journal.data() + 512, journal.data() + 512 + 2048);
    const auto records = leafRecords(ByteView(node));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].file.fileID, gone);
}

TEST(HFSPlusImageBuilder, JournalDamageOptionsWriteWhatTheyName) {
    using JD = HFSPlusImageOptions::JournalDamage;
    for (JD damage : {JD::NoInfoBlock, JD::InfoBlockPastEnd, JD::OffsetPastEnd, JD::SizePastEnd}) {
        HFSPlusImageOptions o;
        o.journaled = true;
        o.journalDamage = damage;
        HFSPlusImageBuilder b(o);
        const Bytes image = b.build();
        const auto& l = b.layout();
        const VolumeInformationBlock vib = convertVIB(volumeView(image, b).sub(1024));
        EXPECT_EQ(vib.journalInfoBlock, l.journalInfoBlock);
        if (damage == JD::NoInfoBlock) {
            EXPECT_EQ(vib.journalInfoBlock, 0u);
        }
        if (damage == JD::InfoBlockPastEnd) {
            EXPECT_GT(vib.journalInfoBlock, vib.totalBlocks);
        }
        if (damage == JD::OffsetPastEnd) {
            EXPECT_GT(l.journalOffset, l.volumeSize);
        }
        if (damage == JD::SizePastEnd) {
            EXPECT_GT(l.journalOffset + l.journalSize, l.volumeSize);
        }
    }
    HFSPlusImageBuilder notJournaled;
    EXPECT_EQ(convertVIB(ByteView(notJournaled.build()).sub(1024)).journalInfoBlock, 0u);
    HFSPlusImageBuilder refuses;
    refuses.addDeletedFileInJournal(kRoot, "x", pattern(1, 1));
    EXPECT_THROW(refuses.build(), std::runtime_error);
}

TEST(HFSPlusImageBuilder, StaleLeafNodesLieInFreeBlocksAndFreeCatalogNodes) {
    HFSPlusImageOptions o;
    o.catalogNodeSize = 8192;
    HFSPlusImageBuilder b(o);
    const auto lost = b.addDeletedFolder(kRoot, "Lost");
    const auto old = b.addDeletedFile(lost, "old.doc", pattern(9000, 1));
    const auto placement = b.addStaleLeafNodeOf({lost, old});
    const auto inside = b.addDeletedFile(kRoot, "inside", pattern(10, 2));
    b.addCatalogFreeNodeFragmentOf({inside});
    HFSCatalogRecord crafted = b.recordOf(old);
    crafted.keyName = ".DS_Store";
    b.addStaleLeafNode({crafted});
    const Bytes image = b.build();
    const auto& l = b.layout();

    EXPECT_TRUE(b.entry(old)->inStaleNode);
    EXPECT_TRUE(b.entry(inside)->inCatalogFreeNode);
    EXPECT_EQ(l.staleNodes.size(), 2u);
    EXPECT_EQ(placement.volumeOffset % 512, 0u);
    EXPECT_FALSE(blockIsUsed(image, b, placement.startBlock));
    EXPECT_FALSE(blockIsUsed(image, b, placement.startBlock + 1));
    const ByteView node = volumeView(image, b).sub(placement.volumeOffset, 8192);
    EXPECT_TRUE(looksLikeLastSectorOfNode(node.sub(8192 - 512)));
    const auto records = leafRecords(node);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].folder.folderID, lost);
    EXPECT_EQ(records[1].file.fileID, old);
    expectExtentsEqual(records[1].file.dataFork.extents, b.entry(old)->dataExtents);

    ASSERT_EQ(l.catalogFragmentNodes.size(), 1u);
    const std::uint32_t fragment = l.catalogFragmentNodes[0];
    EXPECT_GT(fragment, l.catalogRootNode);
    const auto inCatalog = leafRecords(catalogNode(image, b, fragment));
    ASSERT_EQ(inCatalog.size(), 1u);
    EXPECT_EQ(inCatalog[0].file.fileID, inside);
    // The header node's map counts the fragment's node free.
    const ByteView header = catalogNode(image, b, 0);
    const ByteView map = header.sub(header.be16(header.size() - 6));
    EXPECT_EQ(map.u8(fragment / 8) & (0x80 >> (fragment % 8)), 0);
    EXPECT_NE(map.u8(l.catalogRootNode / 8) & (0x80 >> (l.catalogRootNode % 8)), 0);
    EXPECT_EQ(findRecord(liveCatalog(image, b), hfsplus::kFileRecord, inside), nullptr);
}

TEST(HFSPlusImageBuilder, CraftedParentsAreWrittenAsGiven) {
    HFSPlusImageBuilder b;
    b.addFolderWithID(100, 101, "A");
    b.addFolderWithID(101, 100, "B");
    b.addFolderWithID(102, 102, "Self");
    b.addFileWithID(103, 999, "no parent", pattern(10, 1));
    const auto file = b.addFile(kRoot, "a file", pattern(10, 2));
    b.addFile(file, "under a file", pattern(10, 3));
    testsupport::HFSEntryOptions noThread;
    noThread.thread = false;
    b.addFolderWithID(200, 998, "threadless", noThread);
    const Bytes image = b.build();
    const auto live = liveCatalog(image, b);
    const auto* a = findRecord(live, hfsplus::kFolderRecord, 100);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->key.parentID, 101u);
    EXPECT_EQ(findRecord(live, hfsplus::kFolderThreadRecord, 101)->thread.parentID, 100u);
    EXPECT_EQ(findRecord(live, hfsplus::kFolderRecord, 102)->key.parentID, 102u);
    EXPECT_EQ(findRecord(live, hfsplus::kFileRecord, 103)->key.parentID, 999u);
    EXPECT_EQ(findRecord(live, hfsplus::kFileThreadRecord, 103)->thread.nodeName.unicode, u"no parent");
    const auto* under = b.entryNamed("under a file");
    EXPECT_EQ(findRecord(live, hfsplus::kFileRecord, under->id)->key.parentID, file);
    EXPECT_NE(findRecord(live, hfsplus::kFolderRecord, 200), nullptr);
    EXPECT_EQ(findRecord(live, hfsplus::kFolderThreadRecord, 200), nullptr);
    EXPECT_GE(b.addFolder(kRoot, "next"), 201u);
    EXPECT_THROW(b.addFolderWithID(100, kRoot, "again"), std::runtime_error);
}

TEST(HFSPlusImageBuilder, DamageHooksChangeOnlyWhatTheyName) {
    HFSPlusImageOptions o;
    o.maxRecordsPerLeaf = 2;
    HFSPlusImageBuilder good(o);
    HFSPlusImageBuilder bad(o);
    for (auto* b : {&good, &bad})
        for (int i = 0; i < 8; ++i)
            b->addFile(kRoot, "f" + std::to_string(i), pattern(100, i));
    bad.damageCatalogLeafForwardLink(1, 0xFFFF);
    bad.damageCatalogLeafLoop(2, 3);
    bad.damageZeroCatalogNode(bad.layout().catalogTotalNodes - 1);
    const Bytes g = good.build();
    const Bytes d = bad.build();
    const auto& l = bad.layout();
    EXPECT_EQ(convertBTNodeDesc(catalogNode(d, bad, l.catalogLeafNodes[1])).fLink, 0xFFFFu);
    EXPECT_EQ(convertBTNodeDesc(catalogNode(d, bad, l.catalogLeafNodes[3])).fLink, l.catalogLeafNodes[2]);
    EXPECT_EQ(convertBTNodeDesc(catalogNode(d, bad, l.catalogLeafNodes[2])).fLink, l.catalogLeafNodes[3]);
    std::size_t differing = 0;
    for (std::size_t i = 0; i < g.size(); ++i)
        differing += g[i] != d[i] ? 1 : 0;
    EXPECT_LE(differing, 8u);

    HFSPlusImageBuilder headers;
    headers.damageZeroCatalogHeaderNode();
    headers.damageZeroExtentsHeaderNode();
    headers.damageZeroPrimaryHeader();
    const Bytes h = headers.build();
    const auto& hl = headers.layout();
    EXPECT_EQ(convertBTNodeDesc(catalogNode(h, headers, 0)).numRecords, 0);
    EXPECT_EQ(convertBTNodeDesc(ByteView(h).sub(hl.extentsNodeOffset(0))).numRecords, 0);
    EXPECT_EQ(convertVIB(ByteView(h).sub(1024)).signature, 0);
    EXPECT_EQ(convertVIB(ByteView(h).sub(h.size() - 1024)).signature, hfsplus::kHFSPlusSignature);
}

TEST(HFSPlusImageBuilder, RequestsThatCannotBeMetThrow) {
    HFSPlusImageOptions tiny;
    tiny.totalSize = 1u << 20;
    HFSPlusImageBuilder b(tiny);
    EXPECT_THROW(b.addFile(kRoot, "too big", pattern(2u << 20, 1)), std::runtime_error);
    HFSFileOptions cut;
    cut.extentCount = 5;
    EXPECT_THROW(b.addFile(kRoot, "few blocks", pattern(4096 * 2, 1), cut), std::runtime_error);
    HFSPlusImageOptions odd;
    odd.totalSize = 1000000;
    EXPECT_THROW(HFSPlusImageBuilder{odd}, std::invalid_argument);
    HFSPlusImageOptions small;
    small.catalogNodeCount = 2;
    small.catalogNodeSize = 512;
    small.blockSize = 512;
    HFSPlusImageBuilder full(small);
    for (int i = 0; i < 10; ++i)
        full.addFolder(kRoot, "folder " + std::to_string(i));
    EXPECT_THROW(full.build(), std::runtime_error);
}

// ================================================ the catalog scan ====

TEST_F(BuilderScan, NormalScanBuildsTheLiveTreeOfAPlainVolume) {
    HFSPlusImageOptions o;
    o.journaled = true;
    HFSPlusImageBuilder b(o);
    addVariety(b);
    b.addDeletedFileInJournal(kRoot, "not live", pattern(9000, 9), 3);
    const TskImage t = writeImage(b, "scan.img");
    auto v = scan(t, 0, b.layout().volumeSize / 512);
    ASSERT_TRUE(v);
    expectTreeIsTheLiveCatalog(*v, b);
}

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

TEST_F(BuilderScan, NormalScanFindsAWrappedVolumeOn4096ByteSectorsAndTheAlternateHeader) {
    HFSPlusImageOptions o;
    o.sectorSize = 4096;
    o.wrapping = HFSPlusImageOptions::Wrapping::HFSWrapper;
    // drAlBlSt counts 512-byte units even on a 4096-byte-sector device.
    o.wrapperAllocationStart = 8;
    o.wrapperEmbedStartBlock = 2;
    o.diskOffset = 64u << 10;
    HFSPlusImageBuilder b(o);
    addVariety(b);
    const TskImage t = writeImage(b, "wrapped.img");
    const auto& l = b.layout();
    auto v = scan(t, l.containerOffset / 4096, (l.imageSize - l.containerOffset) / 4096);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->HPlusVolStart(), l.volumeStartSector());
    expectTreeIsTheLiveCatalog(*v, b);

    HFSPlusImageOptions alt;
    alt.sectorSize = 4096;
    HFSPlusImageBuilder a(alt);
    addVariety(a);
    a.damageZeroPrimaryHeader();
    const TskImage ta = writeImage(a, "alternate.img");
    auto va = scan(ta, 0, a.layout().volumeSize / 4096);
    ASSERT_TRUE(va);
    expectTreeIsTheLiveCatalog(*va, a);
}
