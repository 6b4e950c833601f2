// One unreadable sector in a catalog leaf node, for the tree scans on the xorriso volume (the normal scan's walk of
// the leaves and the advanced scan's search for nodes met anywhere) and the deleted-file scan on a built journal.
// Every record lying whole in sectors that read is listed, with its size; a record that meets the sector is passed
// over, never listed as an empty file, unless it is a file that meets it with its resource fork alone: that file is
// listed with its data fork and marked damaged. An unreadable header node of the extents-overflow file costs the tree
// scans only the files whose extents lie in that file.

#include "hfsplus/CatalogFragmentSearch.h"
#include "results/DataSaving.h"
#include "scan/ScanThread.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/NewDir.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace testsupport;
using platform::Array;
using Builder = HFSPlusImageBuilder;

namespace {

constexpr std::uint64_t kNodeSectors = 8; // 4096-byte nodes of 512-byte sectors

// The IDs of the folder and file records of the leaf node at `offset` that meet its sector `bad`, by the node's own
// offset table: those whose key or data meet it, and apart from them the files whose resource fork alone does.
struct Meeting {
    std::set<std::uint32_t> records, resourceForks;
};
Meeting recordsMeeting(const std::filesystem::path& image, std::uint64_t offset, std::uint64_t bad) {
    const std::vector<std::uint8_t> bytes = readBytesAt(image, offset, kNodeSectors * 512);
    const platform::ByteView node(bytes);
    Meeting meeting;
    for (std::size_t i = 0; i < node.be16(10); ++i) {
        const std::size_t r = node.be16(node.size() - 2 * (i + 1)), data = r + 2 + node.be16(r);
        const std::int16_t type = node.bes16(data);
        const bool file = type == hfsplus::kFileRecord;
        const std::size_t end = data + (file ? hfsplus::kCatalogFileSize : hfsplus::kCatalogFolderSize);
        if ((!file && type != hfsplus::kFolderRecord) || bad < r / 512 || (end + 511) / 512 <= bad) continue;
        const bool forkAlone = file && bad * 512 >= data + hfsplus::kCatalogFileResourceForkOffset;
        (forkAlone ? meeting.resourceForks : meeting.records).insert(node.be32(data + 8));
    }
    return meeting;
}

struct Found {
    std::string path;
    std::uint64_t size = 0;          // files only: a folder's counts what was found below it
    std::set<std::uint32_t> folders; // IDs of the folders above it
    bool bad = false;                // marked damaged
};

std::map<std::uint32_t, Found> foundByID(const NewDir* root) {
    std::map<std::uint32_t, Found> out;
    for (const auto& [path, d] : nodesByPath(root)) {
        Found f{path, d->fileType == NewDir::File ? d->fileSize : 0, {}, d->complete == NewDir::kDamaged};
        for (const NewDir* a = d->pndirPointer; a && a != root; a = a->pndirPointer)
            f.folders.insert(a->fileID);
        out[d->fileID] = f;
    }
    return out;
}

// A catalog index node of 4096 bytes: keys of files in folder 16, each followed by a child node number whose high
// half reads as a folder record's type.
std::vector<std::uint8_t> indexNode(std::uint16_t records) {
    std::vector<std::uint8_t> node(4096);
    putBE(node, 8, 0x0002, 2); // kind: index, height 2
    putBE(node, 10, records, 2);
    std::size_t at = 14;
    for (std::uint16_t i = 0; i <= records; at += 20, ++i) {
        putBE(node, node.size() - 2 * (i + 1u), at, 2);
        if (i == records) break;
        putBE(node, at, 14, 2);
        putBE(node, at + 2, 16, 4);
        putBE(node, at + 6, 4, 2);
        for (std::size_t u = 0; u < 4; ++u)
            putBE(node, at + 8 + 2 * u, u < 3 ? "idx"[u] : '0' + i % 10, 2);
        putBE(node, at + 16, 0x00010000u + i, 4);
    }
    return node;
}

HFSCatalogRecord fileRecord(std::uint32_t id, const char* name) {
    HFSCatalogRecord r;
    r.keyParentID = 2;
    r.keyName = name;
    r.id = id;
    r.createDate = r.contentModDate = r.attributeModDate = r.accessDate = 0xD5000000u;
    r.dataFork.logicalSize = 5000;
    r.dataFork.totalBlocks = 2;
    r.dataFork.extents.push_back({100 + 2 * (id % 100), 2});
    return r;
}

class UnreadableCatalogSector : public ScanFixture {};

// A scan of a whole volume whose catalog or extents header cannot be read is refused with this alert.
bool refused(const platform::RecordingController& controller) {
    const auto alerts = controller.alerts();
    return std::any_of(alerts.begin(), alerts.end(), [](const auto& a) { return a.title == "!Can not process"; });
}

// What the program's save writes of the files at `paths` of a scanned volume, each marked with the folders above it,
// by those paths.
std::map<std::string, std::string> savedFiles(const std::shared_ptr<Volume>& v, const std::set<std::string>& paths) {
    for (const std::string& path : paths)
        for (NewDir* n = nodeAt(v->dirRoot, path); n; n = n->pndirPointer)
            n->selected = 1;
    const std::filesystem::path to = makeTempDir("saved");
    auto saving = DataSaving::create(v, v->dirRoot, {});
    saving->setPanelSettleDelay(std::chrono::milliseconds(0));
    saving->setMarkedData(DataSaving::countMarkedToSave(v->dirRoot).bytes);
    if (saving->destinationPanelDidEnd(1, to.string())) saving->waitUntilFinished(std::chrono::hours(1));
    std::map<std::string, std::string> out;
    for (const std::string& path : paths)
        out[path] = readText(to / "Root" / path);
    return out;
}

// The first sector of the extents-overflow file's header node, by the volume header a scan has read.
std::uint64_t extentsHeaderSector(const Volume& scanned) {
    return scanned.HPlusVolStart() + std::uint64_t{scanned.vib.extentsFile.extents[0].startBlock} * scanned.blockSize();
}

} // namespace

