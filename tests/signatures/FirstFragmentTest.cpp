#include "RecogniserFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

// One case of each format, in the order of kCaseNames.
struct FragmentCase {
    std::string file;
    std::uint32_t typeOfFile;
    // The bytes of the file's first fragment, a whole number of sectors.
    std::uint64_t fragment;
    // How much of the whole file the search jumps over: all of it or nothing.
    enum { All, None } wholeJump;
};

std::uint64_t sectorsIn(std::uint64_t bytes) {
    return bytes / 512 * 512;
}

const std::string kPhotos = "convert -seed " + sampleSeed(3) +
                            " -size 400x300 plasma: \"$OUT.a.jpg\" && convert -seed " + sampleSeed(4) +
                            " -size 400x300 plasma: \"$OUT.b.jpg\" && ";
const std::string kVideo =
    "ffmpeg -v error -f lavfi -i " + sampleVideo("size=320x240:rate=25:duration=4") + " -threads 1 -c:v mpeg4 -q:v 3 ";

std::vector<FragmentCase> fragmentCases() {
    const std::string baseline =
        toolSample("convert -seed " + sampleSeed(5) + " -size 500x400 plasma: -quality 95 \"$OUT\"", "jpg");
    const std::string progressive = toolSample(
        "convert -seed " + sampleSeed(6) + " -size 500x400 plasma: -quality 95 -interlace JPEG \"$OUT\"", "jpg");
    const std::string stored = toolSample(kPhotos + "zip -q -0 -j \"$OUT\" \"$OUT\".?.jpg", "zip");
    // Written to a pipe, the archive's entries give their sizes after their data.
    const std::string streamed = toolSample(kPhotos + "(zip -q -j - \"$OUT\".?.jpg | cat >\"$OUT\")", "zip");
    // A photo on a page.
    const std::string pdf = toolSample("convert -seed " + sampleSeed(7) +
                                           " -size 400x300 plasma: \"$OUT.jpg\" && gs -q -dNOSAFER -sDEVICE=pdfwrite "
                                           "-o \"$OUT\" viewjpeg.ps -c \"($OUT.jpg) viewJPEG\"",
                                       "pdf");
    const std::string png = toolSample("convert -seed " + sampleSeed(8) + " -size 300x300 plasma: \"$OUT\"", "png");
    const std::string gif = toolSample("convert -seed " + sampleSeed(9) + " -size 300x300 plasma: \"$OUT\"", "gif");
    const std::string moovLast = toolSample(kVideo + "\"$OUT\"", "mp4");
    const std::string moovFirst = toolSample(kVideo + "-movflags +faststart \"$OUT\"", "mp4");
    const std::string h264 =
        toolSample("ffmpeg -v error -f lavfi -i " + sampleVideo("size=320x240:rate=25:duration=4") +
                       " -f lavfi -i sine=frequency=" + sampleTone(500) +
                       ":duration=4 -threads 1 -c:v libx264 -c:a aac -movflags +faststart \"$OUT\"",
                   "mp4");
    const std::string h265 = toolSample(
        "ffmpeg -v error -f lavfi -i " + sampleVideo("size=320x240:rate=25:duration=4") +
            " -threads 1 -c:v libx265 -x265-params log-level=error -tag:v hvc1 -movflags +faststart \"$OUT\"",
        "mp4");
    return {
        {baseline, 3, sectorsIn(baseline.size() / 3), FragmentCase::All},
        {progressive, 3, sectorsIn(progressive.size() / 3), FragmentCase::All},
        {stored, 21, 64 * 1024, FragmentCase::All},
        {streamed, 21, 64 * 1024, FragmentCase::All},
        {pdf, 24, sectorsIn(pdf.size() / 4), FragmentCase::None},
        {png, 6, sectorsIn(png.size() / 2), FragmentCase::All},
        {gif, 4, sectorsIn(gif.size() / 2), FragmentCase::All},
        {moovLast, 17, 32 * 1024, FragmentCase::All},
        {moovFirst, 17, 32 * 1024, FragmentCase::All},
        {h264, 17, 32 * 1024, FragmentCase::All},
        {h265, 17, sectorsIn(h265.size() / 2), FragmentCase::All},
    };
}

} // namespace

class FirstFragmentTest : public RecogniserFixture, public testing::WithParamInterface<std::size_t> {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"convert", "zip", "ffmpeg", "sox", "gs"})
            if (!haveTool(tool)) return;
        cases_ = fragmentCases();
        wav_ = toolSample("sox -n -r 44100 -b 16 -c 1 \"$OUT\" synth 2 sine " + sampleTone(440), "wav");
    }
    static inline std::vector<FragmentCase> cases_;
    static inline std::string wav_;
};

