// What scan-image's commands exit with, and say, when their scan could not read some sectors: the small xorriso volume
// read through a disk that fails one node of its catalog or dies half-way, which the shell tests cannot give
// scan-image.

#include "ScanImageCommands.h"
#include "ScanImageScan.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

class ScanImageExit : public testsupport::ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        image_ = testsupport::smallXorrisoImage();
        if (!image_) GTEST_SKIP() << "xorriso is missing";
    }
    // `tree IMAGE --start START --mode normal`, its tree freed by the fixture.
    ScannedImage scan(const testsupport::FailingReads* disk = nullptr) {
        ScanImageOptions o;
        o.image = image_.path.string();
        o.start = image_.start;
        o.mode = "normal";
        if (disk) o.rawRead = disk->reader();
        ScannedImage scanned = scanImage(o, controller);
        if (scanned.volume) keep(scanned.volume);
        return scanned;
    }

    // Standard error counts the sectors of `image` a read asked for that could not be read, and apart from them
    // those no read asked for: `lost` in all.
    static void expectToldApart(const ScannedImage& scanned, const std::string& image, const std::string& said,
                                std::uint64_t lost) {
        const std::uint64_t failed = scanned.volume->failedSectorsIn(0, UINT64_MAX);
        EXPECT_EQ(scanned.volume->unreadableSectorCount(), lost);
        EXPECT_TRUE(failed > 0 && failed < lost) << failed << " of " << lost;
        EXPECT_NE(said.find(std::to_string(failed) + " sectors of " + image + " could not be read"), std::string::npos)
            << said;
        EXPECT_NE(said.find(std::to_string(lost - failed) + " sectors of " + image + " were not read"),
                  std::string::npos)
            << said;
    }

    testsupport::XorrisoImage image_;
};

} // namespace

// The index root or the first leaf: the tree is still there to print, and standard error names the advanced scan.
TEST_F(ScanImageExit, ANormalTreeScanThatLostACatalogNodeExitsOne) {
    const ScannedImage sound = scan();
    EXPECT_EQ(sound.exitStatus(), 0);
    for (const std::uint32_t node : {sound.volume->catRootNode, sound.volume->firstLeafNode}) {
        testsupport::FailingReads disk;
        disk.failSectors(testsupport::catalogNodeSector(*sound.volume, node), 8);
        testing::internal::CaptureStderr();
        const ScannedImage scanned = scan(&disk);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(scanned.exitStatus(), 1) << node;
        EXPECT_TRUE(scanned.completed && scanned.volume->dirRoot && !scanned.volume->dirRoot->childList.empty());
        expectToldApart(scanned, image_.path.string(), said, 8);
        EXPECT_NE(said.find("--mode advanced"), std::string::npos) << said;
    }
}

// A whole-disk carving of a disk that dies half-way behind a page cache, which it tells stopped: standard error
// counts the sectors a few reads asked for apart from the many no read asked for.
TEST_F(ScanImageExit, ACarvingOfADiskThatDiesHalfWayCountsWhatItAskedApartFromWhatItDidNot) {
    constexpr std::uint64_t kSectors = 1u << 17;
    testsupport::FailingReads disk;
    disk.dieUnderThePageCacheAt(kSectors / 2);
    disk.failPastTheCacheOnceDead();
    ScanImageOptions o;
    o.image = testsupport::patternImage(kSectors).string();
    o.searchTypes = testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, {"jpg"});
    o.carveDriver = "disk";
    o.rawRead = disk.reader();
    testing::internal::CaptureStderr();
    const ScannedImage scanned = scanImage(o, controller);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(scanned.volume);
    keep(scanned.volume);
    EXPECT_TRUE(scanned.volume->stoppedAnswering()) << said;
    EXPECT_LT(scanned.volume->failedSectorsIn(0, UINT64_MAX), 64u);
    expectToldApart(scanned, o.image, said, scanned.volume->unreadableSectorCount());
}

// The volume is still listed, its catalog's rating lower.
TEST_F(ScanImageExit, ALostVolumeSearchThatLostSectorsExitsOne) {
    const ScannedImage sound = scan();
    testsupport::FailingReads disk;
    disk.failSectors(testsupport::catalogNodeSector(*sound.volume, sound.volume->firstLeafNode), 8);
    const std::string listed = "\nvolume\t" + std::to_string(image_.start) + "\t";
    for (const auto* reads : {static_cast<testsupport::FailingReads*>(nullptr), &disk}) {
        testing::internal::CaptureStdout();
        EXPECT_EQ(lostVolumesCommand({image_.path.string()}, reads ? reads->reader() : DMedia::RawRead()),
                  reads ? 1 : 0);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(listed), std::string::npos) << out;
    }
}

// The Apple map's entry in sector 2 (a gap beside the volume) cannot be read: the HFS+ partition after it is still
// listed, and the list says what it could not read.
TEST(ScanImagePartitions, AnAppleMapWithAnUnreadableEntryListsTheRestAndExitsOne) {
    const testsupport::XorrisoImage image = testsupport::smallXorrisoImage();
    if (!image) GTEST_SKIP() << "xorriso is missing";
    testsupport::FailingReads disk;
    disk.failSectors(2);
    const std::string listed = "\tVolume Start=" + std::to_string(image.start) + "\n";
    for (const auto* reads : {static_cast<testsupport::FailingReads*>(nullptr), &disk}) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(partitionsCommand({image.path.string()}, reads ? reads->reader() : DMedia::RawRead()), reads ? 1 : 0);
        const std::string said = testing::internal::GetCapturedStderr();
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_NE(out.find(listed), std::string::npos) << out;
        EXPECT_EQ(said.find("1 sectors of") != std::string::npos, reads != nullptr) << said;
    }
}
