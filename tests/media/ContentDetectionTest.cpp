// The content tests of the drive list and the content hints of partition
// types. The fixture disks' partitions are checked against fsstat in
// tools.scan_image_partitions_content.

#include "media/ContentHint.h"
#include "media/VolumeContentDetection.h"
#include "platform/ByteView.h"
#include "support/FailingReads.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::ByteView;
using platform::Dict;
using testsupport::haveTool;
using testsupport::readBytes;
using testsupport::runCommand;

namespace {

Dict volumeAt(const fs::path& p, std::uint32_t sectorSize = 512) {
    return Dict{{"Path", p.string()}, {"Preferred Block Size", sectorSize}};
}

using testsupport::writeBytesAt;

fs::path emptyFile(const std::string& name, std::uint64_t bytes) {
    return testsupport::zeroFile(testsupport::makeTempDir("content") / name, bytes);
}

// A FAT volume made by mkfs.vfat with the given options and size in KiB,
// and the cluster count mkfs.vfat says it made.
std::optional<std::pair<fs::path, std::uint64_t>> mkfsVfat(const std::string& options, std::uint64_t kib) {
    const fs::path image = testsupport::makeTempDir("fat") / "fat.img";
    auto out = runCommand("mkfs.vfat -C -a --invariant -v " + options + " " + testsupport::shellQuote(image.string()) +
                          " " + std::to_string(kib) + " 2>&1");
    // "... provides N clusters ..."
    const std::size_t at = out ? out->find("provides ") : std::string::npos;
    if (at == std::string::npos) return std::nullopt;
    std::size_t digits = 0;
    const std::string rest = out->substr(at + 9);
    while (digits < rest.size() && std::isdigit(static_cast<unsigned char>(rest[digits])))
        ++digits;
    if (digits == 0 || rest.compare(digits, 9, " clusters") != 0) return std::nullopt;
    return std::pair(image, std::stoull(rest.substr(0, digits)));
}

class ContentDetection : public ::testing::Test {
protected:
    testsupport::LogCapture quiet;
    static fs::path fixture(const std::string& name) {
        fs::path p = testsupport::testImage(name);
        if (p.empty()) ADD_FAILURE() << "fixture image " << name << " was not made";
        return p;
    }

    VolumeContentDetection detect;
};

// A boot sector with the fields the FAT type is computed from.
std::vector<std::uint8_t> bootSector(std::uint16_t bytesPerSector, std::uint8_t sectorsPerCluster,
                                     std::uint16_t reserved, std::uint8_t fats, std::uint16_t rootEntries,
                                     std::uint32_t totalSectors, std::uint32_t fatSize) {
    using testsupport::putLE;
    std::vector<std::uint8_t> b(512, 0);
    b[0] = 0xEB;
    b[2] = 0x90;
    putLE(b, 11, bytesPerSector, 2);
    b[13] = sectorsPerCluster;
    putLE(b, 14, reserved, 2);
    b[16] = fats;
    putLE(b, 17, rootEntries, 2);
    // The 32-bit fields stand in when a value does not fit the 16-bit one.
    putLE(b, totalSectors < 0x10000 ? 19 : 32, totalSectors, totalSectors < 0x10000 ? 2 : 4);
    putLE(b, fatSize < 0x10000 ? 22 : 36, fatSize, fatSize < 0x10000 ? 2 : 4);
    b[54] = 'F', b[55] = 'A', b[56] = 'T';
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

fs::path imageWithBootSector(const std::vector<std::uint8_t>& boot) {
    fs::path p = emptyFile("boot.img", 64 * 1024);
    writeBytesAt(p, 0, boot);
    return p;
}

} // namespace

TEST_F(ContentDetection, SaveSectorReaderAcceptsTheEndOfTheDevice) {
    const fs::path p = emptyFile("r.img", 4096);
    std::vector<std::uint8_t> pattern(4096);
    for (std::size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = static_cast<std::uint8_t>(i * 7);
    writeBytesAt(p, 0, pattern);
    std::vector<std::uint8_t> buffer(2048, 0xEE);
    ASSERT_TRUE(VolumeContentDetection::readSaveSector(2, 2, 512, buffer, p.string()));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 1024, pattern.begin() + 1024));
    // A read across the end, and one wholly past it, succeed; what was not
    // read is left as it was.
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_TRUE(VolumeContentDetection::readSaveSector(7, 4, 512, buffer, p.string()));
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + 512, pattern.begin() + 3584));
    EXPECT_EQ(buffer[600], 0xEE);
    EXPECT_TRUE(VolumeContentDetection::readSaveSector(1000, 1, 512, buffer, p.string()));
    // No device, a request the buffer cannot hold, an offset beyond 64 bits.
    EXPECT_FALSE(VolumeContentDetection::readSaveSector(0, 1, 512, buffer, (p.parent_path() / "none").string()));
    EXPECT_FALSE(VolumeContentDetection::readSaveSector(0, 5, 512, buffer, p.string()));
    EXPECT_FALSE(VolumeContentDetection::readSaveSector(~0ull, 1, 512, buffer, p.string()));
}

