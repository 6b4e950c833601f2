#include "SizeCalcFixture.h"
#include "formats/CarvingFormat.h"
#include "sizecalc/SizeCalculator.h"

#include <gtest/gtest.h>
#include <map>

using namespace std::string_literals;
using testsupport::asString;
using testsupport::be32;
using testsupport::imageWith;
using testsupport::sampleTone;
using testsupport::sampleVideo;
using testsupport::toolSample;

namespace {

constexpr std::uint64_t kSector = 37;
const std::vector<std::string_view> kOurKeys = {"mpg", "mp3", "mov", "mp4", "m4a", "m4b", "m4v", "3gp", "3g2"};
// An encoder of several threads codes a picture in slices of its own (one a thread): one thread, as on any machine.
const std::string kVideo =
    "ffmpeg -v error -f lavfi -i " + sampleVideo("size=320x240:rate=25:duration=3") + " -threads 1 ";
const std::string kSmallVideo =
    "ffmpeg -v error -f lavfi -i " + sampleVideo("size=176x144:rate=25:duration=3") + " -threads 1 -c:v h263 ";
const std::string kTone = "ffmpeg -v error -f lavfi -i sine=frequency=" + sampleTone(440) + ":duration=3 -threads 1 ";
const std::string kWav = "sox -n -r 44100 -c 1 \"$OUT.wav\" synth 3 sine " + sampleTone(440) + " && lame --silent ";
const std::string kMp4 = kVideo + "-c:v mpeg4 \"$OUT\"";
const std::string kM4a = kTone + "-c:a aac \"$OUT\"";

struct Sample {
    std::string_view key;
    std::string command;
    std::string extension;
    // What the walk measures beyond the file's last byte, by the format's
    // rule; the zero bytes behind the sample on the image end every walk.
    std::uint64_t beyondEnd;
};

// Box files: the boxes add up to the file, plus the 512-byte margin.
// Bare MP3: the last frame, 5 bytes that are no frame header, one sector.
// Tagged MP3: the last frame and the 50 bytes that are no frame header.
// Program stream: the last packet and the 101 zero bytes that end it.
// Video stream: up to and including its sequence end code.
const std::vector<Sample> kSamples = {
    {"mov", kVideo + "-c:v mpeg4 \"$OUT\"", "mov", 512},
    {"mp4", kMp4, "mp4", 512},
    {"mp4", kVideo + "-c:v mpeg4 -movflags +faststart \"$OUT\"", "mp4", 512},
    {"m4a", kM4a, "m4a", 512},
    {"m4b", kTone + "-c:a aac -brand 'M4B ' -f ipod \"$OUT\"", "m4b", 512},
    {"m4v", kVideo + "-c:v mpeg4 -f ipod \"$OUT\"", "m4v", 512},
    {"3gp", kSmallVideo + "\"$OUT\"", "3gp", 512},
    {"3g2", kSmallVideo + "\"$OUT\"", "3g2", 512},
    {"mp3", kWav + "\"$OUT.wav\" \"$OUT\"", "mp3", 5 + 512},
    {"mp3", kWav + "--resample 22.05 \"$OUT.wav\" \"$OUT\"", "mp3", 5 + 512},
    {"mp3", kWav + "--resample 8 -b 40 \"$OUT.wav\" \"$OUT\"", "mp3", 5 + 512},
    {"mp3", kTone + "-c:a libmp3lame \"$OUT\"", "mp3", 50},
    {"mpg", kVideo + "-f mpeg \"$OUT\"", "mpg", 101},
    {"mpg", kVideo + "-c:v mpeg1video -f mpeg1video \"$OUT\" && printf '\\000\\000\\001\\267' | tee -a \"$OUT\"", "m1v",
     0},
};

} // namespace

class StreamCalculatorsTest : public SizeCalcFixture {
protected:
    const std::string& sample(const std::string& command, const std::string& extension) {
        static std::map<std::string, std::string> made;
        auto [it, fresh] = made.try_emplace(extension + ":" + command);
        if (fresh) it->second = toolSample(command, extension);
        return it->second;
    }
};

