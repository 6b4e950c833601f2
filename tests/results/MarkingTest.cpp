#include "ResultTreeBuilder.h"
#include "results/CheckController.h"
#include "results/DisplayedTree.h"

#include <gtest/gtest.h>

namespace {

struct Marks : ::testing::Test {
    ResultTreeBuilder b;
    DisplayedTree tree;
    NewDir *docs = nullptr, *work = nullptr, *deep = nullptr, *photos = nullptr;
    NewDir *report = nullptr, *notes = nullptr, *a = nullptr, *c = nullptr;
    void SetUp() override {
        docs = b.folder(b.root(), "Documents");
        work = b.folder(docs, "Work");
        deep = b.folder(work, "2011");
        report = b.file(deep, "report.pdf", 1500);
        notes = b.file(deep, "notes.txt", 1500);
        b.file(work, "plan.doc", 1500);
        photos = b.folder(b.root(), "Photos");
        a = b.file(photos, "a.jpg", 100);
        c = b.file(photos, "c.jpg", 200);
        b.finish();
        b.show(tree);
    }
    // The marks of these nodes, in order.
    static std::vector<int> marks(std::initializer_list<const NewDir*> nodes) {
        std::vector<int> out;
        for (const NewDir* n : nodes)
            out.push_back(n->selected);
        return out;
    }
};

} // namespace

TEST_F(Marks, MarkingADeepFileMarksEveryFolderAboveItAndCountsItsBytes) {
    CheckController(report, 1).run();
    // The root is marked too, which is what enables saving.
    EXPECT_EQ(marks({report, deep, work, docs, b.root(), notes, photos}), (std::vector<int>{1, 1, 1, 1, 1, 0, 0}));
    tree.countMarkedDataAndFiles();
    EXPECT_EQ(tree.markedDataText(), "1.50 KB in 1 Files");
    EXPECT_EQ(tree.markedData, 1500u);
    EXPECT_EQ(tree.markedFiles, 1u);
    // The folder above shows mixed: one of its two files is marked.
    EXPECT_EQ(DisplayedTree::markState(deep), -1);
    EXPECT_EQ(DisplayedTree::markState(report), 1);
    EXPECT_EQ(DisplayedTree::markState(photos), 0);
}

TEST_F(Marks, MarkingAFolderMarksItsSubtreeAndMarkedFoldersCountNothing) {
    CheckController(work, 1).run();
    EXPECT_EQ(marks({report, notes, deep}), (std::vector<int>{1, 1, 1}));
    tree.countMarkedDataAndFiles();
    EXPECT_EQ(tree.markedDataText(), "4.50 KB in 3 Files");
    EXPECT_EQ(DisplayedTree::markState(work), 1);
}

TEST_F(Marks, UnmarkingAFolderUnmarksItsSubtreeAndClearsAncestorsLeftWithoutMarks) {
    CheckController(report, 1).run();
    CheckController(a, 1).run();
    CheckController(work, 0).run();
    // "Documents" has nothing marked left below it; the root still holds
    // a.jpg and keeps its mark.
    EXPECT_EQ(marks({work, deep, report, docs, b.root(), photos}), (std::vector<int>{0, 0, 0, 0, 1, 1}));
    CheckController(a, 0).run();
    EXPECT_EQ(marks({photos, b.root()}), (std::vector<int>{0, 0}));
    tree.countMarkedDataAndFiles();
    EXPECT_EQ(tree.markedDataText(), "0 KB in 0 Files");
}

TEST_F(Marks, UnmarkingOneOfTwoMarkedFilesKeepsTheirFolderMarked) {
    CheckController(a, 1).run();
    CheckController(c, 1).run();
    CheckController(a, 0).run();
    EXPECT_EQ(marks({photos, b.root()}), (std::vector<int>{1, 1}));
}

TEST_F(Marks, AControllerWithAnotherFlagChangesNothing) {
    CheckController(photos, 7).run();
    EXPECT_EQ(marks({photos, a}), (std::vector<int>{0, 0}));
}

TEST_F(Marks, AFolderWithoutEntriesShowsItsOwnMark) {
    NewDir* empty = b.folder(b.root(), "empty");
    EXPECT_EQ(DisplayedTree::markState(empty), 0);
    CheckController(empty, 1).run();
    EXPECT_EQ(DisplayedTree::markState(empty), 1);
}

TEST(MarksDeep, AChainHundredsOfThousandsDeepIsMarkedCountedAndFreedWithoutRecursion) {
    ResultTreeBuilder b;
    NewDir* f = b.root();
    for (int i = 0; i < 200000; ++i)
        f = b.folder(f, "d");
    NewDir* leaf = b.file(f, "leaf.bin", 42);
    b.finish();
    DisplayedTree tree;
    b.show(tree);
    CheckController(leaf, 1).run();
    EXPECT_EQ(b.root()->selected, 1);
    tree.countMarkedDataAndFiles();
    EXPECT_EQ(tree.markedData, 42u);
    EXPECT_EQ(DisplayedTree::markState(b.root()), 1);
    DisplayedTree::setParents(b.root());
    EXPECT_EQ(b.root()->childrenCount, 200001u);
    CheckController(b.root(), 0).run();
    EXPECT_EQ(leaf->selected, 0);
    tree.freeTreeNodes();
    EXPECT_EQ(b.volume->dirRoot, nullptr);
}
