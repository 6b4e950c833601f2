#include "volume/BTreeTableClass.h"
#include "volume/BTreeTableClassOrph.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/BTreeTableClassUInt64_NDIR.h"

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

// The indexes only ever hold a NewDir's address, so a tag made into an
// address is enough to tell items apart; it is never dereferenced.
NewDir* fakeDir(std::uint64_t tag) {
    return reinterpret_cast<NewDir*>(static_cast<std::uintptr_t>((tag + 1) * 16));
}

template <class Node> std::vector<typename Node::Item::Key> keysOf(const Node* node) {
    std::vector<typename Node::Item::Key> keys;
    for (std::int32_t i = 0; i < node->count(); ++i)
        keys.push_back(node->key(i)->keyField());
    return keys;
}

// What a walk of the nodes finds: the B-tree invariants and the keys in order.
template <class Tree> struct TreeShape {
    using Key = typename Tree::Key;

    std::vector<Key> inOrder;
    std::int64_t nodes = 0;
    int leafDepth = -1; // depth of every noNode link, once seen
    int maxDepth = 0;
    bool ok = true; // no null link, leaves at one depth, 1..4 items in the root and 2..4 below it

    explicit TreeShape(const Tree& tree) { walk(tree.root(), 0); }

    template <class Node> void walk(const Node* node, int depth) {
        if (node == Tree::noNode() || node == nullptr) {
            if (leafDepth < 0) leafDepth = depth;
            ok = ok && node && depth == leafDepth;
            return;
        }
        ++nodes;
        maxDepth = std::max(maxDepth, depth + 1);
        ok = ok && node->count() >= (depth ? 2 : 1) && node->count() <= 4;
        for (std::int32_t i = 0; i <= node->count() && i <= 4; ++i) {
            walk(node->branch(i), depth + 1);
            if (i < node->count()) inOrder.push_back(node->key(i)->keyField());
        }
    }

    bool strictlyAscending() const {
        return std::adjacent_find(inOrder.begin(), inOrder.end(), [](Key a, Key b) { return !(a < b); }) ==
               inOrder.end();
    }
};

TEST(BTreeTableClass, AnEmptyTreeFindsNothingAndAFullNodeSplitsAroundTheMiddleOfItsFiveKeys) {
    BTreeTableClass tree;
    EXPECT_NE(BTreeTableClass::noNode(), nullptr);
    EXPECT_EQ(tree.root(), BTreeTableClass::noNode());
    EXPECT_EQ(tree.retrieveKeyField(2), nullptr);
    // Keys in insertion order, then the keys of the root and of each of its
    // branches in order.
    using Keys = std::vector<std::uint32_t>;
    const std::vector<std::pair<Keys, std::vector<Keys>>> cases = {
        {{30, 10, 40, 20}, {{10, 20, 30, 40}}},
        {{1, 2, 3, 4, 5}, {{3}, {1, 2}, {4, 5}}},
        {{5, 4, 3, 2, 1}, {{3}, {1, 2}, {4, 5}}},
        // The new key lands in each of the five positions of a full leaf.
        {{20, 30, 40, 50, 10}, {{30}, {10, 20}, {40, 50}}},
        {{10, 30, 40, 50, 20}, {{30}, {10, 20}, {40, 50}}},
        {{10, 20, 40, 50, 30}, {{30}, {10, 20}, {40, 50}}},
        {{10, 20, 30, 50, 40}, {{30}, {10, 20}, {40, 50}}},
        // 8 splits the right leaf around 6; 9, 10 fill the new right leaf.
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {{3, 6}, {1, 2}, {4, 5}, {7, 8, 9, 10}}},
    };
    for (const auto& [order, nodes] : cases) {
        BTreeTableClass tree;
        for (std::uint32_t k : order)
            tree.insert(std::make_unique<ItemType>(k, fakeDir(k)));
        std::vector<Keys> got{keysOf(tree.root())};
        for (std::int32_t i = 0; i <= tree.root()->count(); ++i)
            if (tree.root()->branch(i) != BTreeTableClass::noNode()) got.push_back(keysOf(tree.root()->branch(i)));
        EXPECT_EQ(got, nodes);
        TreeShape<BTreeTableClass> shape(tree);
        EXPECT_TRUE(shape.ok);
        EXPECT_EQ(tree.numNodes(), static_cast<std::int64_t>(nodes.size()));
        ASSERT_NE(tree.retrieveKeyField(order.back()), nullptr);
        EXPECT_EQ(tree.retrieveKeyField(order.back())->dir(), fakeDir(order.back()));
    }
}

