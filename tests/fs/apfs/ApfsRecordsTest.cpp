// The APFS records the block scan reads but does not consult: one node with
// a record of each type, every field a value of its own, so that a field
// read from a wrong offset shows.

#include "fs/apfs/Obj.h"
#include "support/ApfsNodeBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using B = testsupport::ApfsNodeBuilder;
using testsupport::putLE;

namespace {

// A record of `type` whose key is the header then `keyBody`, and whose value
// holds the given integers (value, width) one after another, then `tail`.
B::Record record(std::uint64_t type, std::vector<std::uint8_t> keyBody,
                 std::vector<std::pair<std::uint64_t, int>> fields, const std::string& tail = {}) {
    std::vector<std::uint8_t> key(8);
    putLE(key, 0, type << 60 | 0x42, 8);
    key.insert(key.end(), keyBody.begin(), keyBody.end());
    std::vector<std::uint8_t> value;
    for (auto [v, width] : fields) {
        value.resize(value.size() + width);
        putLE(value, value.size() - width, v, width);
    }
    value.insert(value.end(), tail.begin(), tail.end());
    return {key, value};
}

std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

template <class T> const T& valueOf(const NodeEntry& e) {
    EXPECT_TRUE(std::holds_alternative<T>(e.getObjectValue())) << e.getJ_Key_t().getObj_type();
    static const T none{};
    return std::holds_alternative<T>(e.getObjectValue()) ? std::get<T>(e.getObjectValue()) : none;
}

} // namespace

TEST(ApfsRecords, EachRecordTypeReadsItsKeyAndValueFromTheirOwnOffsetsInARootLeaf) {
    B::Node node{.records =
                     {
                         record(9, {5, 0x11, 0x22, 0x33, 'd', 'o', 'c', '\0', 'x'}, {{0x1111, 8}, {0x2222, 8}}),
                         record(4, bytes(std::string("\x05\x00note\0", 7)), {{6, 2}, {5, 2}}, std::string("link\0", 5)),
                         record(4, bytes(std::string("\x02\x00z\0", 4)), {{2, 2}, {3, 2}}, "\x01\x02\x03"),
                         record(5, std::vector<std::uint8_t>(8, 9), {{0x3333, 8}, {3, 2}}, std::string("ab\0", 3)),
                         record(12, {}, {{0x4444, 8}}),
                         record(2, {}, {{0x55, 4}, {0x66, 2}, {0x77, 2}, {0x8888, 8}, {0x99, 4}}),
                         record(6, {}, {{0xAA, 4}}),
                         record(10, {}, {{0xBB, 8}}),
                     },
                 .flags = B::kRoot | B::kLeaf};
    const auto block = B::nodeBlock(node);
    const Obj obj = Obj::read(block);
    ASSERT_TRUE(obj.getBody());
    const auto& e = obj.getBody()->getBtn_Data();
    ASSERT_EQ(e.size(), 8u);

    const auto& drecKey = std::get<JDrecKeyT>(e[0].getObjectKey());
    EXPECT_EQ(drecKey.name_len, 5);
    EXPECT_EQ(drecKey.hash, (std::array<std::uint8_t, 3>{0x11, 0x22, 0x33}));
    EXPECT_EQ(drecKey.name, "doc");
    EXPECT_EQ(std::tuple(valueOf<JDrecValT>(e[0]).file_id, valueOf<JDrecValT>(e[0]).date_added),
              std::tuple(0x1111u, 0x2222u));

    EXPECT_EQ(std::get<JXattrKeyT>(e[1].getObjectKey()).name, "note");
    EXPECT_EQ(std::get<std::string>(valueOf<JXattrValT>(e[1]).xdata), "link");
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(valueOf<JXattrValT>(e[2]).xdata),
              (std::vector<std::uint8_t>{1, 2, 3}));

    EXPECT_TRUE(std::holds_alternative<JSiblingKeyT>(e[3].getObjectKey()));
    const auto& sibling = valueOf<JSiblingValT>(e[3]);
    EXPECT_EQ(std::tuple(sibling.parent_id, sibling.name_len, sibling.name), std::tuple(0x3333u, 3u, "ab"));
    EXPECT_TRUE(std::holds_alternative<JEmptyKeyT>(e[4].getObjectKey()));
    EXPECT_EQ(valueOf<JSiblingMapValT>(e[4]).file_id, 0x4444u);
    const auto& phys = valueOf<JPhysExtValT>(e[5]);
    EXPECT_EQ(std::tuple(phys.block_count, phys.unknown_4, phys.block_size, phys.inode, phys.unknown_16),
              std::tuple(0x55u, 0x66u, 0x77u, 0x8888u, 0x99u));
    EXPECT_EQ(valueOf<JExtentRefcountValT>(e[6]).count, 0xAAu);
    // A type without a class gives the key's header alone.
    EXPECT_EQ(e[7].getJ_Key_t().getObj_type(), 10u);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(e[7].getObjectKey()) &&
                std::holds_alternative<std::monostate>(e[7].getObjectValue()));

    // The object header's ids; a name reaching past the block gives no key.
    EXPECT_EQ(std::tuple(obj.getHdr().o_oid.val, obj.getHdr().o_xid.val), std::tuple(node.oid, node.xid));
    auto cut = B::nodeBlock({.records = {record(9, {0xFF, 0, 0, 0, 'x'}, {{1, 8}, {2, 8}})}});
    const Obj cutObj = Obj::read(cut);
    ASSERT_TRUE(cutObj.getBody() && cutObj.getBody()->getBtn_Data().size() == 1);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(cutObj.getBody()->getBtn_Data()[0].getObjectKey()));
}

TEST(ApfsRecords, IndexNodesHoldPointersAndOnlyPlainStorageFlagsGiveABody) {
    B::Node index{.records = {B::pointer(3, 7, 0xBEEF)}, .flags = 0, .level = 1};
    const Obj obj = Obj::read(B::nodeBlock(index));
    ASSERT_TRUE(obj.getBody());
    EXPECT_EQ(valueOf<PointerValT>(obj.getBody()->getBtn_Data().at(0)).pointer, 0xBEEFu);

    for (auto [flags, body] : {std::pair{0x8000, true}, {0x1000, true}, {0xC000, false}, {0x0800, false}}) {
        index.objectFlags = static_cast<std::uint16_t>(flags);
        EXPECT_EQ(Obj::read(B::nodeBlock(index)).getBody().has_value(), body) << flags;
    }
    index.objectType = 13; // a volume superblock is no node
    EXPECT_FALSE(Obj::read(B::nodeBlock(index)).getBody());
}
