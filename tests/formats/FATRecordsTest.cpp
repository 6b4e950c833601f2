// The FAT records read from the volumes mkfs.vfat and mtools made for the
// fixtures, beside what The Sleuth Kit's fsstat reads from them, and their
// damaged twins.

#include "formats/FATBootSector.h"
#include "formats/FATDirectoryEntry.h"
#include "formats/FATEntry.h"
#include "support/TestSupport.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

using platform::ByteView;
using namespace testsupport;

namespace {
FATBootSector bootOf(const std::string& name) {
    return FATBootSector::decode(readBytesAt(testImage(name), 0, 512)).value_or(FATBootSector{});
}
} // namespace

TEST(FATBootSector, MkfsLayoutsOfEachWidthAndDamagedOnesThatGiveNoClusters) {
    struct Layout {
        std::uint64_t rootStart, rootSectors, dataStart, clusters;
        FATType type;
    };
    const std::pair<const char*, Layout> images[] = {{"fat12.img", {13, 32, 45, 2036, FATType::FAT12}},
                                                     {"fat16.img", {68, 32, 100, 8167, FATType::FAT16}},
                                                     {"fat32.img", {1292, 0, 1292, 80628, FATType::FAT32}}};
    for (const auto& [name, l] : images) {
        const FATBootSector b = bootOf(name);
        EXPECT_TRUE(b.isValid()) << name;
        EXPECT_EQ(
            std::tuple(b.rootDirectoryStart(), b.rootDirectorySectors(), b.dataStart(), b.clusterCount(), b.type()),
            std::tuple(l.rootStart, l.rootSectors, l.dataStart, l.clusters, l.type))
            << name;
    }
    EXPECT_EQ(bootOf("fat32.img").rootCluster, 2u);

    FATBootSector b = bootOf("fat16.img");
    b.totalSectors16 = 99; // ends inside the root directory
    EXPECT_EQ(std::pair(b.clusterCount(), b.type()),
              std::pair(std::optional<std::uint64_t>(), std::optional<FATType>()));
    for (std::uint16_t bytes : {0, 256, 1000, 8192}) {
        b = bootOf("fat16.img");
        b.bytesPerSector = bytes;
        EXPECT_FALSE(b.isValid()) << bytes;
    }
    b = bootOf("fat16.img");
    b.sectorsPerCluster = 3;
    EXPECT_FALSE(b.isValid());
    EXPECT_FALSE(FATBootSector::decode(ByteView(readBytesAt(testImage("fat16.img"), 0, 511))));
}