// The normal scan reads a leaf it cannot read whole by its records and puts a folder whose parent's record was lost
// in "Lost Folders", as the advanced scan does; both note the lost node for the advanced scan. A file whose record
// meets the sector with its resource fork alone is listed with its data fork, saved whole and marked damaged. The
// volume's extents-overflow file holds nothing, so without its header node the tree is the whole tree.
TEST_F(UnreadableCatalogSector, TheTreeScansKeepEveryRecordThatReads) {
    const XorrisoImage image = xorrisoImage();
    ASSERT_TRUE(image);
    for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
        SCOPED_TRACE(mode);
        const auto scanned = [&](const FailingReads* disk) {
            auto v = keep(volumeOver(image.path, image.start));
            if (disk) v->setRawRead(disk->reader(), {}, disk->pastEveryCacheReader());
            ScanThread(v).startMakingTree(Array{mode, 0});
            return v;
        };
        const auto whole = scanned(nullptr);
        const auto want = foundByID(whole->dirRoot);
        ASSERT_GT(want.size(), 3000u);
        std::map<std::uint32_t, std::string> bytes; // of each file
        for (const auto& [path, d] : nodesByPath(whole->dirRoot))
            if (d->fileType == NewDir::File) bytes[d->fileID] = readThroughExtents(*whole, *d);
        // The leaves along their chain, whose records the image's own tables place.
        std::vector<std::uint64_t> leaves;
        for (std::uint32_t node = whole->firstLeafNode; node != 0 && leaves.size() < want.size();) {
            leaves.push_back(catalogNodeSector(*whole, node));
            node = platform::ByteView(readBytesAt(image.path, leaves.back() * 512, 4)).be32(0);
        }
        ASSERT_GT(leaves.size(), 2u);
        const std::uint64_t first = leaves[0], second = leaves[1];
        const struct {
            const char* holds;
            std::vector<std::uint64_t> nodes;
            std::uint64_t sector;
            bool leaf;
        } cases[] = {{"the descriptor and four folders", {first}, 0, true},
                     {"a folder record's dates and the records after it", {first}, 1, true},
                     {"a file record's forks and two more files", {second}, 4, true},
                     {"the offset table", {first}, kNodeSectors - 1, true},
                     {"in each leaf, the second sector", leaves, 1, true},
                     {"the extents-overflow header node", {extentsHeaderSector(*whole)}, 0, false}};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.holds);
            controller.clear();
            FailingReads disk;
            Meeting lost;
            for (const std::uint64_t node : c.nodes) {
                disk.failSectors(node + c.sector);
                if (!c.leaf) continue;
                const Meeting meeting = recordsMeeting(image.path, node * 512, c.sector);
                ASSERT_LT(meeting.records.size() + meeting.resourceForks.size(), 8u);
                lost.records.insert(meeting.records.begin(), meeting.records.end());
                lost.resourceForks.insert(meeting.resourceForks.begin(), meeting.resourceForks.end());
            }
            if (c.nodes.size() > 1) {
                ASSERT_FALSE(lost.resourceForks.empty()) << "no leaf's second sector begins in a file's resource fork";
            }
            const auto v = scanned(&disk);
            ASSERT_FALSE(refused(controller));
            const auto got = foundByID(v->dirRoot);
            std::set<std::string> withoutResourceFork;
            for (const auto& [id, f] : want) {
                const auto it = got.find(id);
                if (lost.records.count(id)) {
                    // Passed over, or found whole elsewhere: never made of zeros.
                    EXPECT_TRUE(it == got.end() || it->second.size == f.size) << f.path << " listed from zeros";
                    continue;
                }
                ASSERT_NE(it, got.end()) << f.path << " is missing";
                EXPECT_EQ(it->second.size, f.size) << f.path;
                EXPECT_EQ(it->second.bad, lost.resourceForks.count(id) != 0) << f.path;
                if (lost.resourceForks.count(id)) {
                    withoutResourceFork.insert(it->second.path);
                    EXPECT_TRUE(logged("the resource fork of file " + std::to_string(id) + " (")) << f.path;
                }
                const bool foldersRead = std::none_of(f.folders.begin(), f.folders.end(), [&](std::uint32_t folder) {
                    return lost.records.count(folder) != 0;
                });
                if (foldersRead) {
                    EXPECT_EQ(it->second.path, f.path);
                }
            }
            EXPECT_EQ(withoutResourceFork.size(), lost.resourceForks.size());
            for (const auto& [path, saved] : savedFiles(v, withoutResourceFork))
                EXPECT_TRUE(saved == bytes.at(nodeAt(v->dirRoot, path)->fileID)) << path << " is not saved whole";
            if (lost.records.empty()) {
                EXPECT_EQ(got.size(), want.size());
            }
            EXPECT_EQ(v->unreadableSectorCount(), c.nodes.size());
            EXPECT_EQ(v->catalogNodesUnread.load(), c.leaf);
            freeVolumes();
        }
    }
}

