#include "RecogniserFixture.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>

using testsupport::imageWith;
using testsupport::putBE;
using testsupport::sampleTone;
using testsupport::sampleVideo;
using testsupport::toolSample;

using namespace std::string_literals;

namespace {

const std::string kVideo =
    "ffmpeg -v error -f lavfi -i " + sampleVideo("size=64x48:rate=25:duration=1") + " -threads 1 ";
const std::string kSmallVideo =
    "ffmpeg -v error -f lavfi -i " + sampleVideo("size=176x144:rate=25:duration=1") + " -threads 1 -c:v h263 ";
const std::string kTone = "ffmpeg -v error -f lavfi -i sine=frequency=" + sampleTone(440) + ":duration=1 -threads 1 ";
const std::string kWav = "sox -n -r 44100 -c 1 \"$OUT.wav\" synth 1 sine " + sampleTone(440) + " && lame --quiet ";
const std::string kEndCode = " && printf '\\000\\000\\001\\267' | tee -a \"$OUT\"";
const std::string kMidi = "/usr/bin/python3 -c \"import mido,sys; m=mido.MidiFile(); t=mido.MidiTrack(); "
                          "m.tracks.append(t); t.append(mido.Message('note_on',note=60)); "
                          "t.append(mido.Message('note_off',note=60,time=480)); m.save(sys.argv[1])\" \"$OUT\"";

std::uint64_t le32At(const std::string& bytes, std::size_t at) {
    std::uint64_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return v;
}

// Frames of MPEG-2 Layer I at 256 kbit/s and 24 kHz: 512 bytes, one sector each.
std::string sectorFrames(int count) {
    std::string frame(512, '\x55');
    frame.replace(0, 4, "\xFF\xF7\xE4\x00", 4);
    std::string out;
    for (int i = 0; i < count; ++i)
        out += frame;
    return out;
}

std::string be(std::uint64_t value, int width) {
    std::vector<std::uint8_t> bytes(width);
    putBE(bytes, 0, value, width);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

class AudioVideoRecognisersTest : public RecogniserFixture {};

TEST_F(AudioVideoRecognisersTest, ToolSamplesAreAcceptedWithTheLengthTheirFormatsRuleGives) {
    struct Case {
        std::string command, file;
        std::uint32_t type;
        std::string extension;
        std::uint64_t (*length)(const std::string&);
        bool skip;
        // How far it is jumped over: its length when none.
        std::uint64_t (*jump)(const std::string&) = nullptr;
    };
    const auto whole = [](const std::string& b) -> std::uint64_t { return b.size(); };
    const auto mediaData = [](const std::string& b) -> std::uint64_t { return b.find("mdat") + 4; };
    const std::vector<Case> cases = {
        // MPEG audio: the frames, and the ID3v1 tag after them.
        {kWav + "\"$OUT.wav\" \"$OUT\"", "mp3", 16, "mp3", whole, true},
        {kWav + "--add-id3v2 --tt Title \"$OUT.wav\" \"$OUT\"", "mp3", 16, "mp3", whole, true},
        // WAVE of MPEG audio: the frames fill the data chunk.
        {kTone + "-c:a libmp3lame -f wav \"$OUT\"", "wav", 13, "wav",
         [](const std::string& b) -> std::uint64_t { return b.find("data") + 8 + le32At(b, b.find("data") + 4); },
         true},
        // RIFF and FORM files: their size field and its header; AVI with a 2 KiB margin instead.
        {"sox -n -r 8000 -c 1 \"$OUT\" synth 0.5 sine " + sampleTone(440), "wav", 13, "wav", whole, false},
        {"sox -n -r 8000 -c 1 \"$OUT\" synth 0.5 sine " + sampleTone(440), "aif", 28, "aif", whole, false},
        {kVideo + "-c:v mpeg4 \"$OUT\"", "avi", 18, "avi",
         [](const std::string& b) -> std::uint64_t { return b.size() - 8 + 2048; }, false},
        // MIDI: the chunks and two bytes more.
        {kMidi, "mid", 14, "mid", [](const std::string& b) -> std::uint64_t { return b.size() + 2; }, true},
        // Atom files: the atoms add up to the file; with no search to offer their media data to, they are jumped
        // over no further than where it begins.
        {kVideo + "-c:v mpeg4 \"$OUT\"", "mp4", 17, "mp4", whole, true, mediaData},
        {kTone + "-c:a aac -f ipod \"$OUT\"", "m4a", 17, "m4a", whole, true, mediaData},
        {kVideo + "-c:v mpeg4 -f ipod -brand 'M4V ' \"$OUT\"", "m4v", 17, "m4v", whole, true, mediaData},
        {kSmallVideo + "-f 3gp \"$OUT\"", "3gp", 26, "3gp", whole, true, mediaData},
        {kSmallVideo + "-f 3g2 \"$OUT\"", "3g2", 27, "3g2", whole, true, mediaData},
        {kVideo + "-c:v mpeg4 -f mov \"$OUT\"", "mov", 15, "mov", whole, false},
        // Equal packs, then the program end code.
        {kVideo + "-f vob \"$OUT\" && printf '\\000\\000\\001\\271' | tee -a \"$OUT\"", "vob", 19, "vob", whole, true},
        // A video stream runs to its end code, across several of the scan's windows.
        {"ffmpeg -v error -f lavfi -i " + sampleVideo("size=320x240:rate=25:duration=2") +
             " -threads 1 -f mpeg2video \"$OUT\"" + kEndCode,
         "m2v", 19, "m2v", whole, true},
        // The muxer pads the stream with null packets to its end.
        {kVideo + "-f mpegts -mpegts_m2ts_mode 1 \"$OUT\"", "mts", 31, "mts", whole, true},
        // Frame after frame to the stream's end.
        {kTone + "-c:a aac -f adts \"$OUT\"", "aac", 49, "aac", whole, true},
        {kTone + "-c:a ac3 -ar 44100 -f ac3 \"$OUT\"", "ac3", 50, "ac3", whole, true},
        {kTone + "-c:a eac3 -f eac3 \"$OUT\"", "eac3", 50, "eac3", whole, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string bytes = toolSample(c.command, c.file);
        const std::uint64_t length = c.length(bytes);
        const std::uint64_t jump = c.jump ? c.jump(bytes) : length;
        EXPECT_EQ(recogniseBytes(bytes, sigOf(c.type, c.file)),
                  (Verdict{true, length, c.skip ? jump / 512 : 0, c.skip, c.extension}));
    }
}

// A WAV whose RIFF length was left at 0 ends with its data chunk; one whose data chunk's length was left at 0 too
// gives no end: with no search to ask where the next file begins, it is marked Bad as far as can be read.
TEST_F(AudioVideoRecognisersTest, AWavWhoseRiffLengthWasNeverWrittenEndsWithItsDataChunkOrIsBad) {
    std::string wav = toolSample("sox -n -r 8000 -c 1 \"$OUT\" synth 0.5 sine " + sampleTone(440), "wav");
    const std::size_t data = wav.find("data");
    ASSERT_NE(data, std::string::npos);
    wav.replace(4, 4, std::string(4, '\0'));
    EXPECT_EQ(recogniseBytes(wav, sigOf(13, "wav")),
              (Verdict{true, data + 8 + le32At(wav, data + 4), 0, false, "wav"}));
    wav.replace(data + 4, 4, std::string(4, '\0'));
    EXPECT_EQ(recogniseBytes(wav, sigOf(13, "wav")),
              (Verdict{true, ((wav.size() + 511) / 512 + 64) * 512, 0, false, "wav", true}));
}

TEST_F(AudioVideoRecognisersTest, MpegAudioNeedsTenFramesAndIsCarvedOnceFromItsFirstSector) {
    EXPECT_FALSE(recogniseBytes(sectorFrames(9), sigOf(16, "mp3")).accepted);
    EXPECT_EQ(recogniseBytes(sectorFrames(10), sigOf(16, "mp3")), (Verdict{true, 5120, 10, true, "mp3"}));
    // A tag of synchsafe size 1000 puts the first frame at 1010; a size byte with bit 7 set is no tag.
    const std::string tag = std::string("ID3\3\0\0", 6) + be(0x0768, 4) + std::string(1000, '\0');
    EXPECT_EQ(recogniseBytes(tag + sectorFrames(10), sigOf(16)).foundSize, 1010u + 5120);
    EXPECT_FALSE(recogniseBytes(std::string("ID3\3\0\0", 6) + be(0x0780, 4) + sectorFrames(10), sigOf(16)).accepted);

    Sig mp3 = sigOf(16, "mp3");
    Volume& fresh = volumeOver(imageWith(sectorFrames(12), kSector));
    EXPECT_TRUE(recognise(fresh, mp3, kSector + 1).accepted);
    Volume& scanned = volumeOver(imageWith(sectorFrames(12), kSector));
    EXPECT_TRUE(recognise(scanned, mp3, kSector).accepted);
    EXPECT_FALSE(recognise(scanned, mp3, kSector + 1).accepted);
}

TEST_F(AudioVideoRecognisersTest, AtomWalksEndAtAnAtomThatIsNoneAndTakeLargeSizes) {
    const std::string ftyp = be(16, 4) + "ftypisom" + be(0, 4);
    for (const auto& [atoms, length] :
         std::vector<std::pair<std::string, std::uint64_t>>{{ftyp + be(1, 4) + "free" + be(1000, 8), 1016},
                                                            {ftyp + be(4, 4) + "free" + be(1000, 8), 16},
                                                            {ftyp + be(8, 4) + "Free", 16},
                                                            {ftyp + be(0xFFFFFFFF, 4) + "mdat", 16}})
        for (std::uint32_t type : {15u, 17u, 26u, 27u})
            EXPECT_EQ(recogniseBytes(atoms, sigOf(type)).foundSize, length) << type;
    EXPECT_FALSE(recogniseBytes(be(16, 4) + "ftyp3gp4" + be(0, 4), sigOf(17)).accepted);
}

TEST_F(AudioVideoRecognisersTest, HostileLengthsEndAtTheReadableBytes) {
    // A track that claims 4 GiB: the file runs to the end of the 65 sectors behind the candidate, and, with no search
    // to offer its events to, is jumped over no further than its chunks' heads.
    const std::string midi = "MThd" + be(6, 4) + be(1, 6) + "MTrk" + be(0xFFFFFFF8, 4);
    EXPECT_EQ(recogniseBytes(midi, sigOf(14, "mid")), (Verdict{true, 65 * 512, 0, true, "mid"}));

    // A transport stream runs as long as its packets follow one another. Fewer than four in a row are no stream,
    // and neither is a stretch of 0x47 bytes (its packets' adaptation-field control would be the reserved 00). Four
    // are as likely by chance as a header of four bytes: they vouch for no stream, and are not jumped over; six are.
    std::string stream;
    for (const char* packet : {"\x47\x40\x00\x10", "\x47\x1F\xFF\x10", "\x47\x1F\xFF\x10", "\x47\x41\x00\x30"})
        stream += std::string(4, '\0') + std::string(packet, 4) + std::string(184, '\x55');
    EXPECT_EQ(recogniseBytes(stream + std::string(192, '\0'), sigOf(31, "mts")), (Verdict{true, 768, 0, true, "mts"}));
    EXPECT_EQ(recogniseBytes(stream + stream.substr(192, 384) + std::string(192, '\0'), sigOf(31, "mts")),
              (Verdict{true, 1152, 2, true, "mts"}));
    EXPECT_FALSE(recogniseBytes(stream.substr(0, 576), sigOf(31, "mts")).accepted);
    EXPECT_FALSE(recogniseBytes(std::string(4096, '\x47'), sigOf(31, "mts")).accepted);
    // Three frames of AAC or AC-3 are no stream yet.
    const std::string adts = "\xFF\xF1\x50\x80\x02\x1F\xFC"s + std::string(9, '\0'); // 16 bytes a frame
    const std::string ac3 = "\x0B\x77\0\0\x08\x40"s + std::string(250, '\0');        // 48 kHz, 64 kbit/s
    for (const auto& [frame, type] : {std::pair{adts, 49u}, {ac3, 50u}}) {
        EXPECT_FALSE(recogniseBytes(frame + frame + frame, sigOf(type)).accepted) << type;
        EXPECT_EQ(recogniseBytes(frame + frame + frame + frame, sigOf(type)).foundSize, 4 * frame.size()) << type;
    }
}
