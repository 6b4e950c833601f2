#include "platform/AppController.h"

#include "platform/RecordingController.h"

#include <cmath>
#include <gtest/gtest.h>
#include <thread>

using namespace platform;

TEST(TimeText, EverySecondOfTheFirstDaysIsExactFractionsAreCutAndNonsenseGivesZeroOrAClampedText) {
    EXPECT_EQ(getTimeFormStringForInterval(59.99), "0:00:00:59");
    EXPECT_EQ(getTimeFormStringForInterval(12 * 86400 + 3 * 3600 + 4 * 60 + 5), "12:03:04:05");
    EXPECT_EQ(getTimeFormStringForInterval(-5), "0:00:00:00");
    EXPECT_EQ(getTimeFormStringForInterval(std::nan("")), "0:00:00:00");
    EXPECT_FALSE(getTimeFormStringForInterval(1e300).empty());
    // The fractional-minute rule must not lose a second to rounding.
    for (int s = 0; s < 3 * 86400; s += 7) {
        int sec = s % 60, min = (s / 60) % 60, hour = (s / 3600) % 24, day = s / 86400;
        char want[32];
        std::snprintf(want, sizeof want, "%d:%02d:%02d:%02d", day, hour, min, sec);
        ASSERT_EQ(getTimeFormStringForInterval(s), want) << s;
    }
}

TEST(AlertRequest, FourFiveAndSixItemsGiveOneTwoAndThreeButtonsAndArgumentsFillAtMostThree) {
    const std::string quit = "The Drive or Volume being read is no longer available. The Program will quit now.";
    const std::pair<Array, std::vector<std::string>> cases[] = {
        {Array{"! Error", quit, "Quit", Array{true}}, {"! Error", quit, "Quit", "", ""}},
        {Array{"T", "M", "Yes", "No", Array{true}}, {"T", "M", "Yes", "No", ""}},
        {Array{"T", "M", "Yes", "No", "Cancel", Array{true}}, {"T", "M", "Yes", "No", "Cancel"}},
        {alertRequest("! Could not open drive", "A valid fileDesc could not be obtained for drive: %@", "OK",
                      {"/dev/disk2"}),
         {"! Could not open drive", "A valid fileDesc could not be obtained for drive: /dev/disk2", "OK", "", ""}},
        {Array{"T", "%@-%@-%@-%@", "OK", Array{true, 1, 2, 3, 4}}, {"T", "1-2-3-(null)", "OK", "", ""}},
        // A malformed request (too short, no argument array) still gives text, never a crash.
        {Array{"only a title"}, {"only a title", "", "", "", ""}},
        {Array{}, {"", "", "", "", ""}},
    };
    for (const auto& [request, text] : cases) {
        const AlertText t = alertTextFromRequest(request);
        EXPECT_EQ((std::vector<std::string>{t.title, t.message, t.defaultButton, t.alternateButton, t.otherButton}),
                  text);
    }
}

TEST(RecordingController, RecordsEveryCallInOrderAnswersFromItsScriptAndRunsMainThreadWorkInline) {
    RecordingController c;
    c.scriptAlertAnswers({AlertAlternateReturn, AlertOtherReturn});
    c.updateProgress(Dict{{"Progress Status", "default"}});
    EXPECT_EQ(c.showAlertPanelWithData(
                  Dict{{"title", "Resume Recovery?"}, {"defaultButton", "YES"}, {"alternateButton", "NO"}}),
              AlertAlternateReturn);
    EXPECT_EQ(c.showAlertPanelWithData(Dict{{"title", "x"}}), AlertOtherReturn);
    // Past the script the default button answers.
    EXPECT_EQ(c.showAlertPanelWithData(Dict{{"title", "y"}}), AlertDefaultReturn);
    EXPECT_EQ(c.alertResultValue(), AlertDefaultReturn);
    c.terminateApp();
    std::vector<std::string> want{"updateProgress:", "showAlertPanelWithData:", "showAlertPanelWithData:",
                                  "showAlertPanelWithData:", "terminateApp"};
    EXPECT_EQ(c.callNames(), want);
    EXPECT_TRUE(c.terminateRequested());
    ASSERT_EQ(c.alerts().size(), 3u);
    EXPECT_EQ(c.alerts()[0].title, "Resume Recovery?");
    EXPECT_EQ(c.callsNamed("updateProgress:").at(0).dictValue().get("Progress Status").stringValue(), "default");
    // Main-thread work runs inline from any thread.
    setAppController(&c);
    std::thread::id ranOn;
    std::thread worker([&] {
        appController()->performOnMainThread([&] { ranOn = std::this_thread::get_id(); }, true);
        appController()->runAlertPanel(alertRequest("! Error", "x", "OK"));
    });
    std::thread::id workerId = worker.get_id();
    worker.join();
    EXPECT_EQ(ranOn, workerId);
    EXPECT_EQ(c.alerts().back().title, "! Error");
    setAppController(nullptr);
    EXPECT_EQ(appController(), nullptr);
}
