#include "volume/BTreeTableClassOrph.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

// The tree holds NewDir addresses only; a tag made into an address is enough
// to tell parked entries apart and is never dereferenced.
NewDir* fakeDir(std::uint64_t tag) {
    return reinterpret_cast<NewDir*>(static_cast<std::uintptr_t>((tag + 1) * 16));
}

std::unique_ptr<ItemTypeOrph> parked(std::uint32_t id, std::uint64_t tag) {
    return std::make_unique<ItemTypeOrph>(id, fakeDir(tag));
}

// The walk of the orphan passes: a node's items in slot order, then, when the
// node has items and branch 0 is a node, each branch 0..count in turn.
void passOrder(const NodeTypeOrph* node, std::vector<std::uint32_t>& ids) {
    if (node == BTreeTableClassOrph::noNode()) return;
    for (std::int32_t i = 0; i < node->count(); ++i)
        ids.push_back(node->key(i)->keyField());
    if (node->count() > 0 && node->branch(0) != BTreeTableClassOrph::noNode())
        for (std::int32_t i = 0; i <= node->count(); ++i)
            passOrder(node->branch(i), ids);
}

std::vector<std::uint32_t> passOrder(const BTreeTableClassOrph& tree) {
    std::vector<std::uint32_t> ids;
    passOrder(tree.root(), ids);
    return ids;
}

// The tree against a reference, and its NewDirs left alive: BTreeTableTest.
TEST(BTreeTableClassOrph, EntryParkedTwiceKeepsItsFirstItemAndPassesMeetTheRootFirstAndEveryEntryOnce) {
    BTreeTableClassOrph tree;
    for (std::uint32_t id = 20; id < 40; ++id)
        tree.insert(parked(id, id));
    ItemTypeOrph* first = tree.retrieveKeyField(25);
    ASSERT_NE(first, nullptr);
    first->setAlreadyPolled(true);
    first->setParentFoundInBtree(true);
    const auto before = passOrder(tree);

    tree.insert(parked(25, 999));

    EXPECT_EQ(tree.retrieveKeyField(25), first);
    EXPECT_EQ(std::tuple(first->dir(), first->alreadyPolled(), first->parentFoundInBtree(), tree.numItems()),
              std::tuple(fakeDir(25), true, true, 20));
    EXPECT_EQ(passOrder(tree), before);
    BTreeTableClassOrph ascending;
    for (std::uint32_t id = 1; id <= 5; ++id)
        ascending.insert(parked(id, id));
    EXPECT_EQ(passOrder(ascending), (std::vector<std::uint32_t>{3, 1, 2, 4, 5}));

    BTreeTableClassOrph descending;
    for (std::uint32_t id = 5; id >= 1; --id)
        descending.insert(parked(id, id));
    EXPECT_EQ(passOrder(descending), (std::vector<std::uint32_t>{3, 1, 2, 4, 5}));

    // 1..10: root 3 6; leaves 1 2 | 4 5 | 7 8 9 10.
    BTreeTableClassOrph ten;
    for (std::uint32_t id = 1; id <= 10; ++id)
        ten.insert(parked(id, id));
    EXPECT_EQ(passOrder(ten), (std::vector<std::uint32_t>{3, 6, 1, 2, 4, 5, 7, 8, 9, 10}));
    // The passes meet every one of many random IDs once.
    std::mt19937 rng(0x0A7F);
    BTreeTableClassOrph many;
    std::set<std::uint32_t> ids;
    for (std::uint64_t tag = 0; tag < 100'000; ++tag) {
        const std::uint32_t id = static_cast<std::uint32_t>(rng() % 70'000);
        ids.insert(id);
        many.insert(parked(id, tag));
    }
    auto walked = passOrder(many);
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, std::vector<std::uint32_t>(ids.begin(), ids.end()));
}

} // namespace
