#include "RecogniserFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace std::string_literals;
using ImageRecognisersTest = RecogniserFixture;

namespace {
const auto be = [](std::uint32_t v, int width = 4) { return asString(be32(v)).substr(4 - width); };
const auto le = [](std::uint32_t v, int width = 4) {
    const std::string b = be(v);
    return std::string(b.rbegin(), b.rend()).substr(0, width);
};
// A PNG signature and the IHDR chunk of a 16 x 16 image: 33 bytes.
std::string pngHead(char depth = 8, char interlace = 0) {
    return "\x89PNG\r\n\x1A\n"s + be(13) + "IHDR" + be(16) + be(16) + depth + "\x02\0\0"s + interlace + be(0);
}
// A GIF header without a colour table, and a 1 x 1 image of one 2-byte data sub-block: 15 bytes.
const std::string kGifHead = "GIF89a"s + be(0x0100'0100) + std::string(3, '\0');
const std::string kGifImage = ",\0\0\0\0\x01\0\x01\0\0\x02\x02\x4C\x01\0"s;
} // namespace

// Tool-made JPEG (baseline and progressive, and with fill bytes before its markers), PNG and GIF files are jumped over
// to their end marker; BMP and icon files get their length field.
TEST_F(ImageRecognisersTest, ToolSamplesAreMeasuredToTheirRealEnd) {
    auto convert = [](auto o, auto e) {
        return toolSample("convert -seed " + sampleSeed(1) + " -size 300x300 " + o + " \"$OUT\"", e);
    };
    // A fill byte after the start marker and two before the first marker of each kind.
    const auto filled = [](std::string photo, const std::string& kinds) {
        for (const char kind : kinds)
            photo.insert(photo.find(std::string("\xFF") + kind), "\xFF\xFF");
        return photo.substr(0, 2) + "\xFF" + photo.substr(2);
    };
    const std::string gifs = "convert -seed " + sampleSeed(1) +
                             " -size 99x80 plasma: \"$OUT.a.gif\" && convert -seed " + sampleSeed(2) +
                             " -size 99x80 xc: +noise Random \"$OUT.b.gif\" && gifsicle --delay 10 \"$OUT\".?.gif -o "
                             "\"$OUT\"";
    const std::string icns = "convert -size 128x128 plasma: \"$OUT.png\" && png2icns \"$OUT\" \"$OUT.png\"";
    const std::tuple<std::string, std::uint32_t, std::string> samples[] = {
        {convert("plasma:", "jpg"), 3, "jpg"},
        {convert("plasma: -interlace JPEG", "jpg"), 3, "jpg"},
        {convert("plasma: -colorspace Gray -interlace JPEG", "jpg"), 3, "jpg"},
        {filled(convert("plasma:", "jpg"), "\xDB\xC0\xC4\xDA"), 3, "jpg"},
        {filled(convert("plasma: -interlace JPEG", "jpg"), "\xDB\xC2\xC4\xDA"), 3, "jpg"},
        {convert("xc: +noise Random", "png"), 6, "png"},
        {convert("plasma:", "gif"), 4, "gif"},
        {toolSample(gifs, "gif"), 4, "gif"},
        {convert("plasma:", "bmp"), 2, "bmp"},
        {toolSample(icns, "icns"), 20, "icns"},
        {convert("plasma:", "sgi"), 48, "sgi"},
        {convert("plasma: -compress none", "sgi"), 48, "sgi"},
        {toolSample("convert -size 48x48 plasma: \"$OUT\"", "ico"), 54, "ico"},
        {toolSample("convert -size 256x256 plasma: -define icon:auto-resize=256,48,16 \"$OUT\"", "ico"), 54, "ico"}};
    // An SGI image's pixels and an icon's images past their heads no walk reads, and a GIF's image data its walk
    // steps over by the sub-blocks' sizes: with no search to offer them to, only the header, the row tables and the
    // images' heads are jumped over (a GIF's first image's data begins in its first of these sectors).
    const auto headersEnd = [](const std::string& bytes, std::uint32_t type) -> std::uint64_t {
        const platform::ByteView b(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
        if (type == 48) return b.u8(2) == 0 ? 512 : 512 + 8 * std::uint64_t{b.be16(8)} * b.be16(10);
        std::uint64_t end = 6 + 16 * std::uint64_t{b.le16(4)};
        for (std::uint64_t i = 0; i < b.le16(4); ++i)
            end = std::max<std::uint64_t>(end, b.le32(18 + 16 * i) + std::min<std::uint32_t>(b.le32(14 + 16 * i), 40));
        return end;
    };
    for (const auto& [bytes, type, ext] : samples) { // in 4096-byte sectors
        Sig sig = sigOf(type, ext);
        const bool jumped = type != 2 && type != 20;
        const std::uint64_t jump = type == 48 || type == 54 ? headersEnd(bytes, type) : type == 4 ? 0 : bytes.size();
        EXPECT_EQ(recognise(volumeOver(imageWith(bytes, kSector, 64, 4096), 4096), sig),
                  (Verdict{true, bytes.size(), jumped ? jump / 4096 : 0, jumped, ext}));
    }
    // Cut short, a baseline or progressive JPEG's markers break off at the next photo's start: it ends there, cut,
    // and is jumped over no further than its header, never to that photo's end marker.
    for (const std::size_t which : {0, 1}) {
        const std::string& photo = std::get<0>(samples[which]);
        std::string cut = photo.substr(0, photo.size() / 2);
        cut.resize((cut.size() + 511) / 512 * 512);
        const Verdict v = recogniseBytes(cut + std::get<0>(samples[2]), sigOf(3));
        EXPECT_TRUE(v.accepted && v.foundCut) << which;
        EXPECT_EQ(v.foundSize, cut.size()) << which;
        EXPECT_LE(v.skipSize * 512, photo.find("\xFF\xDA")) << which;
    }
}

TEST_F(ImageRecognisersTest, HeadersAreTestedAndWalksEndWhereTheirRulesSay) {
    EXPECT_FALSE(recogniseBytes("BM" + be(1000) + be(1), sigOf(2)).accepted); // reserved fields not zero
    EXPECT_EQ(recogniseBytes("icns" + be(10'000'000), sigOf(20)), (Verdict{true, 10'000'000, 0, false, ""}));
    EXPECT_FALSE(recogniseBytes("icns" + be(10'000'001), sigOf(20)).accepted);
    // An SGI header keeps its unused bytes zero.
    const std::string sgi = "\x01\xDA\0\1\0\2\0\x08\0\x08\0\1"s + std::string(500, '\0');
    EXPECT_EQ(recogniseBytes(sgi, sigOf(48)).foundSize, 512u + 64);
    EXPECT_FALSE(recogniseBytes(sgi.substr(0, 300) + 'x' + sgi.substr(301), sigOf(48)).accepted);
    // An icon's directory and the heads of its images: a cursor's hotspot lies inside its 32 x 32 bitmap (the image
    // and mask 296 bytes).
    const auto cursor = [](int x) {
        return "\0\0\2\0\1\0\x20\x20\0\0"s + le(x, 2) + le(7, 2) + le(296) + le(22) + le(40) + le(32) + le(64) +
               le(1, 2) + le(1, 2) + std::string(280, '\x55');
    };
    EXPECT_EQ(recogniseBytes(cursor(31), sigOf(54)), (Verdict{true, 318, 0, true, ""}));
    EXPECT_FALSE(recogniseBytes(cursor(32), sigOf(54)).accepted);
    EXPECT_FALSE(recogniseBytes("\xFF\xD8\xFF\x00"s + be(16, 2), sigOf(3)).accepted);
    EXPECT_FALSE(recogniseBytes("\xFF\xD8\xFF\xFF\x00"s + be(16, 2), sigOf(3)).accepted);
    // A segment that runs into bytes that are no marker, or into a stuffed zero, breaks the walk: the photo is listed
    // to there, marked, and not jumped over, once a segment led to a marker or the first is of a kind images open
    // with; the first segment's breaking refuses any other.
    const std::string filledApp0 = "\xFF\xD8\xFF\xFF\xE0"s + be(16, 2) + std::string(14, 'a');
    for (const std::string& after : {"x"s, "\xFF\x00"s}) {
        EXPECT_EQ(recogniseBytes(filledApp0 + after, sigOf(3)), (Verdict{true, 21, 0, false, "", true}));
        EXPECT_EQ(recogniseBytes("\xFF\xD8\xFF\xC0"s + be(8, 2) + std::string(6, 'f') + "\xFF\xFE"s + be(8, 2) +
                                     std::string(6, 'c') + after,
                                 sigOf(3)),
                  (Verdict{true, 22, 0, false, "", true}));
        EXPECT_FALSE(recogniseBytes("\xFF\xD8\xFF\xC0"s + be(8, 2) + std::string(6, 'f') + after, sigOf(3)).accepted);
    }
    for (const char depth : {1, 3, 16, 18})
        EXPECT_EQ(recogniseBytes(pngHead(depth), sigOf(6)).accepted, depth == 1 || depth == 16) << int(depth);
    EXPECT_FALSE(recogniseBytes(pngHead(8, 2), sigOf(6)).accepted);
    // A GIF ends after its trailer, or where a sector of zeros begins, or at the volume's end; its image data, with
    // no search to offer it to, is not jumped over.
    EXPECT_EQ(recogniseBytes(kGifHead + "!\xF9\x04\x01\x0A\0\0\0;"s, sigOf(4)), (Verdict{true, 22, 0, true, ""}));
    EXPECT_EQ(recogniseBytes(kGifHead + kGifImage + kGifImage, sigOf(4)).foundSize, 13u + 2 * 15);
    const std::string endless = kGifHead + kGifImage.substr(0, 11) + std::string(5096, '\x40'); // 10 sectors
    EXPECT_EQ(recogniseBytes(endless, sigOf(4), 0), (Verdict{true, 10 * 512, 0, true, ""}));
    // A JPEG without end marker is listed as far as its walk could read, to the volume's end or to the size limit,
    // marked cut and not jumped over: however many bytes a pixel it takes, its end may lie anywhere in them.
    const std::string app0 = "\xFF\xD8\xFF\xE0"s + be(16, 2) + std::string(14, 'a'), sos = "\xFF\xDA"s + be(12, 2);
    const std::string head = app0 + "\xFF\xC0"s + be(17, 2) + '\x08' + be(0x0100'0100) + std::string(10, 'c') + sos;
    EXPECT_EQ(recogniseBytes(head + "0123456789xyz\xFF\xD9", sigOf(3)), (Verdict{true, 58, 0, true, ""}));
    EXPECT_EQ(recogniseBytes(head, sigOf(3), 200), (Verdict{true, 201 * 512, 0, false, "", true}));
    EXPECT_EQ(recogniseBytes(head, sigOf(3), 100), (Verdict{true, 101 * 512, 0, false, "", true}));
    EXPECT_EQ(recogniseBytes(app0 + sos + std::string(3 << 20, 'x'), sigOf(3, "", 1)),
              (Verdict{true, 1 << 20, 0, false, "", true}));
    // A chunk type that is not letters, or chunks that run past the volume (and would wrap 32 bits), end a PNG short
    // of IEND: marked.
    EXPECT_EQ(recogniseBytes(pngHead() + be(0) + "IDA1", sigOf(6)).foundSize, 33u);
    const std::string huge = be(0x7FFFFFF0) + "IDAT";
    EXPECT_EQ(recogniseBytes(pngHead() + huge + huge + huge, sigOf(6)), (Verdict{true, 33, 0, true, "", true}));
}
