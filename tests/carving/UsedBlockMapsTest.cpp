#include "carving/UsedBlockMaps.h"

#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <bit>
#include <gtest/gtest.h>
#include <tuple>

namespace {

using Flags = UsedBlockMaps::Flags;
using testsupport::writeAt;

Flags allInUse() {
    Flags f;
    f.fill(1);
    return f;
}

class UsedBlockMapsTest : public testsupport::ScanFixture {};

TEST_F(UsedBlockMapsTest, AllocationFileBitsComeFromTheExtentHoldingThemAcrossABlockEnd) {
    // One-sector allocation blocks: 4096 bits per allocation-file block; its
    // block 0 lies at volume block 10, its block 1 (second extent) at 20.
    const auto image = testsupport::zeroImage(64 * 512);
    writeAt(image, 10 * 512, {0x80});       // block 0 in use, 1..7 free
    writeAt(image, 10 * 512 + 511, {0x01}); // block 4095 in use
    writeAt(image, 20 * 512, {0xF0});       // blocks 4096..4099 in use
    auto v = keep(testsupport::volumeOver(image));
    v->setBlockSize(1);
    UsedBlockMaps maps(*v, {Extent(10, 1), Extent(20, 1)});

    Flags f = allInUse();
    maps.get40BlocksUsedStatusFromBlock(4095, f);
    Flags want{};
    for (int k : {0, 1, 2, 3, 4})
        want[k] = 1;
    EXPECT_EQ(f, want);

    f = allInUse();
    maps.get40BlocksUsedStatusFromBlock(0, f);
    EXPECT_EQ(f[0], 1);
    for (int k = 1; k < 40; ++k)
        EXPECT_EQ(f[k], 0) << k;

    std::uint32_t bit = 0;
    EXPECT_EQ(maps.getAllocationBlockForBlock(4097, bit), 20u);
    EXPECT_EQ(bit, 1u);
    // Past the allocation file's extents nothing is known: flags stay set.
    f = allInUse();
    maps.get40BlocksUsedStatusFromBlock(3 * 4096, f);
    EXPECT_EQ(f, allInUse());
}

TEST_F(UsedBlockMapsTest, FatEntriesOfEachWidthSayWhichClustersAreInUseAcrossASectorEnd) {
    const auto image = testsupport::zeroImage(64 * 512);
    // FAT16 from sector 4: clusters 100..139 at byte 200; 101 and 139 in use.
    writeAt(image, 4 * 512 + 202, {0x05, 0x00});
    writeAt(image, 4 * 512 + 278, {0xFF, 0xFF});
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, "FAT16"));
    FATGeometry fat{FATType::FAT16, {}};
    fat.boot.reservedSectorCount = 4;
    Flags f = allInUse();
    UsedBlockMaps(*v, fat).get40BlocksUsedStatusOfFATFromBlock(100, f);
    Flags want{};
    want[1] = want[39] = 1;
    EXPECT_EQ(f, want);

    // FAT12: cluster 2 free (low 12 bits of 0x4000), cluster 3 in use (high
    // 12 bits of the 16-bit value at byte 4: 0x400).
    writeAt(image, 4 * 512 + 3, {0x00, 0x40, 0x00});
    fat.type = FATType::FAT12;
    f = allInUse();
    UsedBlockMaps(*v, fat).get40BlocksUsedStatusOfFATFromBlock(2, f);
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f[1], 1);

    // FAT32 on 4096-byte sectors: cluster 1023's entry ends the FAT's first
    // sector; 1024's, in use, begins the next. Cluster 1025 is free though its
    // entry's reserved top bits are set.
    const auto large = testsupport::zeroImage(16 * 4096);
    writeAt(large, 4096 + 4 * 1024, {0x07});
    writeAt(large, 4096 + 4 * 1025, {0x00, 0x00, 0x00, 0xF0});
    auto v32 = keep(testsupport::volumeOver(large, 0, 0, 4096, "FAT32"));
    fat = {FATType::FAT32, {}};
    fat.boot.reservedSectorCount = 1;
    f = allInUse();
    UsedBlockMaps(*v32, fat).get40BlocksUsedStatusOfFATFromBlock(1023, f);
    want.fill(0);
    want[1] = 1;
    EXPECT_EQ(f, want);
}

// A FAT of each width whose every cluster is in use, with its second sector unreadable: a cluster whose entry lies on
// that sector, wholly or in part (a FAT12 entry straddles two sectors), is searched as a free one is, and the others
// keep their entries. A FAT, or an allocation file, that cannot be read at all costs the logarithm of its length in
// failed reads over all its batches, not one for each of its sectors.
TEST_F(UsedBlockMapsTest, AnUnreadableMapSectorFreesTheUnitsItHoldsAndABadMapCostsAFewReads) {
    constexpr std::uint64_t kSectors = 2048, kMapStart = 4;
    const auto image = testsupport::zeroImage(kSectors * 512);
    writeAt(image, kMapStart * 512, std::vector<std::uint8_t>((kSectors - kMapStart) * 512, 0x77));
    for (const auto& [type, content, entryBits] :
         {std::tuple{FATType::FAT12, "FAT12", 12u}, {FATType::FAT16, "FAT16", 16u}, {FATType::FAT32, "FAT32", 32u}}) {
        SCOPED_TRACE(content);
        auto v = keep(testsupport::volumeOver(image, 0, 0, 512, content));
        testsupport::FailingReads bad;
        bad.failSectors(kMapStart + 1);
        v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
        FATGeometry fat{type, {}};
        fat.boot.reservedSectorCount = kMapStart;
        UsedBlockMaps maps(*v, fat);
        // Batches across both ends of the unreadable sector.
        for (const std::uint64_t first : {4096 / entryBits - 20, 8192 / entryBits - 20}) {
            Flags f = allInUse();
            maps.get40BlocksUsedStatusOfFATFromBlock(first, f);
            for (std::uint64_t k = 0; k < 40; ++k) {
                const std::uint64_t firstBit = (first + k) * entryBits, lastBit = firstBit + entryBits - 1;
                const bool lost = lastBit >= 4096 && firstBit < 8192;
                EXPECT_EQ(f[k], lost ? 0 : 1) << "cluster " << first + k;
            }
        }
        EXPECT_LE(bad.failedReads(), 3u);
    }
    testsupport::FailingReads dead;
    dead.failSectors(kMapStart, kSectors);
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, "FAT16"));
    v->setRawRead(dead.reader(), {}, dead.pastEveryCacheReader());
    FATGeometry fat{FATType::FAT16, {}};
    fat.boot.reservedSectorCount = kMapStart;
    UsedBlockMaps fatMap(*v, fat);
    v->setBlockSize(1);
    UsedBlockMaps allocationFile(*v, {Extent(kMapStart, kSectors - kMapStart)});
    for (std::uint64_t unit = 2; unit < (kSectors - kMapStart) * 256; unit += 40) {
        Flags clusters = allInUse(), blocks = allInUse();
        fatMap.get40BlocksUsedStatusOfFATFromBlock(unit, clusters);
        allocationFile.get40BlocksUsedStatusFromBlock(unit, blocks);
        ASSERT_EQ(std::tuple(clusters, blocks), std::tuple(Flags{}, Flags{})) << unit;
    }
    EXPECT_LE(dead.failedReads(), static_cast<std::uint64_t>(2 * std::bit_width(kSectors) + 4));
}

} // namespace
