#include "SizeCalcFixture.h"
#include "formats/CarvingFormat.h"
#include "sizecalc/SizeCalculator.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>

using namespace testsupport;
using Carved = std::pair<std::string, std::uint64_t>;

namespace {
constexpr std::uint64_t kSector = 7;

// An integer as `width` bytes, most significant first unless `little`.
std::string num(std::uint64_t value, int width, bool little = false) {
    std::vector<std::uint8_t> b(width);
    little ? putLE(b, 0, value, width) : putBE(b, 0, value, width);
    return std::string(b.begin(), b.end());
}
} // namespace

class AudioCalculatorsTest : public SizeCalcFixture {
protected:
    // Which calculator of all formats' chain measured the sample placed at
    // kSector, and the length it measured (with the scan stopped if asked);
    // no other calculator of this group accepts the sample.
    Carved carve(const std::string& sample, bool stopped = false) {
        const auto image = imageWith(sample, kSector);
        const auto hit = measureWithEveryFormat(image, kSector, stopped);
        const std::string key = hit.calculator ? std::string(hit.calculator->parentKey()) : "";
        const std::string_view ours[] = {"amr", "ra", "rm", "aif", "mid", "avi", "wav"};
        for (std::string_view other : acceptedBy(image, kSector, ours))
            EXPECT_EQ(other, key) << other << " also accepts a " << key << " sample";
        return {key, hit.size};
    }
};

TEST_F(AudioCalculatorsTest, ToolSamplesAreMeasuredByTheirStructure) {
    if (!haveTool("abc2midi")) GTEST_SKIP() << "abc2midi (abcmidi) is not installed";
    const auto wav = toolSample("sox -n -r 8000 -c 1 \"$OUT\" synth 0.5 sine " + sampleTone(440), "wav");
    const auto aif = toolSample("sox -n -r 8000 -c 1 \"$OUT\" synth 5 sine " + sampleTone(440), "aiff");
    const auto avi = toolSample(
        "ffmpeg -v error -f lavfi -i " + sampleVideo("size=64x48:rate=5") + " -t 3 -threads 1 -f avi \"$OUT\"", "avi");
    const auto rm = toolSample("ffmpeg -v error -f lavfi -i sine=frequency=" + sampleTone(440) +
                                   " -t 45 -threads 1 -ar 8000 -c:a real_144 -f rm \"$OUT\"",
                               "rm");
    // Two voices of 800 bars, ~115 KiB: the tracks cross a 64 KiB window.
    const auto mid = toolSample("{ printf 'X:1\\nL:1/8\\nK:C\\nV:1\\n'; printf 'CDEF GABc|%.0s' $(seq 800); printf "
                                "'\\nV:2\\n'; printf 'cBAG FEDC|%.0s' $(seq 800); } >\"$OUT.abc\" && "
                                "abc2midi \"$OUT.abc\" -o \"$OUT\"",
                                "mid");
    ASSERT_TRUE(aif.size() > 65536 && mid.size() > 65536 && rm.size() > 65536);
    // RIFF forms: the RIFF length and its 8-byte header, which is the file.
    EXPECT_EQ(carve(wav), Carved("wav", wav.size()));
    EXPECT_EQ(carve(avi), Carved("avi", avi.size()));
    const std::string rmid = "RIFF" + num(mid.size() + 12, 4, true) + "RMIDdata" + num(mid.size(), 4, true) + mid;
    EXPECT_EQ(carve(rmid), Carved("mid", rmid.size()));
    // AIFF: the chunks after the 12-byte FORM header plus the 512-byte margin;
    // a chunk behind the first window is walked, and a pad byte follows a chunk of odd length only.
    EXPECT_EQ(carve(aif), Carved("aif", aif.size() - 12 + 512));
    EXPECT_EQ(carve(aif + "ANNO" + num(6, 4) + "hello!"), Carved("aif", aif.size() - 12 + 14 + 512));
    EXPECT_EQ(carve(aif + "ANNO" + num(5, 4) + "hello" + '\0' + "ANNO" + num(2, 4) + "hi"),
              Carved("aif", aif.size() - 12 + 14 + 10 + 512));
    // MIDI: all announced tracks walked, no margin; one track more announced
    // than held ends on a chunk that is not a track, which adds the margin.
    EXPECT_EQ(carve(mid), Carved("mid", mid.size()));
    const std::string extra = mid.substr(0, 11) + static_cast<char>(mid[11] + 1) + mid.substr(12);
    EXPECT_EQ(carve(extra), Carved("mid", mid.size() + 512));
    // RealMedia: the chunks' own lengths; this muxer's DATA length claims 10
    // bytes it never writes, which the walk takes at their word.
    const std::size_t data = rm.find("DATA");
    const std::uint32_t dataBytes = platform::ByteView(std::vector<std::uint8_t>(rm.begin(), rm.end())).be32(data + 4);
    EXPECT_EQ(carve(rm), Carved("rm", data + dataBytes));
}

