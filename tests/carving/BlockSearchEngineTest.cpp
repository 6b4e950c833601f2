#include "carving/BlockSearchEngine.h"

#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/BTreeTableClassUInt32.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <unistd.h>
#include <utility>

namespace {

// Notes every sector offered and answers the skips it was given.
struct Offered : BlockSearchEngine::Detection {
    std::vector<std::uint64_t> sectors;
    std::map<std::uint64_t, std::uint64_t> skips;
    // Lengths measured from the hit's unit start, every unit they touch.
    std::map<std::uint64_t, std::uint64_t> measured;
    std::function<void(std::uint64_t)> also;
    // The sectors' bytes, when asked.
    bool keepBytes = false;
    std::map<std::uint64_t, std::string> bytesOf;
    BlockSearchEngine::Skip examineSector(std::uint64_t sector, platform::ByteView bytes) override {
        sectors.push_back(sector);
        if (keepBytes) bytesOf[sector].assign(reinterpret_cast<const char*>(bytes.data()), 512);
        if (also) also(sector);
        if (const auto m = measured.find(sector); m != measured.end()) return {m->second, true};
        const auto it = skips.find(sector);
        return {it == skips.end() ? 0 : it->second};
    }
    bool has(std::uint64_t s) const { return std::count(sectors.begin(), sectors.end(), s) == 1; }
};

struct Checkpoints : AutoRecoveryAppend {
    std::vector<std::uint64_t> units;
    void checkpoint(std::uint64_t unit, std::uint64_t, std::uint64_t, std::optional<std::uint64_t>) override {
        units.push_back(unit);
    }
};

class BlockSearchEngineTest : public testsupport::ScanFixture {
protected:
    std::shared_ptr<Volume> volumeOf(std::uint64_t sectors) {
        auto v = keep(testsupport::volumeOver(testsupport::zeroImage(sectors * 512)));
        v->setRawSearchStart(0, 100);
        return v;
    }
    static BlockSearchEngine::Policy units(std::uint64_t count, std::uint32_t sectorsPerUnit) {
        BlockSearchEngine::Policy p;
        p.totalUnits = count;
        p.sectorsPerUnit = sectorsPerUnit;
        return p;
    }
    Checkpoints files;
};

TEST_F(BlockSearchEngineTest, SkipsMoveWithinAndPastTheBatchAndShortHitsGoOnAfterThemselves) {
    auto v = volumeOf(1600);
    Offered offered;
    offered.skips = {{80, 800}, {881, 3}, {1000, 5}};
    offered.measured = {{1203, 10}};
    BlockSearchEngine(*v, files).run(units(200, 8), offered, 0);
    // Ten sectors from sector 3 of unit 150 end in unit 151, where the
    // search goes on.
    EXPECT_TRUE(offered.has(1203) && !offered.has(1204) && !offered.has(1207) && offered.has(1208));
    // Unit 10 covers 100 units: the next batch starts at unit 110.
    EXPECT_TRUE(offered.has(80) && !offered.has(81) && !offered.has(879) && offered.has(880));
    // Less than a unit: the sector after the hit, never the hit again.
    EXPECT_TRUE(offered.has(881) && offered.has(882) && offered.has(1001));
    EXPECT_EQ(offered.sectors.back(), 1599u);
}

// A resumed run starts at its checkpoint (the files found past it are the
// detection's to recognise), writes that start as its first checkpoint, and
// takes a checkpoint it cannot trust (at or past the range's end) back to the
// unit of the last recorded file, or to the range's start.
TEST_F(BlockSearchEngineTest, ResumeStartsAtTheCheckpointOrWhereTheRecordsEnd) {
    auto v = volumeOf(80000);
    v->autoCrashRecovery = true;
    auto policy = units(10000, 8);
    policy.unitBase = policy.firstUnit = 2;
    struct Case {
        std::uint64_t checkpoint;
        std::optional<std::uint64_t> lastRecorded;
        std::uint64_t firstSector;
    };
    for (const Case& c :
         {Case{1000, 5000, (1000 - 2) * 8}, Case{10000, 5003, 5000}, Case{UINT64_MAX, {}, 0}, Case{0, {}, 0}}) {
        Offered offered;
        files.units.clear();
        BlockSearchEngine(*v, files).run(policy, offered, c.checkpoint, c.lastRecorded);
        ASSERT_FALSE(offered.sectors.empty());
        EXPECT_EQ(offered.sectors.front(), c.firstSector) << c.checkpoint;
        EXPECT_EQ(files.units.front(), c.firstSector / 8 + 2) << c.checkpoint;
    }
}

// An unreadable sector costs only itself, examined as zeros, and three failed reads for the whole search; units
// where a known file begins and units in use are not examined.
TEST_F(BlockSearchEngineTest, AnUnreadableSectorIsExaminedAsZerosKnownAndUsedUnitsAreNot) {
    const auto image = testsupport::patternImage(400);
    auto v = keep(testsupport::volumeOver(image));
    v->setRawSearchStart(0, 100);
    testsupport::FailingReads bad;
    bad.failSectors(50);
    v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
    v->btreeFirstFileBlock->insert(std::make_unique<ItemTypeUInt32>(130));
    Offered examined;
    examined.keepBytes = true;
    auto policy = units(400, 1);
    policy.knownFileKey = [](std::uint64_t u) { return std::optional<std::uint64_t>(u); };
    policy.usedFlags = [](std::uint64_t first, UsedBlockMaps::Flags& f) { f.fill(first == 200 ? 1 : 0); };
    BlockSearchEngine(*v, files).run(policy, examined, 0);
    EXPECT_TRUE(examined.has(49) && examined.has(50) && examined.has(51));
    EXPECT_EQ(examined.bytesOf[50], std::string(512, '\0'));
    EXPECT_EQ(examined.bytesOf[51], testsupport::patternBytes(51 * 512, 512));
    EXPECT_EQ(bad.failedReads(), 3u);
    EXPECT_EQ(v->unreadableSectorCount(), 1u);
    EXPECT_TRUE(!examined.has(130) && examined.has(131));
    EXPECT_TRUE(!examined.has(200) && !examined.has(239) && examined.has(240));
}

TEST_F(BlockSearchEngineTest, ClustersStartAtTwoAndAnEmptyRangeReadsNothing) {
    auto v = volumeOf(400);
    Offered offered;
    auto clusters = units(100, 4);
    clusters.unitBase = clusters.firstUnit = 2;
    BlockSearchEngine(*v, files).run(clusters, offered, 0);
    EXPECT_EQ(offered.sectors.front(), 0u);
    EXPECT_EQ(offered.sectors.size(), 98u * 4);

    controller.clear();
    v->setRawSearchStart(30, 30);
    Offered none;
    BlockSearchEngine(*v, files).run(clusters, none, 0);
    EXPECT_TRUE(none.sectors.empty());
    EXPECT_EQ(controller.callsNamed("updateProgress:").size(), 2u);
}

// The windows are read in order, up to two ahead of the search, each sector once (those a window shares with the one
// before it are carried over); a skip past the next window starts the reading anew where the search goes on, and a
// stop leaves at most the two read ahead.
TEST_F(BlockSearchEngineTest, WindowsAreReadInOrderOnceAheadAndASkipOrAStopLeavesTheRestUnread) {
    const std::uint64_t w = BlockSearchEngine::kWindowBytes / 512;
    auto v = volumeOf(8 * w);
    std::vector<int> timesRead(8 * w);
    std::uint64_t last = 0;
    v->setRawRead([&](int fd, std::uint8_t* into, std::size_t length, std::uint64_t offset) {
        EXPECT_GE(offset, std::exchange(last, offset));
        for (std::uint64_t s = offset / 512; s < (offset + length) / 512; ++s)
            ++timesRead[s];
        return ::pread(fd, into, length, static_cast<off_t>(offset));
    });
    Offered skipping;
    skipping.skips = {{100, 4 * w}};
    BlockSearchEngine(*v, files).run(units(8 * w, 1), skipping, 0);
    EXPECT_TRUE(skipping.has(100) && !skipping.has(101) && skipping.has(100 + 4 * w));
    // The windows after the first may or may not have been read when the skip came.
    for (std::uint64_t s = 0; s < 8 * w; ++s)
        ASSERT_EQ(timesRead[s], s < w || s >= 100 + 4 * w ? 1 : s < 3 * w ? timesRead[s / w * w] : 0) << s;

    std::fill(timesRead.begin(), timesRead.end(), 0);
    last = 0;
    Offered stopping;
    stopping.also = [&](std::uint64_t s) { v->setStopTreeThread(s == 10); };
    BlockSearchEngine(*v, files).run(units(8 * w, 1), stopping, 0);
    EXPECT_EQ(std::accumulate(timesRead.begin() + 3 * w, timesRead.end(), 0), 0);
}

TEST_F(BlockSearchEngineTest, StopEndsTheSearchAtTheSectorItCameIn) {
    auto v = volumeOf(4000);
    Offered offered;
    offered.also = [&](std::uint64_t s) { v->setStopTreeThread(s == 10); };
    BlockSearchEngine(*v, files).run(units(4000, 1), offered, 0);
    EXPECT_EQ(offered.sectors.back(), 10u);
}

} // namespace
