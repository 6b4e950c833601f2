#include "SizeCalcFixture.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"

#include <gtest/gtest.h>

using testsupport::imageWith;

namespace {

constexpr std::uint64_t kSector = 37;

} // namespace

class UnreadableStructureTest : public SizeCalcFixture {};

// A sector that could not be read right on what a walk reads next (the markers of a JPEG's header, the headers of a
// movie's media data atom and the atom before it, a PNG's chunk header, the blocks between the frames of a GIF): the
// walk goes on at the next structure after it, and the file is measured as long as on a sound medium.
TEST_F(UnreadableStructureTest, AWalkGoesOnAtTheNextStructureAfterIt) {
    const std::vector<testsupport::StructureSample> cases = testsupport::samplesWithAStructureInOneSector();
    ASSERT_FALSE(cases.empty());
    for (const testsupport::StructureSample& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = imageWith(c.bytes, kSector);
        const auto whole = measureAt(image, kSector, {c.key});
        ASSERT_TRUE(whole);
        EXPECT_GE(whole.size, c.bytes.size());
        testsupport::FailingReads bad;
        bad.failSectors(kSector + c.lost);
        failing = &bad;
        const auto damaged = measureAt(image, kSector, {c.key});
        failing = nullptr;
        EXPECT_EQ(damaged ? damaged.size : 0, whole.size);
        EXPECT_GT(bad.failedReads(), 0u);
    }
}
