#include "SizeCalcFixture.h"
#include "formats/CarvingFormat.h"
#include "sizecalc/ReadWindow.h"
#include "sizecalc/SizeCalculator.h"
#include "support/FailingReads.h"

#include <gtest/gtest.h>

using testsupport::imageWith;

class SizeCalculatorChainTest : public SizeCalcFixture {};

// Each row's maker makes the calculator of that row's own key (a row naming another format's class would file
// its files under the wrong format), and a sector of zeros is no file of any format.
TEST_F(SizeCalculatorChainTest, EachRowMakesTheCalculatorOfItsOwnKeyAndNoneTakesZeros) {
    const auto image = imageWith(std::string(512, '\0'), 0);
    CarvingContext& context = contextOver(image);
    std::vector<std::string_view> keys;
    for (const CarvingFormat& f : CarvingFormat::table()) {
        keys.push_back(f.key);
        const auto calculator = SizeCalculatorChain::make(f.key, context);
        ASSERT_NE(calculator, nullptr) << f.key;
        EXPECT_EQ(calculator->parentKey(), f.key);
    }
    SizeCalculatorChain chain(context, keys);
    EXPECT_FALSE(chain.measure(platform::ByteView(leadingBytes(image, 0)), 0));
}

// A damaged disk fails many reads: a window over bad sectors reads them as zeros and the rest as they are, the run
// says so once and goes on; a device that has gone ends the run's walks with the alert that says so.
TEST_F(SizeCalculatorChainTest, UnreadableSectorsReadAsZerosAreReportedOncePerRunAndAGoneDeviceStopsIt) {
    const auto image = imageWith("tail", 10);
    auto v = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    testsupport::FailingReads bad;
    bad.failSectors(0, 8);
    v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
    CarvingContext context(*v);
    ReadWindow window(context);
    ASSERT_TRUE(window.readAt(0));
    EXPECT_EQ(window.view().u8(8 * 512 - 1), 0);
    ASSERT_TRUE(window.readAt(4));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(window.data()) + 6 * 512, 5), std::string("tail\0", 5));
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "!Error");
    EXPECT_NE(controller.alerts()[0].message.find("could not be read"), std::string::npos);
    EXPECT_FALSE(context.stopped());
    // Past the end of the device the window reads zeros.
    ASSERT_TRUE(window.readAt(10));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(window.data()), 5), std::string("tail\0", 5));

    controller.clear();
    auto gone = keep(testsupport::volumeOver(image, 0, 0, 512, ""));
    gone->setPath("/nonexistent/device");
    gone->setCPath();
    CarvingContext goneContext(*gone);
    ReadWindow goneWindow(goneContext);
    EXPECT_FALSE(goneWindow.readAt(0));
    EXPECT_FALSE(goneWindow.readAt(1));
    ASSERT_EQ(controller.alerts().size(), 1u);
    EXPECT_EQ(controller.alerts()[0].title, "! Error");
    EXPECT_TRUE(goneContext.stopped());
}

// Walks never read on into the next partition: past the carved volume's end the window holds zeros.
TEST_F(SizeCalculatorChainTest, TheWindowEndsWithTheVolume) {
    const auto image = imageWith(std::string(512, 'A') + std::string(512, 'B'), 10);
    auto v = keep(testsupport::volumeOver(image, 2, 9, 512, ""));
    CarvingContext context(*v);
    ReadWindow window(context);
    ASSERT_TRUE(window.readAt(10));
    EXPECT_EQ(window.view().u8(511), 'A');
    EXPECT_EQ(window.view().u8(512), 0);
    ASSERT_TRUE(window.readAt(11));
    EXPECT_EQ(window.view().u8(0), 0);
}
