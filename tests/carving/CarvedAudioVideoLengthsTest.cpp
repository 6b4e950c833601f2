#include "scan/ScanThread.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace fs = std::filesystem;
using platform::Array;
using testsupport::sampleSeed;
using testsupport::sampleTone;
using testsupport::toolSample;

namespace {

// Movies, sounds and tunes as today's tools and devices write them, each at sector 2048 of a disk of zeros or of
// random bytes with two photos after it: the carving measures each from its own length to no further than its
// format's margin past it, and finds the photos whole at their sectors.

std::string le32(std::uint32_t v) {
    std::vector<std::uint8_t> bytes(4);
    testsupport::putLE(bytes, 0, v, 4);
    return testsupport::asString(bytes);
}

std::uint32_t be32At(const std::string& bytes, std::size_t at) {
    return std::uint32_t{std::uint8_t(bytes[at])} << 24 | std::uint8_t(bytes[at + 1]) << 16 |
           std::uint8_t(bytes[at + 2]) << 8 | std::uint8_t(bytes[at + 3]);
}

// A source sound of the variant's tones, as sox writes it; the command that follows reads "$OUT.wav".
std::string tone(const std::string& seconds, unsigned hertz = 440) {
    return "sox -n -r 44100 -c 2 \"$OUT.wav\" synth " + seconds + " sine " + sampleTone(hertz) + " sine " +
           sampleTone(hertz * 3 / 2) + " && ";
}

std::string movieCommand(const std::string& options) {
    return "ffmpeg -v error -f lavfi -i " + testsupport::sampleVideo("size=320x240:rate=25:duration=3") +
           " -f lavfi -i sine=frequency=" + sampleTone(440) + ":duration=3 -threads 1 -c:v mpeg4 -c:a aac " + options +
           " \"$OUT\"";
}

// The movie decodes whole, as a player plays it.
std::string playable(const std::string& movie, const std::string& extension) {
    const fs::path path = testsupport::makeTempDir("movie") / ("movie." + extension);
    testsupport::writeText(path, movie);
    EXPECT_TRUE(testsupport::runCommand("ffmpeg -v error -xerror -i " + testsupport::shellQuote(path.string()) +
                                        " -f null - 2>&1"))
        << "the movie does not play";
    return movie;
}

// A movie as ffmpeg writes it past 4 GiB: its 8-byte placeholder atom and the media data's 32-bit header become
// one header with a 64-bit size, so its samples stay where its tables put them.
std::string withWideMediaData(const std::string& extension) {
    std::string movie = toolSample(movieCommand("-f " + extension), extension);
    const std::size_t placeholder = be32At(movie, 0);
    if (movie.size() < placeholder + 16 || be32At(movie, placeholder) != 8 ||
        movie.compare(placeholder + 12, 4, "mdat")) {
        ADD_FAILURE() << "no placeholder before the media data";
        return "";
    }
    const std::uint64_t size = be32At(movie, placeholder + 8) + 8ull;
    std::vector<std::uint8_t> header(16);
    testsupport::putBE(header, 0, 1, 4);
    testsupport::putBE(header, 8, size, 8);
    movie.replace(placeholder, 16, testsupport::asString(header).replace(4, 4, "mdat"));
    return playable(movie, extension);
}

// A movie whose media data and movie header have an atom of a type no list of top-level atoms holds between them.
std::string withUnlistedAtom() {
    std::string movie = toolSample(movieCommand("-f mp4"), "mp4");
    std::size_t at = 0;
    while (at + 8 <= movie.size() && movie.compare(at + 4, 4, "moov") && be32At(movie, at) >= 8)
        at += be32At(movie, at);
    if (at + 8 > movie.size() || movie.compare(at + 4, 4, "moov")) {
        ADD_FAILURE() << "no movie header after the media data";
        return "";
    }
    return playable(movie.insert(at, testsupport::asString(testsupport::be32(100)) + "Xtra" + std::string(92, 'x')),
                    "mp4");
}

// A movie with free space after it whose last atom's header begins 4 bytes before a multiple of 64 KiB.
std::string withHeaderAcrossAWindowsEnd() {
    std::string movie = toolSample(movieCommand("-movflags +faststart -f mp4"), "mp4");
    const std::size_t header = (movie.size() + 8 + 4 + 65535) / 65536 * 65536 - 4;
    for (const std::size_t size : {header - movie.size(), std::size_t{4000}})
        movie += testsupport::asString(testsupport::be32(static_cast<std::uint32_t>(size))) + "free" +
                 std::string(size - 8, '\0');
    return movie;
}

// Chunks an AIFF from an Apple loop library carries before its sound: its beats and key, its transients (of odd
// length, so a pad byte follows) and its categories.
std::string appleLoop() {
    std::string aif = toolSample(tone("2") + "sox \"$OUT.wav\" -c 1 \"$OUT\"", "aif");
    const auto chunk = [](const std::string& id, const std::string& body) {
        return id + testsupport::asString(testsupport::be32(static_cast<std::uint32_t>(body.size()))) + body +
               (body.size() % 2 ? std::string(1, '\0') : "");
    };
    const std::string loop = chunk("basc", std::string(84, '\1')) + chunk("trns", std::string(95, '\2')) +
                             chunk("cate", std::string(50, 'c'));
    aif.insert(12, loop);
    return aif.replace(4, 4, testsupport::asString(testsupport::be32(static_cast<std::uint32_t>(aif.size() - 8))));
}

// An APEv2 tag as taggers write it after the last frame: header, a title and a front cover as items, footer.
std::string apeTag() {
    const std::string cover = toolSample("convert -seed " + sampleSeed(71) + " -size 240x240 plasma: \"$OUT\"", "jpg");
    const std::string picture = std::string("cover.jpg") + '\0' + cover;
    const std::string items = le32(4) + le32(0) + "Title" + '\0' + "Memo" +
                              le32(static_cast<std::uint32_t>(picture.size())) + le32(2) + "Cover Art (Front)" + '\0' +
                              picture;
    const auto frame = [&](std::uint32_t flags) {
        return "APETAGEX" + le32(2000) + le32(static_cast<std::uint32_t>(items.size() + 32)) + le32(2) + le32(flags) +
               std::string(8, '\0');
    };
    return frame(0xA0000000) + items + frame(0x80000000);
}

struct Case {
    const char* name;
    // The type marked for the carving.
    const char* extension;
    std::string (*make)();
    // How far past the file's own end the carving's measure may reach: its margin, and for an MP3 the bytes its
    // walk looked at for another frame.
    std::uint64_t margin;
    // The disk's size: large enough for the file and the photos.
    std::uint64_t diskBytes = 8 << 20;
};

const std::vector<Case> kCases = {
    // Top-level atoms.
    {"Mp4WhoseMediaDataHasA64BitSize", "mp4", [] { return withWideMediaData("mp4"); }, 512},
    {"MovWhoseMediaDataHasA64BitSize", "mov", [] { return withWideMediaData("mov"); }, 512},
    {"FragmentedMp4", "mp4",
     [] { return playable(toolSample(movieCommand("-movflags frag_keyframe+empty_moov -f mp4"), "mp4"), "mp4"); }, 512},
    {"Mp4WithAnAtomOfAnUnlistedType", "mp4", withUnlistedAtom, 512},
    {"Mp4WithAnAtomHeaderAcrossAWindowsEnd", "mp4", withHeaderAcrossAWindowsEnd, 512},
    // AIFF chunks: the walk measures the chunks after the 12-byte FORM header, then its margin.
    {"AiffWithANameChunk", "aif",
     [] {
         return toolSample(tone("3") + "ffmpeg -v error -i \"$OUT.wav\" -threads 1 -metadata title=T -f aiff \"$OUT\"",
                           "aif");
     },
     500},
    {"SixChannelAiffWithAChannelLayout", "aif",
     [] { return toolSample(tone("2") + "ffmpeg -v error -i \"$OUT.wav\" -threads 1 -ac 6 -f aiff \"$OUT\"", "aif"); },
     500},
    {"AiffWithAppleLoopChunksFirst", "aif", appleLoop, 500},
    {"AiffWithTagsAndCoverArtAfterItsSound", "aif",
     [] {
         return toolSample(
             tone("3") + "convert -seed " + sampleSeed(72) + " -size 200x200 plasma: \"$OUT.jpg\" && " +
                 "ffmpeg -v error -i \"$OUT.wav\" -i \"$OUT.jpg\" -map 0 -map 1 -c:v copy " +
                 "-threads 1 -disposition:v attached_pic -write_id3v2 1 -metadata title=T -f aiff \"$OUT\"",
             "aif");
     },
     500},
    // WAV: a header ffmpeg could not go back to ends where the next file begins, one whose data chunk holds its
    // length there.
    {"WavWrittenThroughAPipe", "wav",
     [] { return toolSample(tone("3") + "ffmpeg -v error -i \"$OUT.wav\" -threads 1 -f wav - | tee \"$OUT\"", "wav"); },
     511},
    {"WavWhoseRiffLengthWasNeverWritten", "wav",
     [] { return toolSample(tone("3") + "mv \"$OUT.wav\" \"$OUT\"", "wav").replace(4, 4, "\xFF\xFF\xFF\xFF"); }, 0},
    // MP3: a tagged walk looks 50 bytes past the last frame or tag, a bare one 5 bytes and a sector.
    {"Mp3WithAnId3v1TagFromFfmpeg", "mp3",
     [] {
         return toolSample(
             tone("4") + "ffmpeg -v error -i \"$OUT.wav\" -threads 1 -write_id3v1 1 -metadata title=T \"$OUT\"", "mp3");
     },
     50},
    {"Mp3WithAnId3v1TagFromLame", "mp3",
     [] { return toolSample(tone("4") + "lame --quiet --add-id3v2 --tt Song \"$OUT.wav\" \"$OUT\"", "mp3"); }, 50},
    {"Mp3WithAnApeTagHoldingCoverArt", "mp3",
     [] {
         return toolSample(tone("4") + "lame --quiet --tt Song --id3v2-only \"$OUT.wav\" \"$OUT\"", "mp3") + apeTag();
     },
     50},
    {"BareMp3WithAnApeTagAndAnId3v1Tag", "mp3",
     [] {
         return toolSample(tone("4") + "lame --quiet \"$OUT.wav\" \"$OUT\"", "mp3") + apeTag() + "TAG" +
                std::string(125, ' ');
     },
     517},
    {"Mpeg2Layer3WithCrcAfterAnId3v2Tag", "mp3",
     [] {
         return toolSample(tone("4") + "lame --quiet -p -m m --resample 22.05 -b 64 --tt Memo --id3v2-only " +
                               "\"$OUT.wav\" \"$OUT\"",
                           "mp3");
     },
     50},
    {"BareMpeg25Layer3WithCrc", "mp3",
     [] { return toolSample(tone("8") + "lame --quiet -p -m m --resample 8 -b 16 \"$OUT.wav\" \"$OUT\"", "mp3"); },
     517},
    {"UntaggedFiveMinuteMp3At320kbps", "mp3",
     [] {
         return toolSample("sox -n -r 44100 -c 1 \"$OUT.wav\" synth 300 sine " + sampleTone(440) +
                               " && lame --quiet -b 320 \"$OUT.wav\" \"$OUT\"",
                           "mp3");
     },
     517, 24 << 20},
    // MIDI: all announced tracks, no margin.
    {"ThreeTrackRingtone", "mid",
     [] {
         // A tempo track and two voices, as abc2midi writes them.
         return toolSample("printf 'X:1\\nT:Ring\\nM:4/4\\nL:1/16\\nQ:1/4=150\\nK:A\\nV:1\\n|:e^de^d eBdc A4:|\\nV:2\\n"
                           "|:A,4 E,4 A,4 E,4:|\\n' >\"$OUT.abc\" && abc2midi \"$OUT.abc\" -o \"$OUT\"",
                           "mid");
     },
     0},
};

std::string photo(unsigned seed, const std::string& size) {
    return toolSample("convert -seed " + sampleSeed(seed) + " -size " + size + " plasma: \"$OUT\"", "jpg");
}

struct Planted {
    std::string bytes;
    std::uint64_t sector = 0;
    std::uint64_t end() const { return sector + (bytes.size() + 511) / 512; }
};

class CarvedAudioVideoLengthsTest : public testsupport::ScanFixture,
                                    public testing::WithParamInterface<std::tuple<std::size_t, bool>> {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"convert", "sox", "lame", "ffmpeg", "abc2midi"})
            if (!testsupport::haveTool(tool)) missing_ = tool;
        if (missing_.empty() && !testsupport::runCommand("/usr/bin/python3 -c 'import mido'"))
            missing_ = "python3-mido";
    }
    void SetUp() override {
        ScanFixture::SetUp();
        if (!missing_.empty()) GTEST_SKIP() << missing_ << " is missing (./dev.sh installs it)";
    }
    // The case's file, made once for the zeros and the random bytes.
    static const std::string& sample(std::size_t row) {
        static std::map<std::size_t, std::string> made;
        auto [it, fresh] = made.try_emplace(row);
        if (fresh) it->second = kCases[row].make();
        return it->second;
    }
    // The carving of the whole disk with the types of these extensions marked.
    std::multimap<std::uint64_t, testsupport::SearchedFile> carve(const fs::path& image,
                                                                  const std::set<std::string>& extensions) {
        return searchedDisk(image, testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, extensions), 1);
    }

    static inline std::string missing_;
};