TEST(BTreeTableClass, EqualKeyKeepsTheFirstItemAndChangesNothing) {
    BTreeTableClass tree;
    for (std::uint32_t k = 1; k <= 12; ++k)
        tree.insert(std::make_unique<ItemType>(k, fakeDir(k)));
    const ItemType* rootItem = tree.retrieveKeyField(tree.root()->key(0)->keyField());
    const ItemType* leafItem = tree.retrieveKeyField(1);
    const auto items = tree.numItems();
    const auto nodes = tree.numNodes();
    const std::vector<std::uint32_t> before = TreeShape<BTreeTableClass>(tree).inOrder;

    // One duplicate meets its key in an inner node, one in a leaf.
    tree.insert(std::make_unique<ItemType>(rootItem->keyField(), fakeDir(1000)));
    tree.insert(std::make_unique<ItemType>(1, fakeDir(1001)));

    EXPECT_EQ(std::tuple(tree.numItems(), tree.numNodes(), tree.retrieveKeyField(rootItem->keyField()),
                         tree.retrieveKeyField(1)),
              std::tuple(items, nodes, rootItem, leafItem));
    EXPECT_EQ(std::tuple(rootItem->dir(), leafItem->dir()), std::tuple(fakeDir(rootItem->keyField()), fakeDir(1)));
    EXPECT_EQ(TreeShape<BTreeTableClass>(tree).inOrder, before);
}

// The indexes (the orphans' too) must name NewDirs without ever freeing them:
// the found-file tree owns them. Real allocations stand in for the nodes, filled with a pattern;
// a tree that freed one would show as a double free under AddressSanitizer,
// and as a changed pattern otherwise.
TEST(BTreeTableClass, DestroyingTheIndexLeavesEveryNewDirAlive) {
    constexpr std::size_t kWords = 32;
    std::vector<std::unique_ptr<std::uint64_t[]>> folders;
    for (std::uint64_t i = 0; i < 500; ++i) {
        folders.push_back(std::make_unique<std::uint64_t[]>(kWords));
        std::fill_n(folders.back().get(), kWords, 0xABCD000000000000ull | i);
    }
    auto asNewDir = [&](std::size_t i) { return reinterpret_cast<NewDir*>(folders[i].get()); };
    {
        BTreeTableClass byId;
        BTreeTableClassOrph parked;
        BTreeTableClassUInt64_NDIR byAddress;
        for (std::size_t i = 0; i < folders.size(); ++i) {
            byId.insert(std::make_unique<ItemType>(static_cast<std::uint32_t>(i + 2), asNewDir(i)));
            parked.insert(std::make_unique<ItemTypeOrph>(static_cast<std::uint32_t>(i + 16), asNewDir(i)));
            byAddress.insert(
                std::make_unique<ItemTypeUInt64_NDIR>(reinterpret_cast<std::uintptr_t>(asNewDir(i)), asNewDir(i)));
        }
        EXPECT_EQ(byId.retrieveKeyField(2)->dir(), asNewDir(0));
        EXPECT_EQ(parked.retrieveKeyField(16)->dir(), asNewDir(0));
        EXPECT_EQ(byAddress.retrieveKeyField(reinterpret_cast<std::uintptr_t>(asNewDir(7)))->dir(), asNewDir(7));
    }
    for (std::uint64_t i = 0; i < folders.size(); ++i)
        for (std::size_t w = 0; w < kWords; ++w)
            ASSERT_EQ(folders[i][w], 0xABCD000000000000ull | i);
}

