#include "results/PreviewData.h"

#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace platform;
namespace fs = std::filesystem;

namespace {

const std::string kPasswords = "place,user,password\nbank,joesmith,superrich\nalarm system,-,1234\ntreasure "
                               "chest,-,1111\nuber secret laire,admin,admin\n";
const std::string kAFile = "This is a text file.\n\nWe should be able to parse it.\n";

using testsupport::asString;

// Sectors of the pattern image.
std::string sectorBytes(std::uint64_t first, std::uint64_t count) {
    return testsupport::patternBytes(first * 512, count * 512);
}

// A file of `size` bytes in these extents of `sectorsPerBlock` sectors.
PreviewData::Source fileSource(std::uint8_t sectorsPerBlock, std::vector<ExtP> extents, std::uint64_t size,
                               std::uint32_t dataStart = 0) {
    PreviewData::Source s;
    s.fileType = NewDir::File;
    s.sectorsPerBlock = sectorsPerBlock;
    s.dataStartSector = dataStart;
    s.extents = std::move(extents);
    s.fileSize = size;
    return s;
}

class PreviewReading : public testsupport::ScanFixture {
protected:
    // The macOS-made volume, scanned as the program scans it, and the
    // source of its passwords.txt.
    PreviewData::Source scannedFixture() {
        v = keep(testsupport::scannedVolume(testsupport::copyOfReadyImage("hfsplus.raw")));
        NewDir* node = testsupport::nodeAt(v->dirRoot, "passwords.txt");
        EXPECT_NE(node, nullptr);
        return node ? PreviewData::Source::of(*node) : PreviewData::Source{};
    }
    // A volume over a pattern image, its HFS+ volume at sector `start`.
    void patternVolume(std::uint64_t sectors, const std::string& content = "Apple_HFS", std::uint64_t start = 0) {
        v = testsupport::volumeOver(testsupport::patternImage(sectors), 0, 0, 512, content);
        v->setHPlusVolStart(start);
    }
    PreviewData::Result load(const PreviewData::Source& s) { return PreviewData::getPreviewData(*v, s, abort); }
    // The data of a load that succeeded, as text.
    std::string loaded(const PreviewData::Source& s) {
        const PreviewData::Result r = load(s);
        return r.outcome == PreviewData::Outcome::Loaded ? asString(r.data) : "(not loaded)";
    }

    std::shared_ptr<Volume> v;
    std::atomic<bool> abort{false};
};

} // namespace

TEST_F(PreviewReading, AFoundFileLoadsAsItsExactContent) {
    const PreviewData::Source passwords = scannedFixture();
    ASSERT_EQ(passwords.fileSize, 116u);
    EXPECT_EQ(loaded(passwords), kPasswords);
    EXPECT_FALSE(abort.load());

    NewDir* other = testsupport::nodeAt(v->dirRoot, "a_directory/a_file");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(loaded(PreviewData::Source::of(*other)), kAFile);
    EXPECT_TRUE(controller.alerts().empty());
}

TEST_F(PreviewReading, ExtentsLongerThanTheSizeAreCutAtTheSizeAndShorterOnesGiveTheBlocksRead) {
    PreviewData::Source s = scannedFixture();
    ASSERT_EQ(s.extents.size(), 1u);
    ASSERT_EQ(s.extents.front().blockCount, 1u);
    PreviewData::Source longer = s;
    // More blocks than the size needs: the data ends at the file's size.
    longer.extents.push_back({longer.extents.front().startBlock + 1, 3});
    longer.extents.front().blockCount += 9;
    EXPECT_EQ(loaded(longer), kPasswords);
    longer.fileSize = 20;
    EXPECT_EQ(loaded(longer), kPasswords.substr(0, 20));
    // One 4096-byte block was read, so one block is all there is.
    s.fileSize = 10'000'000;
    const std::string data = loaded(s);
    ASSERT_EQ(data.size(), 4096u);
    EXPECT_EQ(data.substr(0, 116), kPasswords);
}

