// The FAT records of the fixtures' mkfs.vfat and mtools volumes, beside what fsstat reads, and damaged twins.

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
    using Layout = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::optional<std::uint64_t>,
                              std::optional<FATType>>; // root start and sectors, data start, clusters, width
    for (const auto& [name, layout] : {std::pair{"fat12.img", Layout{13, 32, 45, 2036, FATType::FAT12}},
                                       std::pair{"fat16.img", Layout{68, 32, 100, 8167, FATType::FAT16}},
                                       std::pair{"fat32.img", Layout{1292, 0, 1292, 80628, FATType::FAT32}}}) {
        const FATBootSector b = bootOf(name);
        EXPECT_TRUE(b.isValid()) << name;
        EXPECT_EQ(Layout(b.rootDirectoryStart(), b.rootDirectorySectors(), b.dataStart(), b.clusterCount(), b.type()),
                  layout)
            << name;
    }
    const auto with = [](auto change) {
        FATBootSector b = bootOf("fat16.img");
        change(b);
        return b;
    };
    const FATBootSector noSectorBytes = with([](auto& b) { b.bytesPerSector = 0; });
    EXPECT_FALSE(noSectorBytes.isValid() || with([](auto& b) { b.bytesPerSector = 1000; }).isValid() ||
                 with([](auto& b) { b.sectorsPerCluster = 3; }).isValid());
    // No sector size, or an end inside the root directory, leaves no clusters; a cut sector is none.
    EXPECT_FALSE(noSectorBytes.type() || with([](auto& b) { b.totalSectors16 = 99; }).clusterCount());
    EXPECT_FALSE(FATBootSector::decode(ByteView(readBytesAt(testImage("fat16.img"), 0, 511))));
}

// fsstat lists the allocated clusters in runs of sectors: "a-b (n) -> EOF" or "-> c", c the next run's sector.
TEST(FATEntry, EveryEntryOfMkfsVolumesIsWhatFsstatListsAndMarkersAndCutPiecesAreKnown) {
    if (!haveTool("fsstat")) GTEST_SKIP() << "The Sleuth Kit is not installed";
    using K = FATEntry::Kind;
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
                for (std::uint64_t c = clusterOf(from); c < clusterOf(to); ++c)
                    next[c] = c + 1;
                next[clusterOf(to)] = std::string(target) == "EOF" ? 0 : clusterOf(std::stoull(target));
            }
        ASSERT_GT(next.size(), 10u) << name;
        std::size_t wrong = 0;
        for (std::uint64_t c = 2; c < *b.clusterCount() + 2; ++c) {
            const auto e = FATEntry::decode(*b.type(), ByteView(fat), 0, c);
            const auto n = next.find(c);
            const K want = n == next.end() ? K::Free : n->second == 0 ? K::EndOfChain : K::Next;
            wrong += !e || e->kind != want || (want == K::Next && e->value != n->second);
        }
        EXPECT_EQ(wrong, 0u) << name;
    }
    // A free FAT32 cluster may carry the reserved top bits; the markers of each width; pieces without the entry.
    const std::vector<std::uint8_t> bytes{0, 0, 0, 0xF0, 0xF7, 0xFF, 0xFF, 0x0F, 0xF8, 0xFF, 0, 0xFF, 0xF7, 0x0F};
    const auto kind = [&](FATType t, std::uint64_t c) { return FATEntry::decode(t, ByteView(bytes), 0, c)->kind; };
    EXPECT_EQ(std::vector({kind(FATType::FAT32, 0), kind(FATType::FAT32, 1), kind(FATType::FAT16, 3),
                           kind(FATType::FAT16, 4), kind(FATType::FAT12, 7), kind(FATType::FAT12, 8)}),
              std::vector({K::Free, K::Bad, K::Next, K::EndOfChain, K::Reserved, K::Bad}));
    EXPECT_FALSE(FATEntry::decode(FATType::FAT32, ByteView(bytes), 0, 3) ||
                 FATEntry::decode(FATType::FAT16, ByteView(bytes), 4, 1));
}

TEST(FATDirectoryEntry, RootOfAnMtoolsVolumeAndAFoldersDotEntries) {
    // FAT16 root directory at sector 68; "DOCUME~1" has cluster 5, sector 100 + 3 x 4.
    const auto root = readBytesAt(testImage("fat16.img"), 68 * 512, 13 * 32);
    const auto dots = readBytesAt(testImage("fat16.img"), 112 * 512, 64);
    const auto entry = [](const auto& bytes, std::size_t i) {
        return *FATDirectoryEntry::decode(ByteView(bytes).sub(i * 32));
    };
    const FATDirectoryEntry readme = entry(root, 1), one = entry(root, 3), docs = entry(root, 5);
    EXPECT_EQ(std::tuple(readme.isDeleted(), readme.name(false), readme.fileSize, readme.firstCluster()),
              std::tuple(true, u" EADME  .TXT", 2500u, 2u));
    EXPECT_EQ(std::tuple(one.name(false), one.fileSize, one.firstCluster(), one.created(), one.modified()),
              std::tuple(u"ONE     .BIN", 1u, 4u, 0x576E01AAu, 0x576E01AAu));
    EXPECT_EQ(std::tuple(docs.name(true), docs.attributes, docs.firstCluster()), std::tuple(u"DOCUME~1", 0x10, 5u));
    EXPECT_TRUE(entry(root, 4).isLongNameSlot() && !one.isLongNameSlot() && !one.isDeleted() && !one.isDotEntry());
    EXPECT_TRUE(entry(dots, 0).isDotEntry() && entry(dots, 1).isDotEntry() && entry(root, 12).endsDirectory());
    // 0x05 stands for a name beginning with the byte 0xE5 (σ); a cut entry is none.
    auto bytes = std::vector<std::uint8_t>(root.begin() + 96, root.begin() + 128);
    bytes[0] = 0x05;
    EXPECT_EQ(entry(bytes, 0).name(false), u"σNE     .BIN");
    EXPECT_FALSE(FATDirectoryEntry::decode(ByteView(bytes).sub(1)));
}
