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

// After the file-types view; after it showing deleted entries only (the
// "png" and "txt" folders have no deleted file and are not listed then, and
// go all the same); with the volume's own folders still deleted-only behind
// the file-types view while the toggle reads "Show Deleted" (going back does
// nothing then: all entries are on display); and a root without children.
TEST(GoingBack, FreesTheTreeItsItemsAndTheFileTypesFoldersWhateverWasShown) {
    const struct {
        const char* name;
        bool mixed;
        std::vector<Toggle> presses;
        int deletedViewActive;
        bool goBack;
    } cases[] = {
        {"file types", true, {Toggle::FileTypes}, 0, false},
        {"file types, deleted only", true, {Toggle::FileTypes, Toggle::Deleted}, 0, true},
        {"folders deleted only behind file types",
         true,
         {Toggle::FileTypes, Toggle::FileTypes, Toggle::Deleted, Toggle::FileTypes, Toggle::Deleted},
         1,
         true},
        {"empty root", false, {}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ResultTreeBuilder b;
        if (c.mixed)
            buildMixedTree(b);
        else
            b.finish();
        DisplayedTree tree;
        b.show(tree);
        TreeArrangement arrangement(tree);
        for (Toggle t : c.presses)
            ASSERT_TRUE(arrangement.prepareTree(t));
        EXPECT_EQ(b.volume->dirRoot->deletedViewActive, c.deletedViewActive);
        if (c.goBack) tree.returnTree();
        tree.freeTreeNodes();
        EXPECT_EQ(b.volume->dirRoot, nullptr);
        EXPECT_EQ(tree.dirRootTemp(), nullptr);
        EXPECT_TRUE(tree.arrayDirFileTypesHelper.empty());
    }
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
