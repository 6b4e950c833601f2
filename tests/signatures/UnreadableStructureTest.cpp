#include "RecogniserFixture.h"
#include "support/FailingReads.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>

using testsupport::imageWith;

using UnreadableStructureTest = RecogniserFixture;

// A sector that could not be read right on what a recogniser walks (a JPEG's header markers, a movie's atom
// headers, a PNG's chunk header, the blocks between a GIF's frames): the file is found all the same, and measured as on
// a sound medium. What the walk found past the sector it found by searching, and it might have been another file's:
// the search jumps to that sector at most.
TEST_F(UnreadableStructureTest, ARecogniserGoesOnAtTheNextStructureAfterIt) {
    // The type of file each sample is recognised as.
    const std::map<std::string, std::uint32_t> typeOfFile{{"jpg", 3}, {"mov", 15}, {"png", 6}, {"gif", 4}};
    const std::vector<testsupport::StructureSample> cases = testsupport::samplesWithAStructureInOneSector();
    ASSERT_FALSE(cases.empty());
    for (const testsupport::StructureSample& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = imageWith(c.bytes, kSector);
        Sig sig = sigOf(typeOfFile.at(c.key));
        const Verdict whole = recognise(volumeOver(image), sig);
        EXPECT_TRUE(whole.accepted);
        EXPECT_GE(whole.foundSize, c.bytes.size());
        testsupport::FailingReads bad;
        bad.failSectors(kSector + c.lost);
        Volume& failing = volumeOver(image);
        failing.setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
        Verdict jumpedToTheLoss = whole;
        jumpedToTheLoss.skipSize = std::min(whole.skipSize, c.lost);
        EXPECT_EQ(recognise(failing, sig), jumpedToTheLoss);
        EXPECT_EQ(failing.unreadableSectorCount(), 1u);
    }
}