TEST_F(ContentDetection, ByteOrderReadersReadModesZeroOneAndThree) {
    const std::uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    const ByteView five(bytes, 5), four(bytes, 4);
    // The last eight: bytes outside the buffer and other modes read as zero.
    const struct {
        ByteView view;
        int offset, mode, width;
        std::uint32_t value;
    } reads[] = {
        {five, 0, 0, 2, 0x1234},      {five, 0, 1, 2, 0x3412},      {five, 3, 1, 2, 0x9A78},
        {five, 0, 0, 4, 0x12345678u}, {five, 0, 3, 4, 0x78563412u}, {five, 1, 3, 4, 0x9A785634u},
        {four, 3, 0, 2, 0},           {four, -1, 1, 2, 0},          {four, 1, 3, 4, 0},
        {four, 0x7FFFFFFF, 0, 4, 0},  {four, -4, 3, 4, 0},          {four, 0, 2, 2, 0},
        {four, 0, 1, 4, 0},           {ByteView(), 0, 0, 4, 0},
    };
    for (const auto& r : reads)
        EXPECT_EQ(r.width == 2 ? VolumeContentDetection::twoByteRead(r.view, r.offset, r.mode)
                               : VolumeContentDetection::fourByteRead(r.view, r.offset, r.mode),
                  r.value)
            << r.width << " bytes at " << r.offset << " in mode " << r.mode << " of " << r.view.size();
}

TEST_F(ContentDetection, EachVolumeImageIsOfItsOwnKindOnlyUnreadableDevicesAnswerNoAndDisksHoldNoFatAtTheirTable) {
    const struct {
        fs::path image;
        bool fat, exfat, apfs;
        const char* fatType;
    } cases[] = {
        {fixture("fat12.img"), true, false, false, "FAT12"},
        {fixture("fat16.img"), true, false, false, "FAT16"},
        {fixture("fat32.img"), true, false, false, "FAT32"},
        {fixture("exfat.img"), false, true, false, "-"},
        {fixture("apfs.img"), false, false, true, "-"},
        {testsupport::copyOfReadyImage("apfs.raw"), false, false, true, "-"},
        {testsupport::copyOfReadyImage("hfsplus.raw"), false, false, false, "-"},
    };
    for (const auto& c : cases) {
        if (c.image.empty()) continue;
        SCOPED_TRACE(c.image.filename());
        const Dict v = volumeAt(c.image);
        EXPECT_EQ(std::tuple(detect.isVolumeFAT(v), detect.isVolumeExFAT(v), detect.isVolumeAPFS(v)),
                  std::tuple(c.fat, c.exfat, c.apfs));
        EXPECT_EQ(detect.fatFileSystemDetermination(v), c.fatType);
        // On 4096-byte sectors too: the APFS container superblock is block 0.
        EXPECT_EQ(detect.isVolumeAPFS(volumeAt(c.image, 4096)), c.apfs);
        if (!c.fat) continue;
        const auto journal = detect.checkForJournal(v);
        ASSERT_TRUE(journal);
        EXPECT_EQ(
            std::pair(journal->get("Content").stringValue(), journal->get("supportFileSystemRecovery").intValue()),
            std::pair(std::string("-"), 0));
    }
    // Devices that cannot be read answer no.
    const fs::path missing = testsupport::makeTempDir("content") / "missing";
    const fs::path empty = emptyFile("empty.img", 0);
    for (const fs::path& p : {missing, empty}) {
        const Dict v = volumeAt(p);
        EXPECT_EQ(std::tuple(detect.isVolumeAPFS(v), detect.isVolumeFAT(v), detect.isVolumeExFAT(v),
                             detect.fatFileSystemDetermination(v), detect.checkForJournal(v).has_value()),
                  std::tuple(false, false, false, "-", false))
            << p;
    }
    // No sector size, or one no device has.
    const fs::path fat = fixture("fat16.img");
    if (fat.empty()) return;
    EXPECT_FALSE(detect.isVolumeFAT(Dict{{"Path", fat.string()}}));
    EXPECT_FALSE(detect.isVolumeFAT(volumeAt(fat, 0x80000000u)));
    EXPECT_FALSE(detect.checkForJournal(volumeAt(fat, 0)));
    // A start sector whose byte offset does not fit 64 bits.
    EXPECT_FALSE(VolumeContentDetection(~0ull / 2).isVolumeFAT(volumeAt(fat)));
    // A disk that starts with a partition table holds no FAT at its start.
    const fs::path mbr = fixture("mbr-extended.img");
    const fs::path gpt = fixture("gpt.img");
    if (mbr.empty() || gpt.empty()) return;
    EXPECT_FALSE(detect.isVolumeFAT(volumeAt(mbr)));
    EXPECT_EQ(detect.fatFileSystemDetermination(volumeAt(gpt)), "-");
    // The partitions are read from their start.
    EXPECT_EQ(VolumeContentDetection(20480).fatFileSystemDetermination(volumeAt(mbr)), "FAT12");
}

