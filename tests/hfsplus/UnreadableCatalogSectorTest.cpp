// One unreadable sector in a catalog leaf node, for the tree scans on the xorriso volume (the normal scan's walk of
// the leaves and the advanced scan's search for nodes met anywhere) and the deleted-file scan on a built journal.
// Every record lying whole in sectors that read is listed, with its size; a record that meets the sector is passed
// over, never listed as an empty file. An unreadable header node of the extents-overflow file costs the tree scans
// only the files whose extents lie in that file.

#include "hfsplus/CatalogFragmentSearch.h"
#include "scan/ScanThread.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/NewDir.h"

#include <algorithm>
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
// offset table.
std::set<std::uint32_t> recordsMeeting(const std::filesystem::path& image, std::uint64_t offset, std::uint64_t bad) {
    const std::vector<std::uint8_t> bytes = readBytesAt(image, offset, kNodeSectors * 512);
    const platform::ByteView node(bytes);
    std::set<std::uint32_t> ids;
    for (std::size_t i = 0; i < node.be16(10); ++i) {
        const std::size_t r = node.be16(node.size() - 2 * (i + 1)), data = r + 2 + node.be16(r);
        const std::int16_t type = node.bes16(data);
        const std::size_t end =
            data + (type == hfsplus::kFolderRecord ? hfsplus::kCatalogFolderSize : hfsplus::kCatalogFileSize);
        if ((type == hfsplus::kFolderRecord || type == hfsplus::kFileRecord) && r / 512 <= bad &&
            bad < (end + 511) / 512)
            ids.insert(node.be32(data + 8));
    }
    return ids;
}

struct Found {
    std::string path;
    std::uint64_t size = 0;          // files only: a folder's counts what was found below it
    std::set<std::uint32_t> folders; // IDs of the folders above it
};

