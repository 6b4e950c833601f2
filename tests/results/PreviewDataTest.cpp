#include "results/PreviewData.h"

#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

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

std::shared_ptr<Volume> volumeFor(const fs::path& image, const std::string& content) {
    return testsupport::volumeOver(image, 0, 0, 512, content);
}

// A file of `size` bytes in these extents of `sectorsPerBlock` sectors.
PreviewData::Source fileSource(std::uint8_t sectorsPerBlock, std::vector<ExtP> extents, std::uint64_t size) {
    PreviewData::Source s;
    s.fileType = NewDir::File;
    s.sectorsPerBlock = sectorsPerBlock;
    s.extents = std::move(extents);
    s.fileSize = size;
    return s;
}

// A disk image whose every byte tells where it is: byte i of sector s is
// (s * 7 + i) mod 251, so a wrong sector or offset shows in the data.
fs::path patternImage(std::uint64_t sectors) {
    fs::path p = testsupport::makeTempDir("preview") / "pattern.img";
    std::ofstream out(p, std::ios::binary);
    for (std::uint64_t s = 0; s < sectors; ++s)
        for (int i = 0; i < 512; ++i)
            out.put(static_cast<char>((s * 7 + i) % 251));
    return p;
}
std::string patternBytes(std::uint64_t sector, std::uint64_t count) {
    std::string out;
    for (std::uint64_t s = sector; s < sector + count; ++s)
        for (int i = 0; i < 512; ++i)
            out.push_back(static_cast<char>((s * 7 + i) % 251));
    return out;
}

class PreviewReading : public testsupport::ScanFixture {
protected:
    // The macOS-made volume, scanned as the program scans it.
    std::shared_ptr<Volume> scannedFixture() {
        return keep(testsupport::scannedVolume(testsupport::copyOfReadyImage("hfsplus.raw")));
    }
};

} // namespace

TEST_F(PreviewReading, AFoundFileLoadsAsItsExactContent) {
    auto v = scannedFixture();
    NewDir* node = testsupport::nodeAt(v->dirRoot, "passwords.txt");
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->fileSize, 116u);
    std::atomic<bool> abort{false};
    PreviewData::Result r = PreviewData::getPreviewData(*v, PreviewData::Source::of(*node), abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Loaded);
    EXPECT_EQ(asString(r.data), kPasswords);
    EXPECT_FALSE(abort.load());

    NewDir* other = testsupport::nodeAt(v->dirRoot, "a_directory/a_file");
    ASSERT_NE(other, nullptr);
    r = PreviewData::getPreviewData(*v, PreviewData::Source::of(*other), abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Loaded);
    EXPECT_EQ(asString(r.data), kAFile);
    EXPECT_TRUE(controller.alerts().empty());
}

TEST_F(PreviewReading, ExtentsLongerThanTheSizeAreCutAtTheSize) {
    auto v = scannedFixture();
    NewDir* node = testsupport::nodeAt(v->dirRoot, "passwords.txt");
    ASSERT_NE(node, nullptr);
    PreviewData::Source s = PreviewData::Source::of(*node);
    std::atomic<bool> abort{false};

    // More blocks than the size needs: the data ends at the file's size.
    s.extents.push_back({s.extents.front().startBlock + 1, 3});
    s.extents.front().blockCount += 9;
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Loaded);
    EXPECT_EQ(asString(r.data), kPasswords);

    s.fileSize = 20;
    r = PreviewData::getPreviewData(*v, s, abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Loaded);
    EXPECT_EQ(asString(r.data), kPasswords.substr(0, 20));
}

TEST_F(PreviewReading, ExtentsShorterThanTheSizeGiveOnlyTheBlocksRead) {
    auto v = scannedFixture();
    NewDir* node = testsupport::nodeAt(v->dirRoot, "passwords.txt");
    ASSERT_NE(node, nullptr);
    PreviewData::Source s = PreviewData::Source::of(*node);
    ASSERT_EQ(s.extents.size(), 1u);
    ASSERT_EQ(s.extents.front().blockCount, 1u);
    s.fileSize = 10'000'000;
    std::atomic<bool> abort{false};
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Loaded);
    // One 4096-byte block was read, so one block is all there is.
    ASSERT_EQ(r.data.size(), 4096u);
    EXPECT_EQ(asString(r.data).substr(0, 116), kPasswords);
}

TEST_F(PreviewReading, BlocksAreFoundFromTheVolumeStartTheNodeStartAndTheBlockSize) {
    fs::path img = patternImage(400);
    auto v = volumeFor(img, "Apple_HFS");
    v->setHPlusVolStart(4);
    // 19 blocks (runs of 8, then 3), then 11 blocks (one run of 8, then
    // three single blocks), the last one holding the file's end.
    PreviewData::Source s = fileSource(2, {{10, 19}, {100, 11}}, (19 + 10) * 1024 + 300);
    s.dataStartSector = 6;
    std::atomic<bool> abort{false};
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    ASSERT_EQ(r.outcome, PreviewData::Outcome::Loaded);
    std::string expected = patternBytes(4 + 6 + 10 * 2, 19 * 2) + patternBytes(4 + 6 + 100 * 2, 11 * 2);
    expected.resize(s.fileSize);
    EXPECT_EQ(asString(r.data), expected);
}