// fsstat lists the allocated clusters in runs of sectors: "a-b (n) -> EOF" or "-> c", c the next run's sector.
TEST(FATEntry, EveryEntryOfMkfsVolumesIsWhatFsstatListsAndMarkersAndCutPiecesAreKnown) {
    if (!haveTool("fsstat")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    for (const char* name : {"fat12.img", "fat16.img", "fat32.img"}) {
        const FATBootSector b = bootOf(name);
        const auto fat = readBytesAt(testImage(name), b.fatStart() * 512, b.fatSize() * 512);
        const auto clusterOf = [&](std::uint64_t sector) { return (sector - b.dataStart()) / b.sectorsPerCluster + 2; };
        std::map<std::uint64_t, std::uint64_t> next; // 0: end of chain
        std::istringstream listing(runCommand("fsstat " + shellQuote(testImage(name).string())).value_or(""));
        unsigned long long from = 0, to = 0;
        char target[16] = {};
        for (std::string line; std::getline(listing, line);)
            if (std::sscanf(line.c_str(), "%llu-%llu (%*u) -> %15s", &from, &to, target) == 3) {
                const std::uint64_t first = clusterOf(from), last = clusterOf(to);
                for (std::uint64_t c = first; c < last; ++c)
                    next[c] = c + 1;
                next[last] = std::string(target) == "EOF" ? 0 : clusterOf(std::stoull(target));
            }
        ASSERT_GT(next.size(), 10u) << name;
        std::size_t wrong = 0;
        for (std::uint64_t c = 2; c < *b.clusterCount() + 2; ++c) {
            const auto e = FATEntry::decode(*b.type(), ByteView(fat), 0, c);
            const auto listed = next.find(c);
            const auto want = listed == next.end()  ? FATEntry::Kind::Free
                              : listed->second == 0 ? FATEntry::Kind::EndOfChain
                                                    : FATEntry::Kind::Next;
            wrong += !e || e->kind != want || (want == FATEntry::Kind::Next && e->value != listed->second);
        }
        EXPECT_EQ(wrong, 0u) << name;
    }
    // A free FAT32 cluster may carry the reserved top bits; the markers of each width; pieces without the entry.
    const std::vector<std::uint8_t> bytes{0x00, 0x00, 0x00, 0xF0, 0xF7, 0xFF, 0xFF,
                                          0x0F, 0xF8, 0xFF, 0x00, 0xFF, 0xF7, 0x0F};
    const auto kind = [&](FATType t, std::uint64_t c) { return FATEntry::decode(t, ByteView(bytes), 0, c)->kind; };
    using K = FATEntry::Kind;
    EXPECT_EQ(std::vector({kind(FATType::FAT32, 0), kind(FATType::FAT32, 1), kind(FATType::FAT16, 3),
                           kind(FATType::FAT16, 4), kind(FATType::FAT12, 7), kind(FATType::FAT12, 8)}),
              std::vector({K::Free, K::Bad, K::Next, K::EndOfChain, K::Reserved, K::Bad}));
    EXPECT_FALSE(FATEntry::decode(FATType::FAT32, ByteView(bytes), 0, 3));
    EXPECT_FALSE(FATEntry::decode(FATType::FAT16, ByteView(bytes), 4, 1));
}

TEST(FATDirectoryEntry, RootOfAnMtoolsVolumeAndAFoldersDotEntries) {
    // FAT16 root directory at sector 68; "DOCUME~1" has cluster 5, sector 100 + 3 x 4.
    const auto root = readBytesAt(testImage("fat16.img"), 68 * 512, 13 * 32);
    const auto entry = [&](std::size_t i) { return *FATDirectoryEntry::decode(ByteView(root).sub(i * 32)); };
    const FATDirectoryEntry readme = entry(1), one = entry(3), slot = entry(4), docs = entry(5);
    EXPECT_TRUE(readme.isDeleted());
    EXPECT_EQ(std::tuple(readme.name(false), readme.fileSize, readme.firstCluster()),
              std::tuple(u" EADME  .TXT", 2500u, 2u));
    EXPECT_EQ(std::tuple(one.name(false), one.fileSize, one.firstCluster(), one.created(), one.modified()),
              std::tuple(u"ONE     .BIN", 1u, 4u, 0x576E01AAu, 0x576E01AAu));
    EXPECT_TRUE(slot.isLongNameSlot() && !one.isLongNameSlot() && !one.isDeleted());
    EXPECT_EQ(std::tuple(docs.name(true), docs.attributes, docs.firstCluster()), std::tuple(u"DOCUME~1", 0x10, 5u));
    EXPECT_TRUE(entry(12).endsDirectory());
    const auto dots = readBytesAt(testImage("fat16.img"), 112 * 512, 64);
    EXPECT_TRUE(FATDirectoryEntry::decode(ByteView(dots))->isDotEntry());
    EXPECT_TRUE(FATDirectoryEntry::decode(ByteView(dots).sub(32))->isDotEntry());
    EXPECT_FALSE(one.isDotEntry());

    // 0x05 stands for a name beginning with the byte 0xE5 (σ); a cut entry is none.
    auto bytes = std::vector<std::uint8_t>(root.begin() + 96, root.begin() + 128);
    bytes[0] = 0x05;
    EXPECT_EQ(FATDirectoryEntry::decode(ByteView(bytes))->name(false), u"σNE     .BIN");
    EXPECT_FALSE(FATDirectoryEntry::decode(ByteView(bytes).sub(1)));
}
