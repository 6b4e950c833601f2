#include "media/SweepProgress.h"

#include <gtest/gtest.h>
#include <optional>
#include <utility>
#include <vector>

// How far a scan had come when its disk stopped: its sweep's last progress, or, before any sweep, where the disk
// stopped within the part scanned; a scan that begins forgets both, and a disk not judged in it (judged before the
// scan began) is met at its start.
TEST(SweepProgress, TheScanSaysHowFarItsSweepHadComeOrElseWhereTheDiskStopped) {
    const struct {
        const char* what;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> swept; // done, total
        std::optional<std::uint32_t> stoppedWithin;
        bool beginsAfter;
        std::uint32_t said;
    } cases[] = {
        {"no sweep yet", {}, 37, false, 37},
        {"the sweep's last progress", {{100, 1000}, {600, 1000}}, 10, false, 60},
        {"a sweep that ran past its total", {{1200, 1000}}, 10, false, 100},
        {"a sweep of nothing", {{0, 0}}, 55, false, 0},
        {"never judged in this scan", {{600, 1000}}, std::nullopt, false, 0},
        {"a scan that begins forgets the last", {{600, 1000}}, 10, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SweepProgress progress;
        progress.begin();
        for (const auto& [done, total] : c.swept)
            progress.note(done, total);
        if (c.stoppedWithin) progress.judgedStopped(*c.stoppedWithin);
        if (c.beginsAfter) progress.begin();
        EXPECT_EQ(progress.stoppedPercent(), c.said);
    }
}
