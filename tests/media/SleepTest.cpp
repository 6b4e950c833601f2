#include "media/Sleep.h"

#include "media/SleepInhibitor.h"
#include "support/TestSupport.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;

namespace {
struct CountingInhibitor : SleepInhibitor {
    std::atomic<int> reports{0};
    std::atomic<int> releases{0};
    void reportUserActivity() override { ++reports; }
    void release() override { ++releases; }
};

// Waits for a condition set by another thread; the bound only keeps a broken
// build from hanging, it asserts nothing about speed.
template <class F> bool eventually(F f) {
    for (int i = 0; i < 2000 && !f(); ++i)
        std::this_thread::sleep_for(5ms);
    return f();
}

class KeepAwake : public ::testing::Test {
protected:
    void SetUp() override {
        inhibitor = std::make_shared<CountingInhibitor>();
        SleepInhibitor::setShared(inhibitor);
        setKeepAwakeInterval(20ms);
    }
    void TearDown() override {
        setPreventSleepStopFlag(true);
        eventually([&] { return inhibitor->releases.load() > 0; });
        SleepInhibitor::setShared(nullptr);
        setKeepAwakeInterval(25000ms);
    }
    std::shared_ptr<CountingInhibitor> inhibitor;
};
} // namespace

TEST_F(KeepAwake, ReportsAtOnceThenRepeatedlyUntilStoppedAndAgainForASecondScan) {
    setPreventSleepStopFlag(false);
    StartThread();
    EXPECT_TRUE(eventually([&] { return inhibitor->reports >= 1; }));
    EXPECT_TRUE(eventually([&] { return inhibitor->reports >= 3; }));
    setPreventSleepStopFlag(true);
    EXPECT_TRUE(eventually([&] { return inhibitor->releases == 1; }));
    int settled = inhibitor->reports;
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(inhibitor->reports, settled);
    setPreventSleepStopFlag(false);
    StartThread();
    EXPECT_TRUE(eventually([&] { return inhibitor->reports > settled; }));
}

TEST_F(KeepAwake, StopWithoutAThreadOnlySetsTheFlag) {
    setPreventSleepStopFlag(true);
    EXPECT_TRUE(preventSleepStopFlag());
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(inhibitor->reports, 0);
    EXPECT_EQ(inhibitor->releases, 0);
    inhibitor->releases = 1; // nothing to wait for in TearDown
}

TEST(LoginManagerInhibitor, WithoutALoginManagerItAsksOnceAndSaysSo) {
    // A system bus nobody listens on: the inhibitor must ask, fail, say so
    // once, and not ask again for every phase of the scan.
    const char* saved = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::string previous = saved ? saved : "";
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/drentic-test-bus", 1);
    testsupport::LogCapture log;
    LoginManagerSleepInhibitor inhibitor;
    inhibitor.reportUserActivity();
    inhibitor.reportUserActivity();
    inhibitor.release();
    if (saved)
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", previous.c_str(), 1);
    else
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    EXPECT_EQ(log.lines, std::vector<std::string>{"No login manager answered; the machine may sleep during the scan"});
}