TEST_F(PreviewReading, APFSExtentsCountDeviceSectors) {
    fs::path img = patternImage(64);
    auto v = volumeFor(img, "APFS");
    v->setHPlusVolStart(8);
    PreviewData::Source s = fileSource(8, {{20, 2}, {40, 2}}, 3 * 512 + 17);
    s.dataStartSector = 3;
    std::atomic<bool> abort{false};
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    ASSERT_EQ(r.outcome, PreviewData::Outcome::Loaded);
    std::string expected = patternBytes(20, 2) + patternBytes(40, 2);
    expected.resize(s.fileSize);
    EXPECT_EQ(asString(r.data), expected);
    // The text tab reads its first block from the same place.
    auto text = PreviewData::previewTextData(*v, s);
    ASSERT_TRUE(text.has_value());
    std::string block = patternBytes(20, 8);
    EXPECT_EQ(*text, PreviewData::printableText(
                         ByteView(reinterpret_cast<const std::uint8_t*>(block.data()), block.size()), s.fileSize));
}

TEST_F(PreviewReading, AReadLengthOutOfBoundsAbortsThePreview) {
    fs::path img = patternImage(16);
    auto v = volumeFor(img, "Apple_HFS");
    PreviewData::Source s = fileSource(0, {{1, 2}}, 100); // a block of no bytes
    std::atomic<bool> abort{false};
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Aborted);
    EXPECT_TRUE(abort.load());
    EXPECT_TRUE(r.data.empty());
}

TEST_F(PreviewReading, ANewerRequestAbortsTheReading) {
    fs::path img = patternImage(16);
    auto v = volumeFor(img, "Apple_HFS");
    PreviewData::Source s = fileSource(1, {{1, 4}}, 2048);
    std::atomic<bool> abort{true};
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Aborted);
    EXPECT_TRUE(r.data.empty());
}

TEST_F(PreviewReading, ExtentsBeyondAnyDeviceAbortInsteadOfWrapping) {
    fs::path img = patternImage(16);
    auto v = volumeFor(img, "Apple_HFS");
    v->setHPlusVolStart(UINT64_MAX - 4);
    PreviewData::Source s = fileSource(255, {{0xFFFFFFF0u, 4}}, 2048);
    std::atomic<bool> abort{false};
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::Aborted);
}

TEST_F(PreviewReading, AFailedReadEndsSilentlyAfterTheReadersOwnAlert) {
    fs::path gone = testsupport::makeTempDir("preview") / "no-such-device";
    { std::ofstream(gone) << "x"; }
    auto v = volumeFor(gone, "Apple_HFS");
    fs::remove(gone);
    PreviewData::Source s = fileSource(1, {{0, 1}}, 10);
    std::atomic<bool> abort{false};
    PreviewData::Result r = PreviewData::getPreviewData(*v, s, abort);
    EXPECT_EQ(r.outcome, PreviewData::Outcome::ReadFailed);
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts().front().title, "! Can not show preview");
    EXPECT_EQ(controller.callsNamed("previewClose:").size(), 1u);
    EXPECT_FALSE(PreviewData::previewTextData(*v, s).has_value());
}

TEST_F(PreviewReading, TheFirstBlockShowsAsPrintableText) {
    auto v = scannedFixture();
    NewDir* node = testsupport::nodeAt(v->dirRoot, "passwords.txt");
    ASSERT_NE(node, nullptr);
    auto text = PreviewData::previewTextData(*v, PreviewData::Source::of(*node));
    ASSERT_TRUE(text.has_value());
    std::string expected = kPasswords;
    for (char& c : expected)
        if (c == '\n') c = '.';
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
    fs::path img = patternImage(4);
    auto v = volumeFor(img, "Apple_HFS");
    PreviewData::Source s = fileSource(1, {}, 10);
    EXPECT_FALSE(PreviewData::previewTextData(*v, s).has_value());
    s.extents = {{1, 1}};
    s.sectorsPerBlock = 0;
    auto text = PreviewData::previewTextData(*v, s);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, "");
}

TEST(PreviewKind, TheExtensionIsTheLastDotSeparatedPartLowercased) {
    EXPECT_EQ(PreviewData::extensionOf(u"photo.JPG"), u"jpg");
    EXPECT_EQ(PreviewData::extensionOf(u"archive.tar.GZ"), u"gz");
    EXPECT_EQ(PreviewData::extensionOf(u"README"), u"readme");
    EXPECT_EQ(PreviewData::extensionOf(u"ends."), u"");
    EXPECT_EQ(PreviewData::extensionOf(u""), u"");
}