TEST_P(CarvedAudioVideoLengthsTest, IsMeasuredFromItsOwnLengthToItsMarginAndThePhotosAfterItAreFound) {
    const auto [row, random] = GetParam();
    const Case& c = kCases[row];
    const std::string& file = sample(row);
    ASSERT_FALSE(file.empty());
    const Planted planted{file, 2048};
    // One photo in the sector right after the file, one three sectors after that.
    const Planted first{photo(81, "640x480"), planted.end()};
    const Planted second{photo(82, "320x240"), first.end() + 3};
    const fs::path image = testsupport::filledImage(random, "audio-video-lengths", c.diskBytes);
    for (const Planted* p : {&planted, &first, &second})
        testsupport::writeAt(image, p->sector * 512, {p->bytes.begin(), p->bytes.end()});

    const auto found = carve(image, {c.extension, "jpg"});
    const auto [from, to] = found.equal_range(planted.sector);
    std::string there;
    bool measured = false;
    for (auto it = from; it != to; ++it) {
        measured =
            measured || (it->second.bytes.starts_with(file) && it->second.bytes.size() <= file.size() + c.margin);
        there += " " + std::to_string(it->second.bytes.size());
    }
    EXPECT_TRUE(measured) << "a file of " << file.size() << " bytes, up to " << c.margin
                          << " more, at its sector; found there:" << (there.empty() ? " nothing" : there);
    for (const Planted* p : {&first, &second}) {
        const auto [at, end] = found.equal_range(p->sector);
        EXPECT_TRUE(std::any_of(at, end, [&](const auto& f) { return f.second.bytes.starts_with(p->bytes); }))
            << "the photo at sector " << p->sector << " is not found whole";
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, CarvedAudioVideoLengthsTest,
                         testing::Combine(testing::Range<std::size_t>(0, kCases.size()), testing::Bool()),
                         [](const auto& info) {
                             return std::string(kCases[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

} // namespace
