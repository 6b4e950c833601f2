#include "RecogniserFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;
using FramedMediaRecognisersTest = RecogniserFixture;

namespace {

const std::string kFfmpeg = "ffmpeg -v error -threads 1 ";
std::string video(const std::string& size, const std::string& rate, const std::string& seconds) {
    return "-f lavfi -i " + sampleVideo("size=" + size + ":rate=" + rate + ":duration=" + seconds) + " ";
}
std::string tone(const std::string& seconds) {
    return "-f lavfi -i sine=frequency=" + sampleTone(440) + ":duration=" + seconds + " ";
}

} // namespace

// DV of 625 and 525 lines runs frame after frame, as its header block's top bit sizes them, to where a frame no
// longer opens with a header block; the frames are bodies the search's lookup is offered: a file found where a frame
// begins on a sector's start is the film's own frame, one found inside a frame cuts the film there. A film whose
// second DIF sequence does not follow its first is none.
TEST_F(FramedMediaRecognisersTest, DvRunsFrameByFrameAndItsFramesAreOfferedToTheLookup) {
    const std::string pal =
        toolSample(kFfmpeg + video("720x576", "25", "0.4") + tone("0.4") + "-target pal-dv \"$OUT\"", "dv");
    const std::string ntsc =
        toolSample(kFfmpeg + video("720x480", "30000/1001", "0.4") + "-pix_fmt yuv411p -f dv \"$OUT\"", "dv");
    const std::vector<std::pair<std::string, std::uint64_t>> films = {{pal, 144000}, {ntsc, 120000}};
    // With no lookup, nothing past the first frame's header is jumped over; with one that finds nothing, all.
    for (const auto& [film, frame] : films) {
        ASSERT_EQ(film.size() % frame, 0u);
        EXPECT_EQ(recogniseBytes(film, sigOf(59, "dv")), (Verdict{true, film.size(), 0, true, "dv"}));
    }
    for (const auto& [film, frame] : films) {
        lookupFinds({});
        EXPECT_EQ(recogniseBytes(film, sigOf(59, "dv")), (Verdict{true, film.size(), film.size() / 512, true, "dv"}));
        // Cut in its third frame, other bytes after: it runs to the end of that frame, the last that began.
        const std::string cut = film.substr(0, 2 * frame + 1000) + std::string(3 * frame, '\x55');
        EXPECT_EQ(recogniseBytes(cut, sigOf(59, "dv")).foundSize, 3 * frame);
        std::string broken = film;
        broken[12000 + 1] = 0x27;
        EXPECT_FALSE(recogniseBytes(broken, sigOf(59, "dv")).accepted);
        lookupFinds({frame * 8 / 512, frame * 8 / 512 + 3});
        EXPECT_EQ(recogniseBytes(film, sigOf(59, "dv")),
                  (Verdict{true, (frame * 8 / 512 + 3) * 512, frame * 8 / 512 + 3, true, "dv", true}));
    }
}

// DTS core frames, as ffmpeg's encoder writes them, run to the stream's end, and so do the DTS-HD substreams after
// them; fewer than four frames in a row are no stream, nor are frames whose sampling-rate code names no rate.
TEST_F(FramedMediaRecognisersTest, DtsRunsFrameAfterFrameOfOneRate) {
    const std::string dts = toolSample(kFfmpeg + tone("1") + "-ar 48000 -c:a dca -strict -2 -f dts \"$OUT\"", "dts");
    ASSERT_EQ(dts.substr(0, 4), std::string("\x7F\xFE\x80\x01", 4));
    EXPECT_EQ(recogniseBytes(dts, sigOf(58, "dts")), (Verdict{true, dts.size(), dts.size() / 512, true, "dts"}));
    const std::size_t frame = dts.find(std::string("\x7F\xFE\x80\x01", 4), 1);
    ASSERT_NE(frame, std::string::npos);
    EXPECT_FALSE(recogniseBytes(dts.substr(0, 3 * frame), sigOf(58, "dts")).accepted);
    EXPECT_EQ(recogniseBytes(dts.substr(0, 4 * frame), sigOf(58, "dts")).foundSize, 4 * frame);
    EXPECT_EQ(recogniseBytes(dts.substr(0, 7 * frame + 3), sigOf(58, "dts")).foundSize, 7 * frame);
    // A DTS-HD extension substream of 100 bytes (its header 16) after each core frame.
    const std::string substream = std::string("\x64\x58\x20\x25\x00\x01\xE0\x0C\x60", 9) + std::string(91, '\0');
    std::string hd;
    for (int i = 0; i < 5; ++i)
        hd += dts.substr(i * frame, frame) + substream;
    EXPECT_EQ(recogniseBytes(hd, sigOf(58, "dts")).foundSize, hd.size());
    std::string noRate = dts;
    noRate[8] = static_cast<char>(noRate[8] & 0xC3);
    EXPECT_FALSE(recogniseBytes(noRate, sigOf(58, "dts")).accepted);
}

// An MXF file that ffmpeg wrote runs through its partitions, each where it says it lies, to its random index pack.
// Its body partitions begin sectors of their own, and neither begins a file nor cuts it when the lookup finds a file
// there; a file that breaks off before its footer partition is marked as far as its packets went.
TEST_F(FramedMediaRecognisersTest, MxfRunsThroughItsPartitionsToItsIndexPack) {
    const std::string mxf = toolSample(kFfmpeg + video("320x240", "25", "3") + "-f mxf \"$OUT\"", "mxf");
    const std::string body("\x06\x0E\x2B\x34\x02\x05\x01\x01\x0D\x01\x02\x01\x01\x03", 14);
    const std::size_t bodyAt = mxf.find(body), footerAt = mxf.find(body.substr(0, 13) + '\x04');
    ASSERT_TRUE(bodyAt != std::string::npos && footerAt != std::string::npos);
    ASSERT_EQ(bodyAt % 512, 0u);
    lookupFinds({bodyAt / 512});
    EXPECT_EQ(recogniseBytes(mxf, sigOf(60, "mxf")), (Verdict{true, mxf.size(), mxf.size() / 512, true, "mxf"}));
    Volume& volume = volumeOver(imageWith(mxf, kSector));
    Sig sig = sigOf(60, "mxf");
    EXPECT_FALSE(recognise(volume, sig, kSector + bodyAt / 512).accepted);
    const Verdict cut = recogniseBytes(mxf.substr(0, footerAt) + std::string(4096, '\x55'), sigOf(60, "mxf"));
    EXPECT_EQ(cut, (Verdict{true, footerAt, 0, false, "mxf", true}));
    // A header partition that says it lies a sector further on is another file's.
    std::string elsewhere = mxf;
    elsewhere[17 + (elsewhere[16] & 0x7F) + 8 + 6] = 0x02;
    EXPECT_FALSE(recogniseBytes(elsewhere, sigOf(60, "mxf")).accepted);
}
