#include "fs/apfs/APFSFileSystem.h"
#include "scan/ScanThread.h"
#include "support/ApfsNodeBuilder.h"
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

// A parent chain that loops ends in "Lost Files" instead of going round.
TEST_F(APFSRecoveryTest, ParentChainThatLoopsGoesToLostFiles) {
    auto v = keep(volumeOver(zeroImage(1 << 20), 0, 0, 512, "APFS"));
    v->resetSigArraysAndBtreesAndOthers();
    v->createRoot();
    APFSFileSystem apfs(*v);
    apfs.collectBlock(ApfsNodeBuilder::nodeBlock(
        {.records = {ApfsNodeBuilder::inode({.id = 20, .parent = 21, .name = "one", .folder = true}),
                     ApfsNodeBuilder::inode({.id = 21, .parent = 20, .name = "two", .folder = true})}}));
    ASSERT_EQ(apfs.items().size(), 2u);
    APFSTree(*v).enumerateDirectoryEntryApfsItemsDict(apfs.items(), apfs.extents(), true, v->dirRoot);
    const NewDir* two = nodeAt(v->dirRoot, "Lost Files/two");
    ASSERT_TRUE(two);
    EXPECT_EQ(two->parentID, 7u);
    EXPECT_TRUE(nodeAt(v->dirRoot, "Lost Files/two/one"));
    EXPECT_EQ(nodesByPath(v->dirRoot).size(), 3u);
}

} // namespace