TEST_F(StreamCalculatorsTest, EachToolSampleIsTakenByItsOwnCalculatorAndMeasuredByItsFormatsRule) {
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.command);
        const std::string& bytes = sample(s.command, s.extension);
        const auto image = imageWith(bytes, kSector);
        EXPECT_EQ(acceptedBy(image, kSector, kOurKeys), std::vector<std::string_view>{s.key});
        const auto hit = measureWithEveryFormat(image, kSector);
        const CarvingContext& context = *contexts.back();
        ASSERT_TRUE(hit);
        EXPECT_EQ(hit.calculator->parentKey(), s.key);
        EXPECT_EQ(hit.size, bytes.size() + s.beyondEnd);
        // Streams hold no other file; box files may.
        EXPECT_EQ(context.skipCarvedFileBlocks, s.key == "mp3" || s.key == "mpg");
    }
}

TEST_F(StreamCalculatorsTest, OtherFormatsAndEmptySectorsAreRefused) {
    for (const auto& [command, extension] : std::vector<std::pair<std::string, std::string>>{
             {"convert -size 64x64 plasma:fractal \"$OUT\"", "png"},
             {"convert -size 64x64 plasma:fractal \"$OUT\"", "jpg"},
             {"sox -n -r 8000 -c 1 \"$OUT\" synth 1 sine " + sampleTone(440), "wav"},
             // A picture in the movies' boxes is its own type's, not a movie's.
             {"convert -size 64x64 plasma:fractal \"$OUT\"", "heic"},
             {"convert -size 64x64 plasma:fractal \"$OUT\"", "avif"},
             {kSmallVideo + "-c:v mpeg4 -f avi \"$OUT\"", "avi"}}) {
        SCOPED_TRACE(command);
        EXPECT_TRUE(acceptedBy(imageWith(sample(command, extension), kSector), kSector, kOurKeys).empty());
    }
    EXPECT_TRUE(acceptedBy(imageWith(std::string(4096, '\0'), kSector), kSector, kOurKeys).empty());
}

// A second file right behind an MP4 is not swallowed; M4A walks go on.
TEST_F(StreamCalculatorsTest, AnFtypBoxEndsOnlyTheMp4Walk) {
    const std::string& mp4 = sample(kMp4, "mp4");
    const std::string& m4a = sample(kM4a, "m4a");
    EXPECT_EQ(measureAt(imageWith(mp4 + mp4, kSector), kSector, {"mp4"}).size, mp4.size() + 512);
    EXPECT_EQ(measureAt(imageWith(m4a + m4a, kSector), kSector, {"m4a"}).size, 2 * m4a.size() + 512);
}

std::string box(std::string_view type, std::uint32_t size, std::size_t bodyBytes = 0) {
    return asString(be32(size)) + std::string(type) + std::string(bodyBytes, 'x');
}
std::string ftyp(const std::string& brand) {
    return box("ftyp", 16) + brand + std::string(4, '\0');
}

TEST_F(StreamCalculatorsTest, HostileBoxSizesEndWithEachFormatsRule) {
    // A 4 GiB mdat on a small device: MOV drops it, M4A adds the margin to
    // what came before, MP4 answers its cap.
    for (const auto& [brand, key, expected] : std::vector<std::tuple<std::string, std::string_view, std::uint64_t>>{
             {"qt  ", "mov", 16}, {"M4A ", "m4a", 16 + 512}, {"isom", "mp4", 62914560 + 512}}) {
        const auto image = imageWith(ftyp(brand) + box("mdat", 0xFFFFFFFF), kSector);
        EXPECT_EQ(measureAt(image, kSector, {key}).size, expected) << key;
    }
    // A box of size 0: MOV steps over its header, the others stop at it.
    const std::string tail = box("moov", 0) + box("mdat", 12000, 11992);
    EXPECT_EQ(measureAt(imageWith(ftyp("qt  ") + tail, kSector), kSector, {"mov"}).size, 16 + 8 + 12000 + 512);
    EXPECT_FALSE(measureAt(imageWith(ftyp("M4A ") + tail, kSector), kSector, {"m4a"}));
}

// MPEG-1 Layer III frames of 417 bytes (128 kbit/s, 44.1 kHz, no padding).
std::string frames(int count, char secondByte = '\xFB') {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += "\xFF"s + secondByte + "\x90\0"s + std::string(413, '\0');
    return out;
}

