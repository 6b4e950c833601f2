#include "SizeCalcFixture.h"
#include "support/FailingReads.h"

#include <gtest/gtest.h>

using namespace std::string_literals;
using testsupport::asString;
using testsupport::be16;
using testsupport::be32;
using testsupport::imageWith;
using testsupport::toolSample;

namespace {

constexpr std::uint64_t kSector = 37;

// A JPEG whose first marker after the start lies at byte `at`, behind a comment segment.
std::string jpegWithMarkerAt(const std::string& jpeg, std::size_t at) {
    return jpeg.substr(0, 2) + "\xFF\xFE" + asString(be16(static_cast<std::uint16_t>(at - 4))) +
           std::string(at - 6, ' ') + jpeg.substr(2);
}

// A movie whose atoms after its first lie from byte `at` on, behind a free atom.
std::string movieWithAtomsAt(const std::string& movie, std::size_t at) {
    const std::size_t first = std::uint8_t(movie[2]) << 8 | std::uint8_t(movie[3]);
    return movie.substr(0, first) + asString(be32(static_cast<std::uint32_t>(at - first))) + "free" +
           std::string(at - first - 8, '\0') + movie.substr(first);
}

} // namespace

class UnreadableStructureTest : public SizeCalcFixture {};

// A sector that could not be read right on what a walk reads next (the markers of a JPEG's header, the headers of a
// movie's media data atom and the atom before it, a PNG's chunk header, the blocks between the frames of a GIF): the
// walk goes on at the next structure after it, and the file is measured as long as on a sound medium.
TEST_F(UnreadableStructureTest, AWalkGoesOnAtTheNextStructureAfterIt) {
    const std::string jpeg = toolSample("convert -seed 1 -size 300x300 plasma: \"$OUT\"", "jpg");
    const std::string movie = toolSample("ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=10:duration=4 "
                                         "-c:v mpeg4 -fflags +bitexact \"$OUT\"",
                                         "mov");
    const std::string gif =
        toolSample("convert -seed 1 -size 160x120 plasma: \"$OUT.a.gif\" && convert -seed 2 -size "
                   "160x120 plasma: \"$OUT.b.gif\" && gifsicle --delay 10 \"$OUT\".?.gif -o \"$OUT\"",
                   "gif");
    const std::string png = toolSample("convert -seed 1 -size 200x150 plasma: \"$OUT\"", "png");
    ASSERT_FALSE(jpeg.empty() || movie.empty() || gif.empty() || png.empty());
    // The second image data chunk's header.
    const std::size_t secondChunk = png.find("IDAT", png.find("IDAT") + 1) - 4;
    // The second frame's control extension.
    const std::size_t secondFrame = gif.find("!\xF9\x04"s, gif.find("!\xF9\x04"s) + 1);
    ASSERT_NE(secondFrame, std::string::npos);
    struct Case {
        const char* name;
        std::string bytes;
        std::string_view key;
        // The file's sector that cannot be read.
        std::uint64_t lost;
    };
    const Case cases[] = {
        {"the JPEG's tables", jpegWithMarkerAt(jpeg, 1024), "jpg", 2},
        {"the movie's wide and mdat atoms", movieWithAtomsAt(movie, 1536), "mov", 3},
        {"the PNG's second data chunk", png, "png", secondChunk / 512},
        {"the GIF's second frame", gif, "gif", secondFrame / 512},
    };
    for (const Case& c : cases) {
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
