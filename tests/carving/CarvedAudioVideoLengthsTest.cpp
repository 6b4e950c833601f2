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

std::uint32_t le32At(const std::string& bytes, std::size_t at) {
    return std::uint32_t{std::uint8_t(bytes[at + 3])} << 24 | std::uint8_t(bytes[at + 2]) << 16 |
           std::uint8_t(bytes[at + 1]) << 8 | std::uint8_t(bytes[at]);
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

// An APE tag as taggers write it after the last frame: header, a title and a front cover as items, footer. An APEv1
// tag (version 1000) has no header, and an APEv2 tag (2000) may leave it out; its footer then says it has none.
std::string apeTag(std::uint32_t version = 2000, bool withHeader = true) {
    const std::string cover = toolSample("convert -seed " + sampleSeed(71) + " -size 240x240 plasma: \"$OUT\"", "jpg");
    const std::string picture = std::string("cover.jpg") + '\0' + cover;
    const std::string items = le32(4) + le32(0) + "Title" + '\0' + "Memo" +
                              le32(static_cast<std::uint32_t>(picture.size())) + le32(2) + "Cover Art (Front)" + '\0' +
                              picture;
    const auto frame = [&](std::uint32_t flags) {
        return "APETAGEX" + le32(version) + le32(static_cast<std::uint32_t>(items.size() + 32)) + le32(2) +
               le32(flags) + std::string(8, '\0');
    };
    return withHeader ? frame(0xA0000000) + items + frame(0x80000000) : items + frame(0);
}

// A Lyrics3 v2 tag: "LYRICSBEGIN", fields of a three-letter name, a five-digit length and the data, then the length
// of all that in six digits and "LYRICS200".
std::string lyrics3Tag() {
    const auto digits = [](std::size_t value, int width) {
        std::string text = std::to_string(value);
        return std::string(static_cast<std::size_t>(width) - text.size(), '0') + text;
    };
    const auto field = [&](const std::string& name, const std::string& data) {
        return name + digits(data.size(), 5) + data;
    };
    std::string lyrics;
    for (int line = 0; line < 40; ++line)
        lyrics += "[00:" + digits(static_cast<std::size_t>(line), 2) + "]A line of the song, sung at its time\r\n";
    const std::string fields = "LYRICSBEGIN" + field("IND", "11") + field("ETT", "Song") + field("LYR", lyrics);
    return fields + digits(fields.size(), 6) + "LYRICS200";
}

// An ID3v1 tag: "TAG", title, artist, album, year, comment and genre, 128 bytes.
std::string id3v1Tag() {
    const auto text = [](const std::string& value, std::size_t width) {
        return value + std::string(width - value.size(), '\0');
    };
    return "TAG" + text("Song", 30) + text("Band", 30) + text("Album", 30) + "2024" + text("", 30) + '\x0C';
}

// A WAV that `command` writes, with its RIFF length and its data chunk's length left at 0.
std::string withLengthsLeftAtZero(const std::string& command) {
    std::string wav = toolSample(command, "wav");
    std::size_t chunk = 12;
    while (chunk + 8 <= wav.size() && wav.compare(chunk, 4, "data"))
        chunk += 8 + le32At(wav, chunk + 4) + (le32At(wav, chunk + 4) & 1);
    if (chunk + 8 > wav.size()) {
        ADD_FAILURE() << "no data chunk";
        return "";
    }
    return wav.replace(4, 4, le32(0)).replace(chunk + 4, 4, le32(0));
}

enum class Tags { None, Id3v1, Id3v2AndId3v1 };

constexpr std::size_t kFrameBytes = 384;
constexpr std::size_t kFrameSamples = 1152;

// The bytes of a track before its frames (an ID3v2 tag, by its synchsafe size) and after them (an ID3v1 tag).
std::size_t bytesAround(const std::string& mp3) {
    std::size_t head = 0;
    if (mp3.starts_with("ID3") && mp3.size() >= 10) {
        for (std::size_t i = 6; i < 10; ++i)
            head = head << 7 | (std::uint8_t(mp3[i]) & 0x7F);
        head += 10;
    }
    return head + (mp3.size() >= 128 && mp3.compare(mp3.size() - 128, 3, "TAG") == 0 ? 128 : 0);
}

// A track of a few seconds as lame writes it at 48 kHz and 128 kbit/s, with these tags, its length a multiple of 512
// or not: its frames are 384 bytes long, so of four lengths in a row one ends on a sector when the bytes around the
// frames are a multiple of 128, which the ID3v2 tag's padding makes them.
std::string track(unsigned number, Tags tags, bool onASector) {
    const auto encode = [&](std::size_t samples, std::size_t padding) {
        const std::string options = tags == Tags::None ? ""
                                    : tags == Tags::Id3v1
                                        ? "--id3v1-only --tt Song "
                                        : "--tt Song --pad-id3v2-size " + std::to_string(padding) + " ";
        return toolSample("sox -n -r 48000 -c 2 \"$OUT.wav\" synth " + std::to_string(samples) + "s sine " +
                              sampleTone(300 + 40 * number) + " && lame --quiet -b 128 " + options +
                              "\"$OUT.wav\" \"$OUT\"",
                          "mp3");
    };
    const std::size_t samples = 48000 * (2 + number % 3) + 7919 * number;
    std::string mp3 = encode(samples, 0);
    const std::size_t padding = (128 - bytesAround(mp3) % 128) % 128;
    if (padding != 0) mp3 = encode(samples, padding);
    const std::size_t around = bytesAround(mp3);
    std::size_t more = 0;
    while (more < 4 && ((mp3.size() + more * kFrameBytes) % 512 == 0) != onASector)
        ++more;
    if (more != 0) mp3 = encode(samples + more * kFrameSamples, padding);
    if (around % 128 != 0 || (mp3.size() - around) % kFrameBytes != 0 || (mp3.size() % 512 == 0) != onASector)
        ADD_FAILURE() << "track " << number << " of " << mp3.size() << " bytes, " << around
                      << " of them around its frames, does not end as asked";
    return mp3;
}

struct Case {
    const char* name;
    // The type marked for the carving.
    const char* extension;
    std::string (*make)();
    // How far past the file's own end the carving's measure may reach: its margin, and for an MP3 the bytes its
    // walk looked at for another frame.
    std::uint64_t margin;
    // How far the plain search's may reach; none for a type it does not find (its list has no row for MPEG-2.5
    // frames) or measures otherwise.
    std::optional<std::uint64_t> searchedMargin = std::nullopt;
    // The disk's size: large enough for the file and the photos.
    std::uint64_t diskBytes = 8 << 20;
    // Listed whole, not marked Bad, by both searches.
    bool whole = false;
};

constexpr std::uint64_t kToTheDisksEnd = UINT64_MAX;

std::string lameMp3(const std::string& options) {
    return toolSample(tone("4") + "lame --quiet " + options + "\"$OUT.wav\" \"$OUT\"", "mp3");
}
std::string ffmpegMp3(const std::string& options) {
    return toolSample(tone("4") + "ffmpeg -v error -i \"$OUT.wav\" -threads 1 " + options + " \"$OUT\"", "mp3");
}
// The plain search's walk may take the bytes after a stream's last frame for one more frame, of 1729 bytes at the most.
constexpr std::uint64_t kOneFrameMore = 1729;

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
    // length there, in both searches.
    {"WavWrittenThroughAPipe", "wav",
     [] { return toolSample(tone("3") + "ffmpeg -v error -i \"$OUT.wav\" -threads 1 -f wav - | tee \"$OUT\"", "wav"); },
     511, 511},
    {"WavWhoseRiffLengthWasNeverWritten", "wav",
     [] { return toolSample(tone("3") + "mv \"$OUT.wav\" \"$OUT\"", "wav").replace(4, 4, "\xFF\xFF\xFF\xFF"); }, 0, 0},
    {"WavWhoseRiffLengthIsZero", "wav",
     [] { return toolSample(tone("3") + "mv \"$OUT.wav\" \"$OUT\"", "wav").replace(4, 4, le32(0)); }, 0, 0},
    // A recorder that writes its header first and died before closing it left its lengths at 0.
    {"WavWhoseRiffAndDataLengthsAreZero", "wav",
     [] { return withLengthsLeftAtZero(tone("3") + "mv \"$OUT.wav\" \"$OUT\""); }, 511, 511},
    // MP3: a tagged walk looks 50 bytes past the last frame or tag, a bare one 5 bytes and a sector; the plain
    // search's walk ends at the last tag, or at the last frame.
    {"Mp3WithAnId3v1TagFromFfmpeg", "mp3",
     [] {
         return toolSample(
             tone("4") + "ffmpeg -v error -i \"$OUT.wav\" -threads 1 -write_id3v1 1 -metadata title=T \"$OUT\"", "mp3");
     },
     50, 0},
    {"Mp3WithAnId3v1TagFromLame", "mp3",
     [] { return toolSample(tone("4") + "lame --quiet --add-id3v2 --tt Song \"$OUT.wav\" \"$OUT\"", "mp3"); }, 50, 0},
    {"Mp3WithAnApeTagHoldingCoverArt", "mp3",
     [] {
         return toolSample(tone("4") + "lame --quiet --tt Song --id3v2-only \"$OUT.wav\" \"$OUT\"", "mp3") + apeTag();
     },
     50, 0},
    {"BareMp3WithAnApeTagAndAnId3v1Tag", "mp3",
     [] {
         return toolSample(tone("4") + "lame --quiet \"$OUT.wav\" \"$OUT\"", "mp3") + apeTag() + "TAG" +
                std::string(125, ' ');
     },
     517, 0},
    // The tags a tagger writes after the last frame, before an ID3v1 tag, are the file's own: an APE tag with or
    // without its header (APEv1 has none, APEv2 may leave it out), a Lyrics3 v2 tag, or both.
    {"BareMp3WithAnApeV2TagWithoutItsHeaderAndAnId3v1Tag", "mp3",
     [] { return lameMp3("") + apeTag(2000, false) + id3v1Tag(); }, 517, 0, 8 << 20, true},
    {"Mp3WithAnApeV1TagAndAnId3v1Tag", "mp3",
     [] { return ffmpegMp3("-metadata title=T") + apeTag(1000, false) + id3v1Tag(); }, 50, 0, 8 << 20, true},
    {"Mp3WithAnApeV2TagWithItsHeaderAndAnId3v1Tag", "mp3",
     [] { return ffmpegMp3("-metadata title=T") + apeTag(2000, true) + id3v1Tag(); }, 50, 0, 8 << 20, true},
    {"Mp3WithALyrics3TagAndAnId3v1Tag", "mp3",
     [] { return lameMp3("--tt Song --id3v2-only ") + lyrics3Tag() + id3v1Tag(); }, 50, 0, 8 << 20, true},
    {"BareMp3WithAnApeTagWithoutItsHeaderALyrics3TagAndAnId3v1Tag", "mp3",
     [] { return ffmpegMp3("-id3v2_version 0") + apeTag(2000, false) + lyrics3Tag() + id3v1Tag(); }, 517, 0, 8 << 20,
     true},
    {"Mpeg2Layer3WithCrcAfterAnId3v2Tag", "mp3",
     [] {
         return toolSample(tone("4") + "lame --quiet -p -m m --resample 22.05 -b 64 --tt Memo --id3v2-only " +
                               "\"$OUT.wav\" \"$OUT\"",
                           "mp3");
     },
     50, 0},
    {"BareMpeg25Layer3WithCrc", "mp3",
     [] { return toolSample(tone("8") + "lame --quiet -p -m m --resample 8 -b 16 \"$OUT.wav\" \"$OUT\"", "mp3"); },
     517},
    // Two tracks joined into one file (as cat joins them): the second's header frame lies inside a sector, where no
    // other file can begin.
    {"TwoTracksJoinedIntoOneFile", "mp3", [] { return track(0, Tags::None, false) + track(1, Tags::None, false); }, 517,
     kOneFrameMore},
    {"UntaggedFiveMinuteMp3At320kbps", "mp3",
     [] {
         return toolSample("sox -n -r 44100 -c 1 \"$OUT.wav\" synth 300 sine " + sampleTone(440) +
                               " && lame --quiet -b 320 \"$OUT.wav\" \"$OUT\"",
                           "mp3");
     },
     517, kOneFrameMore, 24 << 20},
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

const char* const kSearches[] = {"the plain search", "the carving"};

class AudioVideoSearchTest : public testsupport::ScanFixture {
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
    // The plain search (method 0) or the carving (1) of the whole disk with the types of these extensions marked.
    std::multimap<std::uint64_t, testsupport::SearchedFile>
    search(const fs::path& image, const std::set<std::string>& extensions, int method) {
        return searchedDisk(image,
                            method == 0 ? testsupport::fileListTypes(DRENTIC_FILE_TYPE_TABLE, extensions)
                                        : testsupport::markedTypes(DRENTIC_FILE_TYPE_TABLE, extensions),
                            method);
    }
    // A file found at the planted one's sector beginning with its bytes, and up to `margin` bytes longer; not marked
    // Bad when it is to be whole.
    static void expectMeasured(const std::multimap<std::uint64_t, testsupport::SearchedFile>& found,
                               const Planted& file, std::uint64_t margin, const std::string& what, bool whole = false) {
        const auto [from, to] = found.equal_range(file.sector);
        std::string there;
        bool measured = false;
        for (auto it = from; it != to; ++it) {
            const std::string& bytes = it->second.bytes;
            measured = measured || (bytes.starts_with(file.bytes) && bytes.size() - file.bytes.size() <= margin &&
                                    !(whole && it->second.bad));
            there += " " + std::to_string(bytes.size()) + (it->second.bad ? " (Bad)" : "");
        }
        EXPECT_TRUE(measured) << what << ": a file of " << file.bytes.size() << " bytes, up to "
                              << (margin == kToTheDisksEnd ? "the disk's end" : std::to_string(margin) + " more")
                              << ", at sector " << file.sector
                              << "; found there:" << (there.empty() ? " nothing" : there);
    }

    static inline std::string missing_;
};

class CarvedAudioVideoLengthsTest : public AudioVideoSearchTest,
                                    public testing::WithParamInterface<std::tuple<std::size_t, bool>> {
protected:
    // The case's file, made once for the zeros and the random bytes.
    static const std::string& sample(std::size_t row) {
        static std::map<std::size_t, std::string> made;
        auto [it, fresh] = made.try_emplace(row);
        if (fresh) it->second = kCases[row].make();
        return it->second;
    }
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

    for (const int method : {0, 1}) {
        if (method == 0 && !c.searchedMargin) continue;
        const auto found = search(image, {c.extension, "jpg"}, method);
        expectMeasured(found, planted, method == 1 ? c.margin : *c.searchedMargin, kSearches[method], c.whole);
        for (const Planted* p : {&first, &second})
            expectMeasured(found, *p, kToTheDisksEnd, std::string(kSearches[method]) + ": the photo");
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, CarvedAudioVideoLengthsTest,
                         testing::Combine(testing::Range<std::size_t>(0, kCases.size()), testing::Bool()),
                         [](const auto& info) {
                             return std::string(kCases[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

// Albums of tracks, each at the sector after the one before: the even tracks end on a sector, so the next begins right
// behind their last byte, its header frame (one holding a "Xing" or "Info" header) first. Both searches find each
// track at its sector, measured to its own end or its margin past it, and the photos after the album.
constexpr unsigned kTracks = 8;

struct Album {
    const char* name;
    Tags (*tags)(unsigned track);
};

const std::vector<Album> kAlbums = {
    {"Untagged", [](unsigned) { return Tags::None; }},
    {"WithId3v1Tags", [](unsigned) { return Tags::Id3v1; }},
    {"WithId3v2AndId3v1TagsBetweenUntaggedTracks",
     [](unsigned track) { return track % 2 ? Tags::None : Tags::Id3v2AndId3v1; }},
};

class AlbumTest : public AudioVideoSearchTest, public testing::WithParamInterface<std::tuple<std::size_t, bool>> {};

TEST_P(AlbumTest, EachTrackIsFoundAtItsSectorToItsOwnEndAndThePhotosAfterItAreFound) {
    const auto [row, random] = GetParam();
    std::vector<Planted> planted;
    std::vector<Tags> tags;
    for (unsigned i = 0; i < kTracks; ++i) {
        tags.push_back(kAlbums[row].tags(i));
        planted.push_back({track(i, tags.back(), i % 2 == 0), planted.empty() ? 2048 : planted.back().end()});
    }
    const Planted first{photo(83, "640x480"), planted.back().end()};
    const Planted second{photo(84, "320x240"), first.end() + 3};
    const fs::path image = testsupport::filledImage(random, "album");
    planted.insert(planted.end(), {first, second});
    for (const Planted& p : planted)
        testsupport::writeAt(image, p.sector * 512, {p.bytes.begin(), p.bytes.end()});

    for (const int method : {0, 1}) {
        const auto found = search(image, {"mp3", "jpg"}, method);
        for (std::size_t i = 0; i < planted.size(); ++i) {
            // The walks look past a track as in the table above.
            const std::uint64_t margin = i >= kTracks                     ? kToTheDisksEnd
                                         : method == 0                    ? (tags[i] == Tags::None ? kOneFrameMore : 0)
                                         : tags[i] == Tags::Id3v2AndId3v1 ? 50
                                                                          : 517;
            expectMeasured(found, planted[i], margin,
                           std::string(kSearches[method]) +
                               (i < kTracks ? ": track " + std::to_string(i) : ": a photo"));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(OnZerosAndRandomBytes, AlbumTest,
                         testing::Combine(testing::Range<std::size_t>(0, kAlbums.size()), testing::Bool()),
                         [](const auto& info) {
                             return std::string(kAlbums[std::get<0>(info.param)].name) +
                                    (std::get<1>(info.param) ? "OnRandomBytes" : "OnZeros");
                         });

} // namespace
