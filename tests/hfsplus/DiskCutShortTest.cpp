// A copy of a failing disk that stopped short: three xorriso HFS+ volumes of
// ImageMagick photos in a GUID disk, cut 64 sectors into the second.

#include "media/DMedia.h"
#include "scan/ScanThread.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform;
using namespace testsupport;

namespace {

constexpr std::uint64_t kCutAt = kCutShortDiskBytes;

class DiskCutShort : public ScanFixture {
protected:
    void SetUp() override {
        ScanFixture::SetUp();
        for (const char* tool : {"xorriso", "sgdisk", "convert"})
            if (!haveTool(tool)) GTEST_SKIP() << tool << " not installed";
        static const auto dir = cutShortHfsDisk();
        ASSERT_TRUE(dir) << "the cut disk could not be made";
        image = (*dir / "disk.img").string();
        controller.setDriveDictArray(Array{Dict{{"Path", image}}});
    }
    Array partitionList() {
        Array rows;
        if (auto drive =
                DMedia::initWithDictionary(Dict{{"Path", image}, {"Preferred Block Size", 512}, {"Size", kCutAt}}))
            drive->initialize(rows);
        return rows;
    }
    std::string scanImage(const std::string& command, const std::string& options = "") const {
        return std::string(DRENTIC_SCAN_IMAGE) + " " + command + " " + shellQuote(image) + options + " 2>/dev/null";
    }
    std::string image;
};

} // namespace

TEST_F(DiskCutShort, PartitionListsOfferTheTwoPartitionsOnTheMediumTheSecondEndingAtTheCut) {
    const Array rows = partitionList();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].dictValue().get("Volume Size In Sectors").uint64Value(), 8192u);
    EXPECT_EQ(rows[1].dictValue().get("Volume Start").uint64Value(), 10240u);
    EXPECT_EQ(rows[1].dictValue().get("Volume Size In Sectors").uint64Value(), 64u);
    EXPECT_TRUE(logged("sector 18432 begins past the medium's end"));
    EXPECT_EQ(runCommand(scanImage("partitions") + " | grep -o 'Sectors=[0-9]*'"), "Sectors=8192\nSectors=64\n");
}

TEST_F(DiskCutShort, NormalScanOfTheCutPartitionFindsItsPhotosAndAsksForNothingPastTheCut) {
    Dict row = partitionList().at(1).dictValue();
    row.set("Preferred Block Size", 512);
    auto volume = keep(Volume::initWithDictionary(row));
    ASSERT_TRUE(volume);
    EXPECT_EQ(volume->startSector + volume->sizeInSect(), kCutAt / 512);
    std::uint64_t askedUpTo = 0; // the normal scan reads on this thread
    volume->setRawRead([&askedUpTo](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
        askedUpTo = std::max(askedUpTo, offset + length);
        return static_cast<std::int64_t>(::pread(fd, buffer, length, static_cast<off_t>(offset)));
    });
    ScanThread(volume).startMakingTree(Array{"Normal Scan", 0});
    for (const char* photo : {"Photos/photo1.jpg", "Photos/photo2.jpg", "Photos/photo3.jpg"})
        EXPECT_NE(nodeAt(volume->dirRoot, photo), nullptr) << photo;
    EXPECT_LE(askedUpTo, kCutAt);
    // scan-image finds them too, and exits 0: it lost no sector.
    EXPECT_EQ(runCommand(scanImage("tree", " --start 10240") + " >" + shellQuote(image + ".tree") + " && grep -c jpg " +
                         shellQuote(image + ".tree")),
              "3\n");
}