TEST_F(ContentDetection, ClusterCountFromTheBootSectorDecidesTheFatTypeAtTheBoundariesOrDashWhenItGivesNone) {
    const std::pair<std::vector<std::uint8_t>, const char*> boots[] = {
        // 2 FATs of 256 sectors, 4 reserved, 512 root entries, 512-byte
        // sectors, 4 sectors a cluster, 262144 sectors: 32 root-folder
        // sectors, 261596 data sectors, 65399 clusters.
        {bootSector(512, 4, 4, 2, 512, 262144, 256), "FAT16"},
        // The 32-bit total and FAT size fields are read when the 16-bit ones are 0.
        {bootSector(512, 1, 32, 2, 0, 2000000, 70000), "FAT32"},
        // Odd but honest numbers are still counted.
        {bootSector(1, 1, 0, 0, 0, 5000, 0), "FAT16"},
        // Zeros; no sectors per cluster; areas larger than the volume.
        {std::vector<std::uint8_t>(512, 0), "-"},
        {bootSector(512, 0, 4, 2, 512, 262144, 256), "-"},
        {bootSector(512, 4, 4, 2, 512, 100, 256), "-"},
        {bootSector(512, 1, 0xFFFF, 0xFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF), "-"},
    };
    for (const auto& [boot, type] : boots)
        EXPECT_EQ(detect.fatFileSystemDetermination(volumeAt(imageWithBootSector(boot))), type)
            << ByteView(boot).le32(32);
    if (!haveTool("mkfs.vfat")) GTEST_SKIP() << "mkfs.vfat not installed";
    struct Case {
        const char* options;
        std::uint64_t kib, clusters;
        const char* type;
    };
    // mkfs.vfat builds FAT12 up to 4084 clusters and FAT16 from 4087 to
    // 65524; the FAT32 layout it builds with a warning for any count, so
    // the same layout on both sides of each boundary shows that the count
    // alone decides.
    const Case cases[] = {
        {"-F 12 -s 1 -r 16 -R 1", 2055, 4084, "FAT12"},
        {"-F 32 -s 1 -R 32", 2090, 4084, "FAT12"},
        {"-F 32 -s 1 -R 31", 2090, 4085, "FAT16"},
        {"-F 16 -s 1 -r 16 -R 4", 2062, 4087, "FAT16"},
        {"-F 16 -s 1 -r 16 -R 1", 33019, 65524, "FAT16"},
        {"-F 32 -s 1 -R 32", 33290, 65524, "FAT16"},
        {"-F 32 -s 1 -R 31", 33290, 65525, "FAT32"},
        // An ordinary FAT32 volume, counted by whatever mkfs.vfat made.
        {"-F 32 -s 1", 40960, 0, "FAT32"},
    };
    for (const Case& c : cases) {
        auto made = mkfsVfat(c.options, c.kib);
        ASSERT_TRUE(made) << c.options << " " << c.kib;
        const auto [image, clusters] = *made;
        const std::string expected = clusters < 4085 ? "FAT12" : clusters < 65525 ? "FAT16" : "FAT32";
        // The count mkfs.vfat made is the one meant, on the side of the boundary meant.
        EXPECT_EQ(std::pair(c.clusters ? clusters : 0, expected), std::pair(c.clusters, std::string(c.type)));
        EXPECT_TRUE(detect.isVolumeFAT(volumeAt(image)));
        EXPECT_EQ(detect.fatFileSystemDetermination(volumeAt(image)), expected)
            << c.options << " " << c.kib << ": " << clusters << " clusters";
    }
}

