#include "ResultTreeBuilder.h"
#include "results/CheckController.h"
#include "results/TreeArrangement.h"

#include <gtest/gtest.h>

using Toggle = TreeArrangement::Toggle;

namespace {

// A tree shown as the end of a scan shows it, and the two toggles pressed
// the way a user presses them.
struct Arrangement : ::testing::Test {
    ResultTreeBuilder b;
    DisplayedTree tree;
    TreeArrangement arrangement{tree};
    void show() {
        b.finish();
        b.show(tree);
    }
    void press(Toggle t) { ASSERT_TRUE(arrangement.prepareTree(t)); }
    void TearDown() override { tree.freeTreeNodes(); }
};
using FileTypesView = Arrangement;
using DeletedView = Arrangement;

// A folder's totals: bytes, files, entries.
std::tuple<std::uint64_t, std::uint32_t, std::uint32_t> totals(const NewDir* n) {
    return {n->fileSize, n->fileCount, n->childrenCount};
}

// Every folder's child list and deleted list, in walk order.
std::vector<NewDir*> snapshotLists(NewDir* root) {
    std::vector<NewDir*> out;
    newdir::preOrder(root, newdir::childList, newdir::folderChild, [&](NewDir* f) {
        out.push_back(f);
        out.insert(out.end(), f->childList.begin(), f->childList.end());
        out.push_back(nullptr);
        out.insert(out.end(), f->deletedList.begin(), f->deletedList.end());
        out.push_back(nullptr);
    });
    return out;
}

} // namespace

TEST_F(FileTypesView, ExtensionFoldersComeInCaseInsensitiveOrderWithTheirCounts) {
    NewDir* x = b.folder(b.root(), "x");
    NewDir* y = b.folder(x, "y");
    b.file(y, "a.jpg", 1000);
    b.file(b.root(), "b.Gif", 20);
    b.file(x, "c.png", 300);
    b.file(y, "README", 4);
    b.file(x, "d.jpg", 500, true);
    b.file(b.root(), "e.JPG", 7);
    b.file(b.root(), "trailing.", 9);
    show();
    press(Toggle::FileTypes);

    NewDir* root = tree.dirRootFileTypes;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(tree.dirRootTemp(), root);
    EXPECT_EQ(NewDirViewHelper::of(root)->fileName(), "Root");
    // "JPG" and "jpg" are two folders; the name ending in "." is left out.
    EXPECT_EQ(shownNames(root), (std::vector<std::string>{"Gif", "jpg", "JPG", "png", "README"}));
    NewDir* jpg = root->childList[1];
    EXPECT_EQ(NewDirViewHelper::of(jpg)->shownName(), "jpg [2]");
    EXPECT_EQ(shownNames(jpg), (std::vector<std::string>{"a.jpg", "d.jpg"}));
    EXPECT_EQ(totals(jpg), std::tuple(1500u, 2u, 2u));
    EXPECT_EQ(jpg->childList[0]->pndirPointer, jpg);
    // A deleted file marks its folder and the root as deleted.
    EXPECT_EQ(std::tuple(jpg->deleted, root->deleted, root->childList[0]->deleted), std::tuple(1, 1, 0));
    // Entries of the root: every file and one per folder.
    EXPECT_EQ(totals(root), std::tuple(1831u, 6u, 6u + 5u));
    EXPECT_EQ(tree.totalDataText(), "1.83 KB in 6 Files");

    // Back to the folders: parents and totals are those of the volume again.
    press(Toggle::FileTypes);
    EXPECT_EQ(tree.dirRootTemp(), b.root());
    EXPECT_EQ(y->childList[0]->pndirPointer, y);
    EXPECT_EQ(b.root()->fileCount, 7u);
}

TEST_F(FileTypesView, AFileMarkedBeforeTheViewIsBuiltMarksItsFolder) {
    NewDir* f = b.folder(b.root(), "f");
    NewDir* a = b.file(f, "a.png", 10);
    b.file(f, "b.txt", 10);
    show();
    CheckController(a, 1).run();
    press(Toggle::FileTypes);
    NewDir* root = tree.dirRootFileTypes;
    EXPECT_EQ(shownNames(root), (std::vector<std::string>{"png", "txt"}));
    EXPECT_EQ(std::tuple(root->childList[0]->selected, root->childList[1]->selected, root->selected),
              std::tuple(1, 0, 1));
    tree.countMarkedDataAndFiles();
    EXPECT_EQ(tree.markedFiles, 1u);
}

