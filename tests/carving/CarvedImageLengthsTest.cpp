#include "platform/Crc32.h"
#include "scan/ScanThread.h"
#include "signatures/FileTypeTable.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "support/TiffBuilder.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

// Pictures as today's tools and devices write them, each at sector 2048 of a disk of zeros or random bytes with
// photos after it: the carving of the disk, with its type and JPEG marked, measures each from its own length to its
// margin past it, and finds the photos after it whole, none of them marked damaged.

namespace fs = std::filesystem;
using testsupport::sampleSeed;

namespace {

std::string plasma(unsigned seed, const std::string& size) {
    return "convert -seed " + sampleSeed(seed) + " -size " + size + " plasma: ";
}

// A number of the variant below `below`, for shapes a tool draws.
std::string drawn(unsigned seed, unsigned from, unsigned below) {
    return std::to_string(from + std::stoul(sampleSeed(seed)) % (below - from));
}

// The PNG with a chunk of this type and data behind the chunk of type `after`, its CRC the format's: for chunks no
// tool here writes.
std::string withChunk(const std::string& png, const std::string& after, const std::string& type,
                      const std::string& data) {
    const platform::ByteView bytes(reinterpret_cast<const std::uint8_t*>(png.data()), png.size());
    std::size_t at = 8;
    while (at + 12 <= png.size() && png.compare(at + 4, 4, after) != 0)
        at += 12 + bytes.be32(at);
    if (at + 12 > png.size()) return {};
    at += 12 + bytes.be32(at);
    const std::string body = type + data;
    const std::uint32_t crc =
        platform::crc32(platform::ByteView(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
    return png.substr(0, at) + testsupport::asString(testsupport::be32(static_cast<std::uint32_t>(data.size()))) +
           body + testsupport::asString(testsupport::be32(crc)) + png.substr(at);
}

// A fax of this many pages coded as G4, as tiffcp joins them: two pages, one after the other.
std::string fax(unsigned pages) {
    const std::string top = drawn(40, 100, 600);
    return testsupport::toolSample(
        "for i in 0 1; do convert -size 1728x1100 xc:white -fill black -draw \"rectangle 120," + top + " 700,$((" +
            top + " + 60 + i * 300))\" -compress Group4 \"$OUT.$i.tif\" || exit 1; done && tiffcp $(for i in $(seq " +
            std::to_string(pages) + "); do echo \"$OUT.$((i % 2)).tif\"; done) \"$OUT\"",
        "tif");
}

// Where a DNG-like file's SubIFDs entry points: to the directories of its images, past the end of the volume, or to
// the bytes that follow the file.
enum class SubIfds { Images, PastTheVolume, PastTheFile };

// A TIFF laid out as a raw converter writes a DNG, without the DNG tags: IFD0 holds a small RGB preview, and its
// SubIFDs name the directories of the full-size image (in strips of 16 rows) and of a half-size one behind it, whose
// pixels end the file. `big` files are big-endian and have 38 entries in IFD0 (a camera's texts and numbers, the
// EXIF directory among them). The pixels are ImageMagick's.
std::string dngLike(unsigned seed, unsigned width, unsigned height, bool big, SubIfds subIfds = SubIfds::Images) {
    using B = testsupport::TiffBuilder;
    const auto pixels = [](unsigned seed, unsigned w, unsigned h) {
        return testsupport::toolSample(
            plasma(seed, std::to_string(w) + "x" + std::to_string(h)) + "-depth 8 \"rgb:$OUT\"", "rgb");
    };
    B b(big);
    const auto ifd0 = b.addIfd(), full = b.addIfd(true), half = b.addIfd(true);
    // Texts of even length with their NUL, so that every directory lies at an even offset.
    const auto text = [&](B::Ifd ifd, std::uint16_t tag, const std::string& value) {
        b.ascii(ifd, tag, value + (value.size() % 2 == 0 ? " " : ""));
    };
    const auto image = [&](B::Ifd ifd, std::uint32_t kind, unsigned w, unsigned h, const std::string& rgb) {
        b.rgbImage(ifd, kind, w, h, rgb);
        b.entry(ifd, 284, B::Short, {1});
    };
    image(ifd0, 1, 160, 120, pixels(seed, 160, 120));
    if (big) {
        for (const auto& [tag, value] : std::vector<std::pair<std::uint16_t, std::string>>{{270, "A field"},
                                                                                           {271, "Drentic"},
                                                                                           {272, "Field Camera 2"},
                                                                                           {305, "Converter 1.0"},
                                                                                           {306, "2024:05:01 12:00:00"},
                                                                                           {315, "Someone"},
                                                                                           {33432, "Nobody's"}})
            text(ifd0, tag, value);
        for (std::uint16_t tag = 40000; tag < 40018; ++tag)
            b.entry(ifd0, tag, B::Short, {tag});
        const auto exif = b.addIfd(true);
        b.pointer(ifd0, 34665, exif);
        text(exif, 36867, "2024:05:01 12:00:00");
        b.entry(exif, 34855, B::Short, {200});
        b.bytes(exif, 37500, std::string(2000, '\x5A'));
    }
    if (subIfds == SubIfds::Images) b.subIfds(ifd0, {full, half});
    image(full, 0, width, height, pixels(seed + 1, width, height));
    image(half, 1, width / 2, height / 2, pixels(seed + 2, width / 2, height / 2));
    if (subIfds == SubIfds::Images) return b.build();
    const std::uint32_t past = static_cast<std::uint32_t>(b.build().size() + 512) & ~1u;
    b.raw(ifd0, 330, B::Long, 1, subIfds == SubIfds::PastTheVolume ? 0xFFFFFF00 : past);
    return b.build();
}

// Pages of ImageMagick's plasma, LZW-coded.
std::string pages(unsigned seed, unsigned count, const std::string& size) {
    std::string convert = "convert";
    for (unsigned page = 0; page < count; ++page)
        convert += " -seed " + sampleSeed(seed + page) + " -size " + size + " plasma:";
    return convert + " -compress lzw";
}

// The PSD, whose composite behind its three sections is run-length coded (compression 1), as layered ones are.
std::string rleCoded(const std::string& psd) {
    const platform::ByteView bytes(reinterpret_cast<const std::uint8_t*>(psd.data()), psd.size());
    std::size_t at = 26;
    for (int section = 0; section < 3 && at + 4 <= psd.size(); ++section)
        at += 4 + bytes.be32(at);
    if (at + 2 > psd.size() || bytes.be16(at) != 1) {
        ADD_FAILURE() << "the composite is not run-length coded";
        return {};
    }
    return psd;
}

struct Case {
    const char* name;
    const char* extension;
    // What the carving measures past the file's end at most.
    std::uint64_t margin;
    std::string (*make)();
    // The file's own structure cannot be followed to its end: it is listed marked damaged.
    bool cut = false;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

const std::string kPng = "-depth 8 -define png:exclude-chunks=";

const Case kPngCases[] = {
    {"ScreenshotWithIdotAndExif", "png", 516,
     [] {
         return withChunk(testsupport::toolSample(plasma(1, "1000x700") + kPng +
                                                      "date,time,gAMA,cHRM,bKGD,tEXt,zTXt -units PixelsPerInch "
                                                      "-density 144 \"$OUT\" && exiftool -q -overwrite_original "
                                                      "-EXIF:Make=Drentic -EXIF:Software=Screenshot \"$OUT\"",
                                                  "png"),
                          "pHYs", "iDOT", testsupport::asString(testsupport::be32(2)) + std::string(24, '\x01'));
     }},
    {"Apng", "png", 516,
     [] {
         return testsupport::toolSample("ffmpeg -v error -f lavfi -i " +
                                            testsupport::sampleVideo("size=320x240:rate=10") +
                                            " -t 4 -threads 1 -plays 0 -f apng \"$OUT\"",
                                        "png");
     }},
    {"ExifRightAfterIhdr", "png", 516,
     [] {
         return testsupport::toolSample(
             plasma(2, "300x200") + kPng +
                 "all \"$OUT\" && exiftool -q -overwrite_original -EXIF:Make=Drentic \"$OUT\"",
             "png");
     }},
    {"CicpRightAfterIhdr", "png", 516,
     [] {
         return withChunk(testsupport::toolSample(plasma(3, "300x200") + kPng + "all \"$OUT\"", "png"), "IHDR", "cICP",
                          std::string("\x01\x0D\x00\x01", 4));
     }},
};

const Case kGifCases[] = {
    {"Xmp", "gif", 512,
     [] {
         return testsupport::toolSample(
             plasma(4, "240x180") +
                 "-colors 128 \"$OUT\" && exiftool -q -overwrite_original -XMP-dc:Title=Holiday \"$OUT\"",
             "gif");
     }},
    {"IccProfile", "gif", 512,
     [] {
         return testsupport::toolSample(
             plasma(5, "240x180") + "-colors 128 -profile /usr/share/color/icc/ghostscript/srgb.icc \"$OUT\"", "gif");
     }},
    {"CommentOverFiveHundredAndTenBytes", "gif", 512,
     [] {
         return testsupport::toolSample(plasma(6, "240x180") +
                                            "-colors 128 \"$OUT.gif\" && gifsicle --comment \"$(printf 'A line of the "
                                            "comment. %.0s' $(seq 40))\" \"$OUT.gif\" -o \"$OUT\"",
                                        "gif");
     }},
    {"AnimationOverFiveMiB", "gif", 512,
     [] {
         return testsupport::toolSample("ffmpeg -v error -f lavfi -i cellauto=s=640x480:rate=15:seed=" + sampleSeed(7) +
                                            " -t 25 -threads 1 \"$OUT\"",
                                        "gif");
     }},
};

const Case kTiffCases[] = {
    {"ExifAndGpsWithoutAMake", "tif", 512,
     [] {
         return testsupport::toolSample(
             plasma(8, "640x480") +
                 "\"$OUT\" && exiftool -q -overwrite_original '-DateTimeOriginal=2024:05:01 12:00:00' "
                 "-GPSLatitude=48.1 -GPSLatitudeRef=N -GPSLongitude=11.5 -GPSLongitudeRef=E -InteropIndex=R98 "
                 "\"-UserComment=$(printf 'Taken on the way. %.0s' $(seq 150))\" \"$OUT\"",
             "tif");
     }},
    {"FaxOf3Pages", "tif", 512, [] { return fax(3); }},
    {"FaxOf26Pages", "tif", 512, [] { return fax(26); }},
    {"FaxOf30Pages", "tif", 512, [] { return fax(30); }},
    {"FaxOf100Pages", "tif", 512, [] { return fax(100); }},
    {"DngLikeWithItsImagesInSubIfds", "tif", 512, [] { return dngLike(13, 1000, 600, false); }},
    {"DngLikeOf38EntriesInIfd0", "tif", 512, [] { return dngLike(14, 1400, 1000, true); }},
    // The tag editor writes every directory first, and the pages' data after them, the last page's first.
    {"FivePagesOfLzwGivenAMakeByATagEditor", "tif", 512,
     [] {
         return testsupport::toolSample(
             pages(15, 5, "500x400") + " \"$OUT\" && exiftool -q -overwrite_original -Make=Drentic \"$OUT\"", "tif");
     }},
    // libtiff writes the first page's directory, grown by the Make, again behind the third page's.
    {"ThreePagesWhoseSecondDirectoryLiesBeforeTheFirst", "tif", 512,
     [] {
         return testsupport::toolSample(pages(18, 3, "400x300") +
                                            " \"$OUT.3.tif\" && tiffcp \"$OUT.3.tif\" \"$OUT\" && "
                                            "tiffset -d 0 -s 271 \"Drentic Scanner\" \"$OUT\"",
                                        "tif");
     }},
    {"SubIfdPastTheVolume", "tif", 512, [] { return dngLike(21, 600, 400, false, SubIfds::PastTheVolume); }, true},
    {"SubIfdInTheBytesAfterTheFile", "tif", 512, [] { return dngLike(24, 600, 400, true, SubIfds::PastTheFile); },
     true},
};

// Big-endian TIFFs whose Make or Model is of four bytes or fewer with its NUL, which TIFF keeps in the directory
// entry itself: tiffcp writes the big-endian LZW file, the tag editor the texts.
std::string bigEndianLzwTaggedWith(unsigned seed, const std::string& tags) {
    return testsupport::toolSample(plasma(seed, "600x400") +
                                       "-compress lzw \"$OUT.lzw.tif\" && tiffcp -B \"$OUT.lzw.tif\" " +
                                       "\"$OUT\" && exiftool -q -overwrite_original " + tags + " \"$OUT\"",
                                   "tif");
}

const Case kShortTextTiffCases[] = {
    {"BigEndianGivenAOneLetterMake", "tif", 512, [] { return bigEndianLzwTaggedWith(25, "-Make=X"); }},
    {"BigEndianGivenAOneLetterModel", "tif", 512, [] { return bigEndianLzwTaggedWith(26, "-Model=Z"); }},
    {"BigEndianOfAThreeLetterMakeAndModel", "tif", 512,
     [] { return bigEndianLzwTaggedWith(28, "-Make=ABC -Model=XYZ"); }},
};

// The plain search leaves a Nikon's TIFF to the NEF recogniser, which only every type marked brings in.
const Case kNikonShortTextTiffCases[] = {
    {"BigEndianOfANikonMakeAndAOneLetterModel", "tif", 512,
     [] { return bigEndianLzwTaggedWith(27, "'-Make=NIKON CORPORATION' -Model=Z"); }},
};

const Case kPsdCases[] = {
    {"RawCompositeOfARectangle", "psd", 512,
     [] {
         return testsupport::toolSample("convert -size 800x600 xc:black -fill white -draw \"rectangle 100,100 300," +
                                            drawn(9, 120, 500) + "\" \"$OUT\"",
                                        "psd");
     }},
    {"RawEightBitCompositeInABlackFrame", "psd", 512,
     [] {
         return testsupport::toolSample(plasma(10, "640x480") + "-depth 8 -bordercolor black -border 40 \"$OUT\"",
                                        "psd");
     }},
    {"RleCompositeOfTwoLayers", "psd", 512,
     [] {
         return rleCoded(testsupport::toolSample(plasma(11, "640x480") + "\"$OUT.a.png\" && " + plasma(12, "640x480") +
                                                     "\"$OUT.b.png\" && convert \"$OUT.a.png\" \"$OUT.b.png\" "
                                                     "-adjoin \"$OUT\"",
                                                 "psd"));
     }},
};

// A raw photo of the kind an Olympus camera writes: a TIFF whose header says "IIRO", its image after its directory.
const Case kOlympusRawCases[] = {
    {"OlympusRawOfTheIiroHeader", "orf", 512,
     [] {
         return testsupport::toolSample(plasma(30, "800x600") +
                                            "-depth 8 \"tif:$OUT\" && exiftool -q -overwrite_original "
                                            "'-Make=OLYMPUS IMAGING CORP.' -Model=E-M10 \"$OUT\" && printf RO | dd "
                                            "of=\"$OUT\" bs=1 seek=2 conv=notrunc status=none",
                                        "orf");
     }},
};

// A DNG whose image lies in IFD0 (no SubIFDs), its strips after its directories: a TIFF the tag editor gave the DNG
// tags.
const Case kDngCases[] = {
    {"DngWithItsImageInIfd0", "dng", 512,
     [] {
         return testsupport::toolSample(plasma(31, "800x600") +
                                            "-depth 8 \"$OUT\" && exiftool -q -overwrite_original "
                                            "-DNGVersion=1.4.0.0 -DNGBackwardVersion=1.1.0.0 -Make=Drentic "
                                            "'-UniqueCameraModel=Drentic Field' \"$OUT\"",
                                        "tif");
     }},
};

// HEIF images as ImageMagick writes them: an ftyp box of the image's brand, a meta box, the coded picture in an
// mdat box.
const Case kHeifCases[] = {
    {"HeicOfImageMagick", "heic", 512,
     [] { return testsupport::toolSample(plasma(32, "480x360") + "\"$OUT\"", "heic"); }},
    {"AvifOfImageMagick", "avif", 512,
     [] { return testsupport::toolSample(plasma(33, "640x480") + "\"$OUT\"", "avif"); }},
};

// The search of the disk: the carving (1), or the plain search (0), which measures a file to its end exactly; with
// every type marked, 3 and 2.
class CarvedImageLengthsTest : public testsupport::ScanFixture,
                               public testing::WithParamInterface<std::tuple<Case, bool, int>> {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"convert", "exiftool", "ffmpeg", "gifsicle", "tiffcp"})
            if (!testsupport::haveTool(tool)) missing_ = tool;
    }
    void SetUp() override {
        ScanFixture::SetUp();
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " is missing (./dev.sh installs it)";
    }
    // The search of the whole disk with the file's type and photos marked, or (methods 2 and 3) every type.
    std::multimap<std::uint64_t, testsupport::SearchedFile> search(const fs::path& image, const std::string& extension,
                                                                   int method) {
        std::set<std::string> types{extension, "jpg"};
        if (method >= 2) {
            const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
            for (const auto& row : rows)
                types.insert(row.extension);
        }
        const int carving = method % 2;
        return searchedDisk(image,
                            carving == 1 ? testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, types)
                                         : testsupport::fileListTypes(DRENTIC_FILE_TYPE_TABLE, types),
                            carving);
    }
    static inline std::string missing_;
};

