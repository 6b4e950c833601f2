#include "signatures/BTreeTableClassSig.h"
#include "signatures/SigNode.h"
#include "signatures/SignatureGroups.h"
#include "signatures/SignatureSearchState.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

using Keys = std::vector<std::uint64_t>;

static Keys keysOf(const NodeTypeSig* node) {
    Keys keys;
    for (std::int32_t i = 0; i < node->count(); ++i)
        keys.push_back(node->key(i)->keyField());
    return keys;
}

static std::shared_ptr<SigNode> marked(const char* ext, std::uint16_t offset, std::uint8_t length,
                                       std::uint64_t header) {
    Sig sig;
    sig.extension = ext, sig.offset = offset, sig.headerLength = length, sig.header = header;
    auto node = std::make_shared<SigNode>();
    node->setSig(sig);
    return node;
}

TEST(LookupTree, TheFifthKeySplitsTheRootAroundTheMiddleKeyInEitherInsertionOrder) {
    for (const Keys& order : {Keys{10, 20, 30, 40, 50}, Keys{50, 40, 30, 20, 10}}) {
        BTreeTableClassSig tree;
        EXPECT_EQ(tree.retrieveKeyField(10), nullptr);
        for (std::uint64_t key : order)
            tree.insert(std::make_unique<ItemTypeSig>(key, nullptr));
        EXPECT_EQ((std::vector{keysOf(tree.root()), keysOf(tree.root()->branch(0)), keysOf(tree.root()->branch(1))}),
                  (std::vector<Keys>{{30}, {10, 20}, {40, 50}}));
        EXPECT_EQ(tree.retrieveKeyField(5), nullptr);
    }
}

TEST(LookupTree, RandomKeysAreFoundAsInAMultimapEachWithItsFirstRecordAndTheOthersChainedOnIt) {
    std::mt19937_64 random(14);
    std::vector<Sig> sigs(3000);
    std::multimap<std::uint64_t, const Sig*> expected;
    BTreeTableClassSig tree;
    for (Sig& sig : sigs) {
        sig.header = random() % 2000; // repeats on purpose
        expected.emplace(sig.header, &sig);
        tree.insert(std::make_unique<ItemTypeSig>(sig.header, &sig));
    }
    for (std::uint64_t key = 0; key < 2100; ++key) {
        const ItemTypeSig* item = tree.retrieveKeyField(key);
        ASSERT_EQ(item != nullptr, expected.count(key) != 0) << key;
        if (item == nullptr) continue;
        EXPECT_EQ(item->sig(), expected.lower_bound(key)->second);
        EXPECT_EQ(item->sig()->extraExts().size(), expected.count(key) - 1);
    }
}

TEST(SignatureGroups, OneGroupPerOffsetAndLengthInFirstSeenOrderLookedUpInTheSectorsBytes) {
    SignatureSearchState search;
    const auto first = marked("ab", 0, 2, 0x4142), chained = marked("ab2", 0, 2, 0x4142);
    search.sigArray = {first, marked("cd", 0, 2, 0x4344), chained, marked("abc", 0, 3, 0x414243),
                       marked("end", 510, 2, 0x55AA)};
    SignatureGroups::populateBTreeSigArray(search);
    ASSERT_EQ(search.btreeSigArray.size(), 3u);
    std::vector<std::uint8_t> sector{'A', 'B', 'C'};
    sector.resize(512), sector[510] = 0x55, sector[511] = 0xAA;
    const auto found = [&](std::size_t group) {
        const ItemTypeSig* item = SignatureGroups::retrieveKeyField(search.btreeSigArray[group].dictValue(), sector);
        return item ? item->sig()->extension : "-";
    };
    EXPECT_EQ(found(0) + found(1) + found(2), "ababcend");
    ASSERT_EQ(first->sig()->extraExts().size(), 1u);
    EXPECT_NE(first->sig()->extraExts()[0], chained->sig());
    EXPECT_EQ(first->sig()->extraExts()[0]->extension, "ab2");
    sector.resize(511); // the last group's bytes now pass the end of what was read
    EXPECT_EQ(found(2), "-");
    search.resetForScan(false); // a new scan: no marked types, so no groups
    SignatureGroups::populateBTreeSigArray(search);
    EXPECT_TRUE(search.btreeSigArray.empty());
}
