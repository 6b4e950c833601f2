// The APFS records: the file-system tree leaf and a block-reference leaf
// that macOS wrote (blocks 101 and 94 of tests/data/apfs.raw), the leaf
// also damaged; and, built, what that container holds none of (sibling
// links and maps, index pointers, odd storage flags, oversized fields).

#include "formats/Obj.h"
#include "platform/ByteView.h"
#include "support/ApfsNodeBuilder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using B = testsupport::ApfsNodeBuilder;
using platform::ByteView;
using testsupport::putLE;

namespace {

std::vector<std::uint8_t> block(std::uint64_t n) {
    return testsupport::readBytesAt(testsupport::readyImagesDir() / "apfs.raw", n * 4096, 4096);
}

// The value of class T of the first entry of that record type and object id
// that has one; null when none has.
template <class T> const T* valueOf(const Obj& obj, std::uint32_t type, std::uint64_t id) {
    if (!obj.getBody()) return nullptr;
    for (const NodeEntry& e : obj.getBody()->getBtn_Data())
        if (e.getJ_Key_t().getObj_type() == type && e.getJ_Key_t().getObj_id() == id)
            if (const T* v = std::get_if<T>(&e.getObjectValue())) return v;
    return nullptr;
}

} // namespace

TEST(ApfsRecords, LeafWrittenByMacOSGivesAFileItsRecordsAndDamageDropsOnlyWhatNoLongerFits) {
    std::vector<std::uint8_t> leaf = block(101);
    const Obj obj = Obj::read(leaf);
    EXPECT_EQ(obj.getHdr().o_oid.val, 0x404u);
    EXPECT_EQ(obj.getHdr().o_xid.val, 3u);
    ASSERT_TRUE(obj.getBody());
    const auto& entries = obj.getBody()->getBtn_Data();
    ASSERT_EQ(entries.size(), 41u);
    // a_directory/a_file (slot 12): its directory record, inode, attribute,
    // data stream and extent.
    EXPECT_EQ(std::get<JDrecKeyT>(entries[12].getObjectKey()).name, "a_file");
    EXPECT_EQ(std::get<JDrecValT>(entries[12].getObjectValue()).file_id, 17u);
    const JInodeValT* inode = valueOf<JInodeValT>(obj, JKeyT::Inode, 17);
    ASSERT_TRUE(inode && inode->xfields.xf.size() == 2);
    EXPECT_EQ(inode->parent_id, 16u);
    EXPECT_EQ(inode->private_id, 17u);
    EXPECT_FALSE(inode->isFolder());
    EXPECT_EQ(inode->xfields.xf[0].name->getXfName(), "a_file");
    EXPECT_EQ(inode->xfields.xf[1].dataStream->getXfSize(), 53u);
    EXPECT_TRUE(valueOf<JInodeValT>(obj, JKeyT::Inode, 16)->isFolder());
    const JExtentValT* extent = valueOf<JExtentValT>(obj, JKeyT::FileExtent, 17);
    ASSERT_TRUE(extent);
    EXPECT_EQ(extent->len, 4096u);
    EXPECT_EQ(extent->phys_block_num, 0x5Du);
    EXPECT_EQ(valueOf<JExtentRefcountValT>(obj, JKeyT::DataStreamId, 17)->count, 1u);
    const auto& xattr =
        std::get<std::vector<std::uint8_t>>(valueOf<JXattrValT>(obj, JKeyT::ExtendedAttribute, 17)->xdata);
    EXPECT_EQ(std::string(xattr.begin(), xattr.end()), "My extended attribute");
    // A symbolic link's target is an attribute of the file system's own.
    EXPECT_EQ(std::get<std::string>(valueOf<JXattrValT>(obj, JKeyT::ExtendedAttribute, 20)->xdata),
              "a_directory/another_file");
    const Obj references = Obj::read(block(94));
    const JPhysExtValT* phys = valueOf<JPhysExtValT>(references, JKeyT::PhysicalExtent, 93);
    ASSERT_TRUE(phys);
    EXPECT_EQ(phys->block_count, 1u);
    EXPECT_EQ(phys->inode, 17u);

    // a_file's name longer than its key: the key goes, the record stays.
    constexpr std::size_t kTable = 384; // bytes of the table of contents
    leaf[56 + kTable + ByteView(leaf).le16(56 + 8 * 12) + 8] = 0xFF;
    const Obj longName = Obj::read(leaf);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(longName.getBody()->getBtn_Data()[12].getObjectKey()));
    EXPECT_EQ(longName.getBody()->getBtn_Data().size(), 41u);
    // Inode 17's value (slot 13) cut below its fixed part: the inode goes.
    putLE(leaf, 56 + 8 * 13 + 6, 80, 2);
    EXPECT_FALSE(valueOf<JInodeValT>(Obj::read(leaf), JKeyT::Inode, 17));
    // More keys than the table holds, or a block cut short: no node.
    putLE(leaf, 36, kTable / 8 + 1, 4);
    EXPECT_FALSE(Obj::read(leaf).getBody());
    EXPECT_FALSE(Obj::read(ByteView(block(101)).sub(0, 4095)).getBody());
}

