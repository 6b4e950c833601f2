#include "platform/Crc32.h"
#include "scan/ScanThread.h"
#include "signatures/FileTypeTable.h"
#include "sizecalc/JpegStreamWalk.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "volume/NewDir.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <optional>
#include <set>

namespace fs = std::filesystem;
using testsupport::sampleSeed;

namespace {

// Samples of the kinds a card holds, each made from a seed so that files of one kind differ in their bytes and
// sizes.

std::string plasma(unsigned seed, const std::string& size) {
    return "convert -seed " + sampleSeed(seed) + " -size " + size + " plasma: ";
}

enum class Photo { Plain, Exif, LargeThumbnail, Progressive, Scans };

// A photo: baseline; baseline with an EXIF block whose thumbnail is a JPEG of its own, as a camera writes it, or with
// one of about 58 KB, near all the block holds; progressive; or baseline in one scan for each colour component.
std::string photo(unsigned seed, const std::string& size, Photo kind = Photo::Plain) {
    std::string command = plasma(seed, size) + (kind == Photo::Progressive ? "-interlace JPEG " : "") + "\"$OUT\"";
    if (kind == Photo::Exif || kind == Photo::LargeThumbnail)
        command += " && " +
                   (kind == Photo::Exif ? plasma(seed, "160x120")
                                        : "convert -seed " + sampleSeed(seed) +
                                              " -size 320x240 xc: +noise Random "
                                              "-quality 87 ") +
                   "\"$OUT.thumb.jpg\" && exiftool -q -overwrite_original -Make=Drentic -Model=Card "
                   "\"-ThumbnailImage<=$OUT.thumb.jpg\" \"$OUT\"";
    if (kind == Photo::Scans)
        command += " && printf '0;\\n1;\\n2;\\n' >\"$OUT.scans\" && jpegtran -optimize -scans \"$OUT.scans\" "
                   "-outfile \"$OUT.jpg\" \"$OUT\" && mv \"$OUT.jpg\" \"$OUT\"";
    return testsupport::toolSample(command, "jpg");
}

std::string tone(unsigned hertz, const std::string& seconds, const std::string& extension) {
    const std::string synth =
        "sox -n -r 44100 -c 1 \"$OUT.wav\" synth " + seconds + " sine " + testsupport::sampleTone(hertz) + " && ";
    return testsupport::toolSample(
        synth + (extension == "wav" ? "mv \"$OUT.wav\" \"$OUT\"" : "lame --quiet \"$OUT.wav\" \"$OUT\""), extension);
}

// Three photos in a ZIP archive: stored, or deflated behind the entries a word processor's document begins with.
std::string archive(unsigned seed, bool document) {
    std::string command = "cd \"$(dirname \"$OUT\")\" && mkdir -p word/media _rels";
    for (unsigned i = 0; i < 3; ++i)
        command += " && " + plasma(seed + i, "600x450") + "word/media/image" + std::to_string(i) + ".jpg";
    // Entries dated alike, so that an archive of the same photos has the same bytes.
    const std::string dated = " && find . -type f -exec touch -d @1700000000 {} + && ";
    if (!document) return testsupport::toolSample(command + dated + "zip -q -X -0 -j \"$OUT\" word/media/*.jpg", "zip");
    return testsupport::toolSample(
        command +
            R"sh( && printf '<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="jpg" ContentType="image/jpeg"/></Types>' >'[Content_Types].xml' && printf '<?xml version="1.0"?><Relationships/>' >_rels/.rels && for i in $(seq 300); do printf '<w:p><w:r><w:t>Paragraph %d of the report.</w:t></w:r></w:p>' $i; done >word/document.xml)sh" +
            dated + R"sh(zip -q -X -nw "$OUT" '[Content_Types].xml' _rels/.rels word/document.xml word/media/*.jpg)sh",
        "zip");
}

// A PDF of one page that shows a photo, as ghostscript writes it; `updated` appends an incremental update.
std::string document(unsigned seed, const std::string& size, bool updated) {
    return testsupport::toolSample(
        plasma(seed, size) + "\"$OUT.jpg\" && SOURCE_DATE_EPOCH=1700000000 gs -q -sDEVICE=pdfwrite " +
            "--permit-file-read=\"$(dirname \"$OUT\")/\" -o \"$OUT\" viewjpeg.ps -c \"($OUT.jpg) << /PageSize 2 "
            "index viewJPEGgetsize 2 array astore >> setpagedevice viewJPEG\"" +
            (updated ? " && exiftool -q -overwrite_original -Title=Revised \"$OUT\"" : ""),
        "pdf");
}

// A PNG whose image data lies in chunks of 32 KiB, as some writers lay it out (libpng's own are of 8 KiB).
std::string picture(unsigned seed, const std::string& size) {
    const std::string png = testsupport::toolSample(plasma(seed, size) + "\"$OUT\"", "png");
    const auto length = [&](std::size_t at) {
        return std::size_t{std::uint8_t(png[at])} << 24 | std::uint8_t(png[at + 1]) << 16 |
               std::uint8_t(png[at + 2]) << 8 | std::uint8_t(png[at + 3]);
    };
    std::string head = png.substr(0, 8), data, tail;
    for (std::size_t at = 8; at + 12 <= png.size(); at += 12 + length(at)) {
        if (png.compare(at + 4, 4, "IDAT") == 0)
            data += png.substr(at + 8, length(at));
        else
            (data.empty() ? head : tail) += png.substr(at, 12 + length(at));
    }
    for (std::size_t at = 0; at < data.size(); at += 32768) {
        const std::string chunk = "IDAT" + data.substr(at, 32768);
        const std::uint32_t crc =
            platform::crc32(platform::ByteView(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()));
        head += testsupport::asString(testsupport::be32(static_cast<std::uint32_t>(chunk.size() - 4))) + chunk +
                testsupport::asString(testsupport::be32(crc));
    }
    return head + tail;
}

std::string animation(unsigned seed, unsigned frames) {
    std::string command = "convert -delay 20";
    for (unsigned i = 0; i < frames; ++i)
        command += " -seed " + sampleSeed(seed + i) + " -size 320x320 plasma:";
    return testsupport::toolSample(command + " \"$OUT\"", "gif");
}

enum class Movie { MoovLast, MoovFirst, Avi };

// A movie of ffmpeg's test pattern and a tone of the seed.
std::string movie(unsigned seed, unsigned seconds, Movie kind) {
    const std::string length = "duration=" + std::to_string(seconds);
    return testsupport::toolSample("ffmpeg -v error -f lavfi -i " +
                                       testsupport::sampleVideo("size=320x240:rate=25:" + length) +
                                       " -f lavfi -i sine=frequency=" + testsupport::sampleTone(300 + seed) + ":" +
                                       length + " -threads 1 -c:v mpeg4 -fflags +bitexact " +
                                       (kind == Movie::Avi ? "-c:a libmp3lame -f avi" : "-c:a aac -f mp4") +
                                       (kind == Movie::MoovFirst ? " -movflags +faststart" : "") + " \"$OUT\"",
                                   kind == Movie::Avi ? "avi" : "mp4");
}

// The photo with 4 MiB of comment segments after its start marker, as a program that keeps its notes in the file
// writes them.
std::string withComments(const std::string& photo) {
    std::string comments;
    for (int i = 0; i < 64; ++i)
        comments += "\xFF\xFE\xFF\xFF" + std::string(65533, static_cast<char>('a' + i % 26));
    return photo.substr(0, 2) + comments + photo.substr(2);
}

// Where a photo's first scan begins, its segments followed by their lengths (a thumbnail's lies inside them).
std::size_t firstScan(const std::string& photo) {
    std::size_t at = 2;
    while (at + 4 <= photo.size() && photo[at + 1] != '\xDA')
        at += 2 + (std::size_t{std::uint8_t(photo[at + 2])} << 8 | std::uint8_t(photo[at + 3]));
    return at;
}

// A file planted on a disk at a sector.
struct Planted {
    std::string bytes;
    std::uint64_t sector = 0;
    std::uint64_t end() const { return sector + (bytes.size() + 511) / 512; }
};

// Files one after another from a sector, `gap` sectors apart.
std::vector<Planted> laidOut(std::uint64_t sector, const std::vector<std::string>& files, std::uint64_t gap) {
    std::vector<Planted> out;
    for (const std::string& bytes : files)
        out.push_back({bytes, out.empty() ? sector : out.back().end() + gap});
    return out;
}

// What the searches found, by the sector each file begins at.
using Found = std::multimap<std::uint64_t, testsupport::SearchedFile>;

class FragmentSearchTest : public testsupport::ScanFixture {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"convert", "exiftool", "jpegtran", "cjpeg", "sox", "lame", "zip", "gs", "ffmpeg",
                                 "mkfs.vfat", "mcopy", "mdel"})
            if (!testsupport::haveTool(tool)) missing_ = tool;
    }
    void SetUp() override {
        ScanFixture::SetUp();
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " is missing (./dev.sh installs it)";
    }
    // A disk of zeros or random bytes (8 MiB unless said) with the files planted.
    static fs::path diskWith(bool random, const std::vector<Planted>& files, std::uint64_t bytes = 8 << 20) {
        const fs::path image = testsupport::filledImage(random, "fragments", bytes);
        for (const Planted& file : files)
            testsupport::writeAt(image, file.sector * 512, {file.bytes.begin(), file.bytes.end()});
        return image;
    }
    // The plain search (method 0, the file scans' types) or the carving (1, the photo scans' types and the file
    // scans' others) of the whole disk, with the types of these extensions marked.
    Found search(const fs::path& image, const std::set<std::string>& extensions, int method) {
        return searchedDisk(image,
                            method == 0 ? testsupport::fileListTypes(DRENTIC_FILE_TYPE_TABLE, extensions)
                                        : testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, extensions),
                            method);
    }
    // A file found at the sector where the planted one begins, at least as long, its bytes first.
    static bool expectWhole(const Found& found, const Planted& file, const std::string& what) {
        const auto [from, to] = found.equal_range(file.sector);
        std::string there;
        for (auto it = from; it != to; ++it) {
            if (it->second.bytes.starts_with(file.bytes)) return true;
            there += " " + std::to_string(it->second.bytes.size());
        }
        // The file found last before it, whose length may hold it.
        std::string before;
        if (from != found.begin()) {
            const auto& [sector, earlier] = *std::prev(from);
            before = "; before it at sector " + std::to_string(sector) + ": " + std::to_string(earlier.bytes.size()) +
                     " bytes";
        }
        ADD_FAILURE() << what << " (" << file.bytes.size() << " bytes) is not found whole at sector " << file.sector
                      << "; found there:" << (there.empty() ? " nothing" : there + " bytes") << before;
        return false;
    }

    static inline std::string missing_;
};

