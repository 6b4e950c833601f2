#include "signatures/CheckControllerSig.h"

#include <gtest/gtest.h>

namespace {

// A category with n unmarked file types, each linked to it.
std::shared_ptr<SigNode> category(int n) {
    auto c = std::make_shared<SigNode>();
    c->fileTypeSigNode = SigNode::Category;
    for (int i = 0; i < n; ++i)
        SigNode::addFileType(c, Sig{}, 0);
    return c;
}

std::shared_ptr<SigNode> child(const std::shared_ptr<SigNode>& c, int i) {
    return c->children()[static_cast<std::size_t>(i)];
}

} // namespace

TEST(CheckControllerSig, MarkingATypeMarksItsCategoryAndNoSibling) {
    auto c = category(2);
    CheckControllerSig(child(c, 0), 1).run();
    EXPECT_EQ(c->selected, 1);
    EXPECT_EQ(child(c, 1)->selected, 0);
    EXPECT_EQ(c->childrenSelected(), 1u);
}

TEST(CheckControllerSig, UnmarkingTheLastMarkedTypeUnmarksTheCategoryOnly) {
    auto c = category(2);
    CheckControllerSig(c, 1).run();
    CheckControllerSig(child(c, 0), 0).run();
    EXPECT_EQ(c->selected, 1) << "one type is still marked";
    CheckControllerSig(child(c, 1), 0).run();
    EXPECT_EQ(c->selected, 0);
}

TEST(CheckControllerSig, ACategoryCarriesAllItsTypes) {
    auto c = category(3);
    CheckControllerSig(c, 1).run();
    EXPECT_EQ(c->childrenSelected(), 3u);
    CheckControllerSig(c, 0).run();
    EXPECT_EQ(c->childrenSelected(), 0u);
    EXPECT_EQ(c->selected, 0);
}

TEST(CheckControllerSig, AnotherFlagChangesNothing) {
    auto c = category(1);
    CheckControllerSig(child(c, 0), 2).run();
    EXPECT_EQ(c->selected, 0);
    EXPECT_EQ(child(c, 0)->selected, 0);
}