TEST(BTreeTableClassUInt32, EachLookupCountsOnceWrappingAt32BitsKeysAbove32BitsAreDistinctAndAscendingKeysStayShallow) {
    BTreeTableClassUInt32 tree;
    tree.insert(std::make_unique<ItemTypeUInt32>(7));
    tree.insert(std::make_unique<ItemTypeUInt32>(9));
    ItemTypeUInt32* first = tree.retrieveKeyField(7);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->retrieveCount(), 1u);
    EXPECT_EQ(tree.retrieveKeyField(7)->retrieveCount(), 2u);
    EXPECT_EQ(tree.retrieveKeyField(8), nullptr);
    EXPECT_EQ(tree.retrieveKeyField(0x100000007ull), nullptr);
    // An equal key keeps the first item and its counter.
    auto again = std::make_unique<ItemTypeUInt32>(7);
    again->setRetrieveCount(100);
    tree.insert(std::move(again));
    EXPECT_EQ(std::tuple(tree.numItems(), tree.numNodes()), std::tuple(2, 1));
    EXPECT_EQ(tree.retrieveKeyField(7), first);
    EXPECT_EQ(first->retrieveCount(), 3u);
    EXPECT_EQ(tree.retrieveKeyField(9)->retrieveCount(), 1u);
    first->setRetrieveCount(0xFFFFFFFFu);
    EXPECT_EQ(tree.retrieveKeyField(7)->retrieveCount(), 0u);
    // Keys above 32 bits are distinct.
    const std::uint64_t big = 0x100000005ull;
    tree.insert(std::make_unique<ItemTypeUInt32>(big));
    EXPECT_EQ(tree.retrieveKeyField(5), nullptr);
    tree.insert(std::make_unique<ItemTypeUInt32>(5));
    EXPECT_EQ(tree.numItems(), 4);
    ASSERT_NE(tree.retrieveKeyField(big), nullptr);
    EXPECT_EQ(tree.retrieveKeyField(big)->keyField(), big);
    EXPECT_EQ(tree.retrieveKeyField(5)->keyField(), 5u);
    // A scan of a very large volume holds millions of first blocks, mostly
    // met in ascending order, which leaves nodes half full: the depth, and
    // with it the recursion of freeing, must still grow only with the logarithm.
    auto ascending = std::make_unique<BTreeTableClassUInt32>();
    constexpr std::uint64_t kCount = 300'000;
    for (std::uint64_t k = 0; k < kCount; ++k)
        ascending->insert(std::make_unique<ItemTypeUInt32>(k * 8 + (1ull << 33)));
    EXPECT_EQ(ascending->numItems(), static_cast<std::int64_t>(kCount));
    TreeShape<BTreeTableClassUInt32> shape(*ascending);
    EXPECT_TRUE(shape.ok);
    EXPECT_EQ(shape.nodes, ascending->numNodes());
    EXPECT_LE(shape.maxDepth, 13); // log3 of the count, rounded up, plus one
    EXPECT_NE(ascending->retrieveKeyField((kCount - 1) * 8 + (1ull << 33)), nullptr);
    ascending.reset();
}

template <class Tree> struct Family;

// The families whose items name a NewDir: the tag is the address.
template <class Tree> struct DirFamily {
    using Item = typename Tree::Item;
    using Key = typename Tree::Key;
    static std::unique_ptr<Item> make(Key k, std::uint32_t tag) { return std::make_unique<Item>(k, fakeDir(tag)); }
    // What the stored item says about which insertion it came from.
    static std::uint64_t tagOf(Item& item) { return reinterpret_cast<std::uintptr_t>(item.dir()) / 16 - 1; }
};
template <> struct Family<BTreeTableClass> : DirFamily<BTreeTableClass> {};
template <> struct Family<BTreeTableClassUInt64_NDIR> : DirFamily<BTreeTableClassUInt64_NDIR> {};
template <> struct Family<BTreeTableClassOrph> : DirFamily<BTreeTableClassOrph> {};

template <> struct Family<BTreeTableClassUInt32> {
    using Key = std::uint64_t;
    // The counter carries the tag; the one lookup that reads it adds 1.
    static std::unique_ptr<ItemTypeUInt32> make(Key k, std::uint32_t tag) {
        auto item = std::make_unique<ItemTypeUInt32>(k);
        item->setRetrieveCount(tag);
        return item;
    }
    static std::uint64_t tagOf(ItemTypeUInt32& item) { return item.retrieveCount() - 1u; }
};

template <class Tree> class BTreeAgainstReference : public ::testing::Test {};
using Families =
    ::testing::Types<BTreeTableClass, BTreeTableClassUInt32, BTreeTableClassUInt64_NDIR, BTreeTableClassOrph>;
TYPED_TEST_SUITE(BTreeAgainstReference, Families);

