// The APFS node builder read back with plain byte reads, independently of
// the scan: mkapfs's own blocks check its checksum, and a node's table of
// contents must lead to its keys, values and extended fields.

#include "support/ApfsNodeBuilder.h"

#include "platform/ByteView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;
using B = ApfsNodeBuilder;

namespace {

std::filesystem::path container() {
    return B::makeContainer(makeTempDir("apfsnode") / "c.img");
}

TEST(ApfsNodeBuilder, ChecksumIsTheOneMkapfsWrites) {
    const auto image = container();
    if (image.empty()) GTEST_SKIP() << "mkapfs is not installed or failed";
    const auto superblock = readBytesAt(image, 0, B::kBlockSize);
    EXPECT_EQ(B::checksum(superblock), platform::ByteView(superblock).le64(0));
}

TEST(ApfsNodeBuilder, TableOfContentsLeadsToKeysValuesAndFieldsInRootAndPlainLeaves) {
    const auto image = container();
    if (image.empty()) GTEST_SKIP() << "mkapfs is not installed or failed";
    B builder(image);
    const B::Field big{9, 0, std::vector<std::uint8_t>(600, 0xEE)};
    for (const std::uint16_t flags :
         {B::kLeaf, std::uint16_t(B::kLeaf | B::kRoot), std::uint16_t(B::kLeaf | B::kFixed)}) {
        const std::uint64_t at = builder.writeNode(
            {.records = {B::dirRecord(2, "a.txt", 40, false),
                         B::inode({.id = 40, .parent = 2, .name = "a.txt", .size = 5000, .fieldsBefore = {big}}),
                         B::fileExtent(40, 0, 8192, 77)},
             .flags = flags});
        const auto block = readBytesAt(image, at * B::kBlockSize, B::kBlockSize);
        const platform::ByteView v(block);
        const bool fixed = flags & B::kFixed;
        EXPECT_EQ(v.le16(24), flags & B::kRoot ? 2 : 3);
        EXPECT_EQ(v.le32(28), 14u);
        EXPECT_EQ(v.le16(32), flags);
        ASSERT_EQ(v.le32(36), 3u);
        EXPECT_EQ(B::checksum(block), v.le64(0));
        // The inode, entry 1: its key, its value and the fields after the big one.
        const std::size_t slot = 56 + (fixed ? 4 : 8);
        const std::size_t key = 56 + v.le16(42) + v.le16(slot);
        const std::size_t value = 4096 - (flags & B::kRoot ? 40 : 0) - v.le16(slot + (fixed ? 2 : 4));
        EXPECT_EQ(v.le64(key), 3ull << 60 | 40);
        EXPECT_EQ(v.le64(value), 2u);
        ASSERT_EQ(v.le16(value + 92), 3u);
        EXPECT_EQ(v.le16(value + 96 + 2), 600u);
        EXPECT_EQ(v.u8(value + 96 + 4), B::kNameField);
        EXPECT_EQ(v.u8(value + 96 + 8), B::kDataStreamField);
        const std::size_t fields = value + 96 + 12;
        const platform::ByteView name = v.sub(fields + 600, 6);
        EXPECT_EQ(std::string(name.data(), name.data() + name.size()), std::string("a.txt\0", 6));
        EXPECT_EQ(v.le64(fields + 608), 5000u);
    }
}

} // namespace
