#include "SizeCalcFixture.h"
#include "formats/CarvingFormat.h"
#include "sizecalc/SizeCalculator.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace std::string_literals;

namespace {
constexpr std::uint64_t kSector = 37;
const std::string kNoise = "-size 300x300 xc: +noise Random";

std::string be(std::uint64_t value, int width, bool bigEndian = true) {
    std::vector<std::uint8_t> b(width);
    bigEndian ? putBE(b, 0, value, width) : putLE(b, 0, value, width);
    return std::string(b.begin(), b.end());
}

// An Exif APP1 segment whose IFD1 carries `thumbnail` (big-endian TIFF, an
// empty IFD0), laid out after the public Exif description.
std::string exifSegment(const std::string& thumbnail) {
    const std::string ifd1 = be(2, 2) + be(0x0201, 2) + be(4, 2) + be(1, 4) + be(44, 4) + be(0x0202, 2) + be(4, 2) +
                             be(1, 4) + be(thumbnail.size(), 4) + be(0, 4);
    const std::string body = "Exif\0\0MM\0*"s + be(8, 4) + be(0, 2) + be(14, 4) + ifd1 + thumbnail;
    return "\xFF\xE1" + be(body.size() + 2, 2) + body;
}

// A PSD followed by zeros: its pixel walk steps in words from the sections'
// end and stops on the 13th zero word in a row (a run over 50 bytes); + 512.
// One whose pixel data is raw (compression 0 behind the sections) is as long
// as its header says, one run-length coded (1) as its rows' byte counts say;
// + 512.
std::uint64_t psdAnswer(const std::string& psd) {
    const platform::ByteView bytes(reinterpret_cast<const std::uint8_t*>(psd.data()), psd.size());
    std::uint64_t start = 26;
    for (int i = 0; i < 3; ++i)
        start += 4 + bytes.be32(start);
    if (bytes.be16(start) <= 1) return psd.size() + 512;
    return start + (psd.size() - start + 3) / 4 * 4 + 12 * 4 + 512;
}

// A 72 x 72 8-bit RGB PSD header with empty sections but a layer count of 3,
// 44 bytes: its estimate is 15564.8 bytes a layer.
const std::string kThreeLayerPsd = "8BPS"s + be(1, 2) + std::string(6, '\0') + be(3, 2) + be(72, 4) + be(72, 4) +
                                   be(8, 2) + be(3, 2) + be(0, 4) + be(0, 4) + be(6, 4) + be(2, 4) + be(3, 2);
} // namespace

class ImageCalculatorsTest : public SizeCalcFixture {
protected:
    // The chain of every format of the table offered `bytes` at kSector; `cut` then says whether the file measured
    // is left marked.
    SizeCalculatorChain::Hit carve(const std::string& bytes, bool stopped = false) {
        image = imageWith(bytes, kSector);
        const SizeCalculatorChain::Hit hit = measureWithEveryFormat(image, kSector, stopped);
        cut = contexts.back()->measuredCut;
        return hit;
    }
    std::string convert(const std::string& options, const std::string& extension) {
        return toolSample("convert -seed " + sampleSeed(1) + " " + options + " \"$OUT\"", extension);
    }
    std::filesystem::path image;
    bool cut = false;
};

// Each sample is claimed by its own format only and measured by its rule:
// JPEG, PNG and GIF to their end plus the margin (PNG's 516 holds the last
// CRC), BMP by its size field, PSD to its zero run or, raw or run-length
// coded, by its header or its rows' byte counts; none is left marked. A
// JPEG with fill bytes before a marker (after its start marker, before its
// tables) is measured whole.
TEST_F(ImageCalculatorsTest, ToolSamplesAreClaimedByTheirFormatAndMeasuredByItsRule) {
    const std::string jpg = convert(kNoise, "jpg");
    const std::size_t tables = jpg.find("\xFF\xDB");
    const std::pair<std::string, std::string_view> samples[] = {
        {jpg, "jpg"},
        {jpg.substr(0, 2) + "\xFF" + jpg.substr(2), "jpg"},
        {jpg.substr(0, tables) + "\xFF\xFF\xFF" + jpg.substr(tables), "jpg"},
        {convert(kNoise + " -interlace JPEG", "jpg"), "jpg"},
        {jpg.substr(0, 2) + exifSegment(convert("-size 40x30 plasma:", "jpg")) + jpg.substr(2), "jpg"},
        {convert(kNoise, "png"), "png"},
        {convert(kNoise + " -interlace GIF", "gif"), "gif"},
        {convert("-delay 10 -size 200x200 xc: +noise Random \\( -size 200x200 plasma: \\) -loop 0", "gif"), "gif"},
        {convert("-size 100x100 plasma:", "bmp"), "bmp"},
        {convert("-size 64x48 xc: +noise Random", "psd"), "psd"},
        {convert("-size 64x48 xc: +noise Random -compress RLE", "psd"), "psd"},
        {convert("-size 64x48 xc: +noise Random \\( -size 64x48 xc:red \\) \\( -size 64x48 plasma: \\)", "psd"),
         "psd"}};
    for (const auto& [bytes, key] : samples) {
        const auto hit = carve(bytes);
        EXPECT_EQ(hit.calculator ? hit.calculator->parentKey() : "", key) << bytes.size();
        const std::uint64_t rule = key == "psd" ? psdAnswer(bytes) : bytes.size() + (key == "bmp" ? 0 : 512);
        EXPECT_EQ(hit.size, key.empty() ? 0 : rule) << key << " of " << bytes.size() << " bytes";
        EXPECT_FALSE(cut) << key << " of " << bytes.size() << " bytes";
        const std::string_view ours[] = {"jpg", "png", "gif", "bmp", "psd"};
        EXPECT_EQ(acceptedBy(image, kSector, ours), std::vector<std::string_view>{key});
    }
}