std::map<std::uint32_t, Found> foundByID(const NewDir* root) {
    std::map<std::uint32_t, Found> out;
    for (const auto& [path, d] : nodesByPath(root)) {
        Found f{path, d->fileType == NewDir::File ? d->fileSize : 0, {}};
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

// The first sector of the extents-overflow file's header node, by the volume header a scan has read.
std::uint64_t extentsHeaderSector(const Volume& scanned) {
    return scanned.HPlusVolStart() + std::uint64_t{scanned.vib.extentsFile.extents[0].startBlock} * scanned.blockSize();
}

} // namespace

// The normal scan reads a leaf it cannot read whole by its records and puts a folder whose parent's record was lost
// in "Lost Folders", as the advanced scan does; both note the lost node for the advanced scan. The volume's
// extents-overflow file holds nothing, so without its header node the tree is the whole tree.
TEST_F(UnreadableCatalogSector, TheTreeScansKeepEveryRecordThatReads) {
    const XorrisoImage image = xorrisoImage();
    ASSERT_TRUE(image);
    for (const char* mode : {"Normal Scan", "Advanced Scan"}) {
        SCOPED_TRACE(mode);
        const auto scanned = [&](const FailingReads* disk) {
            auto v = keep(volumeOver(image.path, image.start));
            if (disk) v->setRawRead(disk->reader());
            ScanThread(v).startMakingTree(Array{mode, 0});
            return v;
        };
        const auto whole = scanned(nullptr);
        const auto want = foundByID(whole->dirRoot);
        ASSERT_GT(want.size(), 3000u);
        // The first two leaves, whose records the image's own table places.
        const std::uint64_t first = catalogNodeSector(*whole, whole->firstLeafNode);
        const std::uint64_t second =
            catalogNodeSector(*whole, platform::ByteView(readBytesAt(image.path, first * 512, 4)).be32(0));
        ASSERT_NE(second, 0u);
        const struct {
            const char* holds;
            std::uint64_t node, sector;
            bool leaf;
        } cases[] = {{"the descriptor and four folders", first, 0, true},
                     {"a folder record's dates and the records after it", first, 1, true},
                     {"a file record's forks and two more files", second, 4, true},
                     {"the offset table", first, kNodeSectors - 1, true},
                     {"the extents-overflow header node", extentsHeaderSector(*whole), 0, false}};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.holds);
            controller.clear();
            const std::set<std::uint32_t> lost =
                c.leaf ? recordsMeeting(image.path, c.node * 512, c.sector) : std::set<std::uint32_t>{};
            FailingReads disk;
            disk.failSectors(c.node + c.sector);
            const auto v = scanned(&disk);
            ASSERT_FALSE(refused(controller));
            const auto got = foundByID(v->dirRoot);
            ASSERT_LT(lost.size(), 8u);
            for (const auto& [id, f] : want) {
                const auto it = got.find(id);
                if (lost.count(id)) {
                    // Passed over, or found whole elsewhere: never made of zeros.
                    EXPECT_TRUE(it == got.end() || it->second.size == f.size) << f.path << " listed from zeros";
                    continue;
                }
                ASSERT_NE(it, got.end()) << f.path << " is missing";
                EXPECT_EQ(it->second.size, f.size) << f.path;
                const bool foldersRead = std::none_of(f.folders.begin(), f.folders.end(),
                                                      [&](std::uint32_t folder) { return lost.count(folder) != 0; });
                if (foldersRead) {
                    EXPECT_EQ(it->second.path, f.path);
                }
            }
            if (lost.empty()) {
                EXPECT_EQ(got.size(), want.size());
            }
            EXPECT_EQ(v->unreadableSectorCount(), 1u);
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
        v->setRawRead(disk.reader());
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
    for (const std::uint64_t sector : {std::uint64_t{0}, std::uint64_t{2}, kNodeSectors - 1}) {
        SCOPED_TRACE(sector);
        const std::set<std::uint32_t> lost = recordsMeeting(image, copy * 512, sector);
        ASSERT_LT(lost.size(), 4u);
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
        v->setRawRead(disk.reader());
        ScanThread(v).scanForDeletedFiles(Array{1, 0});
        for (const auto& [id, data] : deleted) {
            const std::string path = "Docs/" + b.entry(id)->name.utf8();
            NewDir* file = nodeAt(v->dirRoot, path);
            if (lost.count(id)) {
                EXPECT_TRUE(!file || file->fileSize == data.size()) << path << " listed from zeros";
                continue;
            }
            ASSERT_NE(file, nullptr) << path << " is missing";
            EXPECT_EQ(readThroughExtents(*v, *file), asString(data)) << path;
        }
        EXPECT_EQ(v->unreadableSectorCount(), 1u);
        freeVolumes();
    }
}

// With its descriptor unreadable a node is judged by its offset table and its records: a leaf's records after the
// bad sector are taken, an index node's keys and child numbers (read as folder records) never make an entry.
TEST_F(UnreadableCatalogSector, ANodeWhoseDescriptorCannotBeReadIsJudgedByItsRecords) {
    const std::filesystem::path image = zeroImage(2048 * 512);
    writeAt(image, 100 * 512, indexNode(40));
    writeAt(image, 300 * 512,
            Builder::encodeCatalogLeafNode({fileRecord(900, "a.bin"), fileRecord(901, "b.bin"),
                                            fileRecord(902, "c.bin"), fileRecord(903, "d.bin")},
                                           4096));
    auto v = keep(volumeOver(image, 0, 2048));
    FailingReads disk;
    disk.failSectors(100);
    disk.failSectors(300);
    v->setRawRead(disk.reader());
    v->resetSigArraysAndBtreesAndOthers();
    v->setBlockSize(8);
    v->createRoot();
    HFSPlusReaderState& state = hfsState(*v);
    CatalogFragmentSearch(state).searchCatFrags();
    std::set<std::string> parked;
    forEachIndexNode(state.btreeOrphAdvScanEntries->root(), [&](NodeTypeOrph* n) {
        for (std::int32_t i = 0; i < n->count(); ++i)
            parked.insert(newdir::utf8(newdir::fileName(n->key(i)->dir())));
    });
    // a.bin lies in the first sector, b.bin reaches into it.
    EXPECT_EQ(parked, (std::set<std::string>{"c.bin", "d.bin"}));
    EXPECT_EQ(v->unreadableSectorCount(), 2u);
}