TEST_F(DeletedView, ShowsOnlyDeletedEntriesAndTheSwitchBackRestoresTheOrderExactly) {
    NewDir* keep = b.folder(b.root(), "keep");
    b.file(keep, "k1.txt", 1);
    b.file(keep, "k2.txt", 2);
    NewDir* mixed = b.folder(b.root(), "mixed");
    b.file(mixed, "m1.txt", 1);
    NewDir* gone = b.file(mixed, "m2.txt", 20, true);
    b.file(mixed, "m3.txt", 3);
    NewDir* inner = b.folder(mixed, "inner");
    NewDir* gone2 = b.file(inner, "i1.txt", 300, true);
    b.file(inner, "i2.txt", 4);
    NewDir* lost = b.folder(b.root(), "lost", true);
    NewDir* gone3 = b.file(lost, "l1.txt", 5000, true);
    b.file(b.root(), "top.txt", 9);
    show();
    const std::vector<NewDir*> before = snapshotLists(b.root());

    press(Toggle::Deleted);
    EXPECT_EQ(std::tuple(tree.dirRootTemp(), tree.dirRootDeleted, b.root()->deletedViewActive),
              std::tuple(b.root(), b.root(), 1));
    // Only deleted entries, each folder showing only what is deleted in it.
    EXPECT_EQ(shownNames(b.root()), (std::vector<std::string>{"mixed", "lost"}));
    EXPECT_EQ(shownNames(mixed), (std::vector<std::string>{"m2.txt", "inner"}));
    EXPECT_EQ(shownNames(inner), (std::vector<std::string>{"i1.txt"}));
    EXPECT_EQ(shownNames(lost), (std::vector<std::string>{"l1.txt"}));
    newdir::preOrder(b.root(), newdir::childList, newdir::anyChild,
                     [](NewDir* n) { EXPECT_EQ(n->deleted, 1) << newdir::utf8(newdir::fileName(n)); });
    // The totals describe what the view lists.
    EXPECT_EQ(std::tuple(b.root()->fileCount, b.root()->fileSize), std::tuple(3u, 5320u));
    EXPECT_EQ(std::tuple(gone->pndirPointer, gone2->pndirPointer, gone3->pndirPointer), std::tuple(mixed, inner, lost));

    press(Toggle::Deleted);
    EXPECT_EQ(b.root()->deletedViewActive, 0);
    EXPECT_EQ(snapshotLists(b.root()), before);
    EXPECT_EQ(b.root()->fileCount, 9u);
    EXPECT_EQ(shownNames(b.root()), (std::vector<std::string>{"keep", "mixed", "lost", "top.txt"}));
}

TEST_F(DeletedView, ATreeWithoutDeletedEntriesShowsAnEmptyRoot) {
    b.file(b.folder(b.root(), "f"), "a.txt", 1);
    show();
    press(Toggle::Deleted);
    EXPECT_EQ(b.root()->childrenArrayCount(), 0u);
    EXPECT_EQ(DisplayedTree::markState(b.root()), 0);
    press(Toggle::Deleted);
    EXPECT_EQ(shownNames(b.root()), (std::vector<std::string>{"f"}));
}

TEST_F(DeletedView, FileTypesAndDeletedTogglesCombineWithoutRebuilding) {
    NewDir* f = b.folder(b.root(), "f");
    b.file(f, "a.jpg", 1);
    b.file(f, "b.jpg", 2, true);
    b.file(f, "c.txt", 3);
    show();
    press(Toggle::FileTypes);
    NewDir* fileTypesRoot = tree.dirRootFileTypes;
    press(Toggle::Deleted); // file types, deleted only
    EXPECT_EQ(tree.dirRootTemp(), fileTypesRoot);
    EXPECT_EQ(shownNames(fileTypesRoot), (std::vector<std::string>{"jpg"}));
    EXPECT_EQ(shownNames(fileTypesRoot->childList[0]), (std::vector<std::string>{"b.jpg"}));
    press(Toggle::FileTypes); // folders, deleted only
    EXPECT_EQ(tree.dirRootTemp(), b.root());
    EXPECT_EQ(shownNames(f), (std::vector<std::string>{"b.jpg"}));
    press(Toggle::FileTypes); // file types again, not rebuilt
    EXPECT_EQ(tree.dirRootFileTypes, fileTypesRoot);
    EXPECT_EQ(shownNames(fileTypesRoot), (std::vector<std::string>{"jpg"}));
}

TEST_F(DeletedView, FolderMarksFollowWhatTheViewListsAndComeBackWithTheFullView) {
    NewDir* f = b.folder(b.root(), "f");
    NewDir* kept = b.file(f, "kept.txt", 1);
    b.file(f, "gone.txt", 2, true);
    b.file(b.folder(b.root(), "other", true), "x.txt", 3, true);
    show();
    CheckController(kept, 1).run();
    press(Toggle::Deleted);
    // Nothing the deleted-only view lists is marked: no folder is.
    EXPECT_EQ(std::tuple(f->selected, b.root()->selected), std::tuple(0, 0));
    press(Toggle::Deleted);
    // The marked file is listed again and its folders are marked with it, so
    // a save does not pass it over.
    EXPECT_EQ(std::tuple(kept->selected, f->selected, b.root()->selected), std::tuple(1, 1, 1));
}

TEST_F(DeletedView, DeletedChildListsOfAReadTreeAreFilledFromTheDeletedBytes) {
    NewDir* f = b.folder(b.root(), "f", true);
    b.file(f, "a", 1);
    NewDir* d = b.file(f, "d", 1, true);
    newdir::fillChildrenDirectArrays(b.root());
    TreeArrangement::rearrangeDeletedTree(b.root(), true);
    EXPECT_EQ(b.root()->deletedList, std::vector<NewDir*>{f});
    EXPECT_EQ(f->deletedList, std::vector<NewDir*>{d});
    EXPECT_EQ(f->deletedChildrenDirect.size(), 1u);
}

TEST(Toggles, TitlesAndPicturesFollowTheViewOnDisplay) {
    using View = DisplayedTree::View;
    EXPECT_EQ(TreeArrangement::title(Toggle::FileTypes, View{}), "File Types View");
    EXPECT_EQ(TreeArrangement::title(Toggle::FileTypes, View{true, false}), "Data  View");
    EXPECT_EQ(TreeArrangement::title(Toggle::Deleted, View{}), "Show Deleted");
    EXPECT_EQ(TreeArrangement::title(Toggle::Deleted, View{false, true}), "Show  All");
    EXPECT_EQ(TreeArrangement::image(Toggle::FileTypes, View{true, false}), "data_View");
    EXPECT_EQ(TreeArrangement::image(Toggle::Deleted, View{}), "folder_Delete");
    ResultTreeBuilder b;
    DisplayedTree tree;
    b.show(tree);
    TreeArrangement arrangement(tree);
    EXPECT_FALSE(arrangement.prepareTree(Toggle::Other));
    EXPECT_EQ(tree.dirRootTemp(), b.root());
}
