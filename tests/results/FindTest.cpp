#include "ResultTreeBuilder.h"
#include "platform/RecordingController.h"
#include "results/CaseInsensitiveText.h"
#include "results/TreeFind.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

struct Find : ::testing::Test {
    platform::RecordingController controller;
    ResultTreeBuilder b;
    DisplayedTree tree;
    std::shared_ptr<TreeFind> find = std::make_shared<TreeFind>([this] { return tree.dirRootTemp(); });
    std::vector<std::string> texts;
    std::vector<bool> completed;
    NewDir *one = nullptr, *two = nullptr, *three = nullptr;

    void SetUp() override {
        platform::setAppController(&controller);
        NewDir* photos = b.folder(b.root(), "Photos");
        one = b.file(photos, "IMG_0001.JPG", 10);
        b.file(photos, "jp g", 10);
        NewDir* old = b.folder(photos, "old");
        two = b.file(old, "photo.jpg.bak", 20);
        b.file(b.root(), "notes.txt", 5);
        three = b.file(b.root(), "x.jpg", 30);
        b.finish();
        b.show(tree);
        find->setDisplay({[this](const std::string& t) { texts.push_back(t); }, [](bool) {},
                          [this](bool any) { completed.push_back(any); }});
    }
    void TearDown() override { platform::setAppController(nullptr); }
    // The find thread's body, run here: the recording controller performs
    // its main-thread steps inline.
    void runFind(const std::string& text) {
        auto worker = std::make_shared<TreeFind::Worker>();
        find->findThreadSel(text, worker);
        worker->finished = true;
    }
    NewDir* next() { return find->foundNode(static_cast<std::size_t>(find->findNext())); }
    NewDir* prev() { return find->foundNode(static_cast<std::size_t>(find->findPrev())); }
    // Waits up to five seconds for a condition a thread brings about.
    template <class Condition> static void waitFor(Condition done) {
        for (int i = 0; i < 500 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

} // namespace

TEST_F(Find, FindsNamesHoldingTheTextInAnyCaseInWalkOrder) {
    runFind("jpg");
    ASSERT_EQ(find->findArrayCount(), 3u);
    EXPECT_EQ((std::vector{find->foundNode(0), find->foundNode(1), find->foundNode(2)}),
              (std::vector{one, two, three}));
    EXPECT_EQ(find->findCount(), 3u);
    EXPECT_EQ(texts.back(), "3 Matches Found");
    EXPECT_EQ(completed, std::vector<bool>{true});
    // The found items are their own, not the outline's.
    EXPECT_NE(find->findArray()[0].get(), NewDirViewHelper::of(one));
}

// Right after a find, "previous" selects the first match too.
TEST_F(Find, NextAndPreviousStepThroughTheMatchesAndWrap) {
    runFind("jpg");
    EXPECT_EQ(prev(), one);
    EXPECT_EQ(find->selectedIndexText(), "1/3 highlighted");
    EXPECT_EQ(prev(), three);
    runFind("jpg");
    const struct {
        bool forward;
        NewDir* node;
        const char* text;
    } steps[] = {{true, one, "1/3"},    {true, two, "2/3"},  {true, three, "3/3"}, {true, one, "1/3"},
                 {false, three, "3/3"}, {false, two, "2/3"}, {true, three, "3/3"}};
    for (const auto& step : steps) {
        EXPECT_EQ(step.forward ? next() : prev(), step.node);
        EXPECT_EQ(find->selectedIndexText(), step.text + std::string(" highlighted"));
    }
}

TEST_F(Find, NoMatchReportsZeroAndStepsDoNothing) {
    runFind("zzz");
    EXPECT_EQ(texts.back(), "0 Matches Found");
    EXPECT_EQ(completed, std::vector<bool>{false});
    EXPECT_EQ(find->findNext(), -1);
    EXPECT_EQ(find->findPrev(), -1);
}

TEST_F(Find, MarkAllFoundMarksEachMatchAndItsFoldersUnmarkAllTakesThemBack) {
    runFind("jpg");
    find->markAllFound(1);
    EXPECT_EQ(std::tuple(one->selected, two->selected, two->pndirPointer->selected, b.root()->selected),
              std::tuple(1, 1, 1, 1));
    tree.countMarkedDataAndFiles();
    EXPECT_EQ(tree.markedFiles, 3u);
    find->markAllFound(0);
    EXPECT_EQ(b.root()->selected, 0);
}

TEST_F(Find, ANewFindStartsFromAnEmptyList) {
    runFind("jpg");
    runFind("notes");
    ASSERT_EQ(find->findArrayCount(), 1u);
    EXPECT_EQ(newdir::utf8(newdir::fileName(find->foundNode(0))), "notes.txt");
}

TEST_F(Find, TheFindThreadRunsOnItsOwnAndAFindWithNothingShownIsOverAtOnce) {
    std::atomic<int> walks{0};
    find->setDisplay({{}, {}, [&](bool) { ++walks; }});
    // With nothing shown the thread ends at once; it still counts as over,
    // so later presses are not ignored.
    tree.setDirRootTemp(nullptr);
    EXPECT_TRUE(find->find("jpg"));
    waitFor([&] { return find->numFindAttempts() == 0; });
    EXPECT_EQ(find->numFindAttempts(), 0);
    EXPECT_EQ(walks.load(), 0);
    tree.showVolumeRoot();
    EXPECT_TRUE(find->find("jpg"));
    waitFor([&] { return walks.load() != 0; });
    ASSERT_EQ(walks.load(), 1);
    // The walk's last step was the report; the thread is ending.
    waitFor([&] { return bool(find->findThread()->finished); });
    EXPECT_EQ(find->findArrayCount(), 3u);
    EXPECT_EQ(find->numFindAttempts(), 1);
}

TEST_F(Find, AWorkerThatStopsTheFindStandsAsTheFindThread) {
    auto worker = std::make_shared<TreeFind::Worker>();
    runFind("jpg");
    find->stopFindAndStandAsFindThread(worker);
    EXPECT_EQ(find->findThread(), worker);
    EXPECT_EQ(find->numFindAttempts(), 1);
}

TEST(FindText, CaseIsIgnoredBeyondAscii) {
    EXPECT_TRUE(CaseInsensitiveText::contains("IMG_0001.JPG", "jpg"));
    EXPECT_TRUE(CaseInsensitiveText::contains("photo.jpg.bak", "JPG"));
    EXPECT_FALSE(CaseInsensitiveText::contains("jp g", "jpg"));
    EXPECT_FALSE(CaseInsensitiveText::contains("anything", ""));
    EXPECT_TRUE(CaseInsensitiveText::contains("ÜNÏCØDÉ folder", "ünïcødé"));
    EXPECT_LT(CaseInsensitiveText::compare("Gif", "jpg"), 0);
    EXPECT_EQ(CaseInsensitiveText::compare("JPG", "jpg"), 0);
}