// Files of one, eight, twelve and twenty extents on a built volume whose extents-overflow header node cannot be read:
// the volume is scanned, those whose record's eight extents cover them are listed whole, the others with those eight
// extents, marked damaged. With the header read every file is whole.
TEST_F(UnreadableCatalogSector, AnUnreadableExtentsHeaderCostsOnlyTheFilesWhoseExtentsItsTreeHolds) {
    Builder b({.volumeName = "Extents"});
    const std::uint32_t docs = b.addFolder(Builder::kRoot, "Docs");
    for (const std::uint32_t count : {1u, 8u, 12u, 20u})
        b.addFile(docs, std::to_string(count) + ".bin", Builder::patternData(4096 * 24 + 100, count),
                  {.extentCount = count});
    const std::filesystem::path image = b.writeTo(makeTempDir("extents-header") / "volume.img");
    for (const bool headerRead : {true, false}) {
        SCOPED_TRACE(headerRead ? "header read" : "header unreadable");
        FailingReads disk;
        if (!headerRead) disk.failSectors(extentsHeaderSector(*keep(scannedVolume(image))));
        auto v = keep(volumeOver(image));
        v->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
        ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        ASSERT_FALSE(refused(controller));
        for (const Builder::Entry& entry : b.manifest()) {
            if (entry.kind != Builder::Kind::File) continue;
            const NewDir* file = nodeAt(v->dirRoot, "Docs/" + entry.name.utf8());
            ASSERT_NE(file, nullptr) << entry.name.utf8() << " is missing";
            const bool cut = !headerRead && entry.dataExtents.size() > hfsplus::kExtentsPerRecord;
            std::vector<HFSExtent> listed;
            for (const ExtP& e : file->extents)
                listed.push_back({e.startBlock, e.blockCount});
            const auto kept = entry.dataExtents.begin() + (cut ? hfsplus::kExtentsPerRecord : entry.dataExtents.size());
            EXPECT_EQ(listed, std::vector<HFSExtent>(entry.dataExtents.begin(), kept)) << entry.name.utf8();
            EXPECT_EQ(file->complete == NewDir::kDamaged, cut) << entry.name.utf8();
            EXPECT_EQ(file->fileSize, entry.size) << entry.name.utf8();
        }
        EXPECT_EQ(v->unreadableSectorCount(), headerRead ? 0u : 1u);
        freeVolumes();
    }
}