TEST_P(CarvedImageLengthsTest, IsMeasuredFromItsLengthToItsMarginAndThePhotosAfterItAreFound) {
    const auto& [c, random, method] = GetParam();
    const std::string file = c.make();
    ASSERT_FALSE(file.empty());
    // The photos three sectors apart after it.
    std::vector<std::pair<std::uint64_t, std::string>> planted{{2048, file}};
    for (const auto& [seed, size] : {std::pair{21u, "640x480"}, std::pair{22u, "320x240"}})
        planted.emplace_back(planted.back().first + (planted.back().second.size() + 511) / 512 + 3,
                             testsupport::toolSample(plasma(seed, size) + "\"$OUT\"", "jpg"));
    const std::uint64_t end = (planted.back().first + 2048) * 512;
    const fs::path image = testsupport::filledImage(random, "lengths", std::max<std::uint64_t>(end, 8 << 20));
    for (const auto& [sector, bytes] : planted)
        testsupport::writeAt(image, sector * 512, {bytes.begin(), bytes.end()});
    const auto found = search(image, c.extension, method);
    for (const auto& [sector, bytes] : planted) {
        const auto [from, to] = found.equal_range(sector);
        const std::uint64_t most = sector == 2048 ? bytes.size() + (method % 2 == 1 ? c.margin : 0) : UINT64_MAX;
        std::string there;
        bool whole = false, marked = false;
        for (auto it = from; it != to; ++it) {
            whole =
                whole || (it->second.bytes.starts_with(bytes) && it->second.bytes.size() <= most && !it->second.bad);
            marked = marked || it->second.bad;
            there += " " + std::to_string(it->second.bytes.size()) + (it->second.bad ? " (marked)" : "");
        }
        const bool cut = sector == 2048 && c.cut;
        EXPECT_TRUE(cut ? marked && !whole : whole)
            << "the file of " << bytes.size() << " bytes at sector " << sector << (cut ? " marked" : " unmarked")
            << "; found there:" << (there.empty() ? " nothing" : there);
    }
}

