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
