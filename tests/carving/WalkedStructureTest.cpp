#include "formats/RiffHeader.h"
#include "platform/Crc32.h"
#include "signatures/FileTypeTable.h"
#include "sizecalc/JpegStreamWalk.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"
#include "support/TiffBuilder.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>

// A found file is its own as far as its walk read its structure, in the plain search and in the carving alike: a
// file written where nothing its walk read leads (a TIFF's strips behind its directories, sound, a movie's media data
// past the atoms read) cuts it, marked, and is found; a file stored where its structure does lead (a photo in an
// archive, a movie's frame) is its part; and a hit whose walk read nothing past its header vouches for no file. Each
// table is one part of the rule, each case laid on zeros and on random bytes.

namespace fs = std::filesystem;
using testsupport::sampleSeed;
using testsupport::sampleTone;
using testsupport::toolSample;

namespace {

using Found = std::multimap<std::uint64_t, testsupport::SearchedFile>;

const char* const kSearches[] = {"the plain search", "the carving"};

std::string plasma(unsigned seed, const std::string& size) {
    return "convert -seed " + sampleSeed(seed) + " -size " + size + " plasma: ";
}

std::string photo(unsigned seed, const std::string& size = "640x480") {
    return toolSample(plasma(seed, size) + "\"$OUT\"", "jpg");
}

// The JPEG stream with a comment segment after its start marker that makes it `size` bytes long (4 more at least).
std::string padded(const std::string& jpeg, std::size_t size) {
    const std::size_t comment = size - jpeg.size();
    return jpeg.substr(0, 2) + "\xFF\xFE" + testsupport::asString(testsupport::be16(comment - 2)) +
           std::string(comment - 4, ' ') + jpeg.substr(2);
}

// The JPEG padded so that its length plus `overhead` is a whole number of sectors.
std::string sectorSized(const std::string& jpeg, std::size_t overhead = 0) {
    std::size_t size = (jpeg.size() + overhead + 4 + 511) / 512 * 512 - overhead;
    return padded(jpeg, size);
}

// An uncompressed or JPEG-coded TIFF that a tag editor rewrote: every directory first, the image data after them.
std::string tagEdited(unsigned seed, const std::string& compress) {
    return toolSample(plasma(seed, "1200x900") + "-depth 8 " + compress +
                          "\"$OUT\" && exiftool -q -overwrite_original -Artist=me \"$OUT\"",
                      "tif");
}

std::string pixels(unsigned seed, const std::string& size, const std::string& format) {
    return toolSample(plasma(seed, size) + "-depth 8 \"" + format + ":$OUT\"", format);
}

// A TIFF as a raw converter lays out a DNG: a small preview in IFD0, whose SubIFD names the full-size image's
// directory; the directories first, the strips of 16 rows behind them.
std::string dngLike(unsigned seed) {
    using B = testsupport::TiffBuilder;
    B b;
    const auto ifd0 = b.addIfd(), full = b.addIfd(true);
    const auto image = [&](B::Ifd ifd, std::uint32_t kind, unsigned w, unsigned h, const std::string& rgb) {
        b.rgbImage(ifd, kind, w, h, rgb);
    };
    image(ifd0, 1, 160, 120, pixels(seed, "160x120", "rgb"));
    b.subIfds(ifd0, {full});
    image(full, 0, 1000, 750, pixels(seed + 1, "1000x750", "rgb"));
    return b.build();
}

// A Canon raw file's layout: a "CR" header, IFD0 with its maker and a JPEG preview, a thumbnail's directory and the
// sensor data's; the directories first. The preview begins a sector, where a search finds a photo.
std::string cr2Like(unsigned seed) {
    using B = testsupport::TiffBuilder;
    const std::string preview = photo(seed, "800x600"), sensor = pixels(seed + 1, "1200x900", "gray");
    const auto build = [&](std::size_t pad, std::uint64_t& previewAt) {
        B b;
        b.extraHeader(std::string("CR\x02\0\0\0\0\0", 8));
        const auto ifd0 = b.addIfd();
        b.entry(ifd0, 256, B::Short, {800});
        b.entry(ifd0, 257, B::Short, {600});
        b.ascii(ifd0, 271, "Canon");
        b.addBlob(std::string(pad, '\0'));
        const auto previewBlob = b.addBlob(preview);
        b.strips(ifd0, {previewBlob});
        const auto thumb = b.addIfd();
        b.entry(thumb, 256, B::Short, {160});
        b.entry(thumb, 257, B::Short, {120});
        const auto raw = b.addIfd();
        b.strips(raw, {b.addBlob(sensor)});
        std::string file = b.build();
        previewAt = b.offsetOf(previewBlob);
        return file;
    };
    std::uint64_t at = 0;
    build(0, at);
    return build((512 - at % 512) % 512, at);
}

// One track of notes, about 40 KB.
std::string midi(unsigned seed) {
    return toolSample("/usr/bin/python3 -c \"import mido,sys; m=mido.MidiFile(); t=mido.MidiTrack(); "
                      "m.tracks.append(t); [t.append(mido.Message(k,note=30+(i*" +
                          sampleSeed(seed) +
                          ")%60,time=10)) for i in range(5000) for k in ('note_on','note_off')]; "
                          "m.save(sys.argv[1])\" \"$OUT\"",
                      "mid");
}

std::string tone(const std::string& format, unsigned hertz, const std::string& seconds, const std::string& extension) {
    return toolSample("sox -n " + format + " \"$OUT\" synth " + seconds + " sine " + sampleTone(hertz), extension);
}

std::string movie(unsigned seed, const std::string& codec, const std::string& container) {
    return toolSample("ffmpeg -v error -f lavfi -i " +
                          testsupport::sampleVideo("size=320x240:rate=10:duration=" + std::to_string(3 + seed % 2)) +
                          " -threads 1 -c:v " + codec + " -f " + container + " \"$OUT\"",
                      container == "mov" ? "mov" : "avi");
}

// Frames of plasma, 400 x 300, beside the sample, numbered from 1.
std::string plasmaFrames(unsigned seed, unsigned count, const std::string& extension) {
    std::string frames;
    for (unsigned i = 1; i <= count; ++i)
        frames += plasma(seed + i, "400x300") + "\"$OUT." + std::to_string(i) + "." + extension + "\" && ";
    return frames;
}

std::string animatedGif(unsigned seed) {
    return toolSample(plasmaFrames(seed, 4, "gif") + "gifsicle --delay 10 \"$OUT\".?.gif -o \"$OUT\"", "gif");
}

std::string animatedWebp(unsigned seed) {
    return toolSample(plasmaFrames(seed, 9, "png") + "img2webp -loop 0 -lossy -q 95 -d 100 \"$OUT\".?.png -o \"$OUT\"",
                      "webp");
}

struct Walked {
    const char* name;
    // The type marked, with the photos'.
    const char* extension;
    std::string (*make)();
    // What is left of it in front of the photos that cut it: a share of its sectors, or 8 KiB.
    std::uint64_t (*fragment)(std::uint64_t size);
};

void PrintTo(const Walked& c, std::ostream* out) {
    *out << c.name;
}

std::uint64_t sixTenths(std::uint64_t size) {
    return size * 6 / 10 / 512 * 512;
}
std::uint64_t half(std::uint64_t size) {
    return size / 2 / 512 * 512;
}
std::uint64_t eightKiB(std::uint64_t) {
    return 8192;
}

const Walked kWalked[] = {
    {"TagEditedTiff", "tif", [] { return tagEdited(1, ""); }, sixTenths},
    {"TagEditedTiffOfJpegStrips", "tif", [] { return tagEdited(2, "-compress JPEG "); }, sixTenths},
    {"DngLikeTiff", "tif", [] { return dngLike(3); }, sixTenths},
    {"Cr2Like", "cr2", [] { return cr2Like(5); }, sixTenths},
    {"Midi", "mid", [] { return midi(7); }, eightKiB},
    {"LossyWebp", "webp", [] { return toolSample(plasma(8, "1000x750") + "-quality 80 \"$OUT\"", "webp"); }, half},
    {"LosslessWebp", "webp",
     [] { return toolSample(plasma(9, "800x600") + "-define webp:lossless=true \"$OUT\"", "webp"); }, half},
    {"WebpWithAlpha", "webp",
     [] {
         return toolSample(plasma(10, "800x600") + "-alpha set -channel A -evaluate set 60% +channel \"$OUT\"", "webp");
     },
     half},
    {"Wav24BitSixChannels", "wav", [] { return tone("-r 48000 -b 24 -c 6", 440, "2", "wav"); }, half},
    {"WavWithTags", "wav",
     [] {
         return toolSample("ffmpeg -v error -f lavfi -i sine=frequency=" + sampleTone(520) +
                               ":duration=3 -metadata title=Walk -metadata artist=Me -c:a pcm_s16le \"$OUT\"",
                           "wav");
     },
     half},
    {"Aiff", "aif", [] { return tone("-r 44100 -c 2", 330, "2", "aif"); }, eightKiB},
    {"AnimatedGif", "gif", [] { return animatedGif(13); }, half},
    {"MjpegAvi", "avi", [] { return movie(11, "mjpeg", "avi"); }, eightKiB},
    {"Mov", "mov", [] { return movie(12, "mpeg4", "mov"); }, eightKiB},
    // An image's meta box, then its mdat box, whose coded picture nothing leads past.
    {"Heic", "heic", [] { return toolSample(plasma(14, "480x360") + "\"$OUT\"", "heic"); }, half},
    {"Avif", "avif", [] { return toolSample(plasma(15, "640x480") + "\"$OUT\"", "avif"); }, half},
    {"Mp3WithAnInfoCount", "mp3",
     [] {
         return toolSample("sox -n -r 44100 -c 1 \"$OUT.wav\" synth 6 sine " + sampleTone(610) +
                               " && lame --quiet -b 128 \"$OUT.wav\" \"$OUT\"",
                           "mp3");
     },
     half},
};

struct Planted {
    std::string bytes;
    std::uint64_t sector = 0;
    std::uint64_t end() const { return sector + (bytes.size() + 511) / 512; }
};

class WalkedStructureTest : public testsupport::ScanFixture {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"convert", "exiftool", "sox", "lame", "ffmpeg", "zip", "gs"})
            if (!testsupport::haveTool(tool)) missing_ = tool;
    }
    void SetUp() override {
        ScanFixture::SetUp();
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " is missing (./dev.sh installs it)";
    }
    // A disk of zeros or random bytes with the files planted.
    static fs::path diskWith(bool random, const std::vector<Planted>& files) {
        const fs::path image = testsupport::filledImage(
            random, "walked", std::max<std::uint64_t>(8 << 20, (files.back().end() + 2048) * 512));
        for (const Planted& file : files)
            testsupport::writeAt(image, file.sector * 512, {file.bytes.begin(), file.bytes.end()});
        return image;
    }
    // The plain search (0) of the file scans' types or the carving (1) of the photo scans' and the file scans' others.
    Found search(const fs::path& image, const std::set<std::string>& extensions, int method) {
        return searchedDisk(image,
                            method == 0 ? testsupport::fileListTypes(DRENTIC_FILE_TYPE_TABLE, extensions)
                                        : testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, extensions),
                            method);
    }
    // Every planted file after the first (the photos) is found whole and unmarked at its own sector.
    static void expectPhotosAfterTheFirstFoundWhole(const Found& found, const std::vector<Planted>& planted) {
        for (std::size_t i = 1; i < planted.size(); ++i)
            EXPECT_TRUE(foundAt(found, planted[i], false))
                << "the photo at sector " << planted[i].sector
                << " is not found whole; found there:" << described(found, planted[i].sector);
    }
    // Whether a file found at the planted one's sector begins with its bytes, and holds no more than `margin` after
    // them, and is marked "Bad" or not as `bad` says.
    static bool foundAt(const Found& found, const Planted& file, bool bad, std::uint64_t margin = 4096,
                        std::uint64_t prefix = std::string::npos) {
        const auto [from, to] = found.equal_range(file.sector);
        const std::string head = file.bytes.substr(0, prefix);
        return std::any_of(from, to, [&](const auto& f) {
            return f.second.bad == bad && f.second.bytes.starts_with(head) &&
                   f.second.bytes.size() <= file.bytes.size() + margin;
        });
    }
    static std::string described(const Found& found, std::uint64_t sector) {
        const auto [from, to] = found.equal_range(sector);
        std::string there;
        for (auto it = from; it != to; ++it)
            there += " " + std::to_string(it->second.bytes.size()) + (it->second.bad ? " (Bad)" : "");
        return there.empty() ? " nothing" : there;
    }

    static inline std::string missing_;
};