const char* const kSearches[] = {"the plain search", "the carving"};

// A deleted file's first fragment at sector 2048, the next file written at the very next sector (and for a PDF a
// whole second PDF after it), then, five sectors on, the rest of the first file (unless the next file was written over
// it), and ordinary files three sectors apart. What lies past the fragment is none of the first file's bytes, though a
// length its fragment states or an end marker further on may say so.
struct Layout {
    const char* name;
    std::uint64_t fragmentSectors;
    bool restLiesFurtherOn;
    std::set<std::string> types;
};

const std::vector<Layout> kLayouts = {
    {"ExifPhotoCutByAPhotoWithAnExifThumbnail", 100, true, {"jpg"}},
    {"BaselinePhotoCutByAPlainPhoto", 100, true, {"jpg"}},
    {"ProgressivePhotoCutByAPhoto", 100, true, {"jpg"}},
    {"ExifPhotoWrittenOverFromItsHundredthSectorByALargerOne", 100, false, {"jpg"}},
    {"StoredZipOfPhotosCutByAWav", 128, true, {"zip"}},
    {"DeflatedDocumentZipOfPhotosCutByAWav", 128, true, {"zip"}},
    {"PdfCutByAWavAndAWholePdf", 32, true, {"pdf"}},
    {"PngOf32KiBChunksCutByAWav", 224, true, {"png"}},
    {"Mp4WithItsMoovLastCutByAWav", 64, true, {"mp4"}},
    {"Mp4WithItsMoovFirstCutByAWav", 64, true, {"mp4"}},
    {"GifCutByAWav", 64, true, {"gif"}},
    {"PhotoWithALargeThumbnailCutInItsExifBlockAt20SectorsByAPhoto", 20, true, {"jpg"}},
    {"PhotoWithALargeThumbnailCutInItsExifBlockAt64SectorsByAPhoto", 64, true, {"jpg"}},
    {"PhotoWithALargeThumbnailCutInItsExifBlockAt100SectorsByAPhoto", 100, true, {"jpg"}},
    {"PhotoCutInFourMiBOfCommentsByAPhoto", 40, true, {"jpg"}},
};