TYPED_TEST(BTreeAgainstReference, HundredThousandRandomInsertsWithDuplicates) {
    using F = Family<TypeParam>;
    using Key = typename F::Key;
    std::mt19937_64 rng(0x5EED'B7EEull);
    // Keys come from a pool smaller than the number of insertions, so about a
    // third of the insertions repeat a key; the pool spans the full width so
    // the top bit takes part in every comparison.
    std::vector<Key> pool(70'000);
    for (Key& k : pool)
        k = static_cast<Key>(rng());
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);

    TypeParam tree;
    std::map<Key, std::uint32_t> reference; // key -> tag of its first insertion
    for (std::uint32_t tag = 0; tag < 100'000; ++tag) {
        const Key k = pool[pick(rng)];
        reference.emplace(k, tag);
        tree.insert(F::make(k, tag));
    }
    EXPECT_EQ(tree.numItems(), static_cast<std::int64_t>(reference.size()));

    TreeShape<TypeParam> shape(tree);
    EXPECT_TRUE(shape.ok);
    EXPECT_TRUE(shape.strictlyAscending());
    EXPECT_EQ(shape.nodes, tree.numNodes());
    std::vector<Key> expected;
    for (const auto& [k, tag] : reference)
        expected.push_back(k);
    EXPECT_EQ(shape.inOrder, expected);

    for (const auto& [k, tag] : reference) {
        auto* found = tree.retrieveKeyField(k);
        ASSERT_NE(found, nullptr) << k;
        ASSERT_EQ(found->keyField(), k);
        ASSERT_EQ(F::tagOf(*found), tag) << "first item kept for " << k;
    }
    std::set<Key> keys;
    for (const auto& [k, tag] : reference)
        keys.insert(k);
    for (int i = 0; i < 100'000; ++i) {
        const Key k = static_cast<Key>(rng());
        if (keys.count(k)) continue;
        ASSERT_EQ(tree.retrieveKeyField(k), nullptr) << k;
    }
    // Lookups change neither the counts nor the shape.
    EXPECT_EQ(tree.numItems(), static_cast<std::int64_t>(reference.size()));
    EXPECT_EQ(TreeShape<TypeParam>(tree).inOrder, expected);
}

struct CountedItem : BTreeItem<std::uint32_t> {
    static inline int live = 0;
    explicit CountedItem(std::uint32_t k) : BTreeItem(k) { ++live; }
    ~CountedItem() { --live; }
    int merged = 0;
};

struct CountedNode : BTreeNode<CountedNode, CountedItem> {
    static inline int live = 0;
    CountedNode() { ++live; }
    ~CountedNode() { --live; }
};

// Like the signature index of the search, this family folds an equal key into
// the stored item and keeps the newcomer for inspection.
class MergingTable : public BTreeTable<MergingTable, CountedNode> {
public:
    std::vector<std::unique_ptr<CountedItem>> offered;

private:
    friend class BTreeTable<MergingTable, CountedNode>;
    void equalKeyOffered(CountedItem& stored, std::unique_ptr<CountedItem> item) {
        ++stored.merged;
        offered.push_back(std::move(item));
    }
};

class PlainCountedTable : public BTreeTable<PlainCountedTable, CountedNode> {};

TEST(BTreeTable, DestroyingTheTreeFreesEveryItemAndNodeOnceAndEqualKeysGoToTheFamilysHook) {
    const int itemsBefore = CountedItem::live;
    const int nodesBefore = CountedNode::live;
    {
        PlainCountedTable tree;
        std::mt19937 rng(7);
        for (int i = 0; i < 20'000; ++i)
            tree.insert(std::make_unique<CountedItem>(rng() % 15'000));
        EXPECT_EQ(CountedItem::live - itemsBefore, tree.numItems());
        EXPECT_EQ(CountedNode::live - nodesBefore, tree.numNodes());
        MergingTable merging;
        for (std::uint32_t k : {5u, 1u, 9u, 5u, 5u, 1u})
            merging.insert(std::make_unique<CountedItem>(k));
        EXPECT_EQ(std::tuple(merging.numItems(), merging.offered.size()), std::tuple(3, 3u));
        EXPECT_EQ(std::tuple(merging.retrieveKeyField(5)->merged, merging.retrieveKeyField(1)->merged,
                             merging.retrieveKeyField(9)->merged),
                  std::tuple(2, 1, 0));
    }
    EXPECT_EQ(CountedItem::live, itemsBefore);
    EXPECT_EQ(CountedNode::live, nodesBefore);
}

TEST(BTreeTable, FreeingANodeTwiceFreesNothingTwice) {
    const int itemsBefore = CountedItem::live;
    const int nodesBefore = CountedNode::live;
    auto node = std::make_unique<CountedNode>();
    node->setKey(new CountedItem(1), 0);
    node->setBranch(new CountedNode, 0);
    node->setCount(1);
    CountedNode::enumerateBTreeForFreeingStartNode(node.get());
    EXPECT_EQ(node->count(), 0);
    EXPECT_EQ(node->branch(0), CountedNode::noNode());
    EXPECT_EQ(CountedItem::live, itemsBefore);
    node.reset();
    EXPECT_EQ(CountedNode::live, nodesBefore);
}

} // namespace