// No Debian tool encodes AMR or writes RealAudio: these are built from the formats' public layouts.
TEST_F(AudioCalculatorsTest, BuiltStreamsEndWhereTheirFramesOrHeadersSay) {
    // AMR: 3000 32-byte speech frames (past one window; the payload bytes repeat
    // the header byte), then a comfort-noise frame ends the stream.
    const std::string narrow = "#!AMR\n" + std::string(3000 * 32, '\x3C') + "\x44" + std::string(40, '\x3C');
    EXPECT_EQ(carve(narrow), Carved("amr", 6 + 3000 * 32));
    EXPECT_EQ(carve(narrow, true), Carved("amr", 6));
    // Wideband: type-8 frames are 61 bytes; a frame without its quality bit ends the stream.
    EXPECT_EQ(carve("#!AMR-WB\n" + std::string(100 * 61, '\x44') + "\x40"), Carved("amr", 9 + 100 * 61));
    // RealAudio: the 16-byte header, the length it gives, and a trailing tag chunk.
    const std::string v3 = ".ra\xFD" + num(3, 2) + std::string(6, 'h') + num(5000, 4) + std::string(5000, 'a');
    EXPECT_EQ(carve(v3 + "RaTC" + num(40, 4) + std::string(40, 't')), Carved("ra", 16 + 5000 + 8 + 40));
    EXPECT_EQ(carve(".ra\xFD" + num(4, 2) + num(0, 2) + ".ra4" + num(3000, 4)), Carved("ra", 16 + 3000));
    EXPECT_FALSE(carve(".ra\xFD" + num(4, 2) + num(0, 2) + ".ra5" + num(3000, 4)).second);
}

TEST_F(AudioCalculatorsTest, LengthBoundsAndHostileHeadersGiveSaneAnswers) {
    const auto riff = [](std::uint64_t size, const std::string& form) { return "RIFF" + num(size, 4, true) + form; };
    EXPECT_EQ(carve(riff(4095, "WAVEfmt ")), Carved("wav", 0));
    EXPECT_EQ(carve(riff(4096, "WAVEfmt ")), Carved("wav", 4104));
    EXPECT_EQ(carve(riff(0xFFFFFFF1, "WAVEfmt ")), Carved("wav", 0));
    EXPECT_EQ(carve(riff(10239, "AVI LIST")), Carved("avi", 0));
    EXPECT_EQ(carve(riff(0x7FFFFFFF, "RMID")), Carved("mid", 15728640));
    // AIFF: chunks of 1000 bytes in all (or a stopped walk) are no file; a
    // runaway chunk length a fixed 60 MiB; an unknown second chunk is no AIFF.
    const std::string comm = "FORM" + num(1004, 4) + "AIFFCOMM" + num(18, 4) + std::string(18, 'c');
    EXPECT_EQ(carve(comm + "SSND" + num(966, 4) + std::string(966, 's')), Carved("aif", 0));
    EXPECT_EQ(carve(comm + "SSND" + num(5000, 4) + std::string(5000, 's'), true), Carved("aif", 0));
    EXPECT_EQ(carve(comm + "SSND" + num(0xFFFFFFF8, 4)), Carved("aif", 62914560));
    EXPECT_FALSE(carve(comm + "JUNK" + num(8, 4)).second);
    // MIDI: a track length past 2 GiB gives the fixed 15 MiB.
    EXPECT_EQ(carve("MThd" + num(6, 4) + num(1, 2) + num(1, 2) + num(96, 2) + "MTrk" + num(0xFFFFFFF0, 4)),
              Carved("mid", 15728640));
    // RealMedia: a chunk behind the first window is walked; a zero-length
    // chunk ends the walk rather than repeating it; one past 1.99 GiB ends the file before it.
    const std::string rmf = ".RMF" + num(18, 4) + std::string(10, '\0');
    const std::string data = "DATA" + num(70000, 4) + std::string(69992, 'd');
    EXPECT_EQ(carve(rmf + data + "INDX" + num(20, 4) + std::string(12, 'i')), Carved("rm", 18 + 70000 + 20));
    EXPECT_EQ(carve(rmf + "PROP" + num(0, 4)), Carved("rm", 18));
    EXPECT_EQ(carve(rmf + "DATA" + num(0xFFFFFFFF, 4)), Carved("rm", 18));
    // RealAudio: a length past 1.99 GiB is no file; an oversized tag chunk adds only its header.
    const std::string ra = ".ra\xFD" + num(3, 2) + std::string(6, 'h');
    EXPECT_EQ(carve(ra + num(0xFFFFFFF0, 4)), Carved("ra", 0));
    EXPECT_EQ(carve(ra + num(100, 4) + std::string(100, 'a') + "RaTC" + num(0xFFFFFFF0, 4)), Carved("ra", 124));
}

// AMR speech of one sound repeats its frames, so a run of frames may also begin inside one (here at the 27th byte
// of each of the first 300, the tone's part) and break off where the sound changes. After a lost sector whose next
// readable byte starts such a run, the stream's own run is the one taken: the file is measured to its end, not cut
// short where the sound changes.
TEST_F(AudioCalculatorsTest, AnAmrStreamPastALostSectorGoesOnWithItsOwnFramesNotAToneRepeatingInsideThem) {
    std::string amr = "#!AMR\n";
    for (int i = 0; i < 600; ++i) {
        std::string payload(31, i < 300 ? '\0' : '\x11');
        if (i < 300) payload[25] = '\x3C';
        amr += '\x3C' + payload;
    }
    const auto image = testsupport::imageWith(amr, kSector);
    ASSERT_EQ(measureAt(image, kSector, {"amr"}).size, amr.size());
    // The sector after the lost one begins with a byte of the run inside the frames.
    ASSERT_EQ((4 * 512 - 6) % 32, 26u);
    testsupport::FailingReads bad;
    bad.failSectors(kSector + 3);
    failing = &bad;
    EXPECT_EQ(measureAt(image, kSector, {"amr"}).size, amr.size());
    failing = nullptr;
}
