#include "ResultTreeBuilder.h"
#include "results/CheckController.h"
#include "results/ResultText.h"
#include "results/TreeArrangement.h"
#include "support/ScanHelpers.h"

#include <gtest/gtest.h>

using ScannedTree = testsupport::ScanFixture;

TEST_F(ScannedTree, EveryNodeGetsItsItemAndTheViewsComeAndGoWithoutLosingAnything) {
    const auto iso = testsupport::xorrisoImage();
    if (!iso) GTEST_SKIP() << "xorriso image not made";
    auto volume = keep(testsupport::scannedVolume(iso.path, iso.start));
    ASSERT_NE(volume->dirRoot, nullptr);
    DisplayedTree tree;
    tree.setVolume(volume);
    tree.showVolumeRoot();
    tree.generateViewHelperFor(tree.dirRootTemp(), nullptr);
    ASSERT_NE(tree.dirRootHelper(), nullptr);
    EXPECT_EQ(tree.dirRootHelper()->fileName(), "Root");

    // Every node has its item, and every item's node lists it under the
    // folder its parent pointer names.
    std::size_t nodes = 0;
    std::vector<NewDir*> pending{volume->dirRoot};
    while (!pending.empty()) {
        NewDir* n = pending.back();
        pending.pop_back();
        ++nodes;
        ASSERT_NE(NewDirViewHelper::of(n), nullptr);
        for (NewDir* c : n->childList) {
            EXPECT_EQ(c->pndirPointer, n);
            pending.push_back(c);
        }
    }
    EXPECT_GT(nodes, 100u);
    const std::uint32_t files = volume->dirRoot->fileCount;
    const std::uint64_t bytes = volume->dirRoot->fileSize;
    EXPECT_EQ(tree.totalDataText(), ResultText::dataInFilesString(bytes, files));

    // Everything marked, then the file-types view holds the same files.
    CheckController(volume->dirRoot, 1).run();
    tree.countMarkedDataAndFiles();
    EXPECT_EQ(tree.markedFiles, files);
    EXPECT_EQ(tree.markedData, bytes);
    TreeArrangement arrangement(tree);
    ASSERT_TRUE(arrangement.prepareTree(TreeArrangement::Toggle::FileTypes));
    tree.countMarkedDataAndFiles();
    std::uint32_t withoutType = 0;
    for (const auto& [path, n] : testsupport::nodesByPath(volume->dirRoot))
        withoutType += n->fileType == NewDir::File && NewDirViewHelper::of(n)->extension().empty();
    EXPECT_EQ(tree.markedFiles + withoutType, files);
    EXPECT_EQ(tree.dirRootFileTypes->selected, 1);
    ASSERT_TRUE(arrangement.prepareTree(TreeArrangement::Toggle::Deleted));
    ASSERT_TRUE(arrangement.prepareTree(TreeArrangement::Toggle::FileTypes));
    EXPECT_EQ(tree.dirRootTemp(), volume->dirRoot);
    ASSERT_TRUE(arrangement.prepareTree(TreeArrangement::Toggle::Deleted));
    EXPECT_EQ(volume->dirRoot->fileCount, files);
    EXPECT_EQ(volume->dirRoot->selected, 1);

    tree.freeTreeNodes();
    EXPECT_EQ(volume->dirRoot, nullptr);
    EXPECT_EQ(tree.dirRootHelper(), nullptr);
    EXPECT_EQ(tree.dirRootFileTypes, nullptr);
}