TEST_F(ContentDetection, HfsPlusVolumesWrappedOrNotAndWhetherTheyAreJournaledAndOthersNeverAre) {
    const fs::path raw = testsupport::copyOfReadyImage("hfsplus.raw");
    ASSERT_FALSE(raw.empty());
    // The macOS-made volume is not journaled (attributes 0x80000100).
    auto journal = detect.checkForJournal(volumeAt(raw));
    ASSERT_TRUE(journal);
    EXPECT_EQ(
        *journal,
        (Dict{{"HFSVolumeStart", 0}, {"Content", "Apple_HFS"}, {"journaled", "No"}, {"supportFileSystemRecovery", 0}}));
    // The same volume with the journaled bit.
    auto bytes = readBytes(raw);
    bytes[1024 + 6] |= 0x20;
    writeBytesAt(raw, 0, bytes);
    journal = detect.checkForJournal(volumeAt(raw));
    ASSERT_TRUE(journal);
    EXPECT_EQ(
        *journal,
        (Dict{
            {"HFSVolumeStart", 0}, {"Content", "Apple_HFS"}, {"journaled", "Yes"}, {"supportFileSystemRecovery", 1}}));
    // On 4096-byte sectors the header is read at the same byte.
    EXPECT_EQ(detect.checkForJournal(volumeAt(raw, 4096)), journal);
    // Case-sensitive HFSX.
    bytes[1025] = 'X';
    writeBytesAt(raw, 0, bytes);
    journal = detect.checkForJournal(volumeAt(raw));
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->get("Content").stringValue(), "Apple_HFSX");
    EXPECT_EQ(journal->get("journaled").stringValue(), "Yes");
    EXPECT_FALSE(detect.isVolumeFAT(volumeAt(raw)));
    // Whatever stands where an HFS+ header keeps its attributes, a volume
    // without the header is not journaled.
    const fs::path junk = emptyFile("junk.img", 8192);
    writeBytesAt(junk, 0, std::vector<std::uint8_t>(4096, 0xFF));
    EXPECT_EQ(detect.checkForJournal(volumeAt(junk)),
              (Dict{{"HFSVolumeStart", 0}, {"Content", "-"}, {"journaled", "No"}, {"supportFileSystemRecovery", 0}}));
    // The journaled HFS+ volume in an HFS wrapper: first allocation sector 6, 4096-byte blocks, embedded volume at
    // block 2: it begins at sector 6 + 2 x 8 = 22.
    const fs::path image = emptyFile("wrapper.img", 22 * 512 + fs::file_size(raw));
    std::vector<std::uint8_t> mdb(512, 0);
    for (auto [at, value, width] : {std::tuple{0, 0x4244, 2}, {20, 4096, 4}, {28, 6, 2}, {124, 0x482B, 2}, {126, 2, 2}})
        testsupport::putBE(mdb, at, value, width);
    writeBytesAt(image, 1024, mdb);
    bytes[1025] = '+';
    writeBytesAt(image, 22 * 512, bytes);
    journal = detect.checkForJournal(volumeAt(image));
    ASSERT_TRUE(journal);
    EXPECT_EQ(
        *journal,
        (Dict{
            {"HFSVolumeStart", 22}, {"Content", "Apple_HFS"}, {"journaled", "Yes"}, {"supportFileSystemRecovery", 1}}));
    // A wrapper around nothing.
    mdb[127] = 200;
    writeBytesAt(image, 1024, mdb);
    journal = detect.checkForJournal(volumeAt(image));
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->get("HFSVolumeStart").uint64Value(), 6u + 200u * 8u);
    EXPECT_EQ(journal->get("Content").stringValue(), "-");
    // A wrapper whose embedded volume lies beyond the end of the device.
    mdb[126] = 0xFF, mdb[127] = 0xFF;
    writeBytesAt(image, 1024, mdb);
    EXPECT_FALSE(detect.checkForJournal(volumeAt(image)));
}

