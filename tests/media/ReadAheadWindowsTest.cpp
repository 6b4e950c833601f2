#include "media/ReadAheadWindows.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace {

// Each unit reads as its own number; the reads asked for are kept.
struct CountingMedium {
    std::mutex mutex;
    std::vector<std::uint64_t> asked;
    std::uint64_t failAt = ~0ull;

    ReadAheadWindows::Read read() {
        return [this](std::uint64_t first, std::uint64_t count, std::uint8_t* into) {
            {
                std::lock_guard lock(mutex);
                asked.push_back(first);
            }
            for (std::uint64_t u = 0; u < count; ++u) {
                const std::uint64_t unit = first + u;
                std::memcpy(into + u * sizeof unit, &unit, sizeof unit);
            }
            return !(failAt >= first && failAt < first + count);
        };
    }
};

TEST(ReadAheadWindowsTest, WindowsCoverTheRangeInOrderEachReadOnceAndAFailedOneSaysSo) {
    CountingMedium medium;
    medium.failAt = 25;
    ReadAheadWindows windows(medium.read(), sizeof(std::uint64_t), 10, 37);
    std::uint64_t expected = 0;
    for (ReadAheadWindows::Window w = windows.next(); w.count != 0; w = windows.next()) {
        ASSERT_EQ(w.first, expected);
        EXPECT_EQ(w.count, std::min<std::uint64_t>(10, 37 - w.first));
        EXPECT_EQ(w.read, w.first != 20) << w.first;
        for (std::uint64_t u = 0; u < w.count; ++u) {
            std::uint64_t unit = 0;
            std::memcpy(&unit, w.bytes + u * sizeof unit, sizeof unit);
            ASSERT_EQ(unit, w.first + u);
        }
        expected += w.count;
    }
    EXPECT_EQ(expected, 37u);
    EXPECT_EQ(windows.next().count, 0u);
    std::lock_guard lock(medium.mutex);
    EXPECT_EQ(medium.asked, (std::vector<std::uint64_t>{0, 10, 20, 30}));
}

TEST(ReadAheadWindowsTest, LeavingEarlyStopsTheReaderAWindowAhead) {
    CountingMedium medium;
    {
        ReadAheadWindows windows(medium.read(), 8, 4, 1'000'000);
        EXPECT_TRUE(windows.next().read);
    }
    // The window taken and the one read ahead, no more.
    std::lock_guard lock(medium.mutex);
    EXPECT_LE(medium.asked.size(), 2u);
    // An empty range reads nothing.
    ReadAheadWindows none(medium.read(), 8, 4, 0);
    EXPECT_EQ(none.next().count, 0u);
    EXPECT_LE(medium.asked.size(), 2u);
}

} // namespace

// A window after the first also holds the units before its own, copied from the one before it (read again only after
// that one failed); peek() shows the next window once it is read and leaves the one held as it is.
TEST(ReadAheadWindowsTest, CarriedUnitsComeFromTheWindowBeforeAndPeekShowsTheNextWithoutTakingIt) {
    CountingMedium medium;
    medium.failAt = 15;
    ReadAheadWindows windows(medium.read(), sizeof(std::uint64_t), 10, 37, 3);
    std::vector<std::uint64_t> firsts;
    for (ReadAheadWindows::Window held = windows.next(); held.count != 0;) {
        const ReadAheadWindows::Window ahead = windows.peek();
        EXPECT_EQ(ahead.first, windows.placeOf(windows.handedOut()).first);
        for (std::uint64_t u = held.first; held.read && u < held.first + held.count; ++u)
            ASSERT_EQ(std::memcmp(held.bytes + (u - held.first) * sizeof u, &u, sizeof u), 0) << u;
        firsts.push_back(held.first);
        held = windows.next();
        EXPECT_EQ(held.bytes, ahead.bytes);
    }
    EXPECT_EQ(firsts, (std::vector<std::uint64_t>{0, 7, 17, 27}));
    EXPECT_EQ(medium.asked, (std::vector<std::uint64_t>{0, 10, 17, 30}));
}