// Broken, truncated and hostile files end their walks where their rules say;
// a JPEG or PNG whose walk ended before its end is left marked.
TEST_F(ImageCalculatorsTest, DamagedFilesEndTheWalkWhereTheirRulesSay) {
    // A zero segment length steps over its 2 bytes; the scan ends at 22.
    EXPECT_EQ(carve("\xFF\xD8\xFF\xE0" + be(0, 2) + "\xFF\xDA" + be(12, 2) + std::string(10, 'x') + "\xFF\xD9").size,
              22u + 512);
    // A segment followed by a byte that is no marker, or by a stuffed zero: up to it plus 2, no margin, marked.
    for (const std::string& after : {"\0"s, "\xFF\0"s}) {
        EXPECT_EQ(carve("\xFF\xD8\xFF\xE0" + be(16, 2) + std::string(14, 'x') + after).size, 22u);
        EXPECT_TRUE(cut);
    }
    // No end marker before the zeros: the scan data is looked through to the volume's end, listed that far, marked.
    const std::string jpg = convert(kNoise, "jpg");
    const std::uint64_t looked = carve(jpg.substr(0, jpg.size() / 2)).size;
    EXPECT_EQ(looked, std::filesystem::file_size(image) - kSector * 512);
    EXPECT_TRUE(cut);
    // A stopped walk answers its length so far: a JPEG's first 4 bytes.
    EXPECT_EQ(carve(jpg, true).size, 4u);
    // A marker and its length astride the end of the first window, and an end marker split between the second
    // and the third (the second begins at sector 127 of the file), are still read.
    const std::string straddling = "\xFF\xD8\xFF\xE0" + be(65529, 2) + std::string(65527, 'x') + "\xFF\xE1" +
                                   be(16, 2) + std::string(14, 'x') + "\xFF\xDA" + std::string(130559 - 65553, 'y') +
                                   "\xFF\xD9";
    EXPECT_EQ(carve(straddling).size, 130561u + 512);

    // Signature, header and one empty chunk are too short to keep.
    const std::string png = convert(kNoise, "png");
    EXPECT_FALSE(carve(png.substr(0, 33) + be(0, 4) + "IEND" + be(0, 4)));
    // A chunk longer than allowed ends the walk at the CRC before it, short of IEND: marked.
    EXPECT_EQ(carve(png.substr(0, 93) + be(51404801, 4) + "IDAT").size, 89u + 516);
    EXPECT_TRUE(cut);

    // Only zero bytes where blocks should be: the position after 2049 of them.
    const std::string gifHeader = "GIF89a"s + be(0x0100'0100, 4) + std::string(3, '\0');
    EXPECT_EQ(carve(gifHeader + std::string(3000, '\0')).size, 13u + 2049);
    // Image data sub-blocks are followed past 5 MiB to the zeros behind them, and those past the 2049th: the 20704th
    // sub-block of 255 bytes from the code size's at 23 ends in the zeros, at 5300248.
    EXPECT_EQ(carve(gifHeader + ",\0\0\0\0\x01\0\x01\0\0\x08"s + std::string(5300000, '\xFF')).size,
              23u + 20704 * 256 + 1 + 2049);

    // A BMP's size field is taken from 50 bytes to 100 MiB, both included.
    for (const std::uint32_t size : {49u, 50u, 104857600u, 104857601u})
        EXPECT_EQ(carve("BM" + be(size, 4, false) + std::string(19, '\0')).size,
                  size == 50 || size == 104857600 ? size : 0)
            << size;
}

TEST_F(ImageCalculatorsTest, PsdWalkFollowsItsSectionsAndEstimate) {
    // Sections that end beyond the first window: the walk goes on at the
    // right file position, so it meets the same zeros 70000 bytes later.
    const std::string psd = convert("-size 64x48 xc: +noise Random -compress RLE", "psd");
    EXPECT_EQ(carve(psd.substr(0, 26) + be(70000, 4) + std::string(70000, 'c') + psd.substr(30)).size,
              psdAnswer(psd) + 70000);
    // Over data without zeros the walk runs in words from the sections' end
    // (44) to the estimate times the layers (46694.4), ...
    const std::string junk(50000, '\xAA');
    EXPECT_EQ(carve(kThreeLayerPsd + junk).size, 44u + (46694 - 44 + 3) / 4 * 4 + 512);
    // ... or, for CMYK at 32 bits, which has no estimate, to three times
    // the sections' end.
    std::string cmyk = kThreeLayerPsd;
    cmyk[23] = 32, cmyk[25] = 4;
    EXPECT_EQ(carve(cmyk + junk).size, 3u * 44 + 512);
    // A stopped walk answers the sections' end plus the margin.
    EXPECT_EQ(carve(kThreeLayerPsd + junk, true).size, 44u + 512);
    // No width: nothing to measure.
    EXPECT_FALSE(carve(psd.substr(0, 18) + be(0, 4) + psd.substr(22)));
    // A raw composite is as long as its header says, but not behind a section length the medium could not give:
    // the file ends in that sector's zeros (sector 136 holds the second section's length at 70030).
    const std::string raw = convert("-size 64x48 xc: +noise Random", "psd");
    testsupport::FailingReads bad;
    bad.failSectors(kSector + 136);
    failing = &bad;
    EXPECT_LE(carve(raw.substr(0, 26) + be(70000, 4) + std::string(70000, 'c') + raw.substr(30)).size,
              137u * 512 + 512);
    failing = nullptr;
}
