// The partition list read from partition tables: mmls and fsstat check the
// fixture disks in tools.scan_image_partitions_content, mmls the hand-made
// tables it reads here; tables that loop, claim absurd counts or sizes, or end
// early must all end promptly with sane lists.

#include "formats/HFSPlusStructures.h"
#include "media/DMedia.h"
#include "platform/ByteView.h"
#include "platform/RecordingController.h"
#include "support/FailingReads.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using platform::Array;
using platform::ByteView;
using platform::Dict;
using testsupport::haveTool;
using testsupport::putBE;
using testsupport::putLE;
using testsupport::readBytes;
using testsupport::runCommand;

namespace {

std::string quoted(const fs::path& p) {
    return testsupport::shellQuote(p.string());
}

struct Listed {
    std::uint64_t start;
    std::uint64_t sectors;
    std::string name;
    bool operator==(const Listed&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Listed& l) {
    return os << "{" << l.start << ", " << l.sectors << ", \"" << l.name << "\"}";
}

// The partitions mmls lists (not its meta rows or unallocated gaps) whose
// description holds `match`, without a name.
std::vector<Listed> mmls(const fs::path& image, const std::string& match = "", std::uint32_t sectorSize = 512) {
    std::vector<Listed> rows;
    auto out = runCommand("mmls -b " + std::to_string(sectorSize) + " " + quoted(image) + " 2>/dev/null");
    std::istringstream lines(out.value_or(""));
    for (std::string line; std::getline(lines, line);) {
        // "NNN:  SLOT  START  END  LENGTH  DESCRIPTION"
        std::istringstream cols(line);
        std::string index, slot, start, end, length, description;
        if (!(cols >> index >> slot >> start >> end >> length) || index.size() < 2 || index.back() != ':' ||
            index.find_first_not_of("0123456789") != index.size() - 1 || slot == "Meta" || slot == "-------")
            continue;
        const auto number = [](const std::string& t) {
            return !t.empty() && t.find_first_not_of("0123456789") == t.npos;
        };
        if (!number(start) || !number(end) || !number(length)) continue;
        std::getline(cols >> std::ws, description);
        if (description.find(match) != std::string::npos) rows.push_back({std::stoull(start), std::stoull(length), ""});
    }
    return rows;
}

// mmls lists the partitions expected (their names aside) among those whose
// description holds `match`; nothing is compared where mmls is missing.
void expectMmlsLists(const fs::path& image, std::vector<Listed> expected, const std::string& match = "",
                     std::uint32_t sectorSize = 512) {
    if (!haveTool("mmls")) return;
    for (auto& e : expected)
        e.name.clear();
    EXPECT_EQ(mmls(image, match, sectorSize), expected) << "mmls on " << image;
}

fs::path copyOf(const fs::path& source, const std::string& name) {
    fs::path dst = testsupport::makeTempDir("pt") / name;
    fs::copy_file(source, dst);
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    return dst;
}

void putText(std::vector<std::uint8_t>& b, std::size_t at, const std::string& s) {
    std::copy(s.begin(), s.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= data[i];
        for (int k = 0; k < 8; ++k)
            c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

// A disk image written sector by sector; the file is as long as `sectors`.
class DiskImage {
public:
    DiskImage(const std::string& name, std::uint64_t sectors, std::uint32_t sectorSize = 512)
        : path_(testsupport::zeroFile(testsupport::makeTempDir("pt") / name, sectors * sectorSize)),
          sectorSize_(sectorSize) {}
    const fs::path& path() const { return path_; }
    std::uint32_t sectorSize() const { return sectorSize_; }
    std::vector<std::uint8_t> sector() const { return std::vector<std::uint8_t>(sectorSize_, 0); }

    void write(std::uint64_t sector, const std::vector<std::uint8_t>& bytes) {
        testsupport::writeBytesAt(path_, sector * sectorSize_, bytes);
    }
    // A whole file (a volume image) copied in at a sector.
    void place(std::uint64_t sector, const fs::path& volume) { write(sector, readBytes(volume)); }

private:
    fs::path path_;
    std::uint32_t sectorSize_;
};

// An MBR or extended boot record with up to four entries.
struct MbrEntry {
    std::uint8_t type;
    std::uint32_t relative;
    std::uint32_t sectors;
};
std::vector<std::uint8_t> bootRecord(const std::vector<MbrEntry>& entries, std::uint32_t sectorSize = 512) {
    std::vector<std::uint8_t> b(sectorSize, 0);
    for (std::size_t i = 0; i < entries.size() && i < 4; ++i) {
        const std::size_t at = 446 + 16 * i;
        b[at + 4] = entries[i].type;
        putLE(b, at + 8, entries[i].relative, 4);
        putLE(b, at + 12, entries[i].sectors, 4);
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    return b;
}

const std::uint8_t kHFSType[16] = {0x00, 0x53, 0x46, 0x48, 0x00, 0x00, 0xAA, 0x11,
                                   0xAA, 0x11, 0x00, 0x30, 0x65, 0x43, 0xEC, 0xAC};
const std::uint8_t kLinuxType[16] = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                     0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};

struct GptEntry {
    const std::uint8_t* type;
    std::uint64_t first;
    std::uint64_t last;
    std::u16string name;
};

// A GUID table: protective MBR, header in sector 1 and the entry array from
// sector 2, with the checksums a real one carries.
struct GptLayout {
    std::uint32_t entryCount = 128;
    std::uint32_t entrySize = 128;
    std::uint64_t arrayStart = 2;
    std::uint64_t firstUsable = 34;
};
void writeGpt(DiskImage& disk, std::uint64_t diskSectors, const std::vector<GptEntry>& entries,
              const GptLayout& l = {}) {
    const std::uint32_t bps = disk.sectorSize();
    disk.write(
        0,
        bootRecord({{0xEE, 1, static_cast<std::uint32_t>(std::min<std::uint64_t>(diskSectors - 1, 0xFFFFFFFF))}}, bps));
    const std::uint64_t arrayEntries = std::min<std::uint64_t>(l.entryCount, 4096);
    std::vector<std::uint8_t> array(static_cast<std::size_t>(arrayEntries) * std::max<std::uint32_t>(l.entrySize, 1),
                                    0);
    for (std::size_t i = 0; i < entries.size() && (i + 1) * l.entrySize <= array.size(); ++i) {
        const std::size_t at = i * l.entrySize;
        if (!entries[i].type) continue; // an unused slot
        std::copy(entries[i].type, entries[i].type + 16, array.begin() + static_cast<std::ptrdiff_t>(at));
        array[at + 16] = static_cast<std::uint8_t>(i + 1);
        putLE(array, at + 32, entries[i].first, 8);
        putLE(array, at + 40, entries[i].last, 8);
        for (std::size_t k = 0; k < entries[i].name.size() && k < 36; ++k)
            putLE(array, at + 56 + 2 * k, entries[i].name[k], 2);
    }
    std::vector<std::uint8_t> header = disk.sector();
    putText(header, 0, "EFI PART");
    putLE(header, 8, 0x00010000, 4);
    putLE(header, 12, 92, 4);
    putLE(header, 24, 1, 8);
    putLE(header, 32, diskSectors - 1, 8);
    putLE(header, 40, l.firstUsable, 8);
    putLE(header, 48, diskSectors - 34, 8);
    header[56] = 0x42;
    putLE(header, 72, l.arrayStart, 8);
    putLE(header, 80, l.entryCount, 4);
    putLE(header, 84, l.entrySize, 4);
    putLE(header, 88, crc32(array.data(), array.size()), 4);
    putLE(header, 16, crc32(header.data(), 92), 4);
    disk.write(1, header);
    disk.write(l.arrayStart, array);
}

// An Apple partition map entry.
std::vector<std::uint8_t> pmEntry(std::uint32_t count, std::uint32_t start, std::uint32_t length,
                                  const std::string& name, const std::string& type) {
    std::vector<std::uint8_t> b(512, 0);
    putText(b, 0, "PM");
    putBE(b, 4, count, 4);
    putBE(b, 8, start, 4);
    putBE(b, 12, length, 4);
    putText(b, 16, name.substr(0, 32));
    putText(b, 48, type.substr(0, 32));
    return b;
}

// Bytes written at a sector of a hand-made disk.
struct Write {
    std::uint64_t sector;
    std::vector<std::uint8_t> bytes;
};

// The HFS+ volume header of a volume image, in host order.
VolumeInformationBlock headerOf(const fs::path& volume) {
    const std::vector<std::uint8_t> bytes = readBytes(volume);
    return convertVIB(ByteView(bytes).sub(1024, 512));
}

class PartitionTables : public ::testing::Test {
protected:
    // What initialize: lists for an image, read as a drive of that sector size
    // (through `disk` when given); the sectors it could not read are left in
    // `unreadable`.
    Array partitionsOf(const fs::path& image, std::uint32_t sectorSize = 512,
                       const testsupport::FailingReads* disk = nullptr) {
        controller.setDriveDictArray(Array{Dict{{"Path", image.string()}}});
        std::error_code ec;
        const auto size = fs::file_size(image, ec);
        auto drive = DMedia::initWithDictionary(Dict{{"Path", image.string()},
                                                     {"Preferred Block Size", sectorSize},
                                                     {"Size", ec ? 0ull : static_cast<unsigned long long>(size)},
                                                     {"device model", "Test Disk"},
                                                     {"device serial", "SN-1"},
                                                     {"device revision", "1.0"}});
        if (!drive) return {};
        if (disk) drive->setRawRead(disk->reader());
        Array out;
        drive->initialize(out);
        unreadable = drive->unreadableSectorCount();
        // The drive keeps the same dictionaries, each of them the partition's
        // place and name (see listed) and these.
        EXPECT_EQ(drive->volumePMArray, out);
        for (const auto& v : out) {
            Dict rest = v.dictValue();
            for (const char* key : {"Volume Start", "Volume Size In Sectors", "Volume Name"})
                rest.remove(key);
            EXPECT_EQ(rest, (Dict{{"Content", "Apple_HFS"},
                                  {"Volume Scan Type", 0},
                                  {"Path", image.string()},
                                  {"Model", "Test Disk"},
                                  {"Serial", "SN-1"},
                                  {"Revision", "1.0"}}));
        }
        return out;
    }

    static std::vector<Listed> listed(const Array& volumes) {
        std::vector<Listed> out;
        for (const auto& v : volumes) {
            const Dict& d = v.dictValue();
            out.push_back({d.get("Volume Start").uint64Value(), d.get("Volume Size In Sectors").uint64Value(),
                           d.get("Volume Name").stringValue()});
        }
        return out;
    }

    static fs::path fixture(const std::string& name) {
        fs::path p = testsupport::testImage(name);
        if (p.empty()) ADD_FAILURE() << "fixture image " << name << " was not made";
        return p;
    }

    std::uint64_t unreadable = 0;
    testsupport::LogCapture log;
    testsupport::ControllerScope scope;
    platform::RecordingController& controller = scope.controller;
    std::vector<std::string>& logs = log.lines;
};

} // namespace

TEST_F(PartitionTables, MbrPrimaryAndLogicalHfsPartitionsAreListedInTableOrder) {
    const fs::path source = fixture("mbr-extended.img");
    if (source.empty()) return;
    if (!haveTool("sfdisk")) GTEST_SKIP() << "sfdisk not installed";
    // The primary and two logical partitions become HFS partitions; the
    // second logical one gets a real HFS+ volume.
    const fs::path image = copyOf(source, "mbr-hfs.img");
    for (int n : {1, 5, 6})
        ASSERT_TRUE(runCommand("sfdisk -q --no-reread --no-tell-kernel --part-type " + quoted(image) + " " +
                               std::to_string(n) + " af >/dev/null 2>&1"));
    const fs::path raw = testsupport::copyOfReadyImage("hfsplus.raw");
    ASSERT_FALSE(raw.empty());

    // The fixture's layout: slot, start, sectors, type, file system.
    std::vector<Listed> expected;
    std::ifstream layout(testsupport::testImagesDir() / "mbr-extended.layout");
    for (std::string line; std::getline(layout, line);) {
        std::istringstream row(line);
        std::string slot;
        std::uint64_t start = 0, sectors = 0;
        if ((row >> slot >> start >> sectors) && (slot == "1" || slot == "5" || slot == "6"))
            expected.push_back({start, sectors, "Untitled " + std::to_string(expected.size() + 1)});
    }
    ASSERT_EQ(expected.size(), 3u);
    const auto bytes = readBytes(raw);
    ASSERT_LE(bytes.size(), expected[2].sectors * 512);
    testsupport::writeBytesAt(image, expected[2].start * 512, bytes);
    expected[2].name = "hfsplus_test";

    EXPECT_EQ(listed(partitionsOf(image)), expected);
    expectMmlsLists(image, expected, "(0xaf)");
}

TEST_F(PartitionTables, MbrChainsAndAppleMapsListTheirHfsPartitionsAndAnExtendedChainStopsAfter128Records) {
    const fs::path raw = testsupport::copyOfReadyImage("hfsplus.raw");
    ASSERT_FALSE(raw.empty());
    auto unsigned_ = [](std::vector<std::uint8_t> record) {
        record[510] = 0;
        return record;
    };
    const struct {
        const char* what;
        std::uint64_t sectors;
        std::vector<Write> writes;
        std::vector<Listed> expected;
        const char* mmlsMatch = nullptr; // compared with mmls's rows that match
    } cases[] = {
        {"logical starts count from their own record, links from the extended partition",
         4000,
         {{0, bootRecord({{0xAF, 64, 100}, {0x05, 1000, 2500}})},
          {1000, bootRecord({{0xAF, 10, 20}, {0x05, 1000, 500}})}, // next record at 1000 + 1000
          {2000, bootRecord({{0xAF, 30, 40}})}},
         {{64, 100, "Untitled 1"}, {1010, 20, "Untitled 2"}, {2030, 40, "Untitled 3"}},
         "(0xaf)"},
        {"a chain looping back to the first extended record, to itself and to the MBR is read once",
         4000,
         {{0, bootRecord({{0xAF, 64, 100}, {0x05, 1000, 2500}})},
          {1000, bootRecord({{0xAF, 10, 20}, {0x05, 1000, 500}})},
          {2000, bootRecord({{0xAF, 30, 40}, {0x05, 0, 500}, {0x0F, 1000, 10}})}},
         {{64, 100, "Untitled 1"}, {1010, 20, "Untitled 2"}, {2030, 40, "Untitled 3"}}},
        {"a record naming itself as the next one",
         2000,
         {{0, bootRecord({{0x05, 1000, 900}})}, {1000, bootRecord({{0xAF, 5, 5}, {0x05, 0, 900}})}},
         {{1005, 5, "Untitled 1"}}},
        // The logical partition lies past 2^32 sectors; its link points past
        // the drive's end, where nothing is found.
        {"starts beyond four billion sectors do not wrap back onto the disk",
         2000,
         {{0, bootRecord({{0x05, 1000, 900}})}, {1000, bootRecord({{0xAF, 0xFFFFFFF0u, 16}, {0x05, 0xFFFFFF00u, 16}})}},
         {}},
        {"a record without boot signature adds nothing",
         2000,
         {{0, bootRecord({{0xAF, 64, 100}, {0x05, 1000, 900}})}, {1000, unsigned_(bootRecord({{0xAF, 10, 20}}))}},
         {{64, 100, "Untitled 1"}}},
        {"an Apple map with a driver lists the HFS partition named from the map",
         4096,
         {{1, pmEntry(3, 1, 63, "Apple", "Apple_partition_map")},
          {2, pmEntry(3, 64, 64, "Macintosh", "Apple_Driver43")},
          {3, pmEntry(3, 128, 2000, "Macintosh HD", "Apple_HFS")}},
         {{128, 2000, "Macintosh HD"}},
         "Apple_HFS"},
        {"an HFSX partition is listed as Apple_HFS",
         4096,
         {{1, pmEntry(2, 1, 63, "Apple", "Apple_partition_map")}, {2, pmEntry(2, 128, 2000, "Case", "Apple_HFSX")}},
         {{128, 2000, "Case"}}},
        {"the map's walk ends at the first entry without PM",
         4096,
         {{1, pmEntry(4, 1, 63, "Apple", "Apple_partition_map")},
          {2, pmEntry(4, 128, 100, "One", "Apple_HFS")},
          {4, pmEntry(4, 256, 100, "Two", "Apple_HFS")}},
         {{128, 100, "One"}}},
        {"a plain HFS+ volume in an Apple map is named from its catalog",
         10000,
         {{1, pmEntry(2, 1, 63, "Apple", "Apple_partition_map")},
          {2, pmEntry(2, 64, 8112, "Untitled", "Apple_HFS")},
          {64, readBytes(raw)}},
         {{64, 8112, "hfsplus_test"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DiskImage disk("hand.img", c.sectors);
        for (const Write& w : c.writes)
            disk.write(w.sector, w.bytes);
        EXPECT_EQ(listed(partitionsOf(disk.path())), c.expected);
        if (c.mmlsMatch) expectMmlsLists(disk.path(), c.expected, c.mmlsMatch);
    }
    const std::uint32_t records = 300;
    DiskImage disk("long.img", 1000 + 2ull * records + 10);
    disk.write(0, bootRecord({{0x05, 1000, 2 * records}}));
    for (std::uint32_t k = 0; k < records; ++k)
        disk.write(1000 + 2ull * k, bootRecord({{0xAF, 1, 1}, {0x05, 2 * (k + 1), 2}}));
    const auto got = listed(partitionsOf(disk.path()));
    ASSERT_EQ(got.size(), 128u);
    EXPECT_EQ(got.back(), (Listed{1000 + 2 * 127 + 1, 1, "Untitled 128"}));
    EXPECT_TRUE(std::any_of(logs.begin(), logs.end(),
                            [](const std::string& l) { return l.find("longer than 128") != std::string::npos; }));
}

TEST_F(PartitionTables, GptListsItsHfsPartitionsPastEmptyEntriesCountsAreCutAndSizesMustBeMultiplesOf8) {
    auto junkAt101 = [] {
        std::vector<std::uint8_t> junk(512, 0);
        putText(junk, 0, "HX"); // "HX" one sector too early for an H+ header
        return junk;
    };
    const struct {
        const char* what;
        std::vector<GptEntry> entries;
        std::vector<Listed> expected;
        std::vector<Write> after = {};
        std::vector<Listed> mmlsRows = {}; // what mmls lists, when it is compared
    } cases[] = {
        // No HFS+ header in the partitions: the table's names stay, without
        // the zero units that pad the name field.
        {"only HFS partitions, sized last - first + 1",
         {{kLinuxType, 100, 199, u"Linux"}, {kHFSType, 200, 299, u"Mac HD"}, {kHFSType, 300, 300, u"One"}},
         {{200, 100, "Mac HD"}, {300, 1, "One"}},
         {},
         {{100, 100, ""}, {200, 100, ""}, {300, 1, ""}}},
        {"an empty entry is passed over",
         {{kHFSType, 100, 199, u"A"}, {kHFSType, 200, 299, u"B"}, {nullptr, 0, 0, u""}, {kHFSType, 300, 399, u"C"}},
         {{100, 100, "A"}, {200, 100, "B"}, {300, 100, "C"}}},
        {"a partition ending before it starts is skipped",
         {{kHFSType, 300, 100, u"Backwards"}, {kHFSType, 400, 499, u"Fine"}},
         {{400, 100, "Fine"}}},
        {"a protective MBR without EFI header lists nothing",
         {{kHFSType, 100, 199, u"A"}},
         {},
         {{1, std::vector<std::uint8_t>(512, 0)}}},
        {"a volume without H+ header keeps its table name",
         {{kHFSType, 100, 1999, u"Not HFS"}},
         {{100, 1900, "Not HFS"}},
         {{101, junkAt101()}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DiskImage disk("gpt-small.img", 4096);
        writeGpt(disk, 4096, c.entries);
        for (const Write& w : c.after)
            disk.write(w.sector, w.bytes);
        EXPECT_EQ(listed(partitionsOf(disk.path())), c.expected);
        if (!c.mmlsRows.empty()) expectMmlsLists(disk.path(), c.mmlsRows);
    }
    DiskImage disk("gpt-count.img", 4096);
    // 32 sectors of entries hold 128; every slot and the sectors after the
    // array hold an HFS entry that must not be taken for one.
    std::vector<GptEntry> entries;
    for (int i = 0; i < 1024; ++i)
        entries.push_back({kHFSType, 1000u + i, 1000u + i, u"P"});
    writeGpt(disk, 4096, entries, GptLayout{1024, 128, 2, 34});
    std::vector<std::uint8_t> header = testsupport::readBytesAt(disk.path(), 512, 512);
    putLE(header, 80, 0xFFFFFFFFu, 4);
    disk.write(1, header);
    const auto got = listed(partitionsOf(disk.path()));
    ASSERT_EQ(got.size(), 128u);
    EXPECT_EQ(got.back().start, 1127u);

    // A first usable sector in front of the array leaves no room at all.
    putLE(header, 40, 1, 8);
    disk.write(1, header);
    EXPECT_TRUE(partitionsOf(disk.path()).empty());
    for (std::uint32_t size : {0u, 8u, 64u, 120u, 130u, 1024u, 4096u, 0x80000000u, 0xFFFFFFFFu}) {
        DiskImage disk("gpt-size.img", 4096);
        writeGpt(disk, 4096, {{kHFSType, 100, 199, u"A"}}, GptLayout{4, 128, 2, 34});
        std::vector<std::uint8_t> header = testsupport::readBytesAt(disk.path(), 512, 512);
        putLE(header, 84, size, 4);
        disk.write(1, header);
        EXPECT_TRUE(partitionsOf(disk.path()).empty()) << "entry size " << size;
    }
    // Entries larger than 128 bytes are read at their own stride.
    DiskImage wide("gpt-256.img", 4096);
    writeGpt(wide, 4096, {{kHFSType, 100, 199, u"A"}, {kLinuxType, 200, 299, u"L"}, {kHFSType, 300, 399, u"B"}},
             GptLayout{128, 256, 2, 66});
    EXPECT_EQ(listed(partitionsOf(wide.path())), (std::vector<Listed>{{100, 100, "A"}, {300, 100, "B"}}));
}

TEST_F(PartitionTables, GptOnFourKilobyteSectorsNamesTheHfsPlusVolumeAndEachVolumeFromItsOwnCatalogOnly) {
    const fs::path raw = testsupport::copyOfReadyImage("hfsplus.raw");
    ASSERT_FALSE(raw.empty());
    const std::uint64_t sectors = 2048; // 8 MiB
    const std::uint64_t volumeSectors = (fs::file_size(raw) + 4095) / 4096;
    DiskImage disk("gpt-4k.img", sectors, 4096);
    writeGpt(disk, sectors, {{kHFSType, 256, 256 + volumeSectors - 1, u"Mac 4K"}}, GptLayout{128, 128, 2, 6});
    disk.place(256, raw);
    EXPECT_EQ(listed(partitionsOf(disk.path(), 4096)), (std::vector<Listed>{{256, volumeSectors, "hfsplus_test"}}));
    expectMmlsLists(disk.path(), {{256, volumeSectors, ""}}, "", 4096);
    // Two volumes on 512-byte sectors: the second one's catalog header node
    // is gone, and what the first left in the drive's fields must not name it.
    const VolumeInformationBlock vib = headerOf(raw);
    ASSERT_EQ(vib.blockSize, 4096u);
    const std::uint64_t sectors512 = fs::file_size(raw) / 512;
    DiskImage two("gpt-two.img", 20480);
    writeGpt(two, 20480,
             {{kHFSType, 2048, 2048 + sectors512 - 1, u"First"}, {kHFSType, 10240, 10240 + sectors512 - 1, u"Second"}});
    two.place(2048, raw);
    two.place(10240, raw);
    two.write(10240 + std::uint64_t(vib.catalogFile.extents[0].startBlock) * 8, two.sector());
    EXPECT_EQ(listed(partitionsOf(two.path())),
              (std::vector<Listed>{{2048, sectors512, "hfsplus_test"}, {10240, sectors512, "Second"}}));
}

namespace {
// An HFS master directory block at byte 1024 of the partition at `start`.
void writeMDB(DiskImage& disk, std::uint64_t start, std::uint8_t nameLength, const std::string& name,
              std::uint16_t embedSignature, std::uint16_t firstAllocationSector, std::uint32_t blockSize,
              std::uint16_t embedStartBlock, std::uint16_t embedBlocks) {
    auto mdb = disk.sector();
    putBE(mdb, 0, 0x4244, 2);
    putBE(mdb, 20, blockSize, 4);
    putBE(mdb, 28, firstAllocationSector, 2);
    mdb[36] = nameLength;
    putText(mdb, 37, name);
    putBE(mdb, 124, embedSignature, 2);
    putBE(mdb, 126, embedStartBlock, 2);
    putBE(mdb, 128, embedBlocks, 2);
    disk.write(start + 2, mdb);
}
} // namespace

TEST_F(PartitionTables, AppleMapEntryCountIsCappedAt256AndAnHfsWrapperTakesTheWrapperNameThenTheEmbeddedOne) {
    DiskImage many("apm-many.img", 1024);
    many.write(1, pmEntry(0x7FFFFFFF, 1, 600, "Apple", "Apple_partition_map"));
    for (std::uint64_t s = 2; s < 600; ++s)
        many.write(s, pmEntry(0x7FFFFFFF, 700, 10, "P", "Apple_HFS"));
    EXPECT_EQ(partitionsOf(many.path()).size(), 255u);

    // A count that reads as negative lists nothing.
    many.write(1, pmEntry(0xFFFFFFFF, 1, 600, "Apple", "Apple_partition_map"));
    EXPECT_TRUE(partitionsOf(many.path()).empty());
    const fs::path raw = testsupport::copyOfReadyImage("hfsplus.raw");
    ASSERT_FALSE(raw.empty());
    DiskImage disk("apm-wrapper.img", 20480);
    disk.write(1, pmEntry(4, 1, 63, "Apple", "Apple_partition_map"));
    disk.write(2, pmEntry(4, 64, 9000, "Wrapped", "Apple_HFS"));
    disk.write(3, pmEntry(4, 10000, 9000, "Plain HFS", "Apple_HFS"));
    disk.write(4, pmEntry(4, 19100, 1000, "Long", "Apple_HFS"));
    // Embedded volume at 64 + 16 + 2 x 8 = 96.
    writeMDB(disk, 64, 7, "Wrapper", 0x482B, 16, 4096, 2, 1014);
    disk.place(96, raw);
    writeMDB(disk, 10000, 8, "Old Disk", 0, 16, 4096, 0, 0);
    // A length byte beyond the 27-byte field: the name is its 27 bytes.
    writeMDB(disk, 19100, 200, std::string(27, 'N') + "\x12\x34", 0, 16, 4096, 0, 0);
    EXPECT_EQ(listed(partitionsOf(disk.path())),
              (std::vector<Listed>{
                  {64, 9000, "hfsplus_test"}, {10000, 9000, "Old Disk"}, {19100, 1000, std::string(27, 'N')}}));
}

TEST_F(PartitionTables, TruncatedMissingOrOddlySizedDrivesEndWithSaneLists) {
    EXPECT_TRUE(partitionsOf(testsupport::makeTempDir("pt") / "missing.img").empty());
    const fs::path gpt = fixture("gpt.img");
    const fs::path iso = fixture("hfsplus.iso");
    if (gpt.empty() || iso.empty()) return;
    // A sector size no drive has.
    EXPECT_TRUE(partitionsOf(gpt, 256).empty());
    std::uint64_t isoSectors = 0;
    for (const auto& v : partitionsOf(iso))
        isoSectors = v.dictValue().get("Volume Size In Sectors").uint64Value();
    ASSERT_NE(isoSectors, 0u);
    const std::string isoTableName = [&] {
        // The Apple map's own name for the partition, as the map has it.
        const auto bytes = readBytes(iso);
        for (std::size_t s = 2; s < 8; ++s)
            if (ByteView(bytes).be32(s * 512 + 8) == 1944)
                return std::string(reinterpret_cast<const char*>(&bytes[s * 512 + 16]),
                                   strnlen(reinterpret_cast<const char*>(&bytes[s * 512 + 16]), 32));
        return std::string();
    }();
    const struct {
        fs::path source;
        std::uint64_t start, sectors;
        std::string tableName;
    } cases[] = {{gpt, 34816, 49152, "Apple HFS+"}, {iso, 1944, isoSectors, isoTableName}};
    for (const auto& c : cases) {
        const auto full = fs::file_size(c.source);
        for (std::uint64_t length : std::vector<std::uint64_t>{
                 0, 100, 511, 512, 1000, 1024, 2048, 16384, 17408, c.start * 512, c.start * 512 + 1100,
                 c.start * 512 + 1536, c.start * 512 + 8192, c.start * 512 + 65536, c.start * 512 + 200000, full / 2}) {
            const fs::path cut = copyOf(c.source, "cut.img");
            fs::resize_file(cut, std::min<std::uint64_t>(length, full));
            const auto got = listed(partitionsOf(cut));
            // A partition is listed as far as the cut drive holds it, and
            // not at all when it begins past the cut.
            const std::uint64_t onDrive = std::min<std::uint64_t>(length, full) / 512;
            ASSERT_EQ(got.size(), onDrive > c.start ? 1u : 0u) << c.source << " cut at " << length;
            if (got.empty()) continue;
            EXPECT_EQ(std::tuple(got[0].start, got[0].sectors),
                      std::tuple(c.start, std::min(c.sectors, onDrive - c.start)));
            EXPECT_TRUE(got[0].name == c.tableName || got[0].name == "HFSPLUSTEST") << got[0].name;
        }
    }
}

TEST_F(PartitionTables, DamagedCatalogLeavesTheTableName) {
    const fs::path raw = testsupport::copyOfReadyImage("hfsplus.raw");
    ASSERT_FALSE(raw.empty());
    const VolumeInformationBlock vib = headerOf(raw);
    const std::uint64_t catalog = std::uint64_t(vib.catalogFile.extents[0].startBlock) * 8;
    const std::uint64_t volumeSectors = fs::file_size(raw) / 512;
    // Bytes of every kind over the catalog's header node and its first
    // leaf (node 1 onwards): none may be read out of place.
    std::uint32_t seed = 12345;
    for (int round = 0; round < 40; ++round) {
        DiskImage disk("gpt-damaged.img", 10240);
        writeGpt(disk, 10240, {{kHFSType, 2048, 2048 + volumeSectors - 1, u"Table"}});
        disk.place(2048, raw);
        std::vector<std::uint8_t> junk(4096);
        for (auto& b : junk)
            b = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
        if (round % 4 == 0) junk.assign(4096, 0xFF);
        disk.write(2048 + catalog + (round % 2 ? 8 : 0) + (round % 3),
                   std::vector<std::uint8_t>(junk.begin(), junk.begin() + 512 * (1 + round % 8)));
        const auto got = listed(partitionsOf(disk.path()));
        ASSERT_EQ(got.size(), 1u);
        EXPECT_TRUE(got[0].name == "Table" || got[0].name == "hfsplus_test") << got[0].name;
    }
}

// The fixture disks, by xorriso (an Apple map whose entries 1 to 4 are the map, a gap, the HFS+ volume and a gap)
// and sgdisk (a GUID table with its backup at the disk's end), read through a disk that fails chosen sectors of
// their tables: the HFS+ partition is listed as from the whole disk, and the sectors are counted.
TEST_F(PartitionTables, UnreadableSectorsOfATableCostNoPartitionWhoseEntryReadsElsewhere) {
    const fs::path gpt = fixture("gpt.img");
    const fs::path iso = fixture("hfsplus.iso");
    if (gpt.empty() || iso.empty()) return;
    const std::uint64_t gptEnd = fs::file_size(gpt) / 512;
    const struct {
        const char* what;
        fs::path image;
        std::vector<std::uint64_t> bad;
        std::size_t unneeded = 0; // bad sectors the reading never asks for
    } cases[] = {
        {"an Apple map entry of another partition", iso, {2}},
        {"the Apple map's own entry, whose count the next entry repeats", iso, {1}},
        {"sector 0 and the map's own entry", iso, {0, 1}},
        {"the primary GUID header", gpt, {1}},
        {"the primary GUID entries", gpt, {2}},
        {"the protective MBR", gpt, {0}},
        {"the protective MBR, the primary header and its entries, which the sound backup makes unneeded",
         gpt,
         {0, 1, 2},
         1},
        {"the backup header, which the sound primary makes unneeded", gpt, {gptEnd - 1}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<Listed> whole = listed(partitionsOf(c.image));
        ASSERT_EQ(whole.size(), 1u);
        testsupport::FailingReads disk;
        for (std::uint64_t sector : c.bad)
            disk.failSectors(sector);
        EXPECT_EQ(listed(partitionsOf(c.image, 512, &disk)), whole);
        EXPECT_EQ(unreadable, c.bad.size() - c.unneeded);
    }
}

// The fixture disks of each scheme read through a disk that fails every read: nothing is listed, and each sector the
// tests of the schemes look at (sectors 0 to 2 and the backup header in the last) is asked for once and alone,
// counted, and never walked past.
TEST_F(PartitionTables, ADiskThatFailsEveryReadCostsOneFailedReadForEachSectorTheSchemesLookAt) {
    for (const char* name : {"gpt.img", "hfsplus.iso", "mbr-extended.img"}) {
        SCOPED_TRACE(name);
        const fs::path image = fixture(name);
        if (image.empty()) continue;
        testsupport::FailingReads disk;
        disk.failEveryReadAfter(0);
        EXPECT_EQ(partitionsOf(image, 512, &disk), Array{});
        EXPECT_EQ(std::tuple(disk.failedReads(), unreadable, disk.mostFailedReadsOfOnePlace()), std::tuple(4u, 4u, 1u));
    }
}

// A GUID table of six partitions by sgdisk, two of them HFS: "Mac A" in the first sector of entries, "Mac B" in the
// second. No volume lies in them, so they keep the table's names.
TEST_F(PartitionTables, AGuidEntryIsTakenFromWhicheverCopyHoldsItWholeAndOneNeitherReadsIsNotListed) {
    if (!haveTool("sgdisk")) GTEST_SKIP() << "sgdisk not installed";
    const std::uint64_t sectors = 16384, backupHeader = sectors - 1, backupEntries = sectors - 33;
    DiskImage disk("sgdisk.img", sectors);
    ASSERT_TRUE(runCommand("sgdisk -a 8 -n 1:2048:2559 -n 2:2560:3071 -t 2:AF00 -c 2:'Mac A' -n 3:3072:3583 "
                           "-n 4:3584:4095 -n 5:4096:4607 -n 6:4608:5119 -t 6:AF00 -c 6:'Mac B' " +
                           quoted(disk.path()) + " >/dev/null 2>&1"));
    const Listed macA{2560, 512, "Mac A"}, macB{4608, 512, "Mac B"};
    ASSERT_EQ(listed(partitionsOf(disk.path())), (std::vector<Listed>{macA, macB}));

    const struct {
        const char* what;
        std::vector<std::uint64_t> bad;
        std::vector<Listed> expected;
    } cases[] = {
        {"each copy lost the sector of entries the other holds", {3, backupEntries}, {macA, macB}},
        {"the primary's header and the backup's second sector of entries", {1, backupEntries + 1}, {macA, macB}},
        {"the first sector of entries in the primary, and the backup's header", {2, backupHeader}, {macB}},
        {"the first sector of entries in both copies", {2, backupEntries}, {macB}},
        {"both headers", {1, backupHeader}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::FailingReads failing;
        for (std::uint64_t sector : c.bad)
            failing.failSectors(sector);
        EXPECT_EQ(listed(partitionsOf(disk.path(), 512, &failing)), c.expected);
        EXPECT_EQ(unreadable, c.bad.size());
    }

    // Copies that read but disagree: the one whose checksums hold is believed.
    std::vector<std::uint8_t> entries = testsupport::readBytesAt(disk.path(), 2 * 512, 512);
    putLE(entries, 128 + 32, 2600, 8); // Mac A from 2600, the entry array's checksum unchanged
    disk.write(2, entries);
    EXPECT_EQ(listed(partitionsOf(disk.path())), (std::vector<Listed>{macA, macB}));
    // Nothing better to go by: the primary as it is.
    disk.write(backupHeader, disk.sector());
    EXPECT_EQ(listed(partitionsOf(disk.path())), (std::vector<Listed>{{2600, 472, "Mac A"}, macB}));
}