std::string nameOf(const testing::TestParamInfo<std::tuple<Case, bool, int>>& info) {
    const char* searches[] = {"ByThePlainSearch", "", "ByThePlainSearchWithEveryTypeMarked", "WithEveryTypeMarked"};
    return std::string(std::get<0>(info.param).name) + (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros") +
           searches[std::get<2>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Png, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kPngCases), testing::Bool(), testing::Values(1)), nameOf);
INSTANTIATE_TEST_SUITE_P(Gif, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kGifCases), testing::Bool(), testing::Values(1)), nameOf);
// The plain search measures a TIFF by its directories, the last of which may end the file.
INSTANTIATE_TEST_SUITE_P(Tiff, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kTiffCases), testing::Bool(), testing::Values(0, 1)),
                         nameOf);
// A text of four bytes or fewer is read from its entry, in the carving with the TIFF family's calculators.
INSTANTIATE_TEST_SUITE_P(TiffWithShortTexts, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kShortTextTiffCases), testing::Bool(),
                                          testing::Values(0, 1, 2, 3)),
                         nameOf);
INSTANTIATE_TEST_SUITE_P(NikonTiffWithAShortModel, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kNikonShortTextTiffCases), testing::Bool(),
                                          testing::Values(1, 2, 3)),
                         nameOf);
// The plain search finds such a file under its own header, and measures it as a TIFF.
INSTANTIATE_TEST_SUITE_P(OlympusRaw, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kOlympusRawCases), testing::Bool(), testing::Values(0, 1)),
                         nameOf);
// Measured as far as the strips its directories name, as a TIFF. The plain search leaves a DNG to the TIFF
// recogniser, which every type marked brings in.
INSTANTIATE_TEST_SUITE_P(Dng, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kDngCases), testing::Bool(), testing::Values(1, 2, 3)),
                         nameOf);
// Measured by their boxes, as a movie of the family is.
INSTANTIATE_TEST_SUITE_P(Heif, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kHeifCases), testing::Bool(), testing::Values(0, 1)),
                         nameOf);
INSTANTIATE_TEST_SUITE_P(Psd, CarvedImageLengthsTest,
                         testing::Combine(testing::ValuesIn(kPsdCases), testing::Bool(), testing::Values(1)), nameOf);

} // namespace