TEST(ApfsRecords, BuiltSiblingPointerUnknownAndOversizedRecordsAndOnlyPlainStorageFlagsGiveABody) {
    std::vector<std::uint8_t> link(13, 0), map(8, 0), linkKey(16, 9), mapKey(8), unknownKey(8);
    putLE(link, 0, 0x3333, 8);
    putLE(link, 8, 3, 2);
    std::copy_n("ab", 3, link.begin() + 10);
    putLE(map, 0, 0x4444, 8);
    putLE(linkKey, 0, std::uint64_t{JKeyT::SiblingLink} << 60 | 0x42, 8);
    putLE(mapKey, 0, std::uint64_t{JKeyT::SiblingMap} << 60 | 0x42, 8);
    putLE(unknownKey, 0, std::uint64_t{10} << 60 | 0x42, 8);
    // The name and size after a field of over 512 bytes are still read.
    const B::Record big =
        B::inode({.id = 0x42, .name = "after", .size = 5, .fieldsBefore = {{9, 0, std::vector<std::uint8_t>(601)}}});
    const Obj leaf = Obj::read(B::nodeBlock({.records = {{linkKey, link}, {mapKey, map}, {unknownKey, map}, big}}));
    ASSERT_TRUE(leaf.getBody() && leaf.getBody()->getBtn_Data().size() == 4);
    const auto& e = leaf.getBody()->getBtn_Data();
    EXPECT_TRUE(std::holds_alternative<JSiblingKeyT>(e[0].getObjectKey()));
    EXPECT_EQ(std::get<JSiblingValT>(e[0].getObjectValue()).parent_id, 0x3333u);
    EXPECT_EQ(std::get<JSiblingValT>(e[0].getObjectValue()).name, "ab");
    EXPECT_TRUE(std::holds_alternative<JEmptyKeyT>(e[1].getObjectKey()));
    EXPECT_EQ(std::get<JSiblingMapValT>(e[1].getObjectValue()).file_id, 0x4444u);
    // A type without a class gives the key's header alone.
    EXPECT_TRUE(std::holds_alternative<std::monostate>(e[2].getObjectKey()) &&
                std::holds_alternative<std::monostate>(e[2].getObjectValue()));
    const XfBlobT& fields = e[3].inode()->xfields;
    ASSERT_EQ(fields.xf.size(), 3u);
    EXPECT_EQ(fields.xf[1].name->getXfName(), "after");
    EXPECT_EQ(fields.xf[2].dataStream->getXfSize(), 5u);

    B::Node index{.records = {B::pointer(3, 7, 0xBEEF)}, .flags = 0, .level = 1};
    const Obj obj = Obj::read(B::nodeBlock(index));
    ASSERT_TRUE(obj.getBody());
    EXPECT_EQ(std::get<PointerValT>(obj.getBody()->getBtn_Data().at(0).getObjectValue()).pointer, 0xBEEFu);
    for (auto [flags, body] : {std::pair{0x8000, true}, {0x1000, true}, {0xC000, false}, {0x0800, false}}) {
        index.objectFlags = static_cast<std::uint16_t>(flags);
        EXPECT_EQ(Obj::read(B::nodeBlock(index)).getBody().has_value(), body) << flags;
    }
    index.objectType = 13; // a volume superblock is no node
    EXPECT_FALSE(Obj::read(B::nodeBlock(index)).getBody());
}