TEST_F(PreviewReading, BlocksAreFoundFromTheVolumeStartTheNodeStartAndTheBlockSize) {
    patternVolume(400, "Apple_HFS", 4);
    // 19 blocks (runs of 8, then 3), then 11 blocks (one run of 8, then
    // three single blocks), the last one holding the file's end.
    PreviewData::Source s = fileSource(2, {{10, 19}, {100, 11}}, (19 + 10) * 1024 + 300, 6);
    std::string expected = sectorBytes(4 + 6 + 10 * 2, 19 * 2) + sectorBytes(4 + 6 + 100 * 2, 11 * 2);
    EXPECT_EQ(loaded(s), expected.substr(0, s.fileSize));
}

TEST_F(PreviewReading, AReadLengthOutOfBoundsAbortsThePreview) {
    patternVolume(16);
    PreviewData::Result r = load(fileSource(0, {{1, 2}}, 100)); // a block of no bytes
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Aborted);
    EXPECT_TRUE(abort.load());
    EXPECT_TRUE(r.data.empty());
}

TEST_F(PreviewReading, ANewerRequestAbortsTheReading) {
    patternVolume(16);
    abort = true;
    PreviewData::Result r = load(fileSource(1, {{1, 4}}, 2048));
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Aborted);
    EXPECT_TRUE(r.data.empty());
}

TEST_F(PreviewReading, ExtentsBeyondAnyDeviceAbortInsteadOfWrapping) {
    patternVolume(16, "Apple_HFS", UINT64_MAX - 4);
    EXPECT_EQ(load(fileSource(255, {{0xFFFFFFF0u, 4}}, 2048)).outcome, PreviewData::Outcome::Aborted);
}

TEST_F(PreviewReading, AFailedReadEndsSilentlyAfterTheReadersOwnAlert) {
    fs::path gone = testsupport::makeTempDir("preview") / "no-such-device";
    { std::ofstream(gone) << "x"; }
    v = testsupport::volumeOver(gone);
    fs::remove(gone);
    PreviewData::Source s = fileSource(1, {{0, 1}}, 10);
    EXPECT_EQ(load(s).outcome, PreviewData::Outcome::ReadFailed);
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts().front().title, "! Can not show preview");
    EXPECT_EQ(controller.callsNamed("previewClose:").size(), 1u);
    EXPECT_FALSE(PreviewData::previewTextData(*v, s).has_value());
}

TEST_F(PreviewReading, TheFirstBlockShowsAsPrintableText) {
    const PreviewData::Source passwords = scannedFixture();
    auto text = PreviewData::previewTextData(*v, passwords);
    ASSERT_TRUE(text.has_value());
    std::string expected = kPasswords;
    std::replace(expected.begin(), expected.end(), '\n', '.');
    EXPECT_EQ(*text, expected);
}

TEST(PreviewText, ControlBytesBecomeDotsAndNothingPastTheSizeShows) {
    std::vector<std::uint8_t> block(512, 'Z');
    block[0] = 0x41;
    block[1] = 0x0A;
    block[2] = 0x42;
    EXPECT_EQ(PreviewData::printableText(ByteView(block), 3), "A.B");
    block[1] = 0x00;
    block[2] = 0xE9;
    EXPECT_EQ(PreviewData::printableText(ByteView(block), 3), "A..");
    // The block's last byte never shows, even when the file fills it.
    EXPECT_EQ(PreviewData::printableText(ByteView(block), 5000).size(), 511u);
    EXPECT_EQ(PreviewData::printableText(ByteView(block), 0), "");
    EXPECT_EQ(PreviewData::printableText(ByteView(), 10), "");
}

TEST_F(PreviewReading, TextOfANodeWithoutExtentsOrBlockSize) {
    patternVolume(4);
    PreviewData::Source s = fileSource(1, {}, 10);
    EXPECT_FALSE(PreviewData::previewTextData(*v, s).has_value());
    s.extents = {{1, 1}};
    s.sectorsPerBlock = 0;
    EXPECT_EQ(PreviewData::previewTextData(*v, s), std::optional<std::string>(""));
}

TEST(PreviewKind, TheExtensionIsTheLastDotSeparatedPartLowercased) {
    EXPECT_EQ(PreviewData::extensionOf(u"photo.JPG"), u"jpg");
    EXPECT_EQ(PreviewData::extensionOf(u"archive.tar.GZ"), u"gz");
    EXPECT_EQ(PreviewData::extensionOf(u"README"), u"readme");
    EXPECT_EQ(PreviewData::extensionOf(u"ends."), u"");
    EXPECT_EQ(PreviewData::extensionOf(u""), u"");
}
