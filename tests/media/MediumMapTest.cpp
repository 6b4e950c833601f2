#include "media/MediumMap.h"

#include <gtest/gtest.h>
#include <optional>
#include <tuple>
#include <vector>

namespace {
using Kept = std::vector<std::tuple<std::uint64_t, std::uint64_t, bool>>; // begin, end, failed
Kept runsOf(const MediumMap& known) {
    Kept out;
    for (const MediumMap::Run& run : known.runsIn(0, 1000))
        out.emplace_back(run.begin, run.end, run.failed());
    return out;
}
} // namespace

// Sectors that failed and sectors a walk stepped over are kept apart: a failure takes the place of what was skipped,
// a stepped-over sector never hides one that failed, a read takes either out, and both count as unreadable.
TEST(MediumMap, FailedAndSteppedOverSectorsAreKeptApartAndBothCount) {
    MediumMap known;
    known.addSteppedOver(100, 200);
    known.addFailed(100);
    known.addFailed(150, 160);
    known.addSteppedOver(90, 210);
    EXPECT_EQ(runsOf(known),
              (Kept{{90, 100, false}, {100, 101, true}, {101, 150, false}, {150, 160, true}, {160, 210, false}}));
    EXPECT_EQ(std::tuple(known.count(), known.countIn(95, 10)), std::tuple(120ull, 10ull));
    // One unbroken stretch of either kind.
    EXPECT_EQ(known.runEndAt(120), std::optional<std::uint64_t>(210));
    EXPECT_EQ(known.runEndAt(210), std::nullopt);
    // Or the one run of one kind.
    for (const auto& [at, run] : std::vector<std::pair<std::uint64_t, Kept>>{
             {120, {{101, 150, false}}}, {155, {{150, 160, true}}}, {209, {{160, 210, false}}}, {210, {}}}) {
        Kept got;
        if (const std::optional<MediumMap::Run> r = known.runAt(at)) got.emplace_back(r->begin, r->end, r->failed());
        EXPECT_EQ(got, run) << at;
    }
    known.noteRead(95, 155);
    EXPECT_EQ(runsOf(known), (Kept{{90, 95, false}, {155, 160, true}, {160, 210, false}}));
    EXPECT_EQ(std::tuple(known.count(), known.runEndAt(100)), std::tuple(60ull, std::optional<std::uint64_t>()));
    known.addFailed(90, 210);
    EXPECT_EQ(runsOf(known), (Kept{{90, 210, true}}));
    EXPECT_EQ(known.count(), 120u);
}

// A page is read past the page cache when it failed through the cache or holds an unreadable sector, which would fail
// it there; a read through the cache goes up to the first such page. A save gives up only what a walk stepped over,
// and its end makes that stepped over again for the next save.
TEST(MediumMap, PagesReadPastTheCacheAndWhatBecameUnreadableSinceTheDiskLastAnswered) {
    MediumMap map;
    map.layOut(8, 512);
    map.addFailedPage(43);
    map.addSteppedOver(100, 300);
    map.addFailed(200);
    for (const auto& [sector, past] : std::vector<std::pair<std::uint64_t, bool>>{
             {39, false}, {40, true}, {47, true}, {48, false}, {99, true}, {97, true}, {95, false}})
        EXPECT_EQ(map.readPastTheCache(sector), past) << sector;
    EXPECT_EQ(std::tuple(map.throughTheCacheTo(0, 100), map.throughTheCacheTo(48, 100), map.throughTheCacheTo(48, 96)),
              std::tuple(40ull, 96ull, 96ull));
    // What failed and what was stepped over since the disk last answered, each kind apart, in order: a disk that
    // answers again gets it back; an answer forgets it.
    using K = MediumMap::Kind;
    const auto since = [&] {
        std::vector<std::tuple<std::uint64_t, std::uint64_t, K>> out;
        for (const MediumMap::Run& run : map.sinceAnswered())
            out.emplace_back(run.begin, run.end, run.kind);
        return out;
    };
    map.markAnswered();
    EXPECT_TRUE(since().empty());
    map.addFailed(400);
    map.addFailed(401);
    map.addSteppedOver(402, 500);
    map.addFailed(600);
    EXPECT_EQ(since(), (std::vector<std::tuple<std::uint64_t, std::uint64_t, K>>{
                           {400, 402, K::Failed}, {402, 500, K::SteppedOver}, {600, 601, K::Failed}}));
    map.markAnswered();
    EXPECT_TRUE(since().empty());
    // A place is read once: what a cache's read-ahead takes in next to it answers for it after.
    EXPECT_TRUE(map.noteReached(10000, 10007));
    EXPECT_FALSE(map.noteReached(10100, 10107));
    EXPECT_EQ(std::tuple(map.reachedBefore(10400), map.reachedBefore(11000)), std::tuple(true, false));
}
