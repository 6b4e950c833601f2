// One unreadable sector in a catalog leaf node, for the scans that take records from nodes met anywhere: the
// advanced scan on the xorriso volume, the deleted-file scan on a built journal. Every record lying whole in sectors
// that read is listed, with its size; a record that meets the sector is passed over, never listed as an empty file.

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

} // namespace

TEST_F(UnreadableCatalogSector, TheAdvancedScanKeepsEveryRecordThatReads) {
    const XorrisoImage image = xorrisoImage();
    ASSERT_TRUE(image);
    const auto scanned = [&](const FailingReads* disk) {
        auto v = keep(volumeOver(image.path, image.start));
        if (disk) v->setRawRead(disk->reader());
        ScanThread(v).startMakingTree(Array{"Advanced Scan", 0});
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
    } cases[] = {{"the descriptor and four folders", first, 0},
                 {"a folder record's dates and the records after it", first, 1},
                 {"a file record's forks and two more files", second, 4},
                 {"the offset table", first, kNodeSectors - 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.holds);
        const std::uint64_t bad = c.node + c.sector;
        const std::set<std::uint32_t> lost = recordsMeeting(image.path, c.node * 512, c.sector);
        FailingReads disk;
        disk.failSectors(bad);
        const auto v = scanned(&disk);
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
        EXPECT_EQ(v->unreadableSectorCount(), 1u);
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
