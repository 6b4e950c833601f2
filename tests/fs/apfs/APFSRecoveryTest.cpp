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
}

} // namespace