class WalkedFileTest : public WalkedStructureTest, public testing::WithParamInterface<std::tuple<Walked, bool>> {};

// Its first fragment, then three photos written at the very next sectors, where its header puts more of its own
// bytes: the photos are found whole, and the file is listed from its first sector no longer than it was, marked. A
// photo three sectors on is found too.
TEST_P(WalkedFileTest, CutByPhotosWhereItsWalkReadNothingIsMarkedAndThePhotosAreFound) {
    const auto& [c, random] = GetParam();
    const std::string file = c.make();
    ASSERT_GT(file.size(), c.fragment(file.size()) + 512);
    std::vector<Planted> planted{{file.substr(0, c.fragment(file.size())), 2048}};
    for (unsigned i = 0; i < 3; ++i)
        planted.push_back({photo(20 + i), planted.back().end()});
    planted.push_back({photo(23, "320x240"), planted.back().end() + 3});
    const fs::path image = diskWith(random, planted);
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, {c.extension, "jpg"}, method);
        expectPhotosAfterTheFirstFoundWhole(found, planted);
        EXPECT_TRUE(foundAt(found, Planted{file, 2048}, true, 0, 512))
            << "the cut file is not listed marked; found there:" << described(found, 2048);
    }
}

// Whole, with a photo at the sector after it and another three sectors on: it is listed whole and unmarked (the
// carving, and for an AVI the plain search, with a margin after it), and the photos are found.
TEST_P(WalkedFileTest, WholeIsListedWholeAndUnmarked) {
    const auto& [c, random] = GetParam();
    std::vector<Planted> planted{{c.make(), 2048}};
    ASSERT_FALSE(planted[0].bytes.empty());
    planted.push_back({photo(24), planted.back().end()});
    planted.push_back({photo(25, "320x240"), planted.back().end() + 3});
    const fs::path image = diskWith(random, planted);
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, {c.extension, "jpg"}, method);
        EXPECT_TRUE(foundAt(found, planted[0], false))
            << "the file is not listed whole and unmarked; found there:" << described(found, 2048);
        expectPhotosAfterTheFirstFoundWhole(found, planted);
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, WalkedFileTest,
                         testing::Combine(testing::ValuesIn(kWalked), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// The headers of ten checked types, each of which the data of a photo begins a sector with about once in 2^32:
// written alone at such a sector (the three movie atoms four bytes in, as a movie's first atom names itself there).
struct LoneHeader {
    const char* name;
    std::string bytes;
    std::size_t at = 0;
};

void PrintTo(const LoneHeader& h, std::ostream* out) {
    *out << h.name;
}

const LoneHeader kLoneHeaders[] = {
    {"Aiff", "FORM"},
    {"Avi", "RIFF"},
    {"Midi", "MThd"},
    {"MovMediaData", "mdat", 4},
    {"MovMovie", "moov", 4},
    {"MovWide", "wide", 4},
    {"Mrw", std::string("\0MRM", 4)},
    {"MpegVideo", std::string("\0\0\1\xB3", 4)},
    {"Zip", "PK\3\4"},
    {"Pdf", "%PDF"},
};

// A photo of fine noise, whose scan data is dense; made once.
const std::string& noisePhoto() {
    static const std::string made = toolSample(
        "convert -seed " + sampleSeed(131) + " -size 2000x1500 xc:gray +noise Gaussian -quality 92 \"$OUT\"", "jpg");
    return made;
}

// The first sector from half the photo's length on whose start lies in its scan data with no 0xFF byte among its
// first 16 bytes or the byte before, so that no marker is made or lost.
std::size_t scanDataSector(const std::string& photo) {
    const std::size_t scan = photo.find("\xFF\xDA");
    for (std::size_t at = photo.size() / 2 / 512 * 512; scan != std::string::npos && at + 512 < photo.size(); at += 512)
        if (at > scan + 512 && photo.find('\xFF', at - 1) > at + 16) return at;
    return 0;
}

class LoneHeaderTest : public WalkedStructureTest, public testing::WithParamInterface<std::tuple<LoneHeader, bool>> {};

// Such a header at a sector inside a photo's scan data, every type of the lists marked: the photo is listed whole and
// unmarked (the carving with its margin), and the photos after it are found.
TEST_P(LoneHeaderTest, CutsNoPhotoAndLosesNothingAfterIt) {
    const auto& [header, random] = GetParam();
    std::string noisy = noisePhoto();
    const std::size_t at = scanDataSector(noisy);
    ASSERT_NE(at, 0u) << "no sector of the photo's scan data takes the header";
    noisy.replace(at + header.at, header.bytes.size(), header.bytes);
    std::vector<Planted> planted{{noisy, 2048}};
    planted.push_back({photo(26), planted.back().end() + 3});
    planted.push_back({photo(27, "320x240"), planted.back().end() + 3});
    const fs::path image = diskWith(random, planted);
    std::set<std::string> every;
    const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
    for (const auto& row : rows)
        every.insert(row.extension);
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, every, method);
        const auto [from, to] = found.equal_range(2048);
        const std::size_t size = noisy.size() + (method == 1 ? JpegStreamWalk::kMargin : 0);
        EXPECT_TRUE(std::any_of(from, to,
                                [&](const auto& f) {
                                    return !f.second.bad && f.second.bytes.size() == size &&
                                           f.second.bytes.starts_with(noisy);
                                }))
            << "the photo is not listed whole and unmarked; found there:" << described(found, 2048);
        expectPhotosAfterTheFirstFoundWhole(found, planted);
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, LoneHeaderTest,
                         testing::Combine(testing::ValuesIn(kLoneHeaders), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// Start codes of an MPEG video stream written by chance in a photo's scan data, the first a sequence header (of a
// picture of 320 x 240) at a sector's start: those after it lie within the reach its picture gives, but not where the
// stream puts its next code (right behind a header, a picture's first slice right behind the picture's).
struct ChanceStartCodes {
    const char* name;
    // The codes and the offsets from the sector's start they are written at.
    std::vector<std::pair<std::size_t, std::string>> codes;
};

void PrintTo(const ChanceStartCodes& c, std::ostream* out) {
    *out << c.name;
}

const std::string kSequenceHeader("\0\0\1\xB3\x14\x00\xF0\x13", 8);
const std::string kPicture("\0\0\1\0", 4);
const std::string kSlice("\0\0\1\1", 4);

const ChanceStartCodes kChanceStartCodes[] = {
    {"APictureThreeSectorsOn", {{0, kSequenceHeader}, {3 * 512 + 100, kPicture}}},
    {"AnotherSequenceHeaderFourSectorsOn", {{0, kSequenceHeader}, {4 * 512 + 7, kSequenceHeader}}},
    {"APictureAndItsSliceEightSectorsOn", {{0, kSequenceHeader}, {8 * 512 + 40, kPicture}, {8 * 512 + 52, kSlice}}},
};

class ChanceStartCodesTest : public WalkedStructureTest,
                             public testing::WithParamInterface<std::tuple<ChanceStartCodes, bool>> {};

// Such codes in a photo's scan data, with what the disk holds after the photo: the stream's walk reads no sequence
// there and vouches for no stream, so the photo is listed whole and unmarked (the carving with its margin), nothing is
// listed at the sequence header, and the photo after it is found.
TEST_P(ChanceStartCodesTest, VouchForNoStreamAndCutNoPhoto) {
    const auto& [c, random] = GetParam();
    std::string noisy = noisePhoto();
    const std::size_t at = scanDataSector(noisy);
    ASSERT_NE(at, 0u) << "no sector of the photo's scan data takes the codes";
    ASSERT_LT(at + c.codes.back().first + 4, noisy.size());
    for (const auto& [offset, code] : c.codes)
        noisy.replace(at + offset, code.size(), code);
    std::vector<Planted> planted{{noisy, 2048}};
    planted.push_back({photo(29, "320x240"), planted.back().end() + 64});
    const fs::path image = diskWith(random, planted);
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, {"mpg", "jpg"}, method);
        EXPECT_TRUE(foundAt(found, planted[0], false, method == 1 ? JpegStreamWalk::kMargin : 0))
            << "the photo is not listed whole and unmarked; found there:" << described(found, 2048);
        EXPECT_EQ(found.count(2048 + at / 512), 0u)
            << "found at the sequence header:" << described(found, 2048 + at / 512);
        expectPhotosAfterTheFirstFoundWhole(found, planted);
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, ChanceStartCodesTest,
                         testing::Combine(testing::ValuesIn(kChanceStartCodes), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// A second of ffmpeg's test pattern coded as JPEG frames, in a fresh folder.
std::vector<std::string> mjpegFrames(unsigned seed) {
    const fs::path dir = testsupport::makeTempDir("frames");
    testsupport::runCommand("cd " + testsupport::shellQuote(dir.string()) + " && ffmpeg -v error -f lavfi -i " +
                            testsupport::sampleVideo("size=320x240:rate=10:duration=1") +
                            " -threads 1 -c:v mjpeg -q:v " + std::to_string(3 + seed % 3) + " f%04d.jpg");
    std::vector<std::string> frames;
    for (unsigned i = 1; i < 100; ++i) {
        const std::string number = std::to_string(i);
        const fs::path frame = dir / ("f" + std::string(4 - number.size(), '0') + number + ".jpg");
        if (!fs::exists(frame)) break;
        frames.push_back(testsupport::readText(frame));
    }
    return frames;
}

// A movie of the frames, muxed with `options`: each padded so that it and what the container puts before the next
// (`overhead`) fill whole sectors, the first so that the second lands on a sector start; all but the first then do.
// A movie header written before the frames grows with their offsets, so the first pad is found again until it holds.
std::string framesMovie(const std::vector<std::string>& frames, std::size_t overhead, const std::string& container,
                        const std::string& options = "") {
    const fs::path dir = testsupport::makeTempDir("frames");
    const auto mux = [&](std::size_t firstPad) {
        for (std::size_t i = 0; i < frames.size(); ++i) {
            std::string frame = sectorSized(frames[i], overhead);
            if (i == 0 && firstPad != 0) frame = padded(frame, frame.size() + firstPad);
            testsupport::writeText(dir / ("g" + std::to_string(1000 + i) + ".jpg"), frame);
        }
        const fs::path out = dir / ("out." + container);
        fs::remove(out);
        testsupport::runCommand("cd " + testsupport::shellQuote(dir.string()) +
                                " && ffmpeg -v error -framerate 10 -start_number 1000 -i g%04d.jpg -c:v copy " +
                                options + " -f " + container + " " + testsupport::shellQuote(out.string()));
        return testsupport::readText(out);
    };
    std::size_t pad = 0;
    for (int tries = 0; tries < 4; ++tries) {
        const std::string movie = mux(pad);
        const std::size_t at = movie.find("\xFF\xD8\xFF");
        if (at == std::string::npos) return {};
        const std::size_t off = (at + sectorSized(frames[0], overhead).size() + pad + overhead) % 512;
        if (off == 0) return movie;
        pad = (pad + 512 - off) % 512;
        if (pad != 0 && pad < 4) pad += 512;
    }
    return {};
}

// Three photos stored in a ZIP archive, each named so that its local header and name fill a sector and padded to
// whole sectors: each photo's data begins a sector. The entries `first` come before them (the name or content that
// tells an Office, OpenDocument or EPUB file from another archive), and a filler entry after those that ends on a
// sector's end.
std::string storedPhotos(unsigned seed, const std::vector<std::pair<std::string, std::string>>& first = {}) {
    const fs::path dir = testsupport::makeTempDir("stored");
    const std::string folders = std::string(200, 'a') + "/" + std::string(200, 'b');
    fs::create_directories(dir / folders);
    std::string names;
    std::size_t bytes = 0;
    const auto add = [&](const std::string& name, const std::string& content) {
        testsupport::writeText(dir / name, content);
        names += " " + testsupport::shellQuote(name);
        bytes += 30 + name.size() + content.size();
    };
    for (const auto& [name, content] : first)
        add(name, content);
    if (bytes % 512 != 0) add("filler", std::string((1024 - (bytes + 36) % 512) % 512, ' '));
    for (unsigned i = 0; i < 3; ++i)
        add(folders + "/photo" + std::to_string(i) + std::string(70, 'x') + ".jpg", sectorSized(photo(seed + i)));
    const fs::path out = dir / "out.zip";
    testsupport::runCommand("cd " + testsupport::shellQuote(dir.string()) + " && zip -q -0 -X -D " +
                            testsupport::shellQuote(out.string()) + names);
    return testsupport::readText(out);
}

// A movie (ffmpeg's "mp4") or a song ("ipod") with a cover picture, which the muxer keeps in the movie header's
// metadata, its title as long as puts the picture at a sector's start.
std::string withCover(unsigned seed, const std::string& container, const std::string& options = "") {
    const fs::path dir = testsupport::makeTempDir("cover");
    const std::string cover = photo(seed, "320x240");
    testsupport::writeText(dir / "cover.jpg", cover);
    const bool song = container == "ipod";
    const std::string input = song ? "sine=frequency=" + sampleTone(350) + ":duration=8"
                                   : testsupport::sampleVideo("size=320x240:rate=10:duration=8");
    const auto mux = [&](std::size_t title) {
        const fs::path out = dir / "out";
        fs::remove(out);
        testsupport::runCommand("cd " + testsupport::shellQuote(dir.string()) + " && ffmpeg -v error -f lavfi -i " +
                                input + " -i cover.jpg -map 0 -map 1 -threads 1 " +
                                (song ? "-c:a aac -c:v copy -disposition:v attached_pic "
                                      : "-c:v:0 mpeg4 -c:v:1 copy -disposition:v:1 attached_pic ") +
                                "-metadata title=" + std::string(title, 't') + " " + options + " -f " + container +
                                " out");
        return testsupport::readText(out);
    };
    const std::string movie = mux(1);
    const std::size_t at = movie.find(cover.substr(0, 64));
    return at == std::string::npos ? std::string() : mux(1 + (512 - at % 512) % 512);
}

// A PDF document of one page that shows two photos, each stored as it is (DCT-coded) from a sector's start: its
// objects, cross-reference table and trailer written out, as ghostscript reads them.
std::string documentOfPhotos(unsigned seed) {
    std::string pdf = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<std::size_t> offsets;
    const auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 640 960] /Resources << /XObject << /A 5 0 R /B 6 0 R >> >> "
           "/Contents 4 0 R >>");
    const std::string draw = "q 640 0 0 480 0 480 cm /A Do Q q 640 0 0 480 0 0 cm /B Do Q";
    object("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "\nendstream");
    for (unsigned i = 0; i < 2; ++i) {
        const std::string jpeg = photo(seed + i);
        const std::string dict = "<< /Type /XObject /Subtype /Image /Width 640 /Height 480 /ColorSpace /DeviceRGB "
                                 "/BitsPerComponent 8 /Filter /DCTDecode /Length " +
                                 std::to_string(jpeg.size()) + " >>\nstream\n";
        // A comment line moves the stream's data to a sector's start.
        const std::size_t head = std::to_string(offsets.size() + 1).size() + 7 + dict.size();
        const std::size_t fill = (1024 - (pdf.size() + 2 + head) % 512) % 512;
        pdf += "%" + std::string(fill, ' ') + "\n";
        object(dict + jpeg + "\nendstream");
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t at : offsets) {
        const std::string number = std::to_string(at);
        pdf += std::string(10 - number.size(), '0') + number + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

struct Holder {
    const char* name;
    const char* extension;
    std::string (*make)();
    // How many photos in it begin a sector.
    std::size_t photos = 2;
};

void PrintTo(const Holder& h, std::ostream* out) {
    *out << h.name;
}

const Holder kHolders[] = {
    {"ZipOfStoredPhotos", "zip", [] { return storedPhotos(30); }},
    {"DocxOfStoredPhotos", "docx",
     [] {
         return storedPhotos(50, {{"[Content_Types].xml", "<?xml version=\"1.0\"?><Types xmlns=\"http://"
                                                          "schemas.openxmlformats.org/package/2006/content-types\"/>"},
                                  {"word/document.xml", "<w:document/>"}});
     }},
    {"OdtOfStoredPhotos", "odt",
     [] {
         return storedPhotos(53, {{"mimetype", "application/vnd.oasis.opendocument.text"}});
     }},
    {"EpubOfStoredPhotos", "epub",
     [] {
         return storedPhotos(56, {{"mimetype", "application/epub+zip"}});
     }},
    // The cover picture in the movie header, which comes last or first.
    {"Mp4WithCoverArt", "mp4", [] { return withCover(59, "mp4"); }, 1},
    {"M4aWithCoverArt", "m4a", [] { return withCover(60, "ipod"); }, 1},
    {"M4aWithCoverArtAndItsIndexFirst", "m4a", [] { return withCover(61, "ipod", "-movflags +faststart"); }, 1},
    {"PdfOfTwoPhotos", "pdf", [] { return documentOfPhotos(33); }},
    // A frame's chunk header (8 bytes) comes before it.
    {"MjpegAvi", "avi", [] { return framesMovie(mjpegFrames(35), 8, "avi"); }},
    {"MovOfJpegFrames", "mov", [] { return framesMovie(mjpegFrames(36), 0, "mov"); }},
    // Its movie header first: the frames are the movie's as far as its sample tables put them.
    {"FastStartMovOfJpegFrames", "mov", [] { return framesMovie(mjpegFrames(37), 0, "mov", "-movflags +faststart"); }},
};

class PhotosInVouchedBytesTest : public WalkedStructureTest,
                                 public testing::WithParamInterface<std::tuple<Holder, bool>> {};

// A file that holds photos, or a movie's frames, where its structure leads, each from a sector's start: it is listed
// whole and unmarked (the carving, and for a movie the plain search, list the photos in it as well), and the photos
// after it are found.
TEST_P(PhotosInVouchedBytesTest, CutNothing) {
    const auto& [c, random] = GetParam();
    std::vector<Planted> planted{{c.make(), 2048}};
    const std::string& file = planted[0].bytes;
    ASSERT_FALSE(file.empty());
    std::size_t photosOnASector = 0;
    for (std::size_t at = 512; at + 3 < file.size(); at += 512)
        photosOnASector += file.compare(at, 3, "\xFF\xD8\xFF") == 0;
    ASSERT_GE(photosOnASector, c.photos) << "the photos do not begin sectors";
    if (c.extension == std::string("pdf")) {
        const fs::path document = testsupport::makeTempDir("pdf") / "photos.pdf";
        testsupport::writeText(document, file);
        EXPECT_TRUE(testsupport::runCommand("gs -q -dNODISPLAY -dBATCH -dNOPAUSE -dPDFSTOPONERROR " +
                                            testsupport::shellQuote(document.string())))
            << "ghostscript cannot read the document";
    }
    planted.push_back({photo(28), planted.back().end() + 3});
    const fs::path image = diskWith(random, planted);
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, {c.extension, "jpg"}, method);
        EXPECT_TRUE(foundAt(found, planted[0], false))
            << "the file is not listed whole and unmarked; found there:" << described(found, 2048);
        EXPECT_TRUE(foundAt(found, planted[1], false))
            << "the photo after it is not found whole; found there:" << described(found, planted[1].sector);
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, PhotosInVouchedBytesTest,
                         testing::Combine(testing::ValuesIn(kHolders), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// The search's lookup of a sector inside a body its container's walk stepped over (a movie's media data, an AVI
// file's or an animated WebP's frame, a PNG's image data): a photo, a PDF and a ZIP archive, each written over a copy
// of the container at the sector 10, 50 or 90 % into it, are found whole, and each copy is listed from its first
// sector no longer than it was, marked.
struct Container {
    const char* name;
    const char* extension;
    std::string (*make)();
};

void PrintTo(const Container& c, std::ostream* out) {
    *out << c.name;
}

// Ten seconds of the test pattern in MPEG-4 visual frames, or thirty of a tone in AAC ("ipod"), in the container.
std::string clip(const std::string& container, const std::string& options = "") {
    const bool song = container == "ipod";
    return toolSample("ffmpeg -v error -f lavfi -i " +
                          (song ? "sine=frequency=" + sampleTone(400) + ":duration=30"
                                : testsupport::sampleVideo("size=320x240:rate=10:duration=10")) +
                          " -threads 1 " + (song ? "-c:a aac " : "-c:v mpeg4 ") + options + " -f " + container +
                          " \"$OUT\"",
                      song ? "m4a" : container);
}

const Container kContainers[] = {
    {"Mp4", "mp4", [] { return clip("mp4"); }},
    {"Mp4WithItsIndexFirst", "mp4", [] { return clip("mp4", "-movflags +faststart"); }},
    {"M4a", "m4a", [] { return clip("ipod"); }},
    {"M4aWithItsIndexFirst", "m4a", [] { return clip("ipod", "-movflags +faststart"); }},
    {"Mpeg4Avi", "avi", [] { return clip("avi"); }},
    {"MovWithItsIndexLast", "mov", [] { return clip("mov"); }},
    {"AnimatedWebp", "webp", [] { return animatedWebp(62); }},
    {"PngOfNoise", "png",
     [] {
         return toolSample("convert -seed " + sampleSeed(63) + " -size 400x300 xc:gray +noise Random \"$OUT\"", "png");
     }},
};

class InsideABodyTest : public WalkedStructureTest, public testing::WithParamInterface<std::tuple<Container, bool>> {};

TEST_P(InsideABodyTest, CutsTheContainerAndIsFound) {
    const auto& [c, random] = GetParam();
    const std::string container = c.make();
    const std::string inner[] = {
        photo(64, "160x120"), testsupport::textDocument("pdf"),
        toolSample("echo 'a note, seed " + sampleSeed(65) + "' >\"$OUT.txt\" && zip -q -j \"$OUT\" \"$OUT.txt\"",
                   "zip")};
    std::vector<Planted> copies, inside;
    for (const std::string& file : inner)
        for (const std::size_t share : {10, 50, 90}) {
            const std::size_t at = container.size() * share / 100 / 512 * 512;
            ASSERT_LE(at + file.size(), container.size()) << "the container is too short to hold the file";
            copies.push_back({container, copies.empty() ? 2048 : copies.back().end() + 8});
            copies.back().bytes.replace(at, file.size(), file);
            inside.push_back({file, copies.back().sector + at / 512});
        }
    const fs::path image = diskWith(random, copies);
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, {c.extension, "jpg", "pdf", "zip"}, method);
        for (std::size_t i = 0; i < copies.size(); ++i) {
            EXPECT_TRUE(foundAt(found, inside[i], false))
                << "the file inside copy " << i
                << " is not found whole; found there:" << described(found, inside[i].sector);
            EXPECT_TRUE(foundAt(found, Planted{container, copies[i].sector}, true, 0, 512))
                << "copy " << i << " is not listed cut and marked; found there:" << described(found, copies[i].sector);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, InsideABodyTest,
                         testing::Combine(testing::ValuesIn(kContainers), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// The RIFF forms other than "AVI " are their own rows' files: with the types each search has marked at first, a
// WebP or WAV file is listed under its own extension, whole and unmarked when whole, and marked when photos were
// written over its second half.
const Container kRiffForms[] = {
    {"CwebpWebp", "webp",
     [] {
         return toolSample(plasma(66, "800x600") + "\"$OUT.png\" && cwebp -quiet -q 80 \"$OUT.png\" -o \"$OUT\"",
                           "webp");
     }},
    {"AnimatedWebp", "webp", [] { return animatedWebp(67); }},
    {"Wav", "wav", [] { return tone("-r 44100 -c 2", 370, "2", "wav"); }},
};

class RiffFormTest : public WalkedStructureTest, public testing::WithParamInterface<std::tuple<Container, bool>> {
protected:
    // The types a user's list holds marked at first: the file scans' for the plain search, the photo scans' for the
    // carving.
    static platform::Array defaultTypes(int method) {
        const auto rows = FileTypeTable::parse(testsupport::readText(DRENTIC_FILE_TYPE_TABLE)).value();
        platform::Array types;
        for (const auto& category : FileTypeTable::buildList(rows, method == 0 ? FileTypeTable::FR : FileTypeTable::PR))
            for (const auto& node : category->children())
                if (node->selected) types.emplace_back(node);
        return types;
    }
};

TEST_P(RiffFormTest, IsListedUnderItsOwnTypeAndMarkedWhenCut) {
    const auto& [c, random] = GetParam();
    const std::string file = c.make();
    std::vector<Planted> whole{{file, 2048}}, cut{{file.substr(0, half(file.size())), 2048}};
    for (std::vector<Planted>* planted : {&whole, &cut}) {
        planted->push_back({photo(68), planted->back().end()});
        planted->push_back({photo(69, "320x240"), planted->back().end() + 3});
    }
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        for (const bool isCut : {false, true}) {
            const std::vector<Planted>& planted = isCut ? cut : whole;
            const Found found = searchedDisk(diskWith(random, planted), defaultTypes(method), method);
            const auto [from, to] = found.equal_range(2048);
            EXPECT_TRUE(std::any_of(from, to,
                                    [&](const auto& f) {
                                        return f.second.path.ends_with(std::string(".") + c.extension) &&
                                               f.second.bad == isCut && f.second.bytes.starts_with(planted[0].bytes) &&
                                               f.second.bytes.size() <= file.size() + 4096;
                                    }))
                << (isCut ? "cut" : "whole")
                << ", it is not listed as its type; found there:" << described(found, 2048);
            expectPhotosAfterTheFirstFoundWhole(found, planted);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, RiffFormTest,
                         testing::Combine(testing::ValuesIn(kRiffForms), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// A chunk whose length runs past the end of the list or RIFF that holds it is no structure: the walk ends there and
// the file is listed from its first sector no longer than it was, marked; the photo after it is found.
struct Overrun {
    const char* name;
    const char* extension;
    // The file, and what it becomes: its chunks or the bytes after it changed, or cut.
    std::string (*make)();
    std::vector<Planted> (*lay)(const std::string& file);
};

void PrintTo(const Overrun& o, std::ostream* out) {
    *out << o.name;
}

std::uint32_t le32At(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 4; i-- > 0;)
        value = value << 8 | std::uint8_t(bytes.at(at + i));
    return value;
}

std::string le32(std::uint32_t value) {
    return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

// Where the chunks of an AVI file's "movi" list begin, and where the list ends.
std::pair<std::vector<std::size_t>, std::size_t> moviChunks(const std::string& avi) {
    const std::size_t list = avi.find("movi") - 8, end = list + 8 + le32At(avi, list + 4);
    std::vector<std::size_t> chunks;
    for (std::size_t at = list + 12; at + 8 <= end; at += 8 + (le32At(avi, at + 4) + 1) / 2 * 2)
        chunks.push_back(at);
    return {chunks, end};
}

const Overrun kOverruns[] = {
    // Cut in half by a photo, with four printable characters and a length past the RIFF's end where its "movi" list
    // ended: the walk of the list's frames breaks off inside the photo.
    {"MjpegAviCutInHalf", "avi", [] { return movie(69, "mjpeg", "avi"); },
     [](const std::string& file) {
         std::vector<Planted> laid{{file.substr(0, half(file.size())), 2048}};
         laid.push_back({photo(70, "160x120"), laid.back().end()});
         const std::size_t moviEnd = moviChunks(file).second;
         laid.push_back({std::string(moviEnd % 512, '\0') + "JUNK" + le32(0xFFFFFF00), 2048 + moviEnd / 512});
         return laid;
     }},
    // A frame in the middle whose length runs past its "movi" list.
    {"Mpeg4AviWithAFrameTooLong", "avi", [] { return clip("avi"); },
     [](const std::string& file) {
         std::string bad = file;
         const auto chunks = moviChunks(bad).first;
         bad.replace(chunks.at(chunks.size() / 2) + 4, 4, le32(std::uint32_t(bad.size())));
         return std::vector<Planted>{{bad, 2048}, {photo(71, "160x120"), 2048 + (bad.size() + 511) / 512 + 3}};
     }},
    // Its picture's chunk longer than the RIFF.
    {"WebpWithItsPictureTooLong", "webp",
     [] {
         return toolSample(plasma(72, "640x480") + "\"$OUT.png\" && cwebp -quiet -q 80 \"$OUT.png\" -o \"$OUT\"",
                           "webp");
     },
     [](const std::string& file) {
         std::string bad = file;
         bad.replace(16, 4, le32(std::uint32_t(bad.size())));
         return std::vector<Planted>{{bad, 2048}, {photo(73, "160x120"), 2048 + (bad.size() + 511) / 512 + 3}};
     }},
};

class OverrunTest : public WalkedStructureTest, public testing::WithParamInterface<std::tuple<Overrun, bool>> {};

TEST_P(OverrunTest, EndsTheWalkAndMarksTheFile) {
    const auto& [c, random] = GetParam();
    const std::string file = c.make();
    ASSERT_FALSE(file.empty());
    const std::vector<Planted> planted = c.lay(file);
    const fs::path image = diskWith(random, planted);
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, {c.extension, "jpg"}, method);
        EXPECT_TRUE(foundAt(found, planted[0], true, 0, 512))
            << "the file is not listed marked; found there:" << described(found, 2048);
        EXPECT_TRUE(foundAt(found, planted[1], false))
            << "the photo is not found whole; found there:" << described(found, planted[1].sector);
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, OverrunTest,
                         testing::Combine(testing::ValuesIn(kOverruns), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// Files laid out as cameras, encoders and editors lay them out, where a measure can go wrong: a container longer
// than the stride between the carving's checkpoints, an extension of many sub-blocks, an AVI in several RIFF parts,
// a body that begins a sector, a thumbnail its own metadata places. Each layout says what both searches list at
// each of its places; each is laid on zeros and on random bytes.
enum class Listed {
    // Listed from its sector, unmarked, no more than 4 KiB longer than its bytes.
    Whole,
    // Listed from its sector, marked, beginning with its first sector and no longer than its bytes.
    Cut,
    // No file is listed from its sector.
    Nothing,
    // Listed from its sector, unmarked, beginning with its bytes: nothing in them ends it, so its length is the
    // search's estimate.
    Unended,
};

struct Laid {
    std::string bytes;
    std::uint64_t sector = 0;
    Listed listed = Listed::Whole;
    // Written on the disk, in the order laid (a file written inside another after it); a part of a file laid
    // before it (a thumbnail) is only looked for.
    bool written = true;
};

struct Layout {
    const char* name;
    // The types marked in both searches.
    std::vector<const char*> types;
    std::vector<Laid> (*lay)();
};

void PrintTo(const Layout& l, std::ostream* out) {
    *out << l.name;
}

// An x264 movie of noise at 24 Mbit/s, about 3 MB a second of it, made in a moment.
std::string x264(const std::string& container, unsigned seconds, const std::string& extension) {
    return toolSample("ffmpeg -v error -f lavfi -i " +
                          testsupport::sampleVideo("size=320x240:rate=25:duration=" + std::to_string(seconds)) +
                          ",noise=alls=60:allf=t -threads 1 -c:v libx264 -preset ultrafast -b:v 24M -f " + container +
                          " \"$OUT\"",
                      extension);
}

// A movie at `sector` with a photo written over it `in` sectors on.
std::vector<Laid> movieWithAPhoto(const std::string& movie, std::uint64_t sector, std::uint64_t in, unsigned seed) {
    return {{movie, sector, Listed::Cut}, {photo(seed), sector + in}};
}

std::string le16(std::uint16_t value) {
    return {char(value), char(value >> 8)};
}

std::string le64(std::uint64_t value) {
    return le32(std::uint32_t(value)) + le32(std::uint32_t(value >> 32));
}

std::string riffChunk(const std::string& id, const std::string& body) {
    return id + le32(std::uint32_t(body.size())) + body + std::string(body.size() % 2, '\0');
}

std::string riffList(const std::string& kind, const std::string& type, const std::string& body) {
    return kind + le32(std::uint32_t(body.size() + 4)) + type + body;
}

// An AVI file of one stream as ffmpeg lays out one past 1 GiB, made small: the frames of ffmpeg's `avi` split into
// its "AVI " RIFF and `parts` RIFF parts of form "AVIX", each "movi" list closed by its standard index ("ix00") and
// the first RIFF by the old index ("idx1") of its own frames; the stream's super index ("indx") of the standard
// indexes and the OpenDML header ("odml") stand where ffmpeg kept room for them.
std::string openDml(const std::string& avi, std::size_t parts) {
    const std::size_t movi = avi.find("movi") - 8, idx1 = avi.find("idx1", moviChunks(avi).second);
    const std::vector<std::size_t> chunks = moviChunks(avi).first;
    if (idx1 == std::string::npos || chunks.empty()) return {};
    const std::string id = avi.substr(chunks[0], 4);
    std::string file, superIndex;
    for (std::size_t part = 0, frame = 0; part <= parts; ++part) {
        const std::size_t last = chunks.size() * (part + 1) / (parts + 1);
        // The offsets of an index count from the "movi" list's type.
        const std::size_t base = file.size() + (part == 0 ? movi : riff::kHeaderBytes) + 8;
        std::string frames, entries, oldEntries;
        for (const std::size_t first = frame; frame < last; ++frame) {
            const std::size_t at = chunks[frame], bytes = le32At(avi, at + 4);
            const bool key = (le32At(avi, idx1 + 8 + 16 * frame + 4) & 0x10) != 0;
            const std::size_t offset = 4 + frames.size();
            entries += le32(std::uint32_t(offset + 8)) + le32(std::uint32_t(bytes | (key ? 0 : 0x80000000)));
            oldEntries += id + le32(key ? 0x10 : 0) + le32(std::uint32_t(offset)) + le32(std::uint32_t(bytes));
            frames += avi.substr(at, 8 + (bytes + 1) / 2 * 2);
            if (frame + 1 == last) {
                const std::string index = riffChunk("ix" + id.substr(0, 2), le16(2) + std::string("\0\1", 2) +
                                                                                le32(std::uint32_t(last - first)) + id +
                                                                                le64(base) + le32(0) + entries);
                superIndex += le64(base + 4 + frames.size()) + le32(std::uint32_t(index.size())) +
                              le32(std::uint32_t(last - first));
                frames += index;
            }
        }
        std::string riff = part == 0 ? avi.substr(riff::kHeaderBytes, movi - riff::kHeaderBytes) : "";
        riff += riffList("LIST", "movi", frames);
        if (part == 0) riff += riffChunk("idx1", oldEntries);
        file += riffList("RIFF", part == 0 ? "AVI " : "AVIX", riff);
    }
    // The room ffmpeg kept: the stream list's 4,120 bytes after its format, the header list's 260 bytes.
    const std::size_t indexRoom = file.find(std::string("JUNK") + le32(4120));
    if (indexRoom == std::string::npos) return {};
    const std::string index =
        le16(4) + std::string("\0\0", 2) + le32(std::uint32_t(parts + 1)) + id + std::string(12, '\0') + superIndex;
    file.replace(indexRoom, 8 + 4120, riffChunk("indx", index + std::string(4120 - index.size(), '\0')));
    const std::size_t odml = file.find(std::string("JUNK") + le32(260));
    if (odml == std::string::npos) return {};
    file.replace(
        odml, 8 + 260,
        riffList("LIST", "odml", riffChunk("dmlh", le32(std::uint32_t(chunks.size())) + std::string(244, '\0'))));
    // The main header counts the first RIFF's frames.
    file.replace(0x30, 4, le32(std::uint32_t(chunks.size() / (parts + 1))));
    return file;
}

// A file `make` writes with a header of the length `bytes` asks for (a title of so many characters, so much room
// kept for the movie header) that puts what `where` finds in it on a sector's start; empty when none does.
std::string ontoASector(const std::function<std::string(std::size_t bytes)>& make,
                        std::size_t (*where)(const std::string& file), std::size_t bytes) {
    for (int tries = 0; tries < 3; ++tries) {
        const std::string file = make(bytes);
        const std::size_t at = where(file);
        if (file.empty() || at == std::string::npos) return {};
        if (at % 512 == 0) return file;
        bytes += 512 - at % 512;
    }
    return {};
}

std::size_t firstJpegFrame(const std::string& movie) {
    return movie.find("\xFF\xD8\xFF");
}

std::size_t mediaData(const std::string& movie) {
    const std::size_t atom = movie.find("mdat");
    return atom == std::string::npos ? atom : atom + 4;
}

// Three seconds of the test pattern coded by x264, the movie header first in the room kept for it, as a camera
// lays out its movies.
std::string x264Mp4(std::size_t room) {
    return toolSample("ffmpeg -v error -f lavfi -i " + testsupport::sampleVideo("size=320x240:rate=10:duration=3") +
                          " -threads 1 -c:v libx264 -moov_size " + std::to_string(room) + " -f mp4 \"$OUT\"",
                      "mp4");
}

// An MJPEG AVI (with a title) or MOV (its movie header first, in the room kept for it) whose frames each begin a
// sector, its first at the first byte of its frames' list or media data.
std::string framesFromASector(unsigned seed, const std::string& container) {
    const std::vector<std::string> frames = mjpegFrames(seed);
    const bool avi = container == "avi";
    return ontoASector(
        [&](std::size_t bytes) {
            return framesMovie(frames, avi ? 8 : 0, container,
                               avi ? "-metadata title=" + std::string(bytes, 't')
                                   : "-moov_size " + std::to_string(bytes));
        },
        firstJpegFrame, avi ? 1 : 4000);
}

// A GIF of plasma that `then` gives an extension of many sub-blocks.
std::string gifWith(unsigned seed, const std::string& then) {
    return toolSample(plasma(seed, "240x180") + then, "gif");
}

// The file whole, then a copy of it with a photo written from the sector half its length in.
std::vector<Laid> wholeAndCutByAPhoto(const std::string& file, unsigned seed) {
    const std::uint64_t copy = 2048 + (file.size() + 511) / 512 + 8;
    return {{file, 2048}, {file, copy, Listed::Cut}, {photo(seed, "160x120"), copy + half(file.size()) / 512}};
}

// An Olympus raw file as a camera writing big-endian lays it out: "MMOR", IFD0 with its maker, the sensor's data in
// one strip behind it.
std::string bigEndianOlympusRaw(unsigned seed) {
    using B = testsupport::TiffBuilder;
    B b(true);
    b.magic('O', 'R');
    const auto ifd0 = b.addIfd();
    b.ascii(ifd0, 271, "OLYMPUS IMAGING CORP.");
    b.entry(ifd0, 256, B::Long, {400});
    b.entry(ifd0, 257, B::Long, {300});
    b.strips(ifd0, {b.addBlob(pixels(seed, "400x300", "gray"))});
    return b.build();
}

// A file whose EXIF block holds a thumbnail (`thumbnail`) that begins a sector: the file whole, nothing listed at the
// thumbnail's sector.
std::vector<Laid> withItsThumbnail(const std::string& file, const std::string& thumbnail) {
    const std::size_t at = file.find(thumbnail);
    if (thumbnail.empty() || at == std::string::npos || at % 512 != 0) {
        ADD_FAILURE() << "the thumbnail does not begin a sector";
        return {{file, 2048}};
    }
    return {{file, 2048}, {thumbnail, 2048 + at / 512, Listed::Nothing, false}};
}

// A folder holding the thumbnail as thumb.jpg.
fs::path withThumbnailFile(const std::string& thumbnail) {
    const fs::path dir = testsupport::makeTempDir("thumbnail");
    testsupport::writeText(dir / "thumb.jpg", thumbnail);
    return dir;
}

// exiftool's command that writes the thumbnail of the folder and an artist's name of `name` characters, whose value
// lies before the thumbnail: a longer name moves the thumbnail on, by an even number of bytes.
std::string exiftoolThumbnail(std::size_t name, const std::string& file) {
    return "exiftool -q -overwrite_original -Make=Walk -IFD0:Artist=" + std::string(name, 'a') +
           " '-ThumbnailImage<=thumb.jpg' " + testsupport::shellQuote(file);
}

// A photo whose EXIF block exiftool gave the thumbnail, and a comment segment after its start marker as long as puts
// the thumbnail at a sector's start.
std::string jpegWithThumbnail(unsigned seed, const std::string& thumbnail) {
    const fs::path dir = withThumbnailFile(thumbnail);
    testsupport::writeText(dir / "photo.jpg", photo(seed));
    testsupport::runCommand("cd " + testsupport::shellQuote(dir.string()) + " && " + exiftoolThumbnail(8, "photo.jpg"));
    const std::string jpeg = testsupport::readText(dir / "photo.jpg");
    const std::size_t at = jpeg.find(thumbnail), fill = at == std::string::npos ? 0 : (512 - at % 512) % 512;
    return fill == 0 ? jpeg : padded(jpeg, jpeg.size() + fill + (fill < 4 ? 512 : 0));
}

// A WebP whose EXIF chunk exiftool wrote with the thumbnail, the artist's name as long as puts it at a sector's start.
std::string webpWithThumbnail(unsigned seed, const std::string& thumbnail) {
    const fs::path dir = withThumbnailFile(thumbnail);
    const std::string cd = "cd " + testsupport::shellQuote(dir.string()) + " && ";
    testsupport::runCommand(cd + plasma(seed, "400x300") + "p.png && cwebp -quiet -q 80 p.png -o p.webp && " +
                            exiftoolThumbnail(8, "p.webp"));
    const std::string webp = testsupport::readText(dir / "p.webp");
    const std::size_t at = webp.find(thumbnail);
    if (at == std::string::npos || at % 512 == 0) return webp;
    testsupport::runCommand(cd + exiftoolThumbnail(8 + (512 - at % 512) % 512, "p.webp"));
    return testsupport::readText(dir / "p.webp");
}

// A PNG with an eXIf chunk after its header, which holds the EXIF block exiftool wrote with the thumbnail, and a text
// chunk before it as long as puts the thumbnail at a sector's start.
std::string pngWithThumbnail(unsigned seed, const std::string& thumbnail) {
    const fs::path dir = withThumbnailFile(thumbnail);
    testsupport::runCommand("cd " + testsupport::shellQuote(dir.string()) + " && " + plasma(seed, "8x8") + "e.jpg && " +
                            exiftoolThumbnail(8, "e.jpg") + " && exiftool -b -EXIF e.jpg >exif.bin");
    const std::string exif = testsupport::readText(dir / "exif.bin");
    const std::string png = toolSample(plasma(seed, "240x180") + "-strip \"$OUT\"", "png");
    const std::size_t at = exif.find(thumbnail);
    if (at == std::string::npos || png.size() < 33) return {};
    const auto chunk = [](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        const std::uint32_t crc =
            platform::crc32(platform::ByteView(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()));
        return testsupport::asString(testsupport::be32(std::uint32_t(data.size()))) + body +
               testsupport::asString(testsupport::be32(crc));
    };
    // The signature and the header chunk, the text chunk's 12 bytes, its keyword, and the eXIf chunk's 8 before its
    // data.
    const std::string keyword("Comment\0", 8);
    const std::size_t fill = (1024 - (33 + 12 + keyword.size() + 8 + at) % 512) % 512;
    return png.substr(0, 33) + chunk("tEXt", keyword + std::string(fill, ' ')) + chunk("eXIf", exif) + png.substr(33);
}

const Layout kLayouts[] = {
    // Its cover picture, which begins a sector, is the movie's own.
    {"Mp4WithCoverArt",
     {"mp4", "jpg"},
     [] {
         return std::vector<Laid>{{withCover(80, "mp4"), 2048}};
     }},
    // A container is held open across the carving's checkpoints, a disk's every 20,000 sectors or so and a volume's
    // every 2,500: each movie's start and the photo inside lie on either side of sector 20,000, the M4V's as close
    // as 50 sectors, the MOV's 3,000 sectors away, the 30 MB movie's two checkpoints before its photo.
    {"X264Mp4OfThirtyMBWithAPhotoTwentyMiBIn",
     {"mp4", "jpg"},
     [] { return movieWithAPhoto(x264("mp4", 10, "mp4"), 2048, (20 << 20) / 512, 81); }},
    {"M4vAcrossACheckpointWithAPhotoPastIt",
     {"m4v", "jpg"},
     [] { return movieWithAPhoto(x264("ipod", 2, "m4v"), 19950, 100, 82); }},
    {"MovAcrossACheckpointWithAPhotoPastIt",
     {"mov", "jpg"},
     [] { return movieWithAPhoto(x264("mov", 2, "mov"), 17000, 6000, 83); }},
    // OpenDML "AVIX" parts are the AVI's own; at a body's first byte a file is the container's as a later sample is.
    {"OpenDmlAvi",
     {"avi", "jpg"},
     [] {
         std::vector<Laid> laid{{openDml(clip("avi"), 2), 2048}};
         laid.push_back({photo(81, "160x120"), laid.back().sector + (laid.back().bytes.size() + 511) / 512});
         return laid;
     }},
    {"OpenDmlAviWithAPhotoInItsLastRiff",
     {"avi", "jpg"},
     [] {
         const std::string avi = openDml(clip("avi"), 2);
         const std::size_t lastRiff = avi.rfind("AVIX") - 8;
         std::vector<Laid> laid{{avi, 2048, Listed::Cut}};
         laid.push_back({photo(82, "160x120"), 2048 + (lastRiff + (avi.size() - lastRiff) / 3) / 512});
         return laid;
     }},
    {"Mp4WithAPhotoAtItsMediaDataOnASector",
     {"mp4", "jpg"},
     [] {
         const std::string movie = ontoASector(x264Mp4, mediaData, 4000);
         return std::vector<Laid>{{movie, 2048, Listed::Cut}, {photo(83, "160x120"), 2048 + mediaData(movie) / 512}};
     }},
    {"MjpegAviWithItsFirstFrameOnASector",
     {"avi", "jpg"},
     [] {
         return std::vector<Laid>{{framesFromASector(84, "avi"), 2048}};
     }},
    {"MjpegMovWithItsFirstFrameOnASector",
     {"mov", "jpg"},
     [] {
         return std::vector<Laid>{{framesFromASector(85, "mov"), 2048}};
     }},
    // A GIF's extensions are walked to their terminator; what its walk steps over is its own only by its headers.
    {"GifWithAnIccProfile",
     {"gif", "jpg"},
     [] {
         return wholeAndCutByAPhoto(gifWith(90, "-profile /usr/share/color/icc/ghostscript/srgb.icc \"$OUT\""), 91);
     }},
    {"GifWithXmp",
     {"gif", "jpg"},
     [] {
         return wholeAndCutByAPhoto(
             gifWith(92, "\"$OUT\" && exiftool -q -overwrite_original -XMP-dc:Title=Walk -XMP-dc:Creator=me \"$OUT\""),
             93);
     }},
    {"GifWithALongComment",
     {"gif", "jpg"},
     [] {
         return wholeAndCutByAPhoto(
             gifWith(94, "\"$OUT\" && exiftool -q -overwrite_original -Comment=" + std::string(700, 'c') + " \"$OUT\""),
             95);
     }},
    // A thumbnail a file's own EXIF block places is its own part: it neither cuts the file nor is listed.
    {"JpegWithAThumbnailOnASector",
     {"jpg"},
     [] {
         const std::string thumbnail = photo(101, "160x120");
         return withItsThumbnail(jpegWithThumbnail(100, thumbnail), thumbnail);
     }},
    {"WebpWithAThumbnailOnASector",
     {"webp", "jpg"},
     [] {
         const std::string thumbnail = photo(103, "160x120");
         return withItsThumbnail(webpWithThumbnail(102, thumbnail), thumbnail);
     }},
    {"PngWithAThumbnailOnASector",
     {"png", "jpg"},
     [] {
         const std::string thumbnail = photo(105, "160x120");
         return withItsThumbnail(pngWithThumbnail(104, thumbnail), thumbnail);
     }},
    // Olympus raw files are read in the byte order their header names.
    {"BigEndianOlympusRaw",
     {"orf", "jpg"},
     [] {
         return std::vector<Laid>{{bigEndianOlympusRaw(96), 2048}};
     }},
};

// Bytes that open a file of another type at a sector's start, as a movie's coded data holds them by chance: the
// header a search matches and the fields checked with it, then a first record whose length leads to nothing of the
// type. Made from the movie's bytes at `at`, as what the length leads to is the movie's.
using Opening = std::string (*)(const std::string& movie, std::size_t at);

// A JPEG's start marker and a first segment of `Kind`, a random length long, that ends at a byte that is no marker.
template <std::uint8_t Kind> std::string jpegOpening(const std::string& movie, std::size_t at) {
    std::mt19937 random(std::uint32_t(at) ^ Kind);
    for (;;) {
        const std::size_t length = 2 + random() % 0xFFFE;
        if (at + 4 + length >= movie.size()) continue;
        if (std::uint8_t(movie[at + 4 + length]) != 0xFF)
            return std::string("\xFF\xD8\xFF") + char(Kind) +
                   testsupport::asString(testsupport::be16(std::uint16_t(length)));
    }
}

// A bitmap's file header, of a length between 64 KiB and 64 MiB and both reserved words zero, behind which no info
// header of any writer's follows.
std::string bmpOpening(const std::string& movie, std::size_t at) {
    std::mt19937 random{std::uint32_t(at)};
    std::string info = movie.substr(at + 14, 4);
    if (const std::uint32_t length = le32At(movie, at + 14); length <= 124) info = le32(length + 125);
    return "BM" + le32(std::uint32_t(65536 + random() % (64 << 20))) + std::string(4, '\0') +
           le32(std::uint32_t(random())) + info;
}

// An MPEG-2 pack header, as an x264 movie's length prefix of a 442-byte unit begins one, and the next unit's prefix
// of that length where the first ends: a pack whose next bytes are no packet, another pack within reach.
std::string packOpening(const std::string& movie, std::size_t at) {
    const std::string pack("\0\0\1\xBA\x44\0\4\0\4\1\1\x89\xC3\xF8", 14);
    if (movie.compare(at + pack.size(), 3, std::string("\0\0\1", 3)) == 0) return {};
    return pack + movie.substr(at + pack.size(), 4 + 0x1BA - pack.size()) + std::string("\0\0\1\xBA", 4);
}

// An ID3 tag whose length leads to the first of the movie's bytes that read as a Layer III frame header of the bitrate
// no frame has: no frame follows the tag.
std::string id3Opening(const std::string& movie, std::size_t at) {
    // The second bytes of the frame headers a stream may begin with, the last of Layer II.
    const std::string seconds("\xFB\xFA\xF3\xF2\xE3\xE2\xFD");
    const auto sync = [&](std::size_t i, std::size_t kinds) {
        return movie[i] == '\xFF' && seconds.find(movie[i + 1]) < kinds;
    };
    for (std::size_t frame = at + 16384; frame + 3 < movie.size() && frame - at < (8 << 20); ++frame) {
        if (!sync(frame, 6) || std::uint8_t(movie[frame + 2]) < 0xF0) continue;
        bool before = false;
        for (std::size_t i = frame - 10; i < frame; ++i)
            before = before || sync(i, 7);
        if (before) continue;
        const std::size_t size = frame - at - 10;
        std::string tag = "ID3\3";
        tag += std::string(2, '\0');
        for (int shift = 21; shift >= 0; shift -= 7)
            tag += char(size >> shift & 0x7F);
        return tag;
    }
    return {};
}

// Four transport packets behind their arrival times, the movie's bytes but for each sync byte and a payload flag, and
// no fifth.
std::string transportOpening(const std::string& movie, std::size_t at) {
    std::string packets = movie.substr(at, 4 * 192 + 5);
    for (std::size_t i = 0; i < 4; ++i) {
        packets[192 * i + 4] = 0x47;
        packets[192 * i + 7] = char(packets[192 * i + 7] | 0x10);
    }
    if (packets[4 * 192 + 4] == 0x47) packets[4 * 192 + 4] = 0;
    return packets;
}

// A compress header (block mode, 16 bits a code at most), eight codes that are the movie's bytes, then a code of an
// entry not yet made.
std::string compressOpening(const std::string& movie, std::size_t at) {
    std::vector<std::uint32_t> codes;
    for (std::size_t i = 0; i < 8; ++i)
        codes.push_back(std::uint8_t(movie[at + 3 + i]));
    codes.push_back(0x1FF);
    std::string bytes = "\x1F\x9D\x90" + movie.substr(at + 3, 11);
    for (std::size_t bit = 0; bit < 9 * codes.size(); ++bit) {
        char& byte = bytes[3 + bit / 8];
        byte = char((byte & ~(1 << bit % 8)) | (codes[bit / 9] >> bit % 9 & 1) << bit % 8);
    }
    return bytes;
}

// The movies of the table, made once: an x264 MP4 of about 30 MB, a MOV and an AVI of about 15 MB, none of them
// coded in JPEG frames.
const std::vector<std::string>& codedMovies() {
    static const std::vector<std::string> made = {x264("mp4", 10, "mp4"), x264("mov", 5, "mov"), x264("avi", 5, "avi")};
    return made;
}

// The first sector from four fifths of the movie whose first KiB lies in its media data (in an AVI, in one frame's
// chunk past its header); npos when none does.
std::size_t mediaDataSector(const std::string& movie) {
    std::size_t at = movie.size() * 4 / 5 / 512 * 512;
    if (movie.compare(8, 4, "AVI ") != 0) return at;
    const std::vector<std::size_t> chunks = moviChunks(movie).first;
    for (; at + 512 < movie.size(); at += 512) {
        const auto next = std::upper_bound(chunks.begin(), chunks.end(), at);
        if (next == chunks.begin()) continue;
        const std::size_t chunk = *(next - 1);
        if (at >= chunk + 8 && at + 1024 <= chunk + 8 + le32At(movie, chunk + 4)) return at;
    }
    return std::string::npos;
}

// Each movie with the opening at a sector of its media data past the carving's first checkpoint, where it cuts
// nothing, and again with `file` written there, which cuts it and is listed as `listed` says.
std::vector<Laid> moviesWith(Opening opening, const std::string& file, Listed listed = Listed::Whole) {
    std::vector<Laid> laid;
    std::uint64_t sector = 2048;
    for (const std::string& movie : codedMovies()) {
        const std::size_t at = mediaDataSector(movie);
        if (movie.empty() || at == std::string::npos || at / 512 <= 20000 || at + file.size() > movie.size()) {
            ADD_FAILURE() << "no sector of a movie's media data past its first checkpoint takes the bytes";
            return {};
        }
        const std::uint64_t sectors = (movie.size() + 511) / 512 + 8;
        std::string chance = movie;
        const std::string bytes = opening(movie, at);
        if (bytes.empty()) {
            ADD_FAILURE() << "the movie's bytes make no opening";
            return {};
        }
        chance.replace(at, bytes.size(), bytes);
        laid.push_back({chance, sector});
        laid.push_back({movie, sector + sectors, Listed::Cut});
        laid.push_back({file, sector + sectors + at / 512, listed});
        sector += 2 * sectors;
    }
    return laid;
}

// A movie's own coded data cut by chance bytes in the searches' walks of the files they find there, and by a real
// file written there: one row a type that can stop after its first record.
const Layout kChanceOpenings[] = {
    {"JpegApp0", {"mp4", "mov", "avi", "jpg"}, [] { return moviesWith(jpegOpening<0xE0>, photo(110, "160x120")); }},
    {"JpegApp1", {"mp4", "mov", "avi", "jpg"}, [] { return moviesWith(jpegOpening<0xE1>, photo(111, "160x120")); }},
    {"JpegComment", {"mp4", "mov", "avi", "jpg"}, [] { return moviesWith(jpegOpening<0xFE>, photo(112, "160x120")); }},
    {"JpegQuantisationTables",
     {"mp4", "mov", "avi", "jpg"},
     [] { return moviesWith(jpegOpening<0xDB>, photo(113, "160x120")); }},
    {"JpegHuffmanTables",
     {"mp4", "mov", "avi", "jpg"},
     [] { return moviesWith(jpegOpening<0xC4>, photo(114, "160x120")); }},
    {"Bitmap",
     {"mp4", "mov", "avi", "bmp"},
     [] { return moviesWith(bmpOpening, toolSample(plasma(115, "160x120") + "\"$OUT\"", "bmp")); }},
    {"MpegProgramStream",
     {"mp4", "mov", "avi", "mpg"},
     [] {
         return moviesWith(packOpening, toolSample("ffmpeg -v error -f lavfi -i " +
                                                       testsupport::sampleVideo("size=160x120:rate=25:duration=2") +
                                                       " -threads 1 -c:v mpeg2video -f vob \"$OUT\"",
                                                   "mpg"));
     }},
    {"Mp3BehindAnId3Tag",
     {"mp4", "mov", "avi", "mp3"},
     [] {
         return moviesWith(id3Opening, toolSample("sox -n -r 44100 -c 1 \"$OUT.wav\" synth 3 sine " + sampleTone(640) +
                                                      " && lame --quiet -b 128 --add-id3v2 --tt Walk \"$OUT.wav\" "
                                                      "\"$OUT\"",
                                                  "mp3"));
     }},
    {"TransportStream",
     {"mp4", "mov", "avi", "mts"},
     [] {
         return moviesWith(transportOpening,
                           toolSample("ffmpeg -v error -f lavfi -i " +
                                          testsupport::sampleVideo("size=160x120:rate=25:duration=2") +
                                          " -threads 1 -c:v mpeg2video -f mpegts -mpegts_m2ts_mode 1 \"$OUT\"",
                                      "mts"));
     }},
    {"Compress",
     {"mp4", "mov", "avi", "z"},
     [] {
         return moviesWith(compressOpening, toolSample("{ seq 1 20000 | compress -c >\"$OUT\"; }", "Z"),
                           Listed::Unended);
     }},
};

// Program streams as ffmpeg's muxers lay them out, of 2 s of noisy pictures: a system stream whose first pack holds a
// hundred packets and more, MPEG-2 video in it, video alone, a Video CD's packs of 2,324 bytes that end in zero bytes
// where their packets do not fill them, a DVD's and a VOB's packs of 2,048.
std::string programStream(const std::string& options, bool sound = true) {
    static std::map<std::string, std::string> made;
    auto [it, fresh] = made.try_emplace(options + (sound ? "" : " -an"));
    if (fresh)
        it->second =
            toolSample("ffmpeg -v error -f lavfi -i " + testsupport::sampleVideo("size=320x240:rate=25:duration=2") +
                           ",noise=alls=60:allf=t" +
                           (sound ? " -f lavfi -i sine=frequency=" + sampleTone(550) + ":duration=2" : std::string()) +
                           " -threads 1 " + options + " \"$OUT\"",
                       "mpg");
    return it->second;
}

std::string mpeg1System() {
    return programStream("-c:v mpeg1video -b:v 4M -c:a mp2 -f mpeg");
}
std::string mpeg2System() {
    return programStream("-c:v mpeg2video -b:v 4M -c:a mp2 -f mpeg");
}
std::string mpeg1VideoAlone() {
    return programStream("-c:v mpeg1video -b:v 4M -f mpeg", false);
}
std::string palVcd() {
    return programStream("-target pal-vcd");
}
std::string ntscVcd() {
    return programStream("-target ntsc-vcd");
}
std::string palDvd() {
    return programStream("-target pal-dvd");
}
std::string vob() {
    return programStream("-c:v mpeg2video -b:v 4M -c:a mp2 -f vob");
}

// The stream alone, again right behind a photo, and once more right behind that copy: a muxer starts each stream
// it writes with its clock at zero.
template <std::string (*Stream)()> std::vector<Laid> aloneAndAfterAPhoto() {
    const std::string stream = Stream(), shot = photo(120, "320x240");
    const std::uint64_t sectors = (stream.size() + 511) / 512, photoAt = 2048 + sectors + 8;
    const std::uint64_t afterPhoto = photoAt + (shot.size() + 511) / 512;
    return {{stream, 2048}, {shot, photoAt}, {stream, afterPhoto}, {stream, afterPhoto + sectors}};
}

// The stream written at a sector of an x264 movie's media data: the movie is cut there, marked, and the stream is
// whole from its first pack.
template <std::string (*Stream)()> std::vector<Laid> insideAMovie() {
    const std::string& movie = codedMovies()[0];
    const std::string stream = Stream();
    const std::size_t at = mediaDataSector(movie);
    if (movie.empty() || stream.empty() || at + stream.size() > movie.size()) {
        ADD_FAILURE() << "no sector of the movie's media data takes the stream";
        return {};
    }
    return {{movie, 2048, Listed::Cut}, {stream, 2048 + at / 512}};
}

const Layout kProgramStreams[] = {
    {"Mpeg1System", {"mpg", "jpg"}, aloneAndAfterAPhoto<mpeg1System>},
    {"Mpeg2System", {"mpg", "jpg"}, aloneAndAfterAPhoto<mpeg2System>},
    {"Mpeg1VideoAlone", {"mpg", "jpg"}, aloneAndAfterAPhoto<mpeg1VideoAlone>},
    {"PalVcd", {"mpg", "jpg"}, aloneAndAfterAPhoto<palVcd>},
    {"NtscVcd", {"mpg", "jpg"}, aloneAndAfterAPhoto<ntscVcd>},
    {"PalDvd", {"mpg", "jpg"}, aloneAndAfterAPhoto<palDvd>},
    {"Vob", {"mpg", "jpg"}, aloneAndAfterAPhoto<vob>},
};

const Layout kProgramStreamsInAMovie[] = {
    {"Mpeg1System", {"mp4", "mpg"}, insideAMovie<mpeg1System>},
    {"Mpeg2System", {"mp4", "mpg"}, insideAMovie<mpeg2System>},
    {"Mpeg1VideoAlone", {"mp4", "mpg"}, insideAMovie<mpeg1VideoAlone>},
    {"PalVcd", {"mp4", "mpg"}, insideAMovie<palVcd>},
    {"NtscVcd", {"mp4", "mpg"}, insideAMovie<ntscVcd>},
    {"PalDvd", {"mp4", "mpg"}, insideAMovie<palDvd>},
    {"Vob", {"mp4", "mpg"}, insideAMovie<vob>},
};

// A program stream the disk ends inside: the plain search lists it as far as the disk holds it, marked, never as a
// whole short file.
TEST_F(WalkedStructureTest, AProgramStreamTheDiskEndsInsideIsListedMarkedAsFarAsTheDiskHoldsIt) {
    const std::string stream = mpeg1System();
    ASSERT_FALSE(stream.empty());
    const std::uint64_t held = stream.size() / 2 / 512 * 512 + 300;
    const fs::path image = testsupport::filledImage(true, "cut-stream", 2048 * 512 + held / 512 * 512 + 512);
    testsupport::writeAt(image, 2048 * 512, {stream.begin(), stream.begin() + std::ptrdiff_t(held)});
    const Found found = search(image, {"mpg"}, 0);
    EXPECT_TRUE(foundAt(found, Planted{stream.substr(0, held), 2048}, true, 512)) << described(found, 2048);
}

class LaidOutFileTest : public WalkedStructureTest, public testing::WithParamInterface<std::tuple<Layout, bool>> {};

TEST_P(LaidOutFileTest, IsListedAsItsLayoutMakesIt) {
    const auto& [layout, random] = GetParam();
    const std::vector<Laid> laid = layout.lay();
    std::uint64_t end = 0;
    for (const Laid& l : laid) {
        ASSERT_FALSE(l.bytes.empty()) << "a file of the layout could not be made";
        end = std::max(end, l.sector + (l.bytes.size() + 511) / 512);
    }
    const fs::path image =
        testsupport::filledImage(random, "walked", std::max<std::uint64_t>(8 << 20, (end + 2048) * 512));
    for (const Laid& l : laid)
        if (l.written) testsupport::writeAt(image, l.sector * 512, {l.bytes.begin(), l.bytes.end()});
    const std::set<std::string> types(layout.types.begin(), layout.types.end());
    for (const int method : {0, 1}) {
        SCOPED_TRACE(kSearches[method]);
        const Found found = search(image, types, method);
        for (const Laid& l : laid) {
            const bool listed = l.listed == Listed::Whole ? foundAt(found, Planted{l.bytes, l.sector}, false)
                                : l.listed == Listed::Cut ? foundAt(found, Planted{l.bytes, l.sector}, true, 0, 512)
                                : l.listed == Listed::Unended
                                    ? foundAt(found, Planted{l.bytes, l.sector}, false, UINT64_MAX / 2)
                                    : found.count(l.sector) == 0;
            EXPECT_TRUE(listed) << "at sector " << l.sector << ", expected "
                                << (l.listed == Listed::Whole     ? "a whole file"
                                    : l.listed == Listed::Cut     ? "a cut file, marked"
                                    : l.listed == Listed::Unended ? "a file whose end is estimated"
                                                                  : "no file")
                                << "; found there:" << described(found, l.sector);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, LaidOutFileTest,
                         testing::Combine(testing::ValuesIn(kLayouts), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

INSTANTIATE_TEST_SUITE_P(ChanceOpeningsInMovies, LaidOutFileTest,
                         testing::Combine(testing::ValuesIn(kChanceOpenings), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

INSTANTIATE_TEST_SUITE_P(ProgramStreamsByMuxers, LaidOutFileTest,
                         testing::Combine(testing::ValuesIn(kProgramStreams), testing::Bool()), [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

INSTANTIATE_TEST_SUITE_P(ProgramStreamsInAMovie, LaidOutFileTest,
                         testing::Combine(testing::ValuesIn(kProgramStreamsInAMovie), testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

} // namespace