TEST_F(UnreadableCatalogSector, TheDeletedScanKeepsEveryRecordOfAJournalCopyThatReads) {
    Builder b({.volumeName = "Deleted", .journaled = true});
    const std::uint32_t docs = b.addFolder(Builder::kRoot, "Docs");
    b.addJournalCopyOf(docs);
    b.endJournalTransaction();
    std::map<std::uint32_t, std::vector<std::uint8_t>> deleted;
    for (std::uint32_t i = 1; i <= 9; ++i) {
        auto data = Builder::patternData(3000 + 1000 * i, i);
        deleted[b.addDeletedFileInJournal(docs, "clip" + std::to_string(i) + ".avi", data)] = data;
    }
    const std::filesystem::path image = b.writeTo(makeTempDir("unreadable-journal") / "volume.img");
    const std::uint64_t copy = b.layout().journalCatalogNodes.back().imageOffset / 512;
    // The second sector begins in a file record's resource fork.
    for (const std::uint64_t sector : {std::uint64_t{0}, std::uint64_t{1}, std::uint64_t{2}, kNodeSectors - 1}) {
        SCOPED_TRACE(sector);
        const Meeting lost = recordsMeeting(image, copy * 512, sector);
        ASSERT_LT(lost.records.size(), 4u);
        auto v = keep(Volume::initWithDictionary(
            platform::Dict{{"WhetherVolume", true},
                           {"Path", image.string()},
                           {"Preferred Block Size", 512},
                           {"Size", static_cast<unsigned long long>(std::filesystem::file_size(image))},
                           {"Content", "Apple_HFS"},
                           {"Volume Name", "test"},
                           {"device model", "-"},
                           {"device serial", "-"},
                           {"device revision", "-"}}));
        FailingReads disk;
        disk.failSectors(copy + sector);
        v->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
        ScanThread(v).scanForDeletedFiles(Array{1, 0});
        for (const auto& [id, data] : deleted) {
            const std::string path = "Docs/" + b.entry(id)->name.utf8();
            NewDir* file = nodeAt(v->dirRoot, path);
            if (lost.records.count(id)) {
                EXPECT_TRUE(!file || file->fileSize == data.size()) << path << " listed from zeros";
                continue;
            }
            ASSERT_NE(file, nullptr) << path << " is missing";
            EXPECT_EQ(readThroughExtents(*v, *file), asString(data)) << path;
            EXPECT_EQ(file->complete == NewDir::kDamaged, lost.resourceForks.count(id) != 0) << path;
        }
        EXPECT_EQ(v->unreadableSectorCount(), 1u);
        freeVolumes();
    }
}

// The advanced scan's search for nodes met anywhere, on a leaf of four files of 266-byte records. With its descriptor
// unreadable a node is judged by its offset table and its records: a leaf's records after the bad sector are taken,
// an index node's keys and child numbers (read as folder records) never make an entry. A file whose record meets the
// bad sector with its resource fork alone is taken, marked damaged.
TEST_F(UnreadableCatalogSector, ANodeWhoseDescriptorCannotBeReadIsJudgedByItsRecords) {
    const std::filesystem::path image = zeroImage(2048 * 512);
    writeAt(image, 100 * 512, indexNode(40));
    writeAt(image, 300 * 512,
            Builder::encodeCatalogLeafNode({fileRecord(900, "a.bin"), fileRecord(901, "b.bin"),
                                            fileRecord(902, "c.bin"), fileRecord(903, "d.bin")},
                                           4096));
    const struct {
        const char* lost;
        std::vector<std::uint64_t> sectors;
        std::set<std::string> parked, marked;
    } cases[] = {// a.bin lies in the first sector, b.bin reaches into it.
                 {"the descriptors", {100, 300}, {"c.bin", "d.bin"}, {}},
                 // b.bin reaches into it with the last 34 bytes of its resource fork, c.bin and d.bin with all.
                 {"the leaf's second sector", {301}, {"a.bin", "b.bin"}, {"b.bin"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lost);
        auto v = keep(volumeOver(image, 0, 2048));
        FailingReads disk;
        for (const std::uint64_t sector : c.sectors)
            disk.failSectors(sector);
        v->setRawRead(disk.reader(), {}, disk.pastEveryCacheReader());
        v->resetSigArraysAndBtreesAndOthers();
        v->setBlockSize(8);
        v->createRoot();
        HFSPlusReaderState& state = hfsState(*v);
        CatalogFragmentSearch(state).searchCatFrags();
        std::set<std::string> parked, marked;
        forEachIndexNode(state.btreeOrphAdvScanEntries->root(), [&](NodeTypeOrph* n) {
            for (std::int32_t i = 0; i < n->count(); ++i) {
                const NewDir* file = n->key(i)->dir();
                parked.insert(newdir::utf8(newdir::fileName(file)));
                if (file->complete == NewDir::kDamaged) marked.insert(newdir::utf8(newdir::fileName(file)));
            }
        });
        EXPECT_EQ(parked, c.parked);
        EXPECT_EQ(marked, c.marked);
        EXPECT_EQ(v->unreadableSectorCount(), c.sectors.size());
        freeVolumes();
    }
}
