// One unreadable sector in a catalog leaf node, for the scans that take records from nodes met anywhere: the
// advanced scan on the xorriso volume, the deleted-file scan on a built journal. Every record lying whole in sectors
// that read is listed, with its size; a record that meets the sector is passed over, never listed as an empty file.

#include "scan/ScanThread.h"
#include "support/FailingReads.h"
#include "support/HFSPlusImageBuilder.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
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
