// The APFS node builder's checksum against mkapfs's own blocks. Its nodes
// are read back through the record decoders (tests/formats, tests/fs/apfs),
// which blocks that macOS wrote pin down.

#include "support/ApfsNodeBuilder.h"

#include "platform/ByteView.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;
using B = ApfsNodeBuilder;

namespace {

TEST(ApfsNodeBuilder, ChecksumIsTheOneMkapfsWrites) {
    const auto image = B::makeContainer(makeTempDir("apfsnode") / "c.img");
    if (image.empty()) GTEST_SKIP() << "mkapfs is not installed or failed";
    const auto superblock = readBytesAt(image, 0, B::kBlockSize);
    EXPECT_EQ(B::checksum(superblock), platform::ByteView(superblock).le64(0));
}

} // namespace