// The first file of a layout and the files written after its fragment.
std::pair<std::string, std::vector<std::string>> filesOf(std::size_t layout) {
    switch (layout) {
    case 0:
        return {photo(21, "1400x1000", Photo::Exif), {photo(22, "1200x900", Photo::Exif)}};
    case 1:
        return {photo(23, "1400x1000"), {photo(24, "800x600")}};
    case 2:
        return {photo(25, "1400x1000", Photo::Progressive), {photo(26, "800x600")}};
    case 3:
        return {photo(27, "1100x800", Photo::Exif), {photo(28, "2000x1500", Photo::Exif)}};
    case 4:
        return {archive(31, false), {tone(440, "2", "wav")}};
    case 5:
        return {archive(34, true), {tone(550, "2", "wav")}};
    case 6:
        return {document(37, "1000x750", false), {tone(660, "1", "wav"), document(38, "600x450", false)}};
    case 7:
        return {picture(39, "400x300"), {tone(330, "2", "wav")}};
    case 8:
        return {movie(42, 3, Movie::MoovLast), {tone(370, "2", "wav")}};
    case 9:
        return {movie(43, 3, Movie::MoovFirst), {tone(410, "2", "wav")}};
    case 10:
        return {animation(41, 4), {tone(490, "2", "wav")}};
    case 11:
    case 12:
    case 13:
        return {photo(44 + layout, "1400x1000", Photo::LargeThumbnail), {photo(54 + layout, "800x600")}};
    default:
        return {withComments(photo(48, "1000x750")), {photo(49, "800x600", Photo::Exif)}};
    }
}

class FileAfterAFragmentTest : public FragmentSearchTest,
                               public testing::WithParamInterface<std::tuple<std::size_t, bool>> {};