// A disk that fails every read, on sectors of 512 and of 4096 bytes, and a FAT32 volume by mkfs.vfat whose sector 3
// fails, alone or with its whole page through the page cache: every content test of the drive list and of scan-image
// runs twice on one detection. Each request that fails is asked for once, and so is each sector (or APFS block) of it
// asked for on its own, so the dead disk is found to hold nothing in a few dozen failed reads, the FAT32 volume is
// found as without the fault at the cost of its bad sector and the request it lay in, and the second round asks for
// nothing that failed.
TEST_F(ContentDetection, EachPlaceThatFailsIsAskedForOnceByAllTheTestsOfOneDetection) {
    const fs::path fat32 = fixture("fat32.img");
    if (fat32.empty()) return;
    const fs::path dead = emptyFile("dead.img", 8u << 20);
    const struct {
        const char* what;
        fs::path image;
        std::uint32_t sectorSize;
        bool dead, wholePages;
        const char* fatType;
        std::uint64_t atMost;
    } cases[] = {
        {"a dead disk", dead, 512, true, false, "-", 32},
        {"a dead disk of 4096-byte sectors", dead, 4096, true, false, "-", 32},
        {"a FAT32 volume whose sector 3 fails", fat32, 512, false, false, "FAT32", 2},
        {"the same failing its page through the cache", fat32, 512, false, true, "FAT32", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::FailingReads disk;
        if (c.dead) disk.failEveryReadAfter(0);
        if (!c.dead) disk.failSectors(3);
        if (c.wholePages) disk.failWholePagesThroughTheCache();
        const VolumeContentDetection detection(0, disk.reader());
        Dict volume = volumeAt(c.image, c.sectorSize);
        volume.set("Size", static_cast<unsigned long long>(fs::file_size(c.image)));
        const auto answers = [&] {
            return std::tuple(detection.isVolumeAPFS(volume), detection.isVolumeFAT(volume),
                              detection.isVolumeExFAT(volume), detection.fatFileSystemDetermination(volume),
                              detection.checkForJournal(volume).has_value(),
                              detection.volumeHeader(volume).has_value());
        };
        EXPECT_EQ(answers(), std::tuple(false, !c.dead, false, c.fatType, !c.dead, !c.dead));
        const std::uint64_t failed = disk.failedReads();
        EXPECT_GT(failed, 0u);
        EXPECT_LE(failed, c.atMost);
        EXPECT_EQ(disk.mostFailedReadsOfOnePlace(), 1u);
        answers();
        EXPECT_EQ(disk.failedReads(), failed);
    }
}

TEST(ContentHints, MbrTypesMapToTheListVocabulary) {
    const std::pair<std::uint8_t, const char*> hints[] = {
        {0x0B, "DOS_FAT_32"}, {0x0C, "Windows_FAT_32"}, {0x06, "DOS_FAT_16"},
        {0x04, "DOS_FAT_16"}, {0x01, "DOS_FAT_16"},     {0x0E, "Windows_FAT_16"},
        {0xAF, "Apple_HFS"},  {0x83, "0x83"},           {0x07, "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"}};
    for (auto [id, hint] : hints)
        EXPECT_EQ(ContentHint::forMBRSystemID(id), hint) << int(id);
}

TEST(ContentHints, GptTypesAreTheirGuidInUpperCaseAndAppleTypesStandAsTheyAreExceptApfs) {
    const std::uint8_t hfs[16] = {0x00, 0x53, 0x46, 0x48, 0x00, 0x00, 0xAA, 0x11,
                                  0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC};
    EXPECT_EQ(ContentHint::forGPTType(ByteView(hfs, 16)), "48465300-0000-11AA-AA11-00306543ECAC");
    EXPECT_EQ(ContentHint::forGPTType(ByteView(hfs, 15)), "");
    EXPECT_EQ(ContentHint::forApplePartitionType("Apple_HFS"), "Apple_HFS");
    EXPECT_EQ(ContentHint::forApplePartitionType("Apple_HFSX"), "Apple_HFSX");
    EXPECT_EQ(ContentHint::forApplePartitionType(std::string("Apple_HFS\0junk", 14)), "Apple_HFS");
    EXPECT_EQ(ContentHint::forApplePartitionType("Apple_APFS"), "41504653-0000-11AA-AA11-00306543ECAC");
}

TEST(ContentHints, GptTypesOfTheFixtureDiskMatchItsLayout) {
    const fs::path image = testsupport::testImage("gpt.img");
    if (image.empty()) GTEST_SKIP() << "gpt.img was not made";
    const auto bytes = readBytes(image);
    // The layout's rows: number, start, sectors, type GUID, file system, name.
    std::ifstream layout(testsupport::testImagesDir() / "gpt.layout");
    std::size_t entry = 0;
    for (std::string line; std::getline(layout, line);) {
        std::istringstream row(line);
        std::string number, start, sectors, type;
        if (line[0] == '#' || !(row >> number >> start >> sectors >> type)) continue;
        EXPECT_EQ(ContentHint::forGPTType(ByteView(bytes).sub(1024 + 128 * entry++, 16)), type) << line;
    }
    EXPECT_EQ(entry, 4u);
}