// Whole, each file is measured to its end and, when the search's lookup finds no other file in what its walk stepped
// over, jumped over as far as its walk checks it: a JPEG by its markers, an archive by its records, a PNG by its
// chunks' CRCs, a GIF by its blocks, a movie by its atoms; a PDF's end marker ties nothing to its first sectors. Its
// first fragment followed by another file's sectors, where the lookup finds that file, is never jumped over past the
// fragment's end, so the search finds that file at its own sector.
TEST_P(FirstFragmentTest, IsJumpedOverNoFurtherThanItsWalkChecked) {
    if (cases_.empty()) GTEST_SKIP() << "convert, zip, ffmpeg, sox or gs is missing (./dev.sh installs them)";
    const FragmentCase& c = cases_.at(GetParam());
    ASSERT_FALSE(c.file.empty());
    ASSERT_LT(c.fragment, c.file.size());
    lookupFinds({});
    const Verdict whole = recogniseBytes(c.file, sigOf(c.typeOfFile, "x", 200));
    EXPECT_TRUE(whole.accepted);
    EXPECT_EQ(whole.foundSize, c.file.size());
    EXPECT_FALSE(whole.foundCut);
    EXPECT_EQ(whole.skipSize, c.wholeJump == FragmentCase::All ? c.file.size() / 512 : 0);

    lookupFinds({c.fragment / 512});
    for (const std::string& other : {wav_, cases_.front().file}) {
        const Verdict cut = recogniseBytes(c.file.substr(0, c.fragment) + other + c.file.substr(c.fragment),
                                           sigOf(c.typeOfFile, "x", 200));
        EXPECT_TRUE(cut.accepted);
        EXPECT_LE(cut.skipSize * 512, c.fragment);
    }
}

const char* const kCaseNames[] = {"BaselineJpeg",
                                  "ProgressiveJpeg",
                                  "StoredZip",
                                  "ZipWithSizesAfterTheData",
                                  "Pdf",
                                  "Png",
                                  "Gif",
                                  "Mp4MovieHeaderLast",
                                  "Mp4MovieHeaderFirst",
                                  "H264AndSoundMovieHeaderFirst",
                                  "H265MovieHeaderFirst"};

INSTANTIATE_TEST_SUITE_P(Formats, FirstFragmentTest, testing::Range<std::size_t>(0, std::size(kCaseNames)),
                         [](const auto& info) { return std::string(kCaseNames[info.param]); });

// A JPEG written over another's later sectors cuts it: the first is found up to the second's start, marked cut, and
// jumped over no further than its header; a baseline image of several scans is walked from scan to scan to its own
// end marker.
using JpegWalkTest = RecogniserFixture;

TEST_F(JpegWalkTest, AJpegCutByAnotherEndsWhereItBeginsAndOneOfSeveralScansAtItsOwnEnd) {
    if (!haveTool("convert") || !haveTool("jpegtran")) GTEST_SKIP() << "convert or jpegtran is missing";
    const std::string first = toolSample("convert -seed " + sampleSeed(5) + " -size 500x400 plasma: \"$OUT\"", "jpg");
    const std::string second = toolSample("convert -seed " + sampleSeed(6) + " -size 300x200 plasma: \"$OUT\"", "jpg");
    const std::uint64_t cutAt = sectorsIn(first.size() / 2);
    const Verdict cut = recogniseBytes(first.substr(0, cutAt) + second, sigOf(3));
    EXPECT_TRUE(cut.accepted && cut.foundCut);
    EXPECT_EQ(cut.foundSize, cutAt);
    EXPECT_LE(cut.skipSize * 512, first.find("\xFF\xDA"));

    // One scan a component, each after its own tables.
    const std::string scans = toolSample("printf '0;\\n1;\\n2;\\n' >\"$OUT.scans\" && convert -seed " + sampleSeed(5) +
                                             " -size 500x400 plasma: \"$OUT.jpg\" && jpegtran -scans \"$OUT.scans\" "
                                             "-outfile \"$OUT\" \"$OUT.jpg\"",
                                         "jpg");
    ASSERT_NE(scans.find("\xFF\xC0"), std::string::npos);
    ASSERT_NE(scans.find("\xFF\xDA", scans.find("\xFF\xDA") + 2), std::string::npos);
    EXPECT_EQ(recogniseBytes(scans + second, sigOf(3)),
              (Verdict{true, scans.size(), scans.size() / 512, true, "", false}));
}
