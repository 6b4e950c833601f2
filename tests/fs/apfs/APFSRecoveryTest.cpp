#include "fs/apfs/APFSFileSystem.h"
#include "scan/ScanThread.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>
#include <map>

using namespace testsupport;

namespace {

class APFSRecoveryTest : public ScanFixture {
protected:
    std::shared_ptr<Volume> treeScan(const std::filesystem::path& image, std::uint32_t sectorBytes = 512,
                                     std::uint64_t start = 0) {
        auto v = keep(volumeOver(image, start, 0, sectorBytes, "APFS"));
        ScanThread scan(v);
        scan.startMakingTree(platform::Array{"Normal Scan", 0});
        EXPECT_TRUE(scan.foundVolume());
        return v;
    }
};

// The macOS-made container: every entry under its parent with its size, and
// each file's bytes through its extents, on either sector size.
TEST_F(APFSRecoveryTest, MacOSContainerGivesEveryEntryWithItsBytes) {
    const std::map<std::string, std::string> files{
        {"a_directory/a_file", "This is a text file.\n\nWe should be able to parse it.\n"},
        {"a_directory/another_file", "This is another file.\n"},
        {"a_directory/a_resourcefork", ""},
        {"passwords.txt", "place,user,password\nbank,joesmith,superrich\nalarm system,-,1234\ntreasure chest,-,1111\n"
                          "uber secret laire,admin,admin\n"},
        {"a_link", ""},
    };
    for (const std::uint32_t sectorBytes : {512u, 4096u}) {
        auto v = treeScan(copyOfReadyImage("apfs.raw"), sectorBytes);
        const NewDir* folder = nodeAt(v->dirRoot, "a_directory");
        ASSERT_TRUE(folder && folder->isFolder()) << sectorBytes;
        EXPECT_EQ(folder->pndirPointer, v->dirRoot);
        for (const auto& [path, content] : files) {
            const NewDir* f = nodeAt(v->dirRoot, path);
            ASSERT_TRUE(f) << path;
            EXPECT_FALSE(f->isFolder()) << path;
            EXPECT_EQ(f->fileSize, content.size()) << path;
            EXPECT_EQ(readThroughExtents(*v, *f), content) << path << " on " << sectorBytes;
        }
        EXPECT_EQ(nodesByPath(v->dirRoot).size(), files.size() + 1);
    }
    // An empty range reads nothing: the root stands alone.
    auto v = keep(volumeOver(copyOfReadyImage("apfs.raw"), 0, 0, 512, "APFS"));
    v->setRawSearchStart(40, 40);
    ScanThread(v).startMakingTree(platform::Array{"Normal Scan", 0});
    EXPECT_EQ(std::tuple(v->totalBlocks, nodesByPath(v->dirRoot).size()), std::tuple(0u, 0u));
}

} // namespace

namespace {

void put(std::vector<std::uint8_t>& b, std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A leaf node of a file-system tree with a table of contents of `nkeys`
// slots in `tableBytes`; its records are put in by the caller.
std::vector<std::uint8_t> leafNode(std::uint32_t nkeys, std::uint16_t tableBytes) {
    std::vector<std::uint8_t> b(4096);
    put(b, 24, 3, 2);  // node
    put(b, 28, 14, 4); // file-system tree
    put(b, 32, 2, 2);  // leaf
    put(b, 36, nkeys, 4);
    put(b, 42, tableBytes, 2);
    return b;
}

// Slot i (of a 64-byte table) names an inode whose value holds the given extended fields
// (type, size; a name field's value is `name`).
void putInode(std::vector<std::uint8_t>& b, std::uint32_t i, std::uint64_t id, std::uint64_t parent,
              const std::vector<std::pair<std::uint8_t, std::uint16_t>>& fields, const std::string& name) {
    const std::size_t keyAt = 56 + 64 + 16 * i, valueAt = 2048 - 512 * i;
    put(b, 56 + 8 * i, 16 * i, 2);
    put(b, 56 + 8 * i + 2, 8, 2);
    put(b, 56 + 8 * i + 4, 4096 - valueAt, 2);
    put(b, 56 + 8 * i + 6, 512, 2);
    put(b, keyAt, id | (std::uint64_t{3} << 60), 8);
    put(b, valueAt, parent, 8);
    put(b, valueAt + 92, fields.size(), 2);
    std::size_t v = valueAt + 96 + 4 * fields.size();
    for (std::size_t f = 0; f < fields.size(); ++f) {
        put(b, valueAt + 96 + 4 * f, fields[f].first, 1);
        put(b, valueAt + 96 + 4 * f + 2, fields[f].second, 2);
        if (fields[f].first == 4 && v + name.size() <= b.size())
            std::copy(name.begin(), name.end(), b.begin() + static_cast<std::ptrdiff_t>(v));
        v += (fields[f].second + 7) / 8 * 8;
    }
}

} // namespace

// Counts, offsets and sizes of a hostile node stay inside its block, and a
// parent chain that loops ends in "Lost Files" instead of going round.
TEST_F(APFSRecoveryTest, CraftedNodesStayInTheirBlockAndALoopGoesToLostFiles) {
    auto v = keep(volumeOver(zeroImage(1 << 20), 0, 0, 512, "APFS"));
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    APFSFileSystem apfs(*v);
    apfs.collectBlock(leafNode(0xFFFF, 0xFFFF)); // a table that cannot fit
    auto wild = leafNode(2, 16);
    put(wild, 56, 0xFFF0, 2);     // key past the block
    put(wild, 64 + 4, 0xFFFF, 2); // value before the block
    apfs.collectBlock(wild);
    auto huge = leafNode(1, 64);
    putInode(huge, 0, 30, 2, {{1, 0xFFFF}, {4, 8}}, "hidden"); // the name lies past the block
    apfs.collectBlock(huge);
    EXPECT_TRUE(apfs.items().empty());

    auto loop = leafNode(2, 64);
    putInode(loop, 0, 20, 21, {{4, 8}}, "one");
    putInode(loop, 1, 21, 20, {{4, 8}}, "two");
    apfs.collectBlock(loop);
    ASSERT_EQ(apfs.items().size(), 2u);
    APFSTree(*v).enumerateDirectoryEntryApfsItemsDict(apfs.items(), apfs.extents(), true, v->dirRoot);
    const NewDir* two = nodeAt(v->dirRoot, "Lost Files/two");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->parentID, 7u);
    EXPECT_TRUE(nodeAt(v->dirRoot, "Lost Files/two/one"));
    EXPECT_EQ(nodesByPath(v->dirRoot).size(), 3u);
}