TEST_F(StreamCalculatorsTest, StreamsEndWhereTheirFramesOrPacketsStop) {
    // Frames that change their first two bytes end a tagged stream there.
    const std::string tag = "ID3\4\0\0\0\0\0\0"s;
    EXPECT_EQ(measureAt(imageWith(tag + frames(30) + frames(5, '\xFA'), kSector), kSector, {"mp3"}).size,
              10 + 30 * 417u);
    EXPECT_TRUE(contexts.back()->skipCarvedFileBlocks);
    // 10240 bytes or less is no file, and nothing is skipped.
    EXPECT_FALSE(measureAt(imageWith(frames(20), kSector), kSector, {"mp3"}));
    EXPECT_FALSE(contexts.back()->skipCarvedFileBlocks);
    // Packets go on 11620 bytes past a damaged stretch of a program stream.
    const std::string pack = "\0\0\1\xBA"s + std::string(8, '\x01');
    const std::string packet = "\0\0\1\xE0\x07\xD0"s + std::string(2000, '\xEE');
    const std::string damaged = pack + packet + std::string(11620, 'x') + packet;
    EXPECT_EQ(measureAt(imageWith(damaged, kSector), kSector, {"mpg"}).size, 12 + 2006 + 11620 + 2006 + 101u);
}

// A video stream its encoder ends with no end code: on zeros, measured to its
// last bytes (two of the zeros may count) and jumped over. Followed by other
// bytes: within the reach of its last start code, measured to the zeros behind
// them; past that reach (a picture's rows at most), to an estimate that holds
// it. Either way no jump goes past its last start code, so that a file in
// those bytes is looked at, whatever the stream's last bytes.
TEST_F(StreamCalculatorsTest, AVideoStreamWithNoEndCodeEndsAtTheZerosBehindItOrAtAnEstimateNotJumpedOver) {
    const std::string& stream = sample(kVideo + "-c:v mpeg1video -f mpeg1video \"$OUT\"", "m1v");
    const std::string& random =
        sample("openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass pass:after-the-stream-" + testsupport::sampleSeed(0) +
                   " </dev/zero 2>/dev/null | head -c 262144 | tee \"$OUT\"",
               "bin");
    // A row of 320 pixels takes 15,360 bytes at the most: 8 KiB lie within any start code's reach, 256 KiB past a
    // 240-row picture's.
    for (const std::size_t after : {std::size_t{0}, std::size_t{8192}, random.size()}) {
        SCOPED_TRACE(after);
        const auto hit = measureAt(imageWith(stream + random.substr(0, after), kSector), kSector, {"mpg"});
        ASSERT_TRUE(hit);
        const CarvingContext& context = *contexts.back();
        EXPECT_GE(hit.size, stream.size());
        EXPECT_LE(hit.size, after == random.size() ? stream.size() + after : stream.size() + after + 2);
        EXPECT_EQ(context.skipCarvedFileBlocks, after != random.size());
        if (after != 0) {
            EXPECT_LE(context.checkedBytes.value_or(hit.size), stream.size());
        }
    }
}

TEST_F(StreamCalculatorsTest, HostileStreamHeadersEndPromptlyWithNoFile) {
    // A tag claiming more than 10 MiB, and one followed by no frame.
    EXPECT_FALSE(measureAt(imageWith("ID3\4\0\0\x7F\x7F\x7F\x7F"s, kSector), kSector, {"mp3"}));
    EXPECT_FALSE(measureAt(imageWith("ID3\4\0\0\0\0\1\0"s + std::string(20000, 'x'), kSector), kSector, {"mp3"}));
    // The largest picture lets 50 MB pass between start codes, but zeros
    // behind the last one end the stream there (two of them may be its
    // last bytes), and so short a stream is not jumped over.
    const std::string sequence = "\0\0\1\xB3\xFF\xFF\xFF\x13\xFF\xFF\xE0\x18\0\0\1\xB8"s;
    EXPECT_EQ(measureAt(imageWith(sequence, kSector), kSector, {"mpg"}).size, 16u + 2);
    EXPECT_FALSE(contexts.back()->skipCarvedFileBlocks);
}
