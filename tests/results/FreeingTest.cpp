#include "ResultTreeBuilder.h"
#include "results/TreeArrangement.h"

#include <gtest/gtest.h>

// Run in the Sanitize build, these show that going back leaves nothing
// behind, whatever arrangement was shown: the leak checker fails the test
// program at exit otherwise.

using Toggle = TreeArrangement::Toggle;

namespace {
NewDir* buildMixedTree(ResultTreeBuilder& b) {
    NewDir* f = b.folder(b.root(), "f");
    b.file(f, "a.jpg", 1);
    b.file(f, "b.jpg", 2, true);
    NewDir* g = b.folder(f, "g");
    b.file(g, "c.txt", 3);
    b.file(g, "d.txt", 4, true);
    b.file(b.root(), "e.png", 5);
    b.finish();
    return f;
}
} // namespace

TEST(GoingBack, FreesTheTreeItsItemsAndTheFileTypesFolders) {
    ResultTreeBuilder b;
    buildMixedTree(b);
    DisplayedTree tree;
    b.show(tree);
    TreeArrangement arrangement(tree);
    ASSERT_TRUE(arrangement.prepareTree(Toggle::FileTypes));
    tree.freeTreeNodes();
    EXPECT_EQ(b.volume->dirRoot, nullptr);
    EXPECT_EQ(tree.dirRootTemp(), nullptr);
    EXPECT_TRUE(tree.arrayDirFileTypesHelper.empty());
}

TEST(GoingBack, FreesEverythingWhileTheFileTypesViewShowsDeletedEntriesOnly) {
    ResultTreeBuilder b;
    buildMixedTree(b);
    DisplayedTree tree;
    b.show(tree);
    TreeArrangement arrangement(tree);
    ASSERT_TRUE(arrangement.prepareTree(Toggle::FileTypes));
    ASSERT_TRUE(arrangement.prepareTree(Toggle::Deleted));
    // The "png" and "txt" folders have no deleted file and are not listed
    // now; they go all the same.
    tree.returnTree();
    tree.freeTreeNodes();
    EXPECT_EQ(b.volume->dirRoot, nullptr);
}

TEST(GoingBack, FreesEverythingWhenTheFoldersStayDeletedOnlyBehindTheFileTypesView) {
    // Folders with deleted entries only, then the file-types view (built
    // before) with deleted entries, then all entries: the toggle reads "Show
    // Deleted" while the volume's own folders still list deleted entries
    // only.
    ResultTreeBuilder b;
    buildMixedTree(b);
    DisplayedTree tree;
    b.show(tree);
    TreeArrangement arrangement(tree);
    ASSERT_TRUE(arrangement.prepareTree(Toggle::FileTypes));
    ASSERT_TRUE(arrangement.prepareTree(Toggle::FileTypes));
    ASSERT_TRUE(arrangement.prepareTree(Toggle::Deleted));
    ASSERT_TRUE(arrangement.prepareTree(Toggle::FileTypes));
    ASSERT_TRUE(arrangement.prepareTree(Toggle::Deleted));
    EXPECT_EQ(b.volume->dirRoot->deletedViewActive, 1);
    tree.returnTree(); // does nothing: all entries are on display
    tree.freeTreeNodes();
    EXPECT_EQ(b.volume->dirRoot, nullptr);
}

TEST(GoingBack, ARootWithoutChildrenIsFreedToo) {
    ResultTreeBuilder b;
    b.finish();
    DisplayedTree tree;
    b.show(tree);
    tree.freeTreeNodes();
    EXPECT_EQ(b.volume->dirRoot, nullptr);
}

TEST(GoingBack, ReturnTreeRestoresTheFullListsWhenTheToggleReadsShowAll) {
    ResultTreeBuilder b;
    NewDir* f = buildMixedTree(b);
    DisplayedTree tree;
    b.show(tree);
    TreeArrangement arrangement(tree);
    ASSERT_TRUE(arrangement.prepareTree(Toggle::Deleted));
    EXPECT_EQ(f->childrenArrayCount(), 2u);
    tree.returnTree();
    EXPECT_EQ(b.volume->dirRoot->deletedViewActive, 0);
    EXPECT_EQ(f->childrenArrayCount(), 3u);
    tree.freeTreeNodes();
}
