// The loop devices the tests attach: one is detached only while it holds the
// file it was attached over, so that a device another process was given at
// its node stays attached, even one over a file at the same path.

#include "support/LoopDevice.h"

#include "support/TestSupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;
using testsupport::LoopDevice;

TEST(LoopDevice, ADeviceAnotherProcessWasGivenAfterItsOwnWasDetachedIsLeftAttached) {
    const fs::path card = testsupport::makeTempDir("loop") / "card.img";
    testsupport::zeroFile(card, 1 << 20);
    LoopDevice ours(card);
    if (ours.path().empty()) GTEST_SKIP() << "attaching a loop device needs root and losetup";
    EXPECT_TRUE(ours.stillAttached());
    // Detached behind its back, and gone once its readers (udev's probe) let go.
    ASSERT_TRUE(testsupport::runCommand("losetup -d " + ours.path()));
    for (int i = 0; i < 500 && ours.stillAttached(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    // Another card under the same name, most likely at the node just freed.
    fs::remove(card);
    testsupport::zeroFile(card, 1 << 20);
    LoopDevice theirs(card);
    ASSERT_FALSE(theirs.path().empty());
    EXPECT_FALSE(ours.stillAttached());
    EXPECT_FALSE(ours.detach());
    EXPECT_TRUE(ours.path().empty());
    EXPECT_TRUE(theirs.stillAttached()) << theirs.path() << " holds " << LoopDevice::holding(theirs.path());
    EXPECT_TRUE(theirs.detach());
}

TEST(LoopDevice, ACardSwappedAtItsNodeIsTheDevicesFileFromThenOn) {
    const fs::path dir = testsupport::makeTempDir("loop-swap");
    testsupport::zeroFile(dir / "first.img", 1 << 20);
    testsupport::zeroFile(dir / "second.img", 2 << 20);
    LoopDevice loop(dir / "first.img", "-P");
    if (loop.path().empty()) GTEST_SKIP() << "attaching a loop device needs root and losetup";
    const std::string node = loop.path();
    // Another process may be given the node between the two: then nothing is attached, and nothing detached.
    if (!loop.swapTo(dir / "second.img", "-P")) {
        EXPECT_TRUE(loop.path().empty());
        return;
    }
    EXPECT_EQ(loop.path(), node);
    EXPECT_TRUE(loop.stillAttached());
    EXPECT_EQ(LoopDevice::holding(node), fs::weakly_canonical(dir / "second.img").string());
    EXPECT_TRUE(loop.detach());
}