// Every file written after the fragment is found whole at its sector by the plain search and the carving; a photo
// cut by a photo, and a PNG cut by another file, are still listed at their sector, marked damaged.
TEST_P(FileAfterAFragmentTest, IsFoundWholeAtItsSector) {
    const auto [row, random] = GetParam();
    const Layout& layout = kLayouts[row];
    const auto [first, next] = filesOf(row);
    const std::uint64_t cut = layout.fragmentSectors * 512;
    ASSERT_GT(first.size(), cut + 512);
    std::vector<std::string> files{first.substr(0, cut)};
    files.insert(files.end(), next.begin(), next.end());
    std::vector<Planted> planted = laidOut(2048, files, 0);
    if (layout.restLiesFurtherOn) planted.push_back({first.substr(cut), planted.back().end() + 5});
    const std::vector<Planted> ordinary = laidOut(
        planted.back().end() + 3, {photo(51, "640x480", Photo::Exif), tone(770, "1", "wav"), photo(52, "320x240")}, 3);
    planted.insert(planted.end(), ordinary.begin(), ordinary.end());
    const fs::path image =
        diskWith(random, planted, std::max<std::uint64_t>(8 << 20, (planted.back().end() + 8) * 512));
    std::set<std::string> types = layout.types;
    types.insert({"jpg", "wav"}); // the ordinary files' and the next ones' types
    const bool photoCutByPhoto = first.starts_with("\xFF\xD8") && files[1].starts_with("\xFF\xD8");
    const bool png = first.starts_with("\x89PNG");
    const bool inScanData = cut > firstScan(first);
    for (const int method : {0, 1}) {
        const Found found = search(image, types, method);
        for (std::size_t i = 1; i < planted.size(); ++i)
            if (i < files.size() || i + ordinary.size() >= planted.size())
                expectWhole(found, planted[i],
                            std::string(kSearches[method]) +
                                (i < files.size() ? ": the file written after the fragment" : ": a later file"));
        // A photo cut by a photo in its scan data is listed to the cut (the carving with its margin past it); one cut
        // in its header segments, and a PNG, as far as their walk went into the other file's bytes; all marked
        // damaged.
        if (photoCutByPhoto || png) {
            const std::size_t size = cut + (method == 1 ? JpegStreamWalk::kMargin : 0);
            const auto [from, to] = found.equal_range(2048);
            EXPECT_TRUE(std::any_of(from, to,
                                    [&](const auto& f) {
                                        return f.second.bad &&
                                               (photoCutByPhoto && inScanData ? f.second.bytes.size() == size
                                                                              : f.second.bytes.starts_with(files[0]));
                                    }))
                << kSearches[method] << ": the cut file is not listed damaged"
                << (photoCutByPhoto && inScanData ? " at the cut" : "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, FileAfterAFragmentTest,
                         testing::Combine(testing::Range<std::size_t>(0, kLayouts.size()), testing::Bool()),
                         [](const auto& info) {
                             return std::string(kLayouts[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// A baseline photo coded in one scan for each colour component, then photos of each kind three sectors apart: the
// photo is measured to its own end marker, not to one of the next photo, and every photo after it is found.
class PhotoOfSeveralScansTest : public FragmentSearchTest, public testing::WithParamInterface<bool> {};

TEST_P(PhotoOfSeveralScansTest, IsMeasuredToItsOwnEndMarkerAndEveryPhotoAfterItIsFound) {
    const std::string scans = photo(61, "1000x750", Photo::Scans);
    std::size_t scanCount = 0;
    for (std::size_t at = scans.find("\xFF\xDA"); at != std::string::npos; at = scans.find("\xFF\xDA", at + 2))
        ++scanCount;
    ASSERT_TRUE(scans.find("\xFF\xC0") != std::string::npos && scanCount > 1) << "no baseline photo of several scans";
    const std::vector<Planted> planted =
        laidOut(2048,
                {scans, photo(62, "640x480", Photo::Exif), photo(63, "320x240"),
                 photo(64, "800x600", Photo::Progressive), photo(65, "480x360", Photo::Scans)},
                3);
    const fs::path image = diskWith(GetParam(), planted);
    for (const int method : {0, 1}) {
        const Found found = search(image, {"jpg"}, method);
        for (const Planted& file : planted)
            expectWhole(found, file, kSearches[method]);
        // The carving measures a photo with a margin past its end marker.
        const std::size_t size = scans.size() + (method == 1 ? JpegStreamWalk::kMargin : 0);
        const auto [from, to] = found.equal_range(2048);
        EXPECT_TRUE(std::any_of(from, to, [&](const auto& file) { return file.second.bytes.size() == size; }))
            << kSearches[method] << ": no file of " << size << " bytes at the photo's sector";
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, PhotoOfSeveralScansTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "OnRandomBytes" : "OnZeros"; });

class TextBetweenAPhotosFragmentsTest : public FragmentSearchTest,
                                        public testing::WithParamInterface<std::tuple<std::string, bool>> {};

// A deleted photo's first 208 sectors, a text document written at the next sector, the photo's rest from the next
// 4 KiB cluster on, then photos: the photo's walk reads the document as its scan data, yet both searches find the
// document at its sector and mark the photo damaged, the carving listing it to that sector with its margin past it;
// the photos after them are found.
TEST_P(TextBetweenAPhotosFragmentsTest, IsFoundAtItsSectorAndThePhotoIsMarked) {
    const auto [extension, random] = GetParam();
    if (!testsupport::haveTool("soffice")) GTEST_SKIP() << "soffice is missing (./dev.sh installs it)";
    const std::string text = testsupport::textDocument(extension), first = photo(72, "1400x1000");
    ASSERT_EQ(text.find('\xFF'), std::string::npos) << "the document holds a 0xFF byte";
    const std::uint64_t cut = 208 * 512;
    ASSERT_GT(first.size(), cut + 512);
    std::vector<Planted> planted = laidOut(2048, {first.substr(0, cut), text}, 0);
    planted.push_back({first.substr(cut), (planted.back().end() + 7) / 8 * 8});
    const std::vector<Planted> after =
        laidOut(planted.back().end() + 3, {photo(73, "640x480", Photo::Exif), photo(74, "320x240")}, 3);
    planted.insert(planted.end(), after.begin(), after.end());
    const fs::path image = diskWith(random, planted);
    for (const int method : {0, 1}) {
        const Found found = search(image, {"jpg", extension}, method);
        // Every file but the photo and its rest.
        for (std::size_t i = 1; i < planted.size(); ++i)
            if (i != 2) expectWhole(found, planted[i], kSearches[method]);
        const auto [from, to] = found.equal_range(2048);
        EXPECT_TRUE(std::any_of(from, to,
                                [&](const auto& f) {
                                    return f.second.bad &&
                                           (method == 0 || f.second.bytes.size() == cut + JpegStreamWalk::kMargin);
                                }))
            << kSearches[method] << ": the photo is not listed marked damaged"
            << (method == 1 ? " to the document's sector" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, TextBetweenAPhotosFragmentsTest,
                         testing::Combine(testing::Values(std::string("pdf"), std::string("html"), std::string("rtf")),
                                          testing::Bool()),
                         [](const auto& info) {
                             return std::get<0>(info.param) + (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// Photos whose data takes more than 1.125 bytes a pixel (noise at a high quality, lossless), photos that open with
// an application segment other than JFIF's or Exif's (an ICC profile; an image saved for the web: Ducky, then Adobe),
// photos longer than 25 MiB (of 35 and 25 megapixels, as the finest of a high-resolution camera, a panorama or a scan),
// and photos with a fill byte before a marker, which the format allows before any.
struct WholePhoto {
    const char* name;
    // Pixels of a dense photo, whose density is checked; 0: its first segment is.
    std::uint64_t pixels;
    char firstSegment;
    // Bytes a long photo passes, which are checked instead (0: none).
    std::uint64_t longerThan = 0;
    // The marker a fill byte is put before (none: empty).
    std::string_view fillBefore = {};
};

const std::vector<WholePhoto> kWholePhotos = {
    {"NoisyAtQuality98", 3'000'000, 0},
    {"NoisyAtQuality100Unsubsampled", 3'000'000, 0},
    {"ColourNoiseAtQuality100", 480'000, 0},
    {"Lossless", 480'000, 0},
    {"IccProfileFirst", 0, '\xE2'},
    {"DuckyThenAdobe", 0, '\xEC'},
    {"ThirtyFiveMegapixelsOver25MiB", 0, 0, 25 << 20},
    {"TwentyFiveMegapixelsOver40MiB", 0, 0, 40 << 20},
    {"FillByteAfterItsStartMarker", 0, '\xE0', 0, "\xFF\xE0"},
    {"FillByteBeforeItsQuantisationTables", 0, '\xE0', 0, "\xFF\xDB"},
};

std::string wholePhoto(std::size_t row) {
    const std::string noise = "convert -seed " + sampleSeed(83 + row) + " -size 800x600 xc: +noise Random ";
    switch (row) {
    case 0:
        return plasma(81, "2000x1500") + "+noise Gaussian -quality 98 \"$OUT\"";
    case 1:
        return plasma(82, "2000x1500") + "+noise Gaussian -quality 100 -sampling-factor 1x1 \"$OUT\"";
    case 2:
        return noise + "-quality 100 \"$OUT\"";
    case 3:
        return noise + "\"$OUT.png\" && ffmpeg -v error -i \"$OUT.png\" -threads 1 -c:v ljpeg -pix_fmt bgr24 \"$OUT\"";
    case 4: {
        const std::string profile =
            "\"$(find /usr/share/color/icc /usr/share/ghostscript -name srgb.icc | head -n 1)\"";
        return plasma(85, "1024x768") + "-profile " + profile +
               " \"$OUT\" && exiftool -q -overwrite_original -JFIF:all= \"$OUT\"";
    }
    case 5:
        return plasma(86, "1024x768") +
               "-colorspace CMYK \"$OUT\" && exiftool -q -overwrite_original -Ducky:Quality=80 \"$OUT\"";
    case 6:
        return "convert -seed " + sampleSeed(89) +
               " -size 7000x5000 xc:gray +noise Gaussian ppm:- | cjpeg -quality 98 -outfile \"$OUT\"";
    case 7:
        return "convert -seed " + sampleSeed(90) +
               " -size 5800x4300 xc: +noise Random ppm:- | cjpeg -quality 100 -outfile \"$OUT\"";
    default:
        return plasma(91 + row, "1000x750") + "ppm:- | cjpeg -quality 90 -outfile \"$OUT\"";
    }
}

class PhotoMeasuredWholeTest : public FragmentSearchTest,
                               public testing::WithParamInterface<std::tuple<std::size_t, bool>> {};

// The photo at sector 2048, then photos three sectors apart: it is measured to its own end marker (the carving with
// its margin past it), never short, and every photo after it is found.
// The plain search reads a JPEG as far as its type's size limit on the file scans' list (40 MB), which the user may
// raise.
constexpr std::uint64_t kPlainSearchJpegLimit = 40 << 20;

TEST_P(PhotoMeasuredWholeTest, ToItsOwnEndMarker) {
    const auto [row, random] = GetParam();
    const WholePhoto& kind = kWholePhotos[row];
    std::string bytes = testsupport::toolSample(wholePhoto(row), "jpg");
    if (kind.longerThan != 0)
        ASSERT_GT(bytes.size(), kind.longerThan) << "the photo is not longer";
    else if (kind.pixels != 0)
        ASSERT_GT(bytes.size() * 8, kind.pixels * 9) << "the photo takes no more than 1.125 bytes a pixel";
    else
        ASSERT_TRUE(bytes.starts_with(std::string("\xFF\xD8\xFF") + kind.firstSegment))
            << "the photo opens with another segment";
    if (!kind.fillBefore.empty()) {
        const std::size_t at = bytes.find(kind.fillBefore);
        ASSERT_NE(at, std::string::npos) << "the photo has no such marker";
        bytes.insert(at, 1, '\xFF');
    }
    const std::vector<Planted> planted =
        laidOut(2048, {bytes, photo(87, "640x480", Photo::Exif), photo(88, "800x600", Photo::Progressive)}, 3);
    const fs::path image =
        diskWith(random, planted, std::max<std::uint64_t>(16 << 20, (planted.back().end() + 2048) * 512));
    for (const int method : {0, 1}) {
        const Found found = search(image, {"jpg"}, method);
        // Past the plain search's limit the photo is listed to it, marked.
        const bool pastLimit = method == 0 && bytes.size() > kPlainSearchJpegLimit;
        for (const Planted& file : planted)
            if (file.sector != 2048 || !pastLimit) expectWhole(found, file, kSearches[method]);
        const std::size_t size =
            pastLimit ? kPlainSearchJpegLimit : bytes.size() + (method == 1 ? JpegStreamWalk::kMargin : 0);
        const auto [from, to] = found.equal_range(2048);
        EXPECT_TRUE(std::any_of(from, to,
                                [&](const auto& f) {
                                    return f.second.bad == pastLimit && f.second.bytes.size() == size &&
                                           (pastLimit || f.second.bytes.starts_with(bytes));
                                }))
            << kSearches[method] << ": no file of " << size << " bytes at the photo's sector, "
            << (pastLimit ? "marked" : "unmarked");
    }
}

// A photo's first 300 sectors after photos, then zeros or random bytes to the disk's end: neither search finds its end
// marker, and both list it at its sector as far as their walk went, marked damaged.
class PhotoWithoutAnEndMarkerTest : public FragmentSearchTest, public testing::WithParamInterface<bool> {};

TEST_P(PhotoWithoutAnEndMarkerTest, IsListedAsFarAsItsWalkWentMarked) {
    const std::string cutShort = photo(95, "1400x1000", Photo::Exif);
    ASSERT_GT(cutShort.size(), 301u * 512);
    const std::vector<Planted> planted =
        laidOut(2048, {photo(96, "640x480", Photo::Exif), photo(97, "800x600"), cutShort.substr(0, 300 * 512)}, 3);
    const fs::path image = diskWith(GetParam(), planted);
    for (const int method : {0, 1}) {
        const Found found = search(image, {"jpg"}, method);
        for (const Planted& file : planted)
            expectWhole(found, file, kSearches[method]);
        const auto [from, to] = found.equal_range(planted.back().sector);
        EXPECT_TRUE(std::any_of(from, to,
                                [&](const auto& f) {
                                    return f.second.bad && (GetParam() || f.second.bytes.size() ==
                                                                              (8 << 20) - planted.back().sector * 512);
                                }))
            << kSearches[method] << ": the photo is not listed marked damaged"
            << (GetParam() ? "" : " to the disk's end");
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, PhotoWithoutAnEndMarkerTest, testing::Bool(),
                         [](const auto& info) { return info.param ? "OnRandomBytes" : "OnZeros"; });

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, PhotoMeasuredWholeTest,
                         testing::Combine(testing::Range<std::size_t>(0, kWholePhotos.size()), testing::Bool()),
                         [](const auto& info) {
                             return std::string(kWholePhotos[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// Headers of types taken on their header alone that compressed data begins a sector with by chance: a PCX picture's
// three bytes, a PPM picture's, and a font's five, four of them zeros, as the sparse refinement scans of a progressive
// photo hold them.
struct ChanceHeader {
    const char* name;
    std::string bytes;
};

const std::vector<ChanceHeader> kChanceHeaders = {
    {"PcxHeader", std::string("\x0A\x05\x01", 3)},
    {"PpmHeader", "P6\n"},
    {"TtfHeader", std::string("\x00\x01\x00\x00\x00", 5)},
};

// Where in a photo the header is written, in hundredths of its length.
constexpr unsigned kChancePlaces[] = {5, 20, 50, 80, 99};

// A photo of fine noise, whose scan data is dense, or a progressive one of about 6 MB; made once each.
const std::string& noisePhoto(bool progressive) {
    static std::map<bool, std::string> made;
    auto [at, fresh] = made.try_emplace(progressive);
    if (fresh)
        at->second =
            testsupport::toolSample("convert -seed " + sampleSeed(progressive ? 131 : 130) + " -size " +
                                        (progressive ? "4000x3000" : "2000x1500") + " xc:gray +noise Gaussian " +
                                        (progressive ? "-interlace JPEG " : "") + "-quality 92 \"$OUT\"",
                                    "jpg");
    return at->second;
}

// Whether the byte at `at` lies in a scan's entropy-coded data: the last marker before it is a scan's start, whose
// header it follows.
bool inEntropyCodedData(const std::string& photo, std::size_t at) {
    for (std::size_t marker = at; marker-- > 0;) {
        if (photo[marker] != '\xFF') continue;
        const std::uint8_t kind = photo[marker + 1];
        if (kind == 0x00 || kind == 0xFF || (kind >= 0xD0 && kind <= 0xD7)) continue;
        return kind == 0xDA &&
               at >= marker + 2 + (std::size_t{std::uint8_t(photo[marker + 2])} << 8 | std::uint8_t(photo[marker + 3]));
    }
    return false;
}

// The photo with the header written at the start of the first sector from `percent` of its length on that lies in its
// scan data with no 0xFF byte beside the header's bytes, so that no marker is made or lost: a walk of the photo reads
// on through them. The sector's number in the photo.
std::uint64_t writeHeaderInto(std::string& photo, const std::string& header, unsigned percent) {
    for (std::size_t at = photo.size() * percent / 100 / 512 * 512; at + header.size() + 4 < photo.size(); at += 512)
        if (inEntropyCodedData(photo, at) && photo.find('\xFF', at - 1) > at + header.size()) {
            photo.replace(at, header.size(), header);
            return at / 512;
        }
    ADD_FAILURE() << "no sector of the photo's scan data from " << percent << " % on takes the header";
    return 0;
}

class ChanceHeaderInScanDataTest : public FragmentSearchTest,
                                   public testing::WithParamInterface<std::tuple<std::size_t, bool, bool>> {};

// A photo of noise (baseline, or progressive of about 6 MB) five times, one after the other, each with a header of a
// type taken on its header alone at the start of a sector of its scan data (at 5, 20, 50, 80 and 99 % of its length),
// then photos; every type of the lists marked. No such header cuts a photo: each is listed whole at its sector (the
// carving with its margin past its end marker), not marked damaged, and the photos after it are found.
TEST_P(ChanceHeaderInScanDataTest, CutsNoPhoto) {
    const auto [header, progressive, random] = GetParam();
    const std::string& noisy = noisePhoto(progressive);
    ASSERT_FALSE(noisy.empty());
    std::vector<std::string> files;
    std::vector<std::uint64_t> written;
    for (const unsigned percent : kChancePlaces) {
        files.push_back(noisy);
        written.push_back(writeHeaderInto(files.back(), kChanceHeaders[header].bytes, percent));
    }
    files.push_back(photo(141, "640x480", Photo::Exif));
    files.push_back(photo(142, "320x240"));
    const std::vector<Planted> planted = laidOut(2048, files, 3);
    const fs::path image =
        diskWith(random, planted, std::max<std::uint64_t>(8 << 20, (planted.back().end() + 8) * 512));
    const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
    std::set<std::string> every;
    for (const auto& row : rows)
        every.insert(row.extension);
    for (const int method : {0, 1}) {
        const Found found = search(image, every, method);
        for (std::size_t i = 0; i < planted.size(); ++i) {
            if (i >= written.size()) {
                expectWhole(found, planted[i], std::string(kSearches[method]) + ": a photo after them");
                continue;
            }
            const std::size_t size = noisy.size() + (method == 1 ? JpegStreamWalk::kMargin : 0);
            const auto [from, to] = found.equal_range(planted[i].sector);
            EXPECT_TRUE(std::any_of(from, to,
                                    [&](const auto& f) {
                                        return !f.second.bad && f.second.bytes.size() == size &&
                                               f.second.bytes.starts_with(planted[i].bytes);
                                    }))
                << kSearches[method] << ": the photo with the header at its sector " << written[i] << " ("
                << kChancePlaces[i] << " %) is not listed whole, unmarked, at " << size << " bytes";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, ChanceHeaderInScanDataTest,
                         testing::Combine(testing::Range<std::size_t>(0, kChanceHeaders.size()), testing::Bool(),
                                          testing::Bool()),
                         [](const auto& info) {
                             return std::string(kChanceHeaders[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "InAProgressivePhoto" : "InANoisyPhoto") +
                                    (std::get<2>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// A 48 MiB FAT16 card of 4 KiB clusters through six rounds of files of every kind written with mtools, which gives
// each new file the first free clusters, and half of the live ones deleted; then all deleted and the boot sector lost.
// Every file ever written is kept; one whose bytes still lie whole at a sector's start on the card is found there by
// the plain search and the carving of the whole disk.
struct Card {
    fs::path image;
    std::vector<std::pair<std::string, std::string>> files; // name, bytes
};

// A file of one of the kinds a card holds, made from a seed, and its extension.
std::pair<std::string, std::string> cardFile(unsigned kind, unsigned s) {
    switch (kind % 12) {
    case 0:
        return {photo(s, s % 2 ? "1400x1000" : "900x700", Photo::Exif), "JPG"};
    case 1:
        return {photo(s, s % 2 ? "640x480" : "1200x900"), "JPG"};
    case 2:
        return {picture(s, s % 2 ? "300x200" : "400x300"), "PNG"};
    case 3:
        return {photo(s, "1024x768", Photo::Exif), "JPG"};
    case 4:
        return {animation(s, 2 + s % 3), "GIF"};
    case 5:
        return {document(s, "800x600", s % 2), "PDF"};
    case 6:
        return {archive(s, s % 2), "ZIP"};
    case 7:
        return {movie(s, 2 + s % 3, s % 2 ? Movie::MoovFirst : Movie::MoovLast), "MP4"};
    case 8:
        return {photo(s, s % 2 ? "800x600" : "1600x1200", Photo::Exif), "JPG"};
    case 9:
        return {movie(s, 2 + s % 3, Movie::Avi), "AVI"};
    case 10:
        return {tone(200 + s, std::to_string(1 + s % 3), "wav"), "WAV"};
    default:
        return {tone(200 + s, std::to_string(3 + s % 4), "mp3"), "MP3"};
    }
}

Card makeCard() {
    Card card;
    const fs::path dir = testsupport::makeTempDir("card");
    card.image = testsupport::mkfsVfat(dir, "-F 16 -s 8", "49152");
    std::vector<std::string> live;
    const auto remove = [&](bool all) {
        std::string gone;
        std::vector<std::string> kept;
        for (std::size_t i = 0; i < live.size(); ++i)
            if (all || i % 2 == 0)
                gone += " ::" + live[i];
            else
                kept.push_back(live[i]);
        testsupport::mtools(card.image, "mdel", gone);
        live = kept;
    };
    for (unsigned round = 0; round < 6; ++round) {
        std::string paths;
        for (unsigned i = 0; i < 14; ++i) {
            const auto [bytes, extension] = cardFile(round * 14 + i, 100 + round * 14 + i);
            live.push_back("R" + std::to_string(round) + "F" + std::to_string(i) + "." + extension);
            testsupport::writeText(dir / live.back(), bytes);
            card.files.emplace_back(live.back(), bytes);
            paths += " " + testsupport::shellQuoted(dir / live.back());
        }
        // Directory entries dated as the files, all at one time.
        EXPECT_TRUE(testsupport::runCommand("touch -d @1700000000" + paths));
        testsupport::mtools(card.image, "mcopy", "-m" + paths + " ::");
        remove(false);
    }
    remove(true);
    testsupport::writeAt(card.image, 0, std::vector<std::uint8_t>(512));
    return card;
}

// The sectors at whose start the bytes lie whole on the medium.
std::vector<std::uint64_t> sectorsHolding(const std::string& medium, const std::string& bytes) {
    std::vector<std::uint64_t> sectors;
    for (std::size_t at = 0; at + bytes.size() <= medium.size(); at += 512)
        if (std::memcmp(medium.data() + at, bytes.data(), bytes.size()) == 0) sectors.push_back(at / 512);
    return sectors;
}

class DeletedFilesCardTest : public FragmentSearchTest, public testing::WithParamInterface<int> {
protected:
    static void SetUpTestSuite() {
        FragmentSearchTest::SetUpTestSuite();
        if (missing_.empty()) card_ = makeCard();
    }
    static inline Card card_;
};

TEST_P(DeletedFilesCardTest, EveryFileStillWholeAndContiguousIsFoundAtItsSector) {
    const int method = GetParam();
    const std::string medium = testsupport::readText(card_.image);
    // Where the first cluster of a file ever written still lies, and the files still whole.
    std::multimap<std::uint64_t, std::string> heads;
    std::vector<std::pair<std::string, Planted>> whole;
    for (const auto& [name, file] : card_.files) {
        // Movies of one length begin alike.
        for (const std::uint64_t at : sectorsHolding(medium, file.substr(0, 4096)))
            heads.emplace(at, name);
        for (const std::uint64_t at : sectorsHolding(medium, file))
            whole.emplace_back(name, Planted{file, at});
    }
    ASSERT_FALSE(whole.empty()) << "no file lies whole on the card";
    const Found found = search(card_.image, {"jpg", "png", "gif", "pdf", "zip", "mp4", "avi", "wav", "mp3"}, method);
    std::size_t foundWhole = 0;
    for (const auto& [name, file] : whole)
        foundWhole += expectWhole(found, file, std::string(kSearches[method]) + ": " + name);
    std::string invented;
    std::size_t inventedCount = 0;
    for (const auto& [sector, file] : found)
        if (!heads.count(sector)) {
            ++inventedCount;
            invented += " " + std::to_string(sector) + " (" + std::to_string(file.bytes.size()) + " bytes)";
        }
    std::cout << kSearches[method] << ": " << foundWhole << " of " << whole.size()
              << " files still whole and contiguous found whole, of " << card_.files.size() << " written; "
              << inventedCount << " files listed at no file's first sector:" << invented << "\n";
}

INSTANTIATE_TEST_SUITE_P(PlainSearchAndCarving, DeletedFilesCardTest, testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "PlainSearch" : "Carving"; });

} // namespace
