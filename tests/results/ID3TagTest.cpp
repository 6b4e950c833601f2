#include "results/ID3Tag.h"

#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

using platform::ByteView;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes(std::string_view s) {
    return Bytes(s.begin(), s.end());
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::uint32_t synchsafe(std::uint32_t v) {
    return ((v & 0x0FE00000u) << 3) | ((v & 0x001FC000u) << 2) | ((v & 0x00003F80u) << 1) | (v & 0x7Fu);
}
using testsupport::be16;
using testsupport::be32;

// One frame of a version 2.3 or 2.4 tag (2.4 sizes are synchsafe).
Bytes frame(int major, std::string_view id, const Bytes& body, std::uint16_t flags = 0) {
    std::uint32_t size = static_cast<std::uint32_t>(body.size());
    return bytes(id) + be32(major == 4 ? synchsafe(size) : size) + be16(flags) + body;
}
// One frame of a version 2.2 tag: three-letter name, 24-bit size.
Bytes frame22(std::string_view id, const Bytes& body) {
    const Bytes size = be32(static_cast<std::uint32_t>(body.size()));
    return bytes(id) + Bytes(size.begin() + 1, size.end()) + body;
}
Bytes tag(int major, const Bytes& frames, std::uint8_t flags = 0, std::size_t padding = 32) {
    Bytes body = frames + Bytes(padding, 0);
    return bytes("ID3") + Bytes{static_cast<std::uint8_t>(major), 0, flags} +
           be32(synchsafe(static_cast<std::uint32_t>(body.size()))) + body;
}

Bytes utf16(std::u16string_view s, bool bigEndian) {
    Bytes out;
    for (char16_t c : s)
        out = out + (bigEndian ? be16(c) : Bytes{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8)});
    return out;
}

// Some bytes of a picture, with 0xFF bytes that unsynchronisation touches.
const Bytes kPicture = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0xFF, 0x00, 0xFF, 0xE0, 0x12, 0xFF};

Bytes apicBody(std::uint8_t encoding, const Bytes& description, const Bytes& picture) {
    return Bytes{encoding} + bytes("image/png") + Bytes{0, 3} + description + picture;
}

Bytes unsynchronise(const Bytes& in) {
    Bytes out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        out.push_back(in[i]);
        if (in[i] == 0xFF && (i + 1 == in.size() || in[i + 1] == 0x00 || (in[i + 1] & 0xE0) == 0xE0)) out.push_back(0);
    }
    return out;
}

std::u16string lyricsOf(const Bytes& b) {
    return ID3Tag::lyrics(ByteView(b));
}
Bytes pictureOf(const Bytes& b) {
    return ID3Tag::picture(ByteView(b));
}

} // namespace

TEST(ID3Synchsafe, BitSevenOfEachByteIsDropped) {
    EXPECT_EQ(ID3Tag::mp3BitShredder(0x00000201u), 0x101u);
    EXPECT_EQ(ID3Tag::mp3BitShredder(0x7F7F7F7Fu), 0x0FFFFFFFu);
    EXPECT_EQ(ID3Tag::mp3BitShredder(0x80808080u), 0u);
    EXPECT_EQ(ID3Tag::mp3BitShredder(synchsafe(123456789u)), 123456789u);
}

TEST(ID3Lyrics, EveryVersionAndTextEncodingIsRead) {
    Bytes uslt = Bytes{0} + bytes("eng") + Bytes{0} + bytes("one\ntwo\nthree\n") + Bytes{0};
    Bytes t = tag(3, frame(3, "TIT2", Bytes{0} + bytes("A title")) + frame(3, "USLT", uslt));
    EXPECT_TRUE(ID3Tag::hasTag(ByteView(t)));
    EXPECT_EQ(lyricsOf(t), u"one\ntwo\nthree\n");
    // ISO-8859-1 is read as such, not as UTF-8.
    Bytes latin = Bytes{0} + bytes("fra") + Bytes{0} + Bytes{'c', 0xE9, 'l', 0xE8, 'b', 'r', 'e'};
    EXPECT_EQ(lyricsOf(tag(3, frame(3, "USLT", latin))), u"c\u00e9l\u00e8bre");
    std::u16string text;
    for (int i = 0; i < 40; ++i)
        text += u"line \u00fc\u4e2d\n"; // over 127 bytes: a synchsafe size that matters
    Bytes wide =
        Bytes{1} + bytes("eng") + Bytes{0xFF, 0xFE, 0, 0} + Bytes{0xFF, 0xFE} + utf16(text, false) + Bytes{0, 0};
    EXPECT_EQ(lyricsOf(tag(4, frame(4, "USLT", wide))), text);

    // UTF-16 without its own mark follows the descriptor's.
    Bytes marked =
        Bytes{1} + bytes("eng") + Bytes{0xFE, 0xFF} + utf16(u"d", true) + Bytes{0, 0} + utf16(u"big\nend", true);
    EXPECT_EQ(lyricsOf(tag(3, frame(3, "USLT", marked))), u"big\nend");
    Bytes bigEndian = Bytes{2} + bytes("eng") + utf16(u"desc", true) + Bytes{0, 0} + utf16(u"utf16be", true);
    EXPECT_EQ(lyricsOf(tag(4, frame(4, "USLT", bigEndian))), u"utf16be");
    Bytes utf8 = Bytes{3} + bytes("eng") + bytes("descr") + Bytes{0} + bytes("h\xC3\xA9llo");
    EXPECT_EQ(lyricsOf(tag(4, frame(4, "USLT", utf8))), u"h\u00e9llo");
    Bytes ult = Bytes{0} + bytes("eng") + Bytes{0} + bytes("old\ntag");
    EXPECT_EQ(lyricsOf(tag(2, frame22("TT2", Bytes{0} + bytes("x")) + frame22("ULT", ult))), u"old\ntag");
}

TEST(ID3Picture, TheAttachedPictureBytesAreFound) {
    Bytes t = tag(3, frame(3, "TALB", Bytes{0} + bytes("Album")) +
                         frame(3, "APIC", apicBody(0, bytes("cover") + Bytes{0}, kPicture)));
    EXPECT_EQ(pictureOf(t), kPicture);
    // A UTF-16 description ends with a zero unit, not at its first zero byte.
    Bytes wide = tag(4, frame(4, "APIC", apicBody(1, Bytes{0xFF, 0xFE} + utf16(u"AB", false) + Bytes{0, 0}, kPicture)));
    EXPECT_EQ(pictureOf(wide), kPicture);
    // Version 2.2: encoding, image format, type, description.
    Bytes pic = Bytes{0} + bytes("PNG") + Bytes{3} + bytes("d") + Bytes{0} + kPicture;
    EXPECT_EQ(pictureOf(tag(2, frame22("PIC", pic))), kPicture);
    // No lyrics in a tag that has only a picture, and the other way round.
    EXPECT_TRUE(lyricsOf(t).empty());
    EXPECT_TRUE(pictureOf(tag(3, frame(3, "USLT", Bytes{0} + bytes("eng") + Bytes{0} + bytes("x")))).empty());
}

TEST(ID3Unsynchronisation, IsUndoneForTheWholeTagAndForOneFrame) {
    Bytes frames = frame(3, "APIC", apicBody(0, Bytes{0}, kPicture));
    Bytes whole = bytes("ID3") + Bytes{3, 0, 0x80} + be32(synchsafe(0)) + unsynchronise(frames) + Bytes(16, 0);
    Bytes size = be32(synchsafe(static_cast<std::uint32_t>(whole.size() - 10)));
    std::copy(size.begin(), size.end(), whole.begin() + 6);
    EXPECT_EQ(pictureOf(whole), kPicture);

    Bytes body = unsynchronise(apicBody(0, Bytes{0}, kPicture));
    EXPECT_EQ(pictureOf(tag(4, frame(4, "APIC", body, 0x0002))), kPicture);
    // With a data-length indicator before the body.
    Bytes withLength = be32(synchsafe(static_cast<std::uint32_t>(apicBody(0, Bytes{0}, kPicture).size()))) + body;
    EXPECT_EQ(pictureOf(tag(4, frame(4, "APIC", withLength, 0x0003))), kPicture);
}

TEST(ID3ExtendedHeader, IsSkippedInBothVersions) {
    Bytes uslt = frame(3, "USLT", Bytes{0} + bytes("eng") + Bytes{0} + bytes("after ext"));
    Bytes ext3 = be32(6) + Bytes(6, 0);
    EXPECT_EQ(lyricsOf(tag(3, ext3 + uslt, 0x40)), u"after ext");
    Bytes uslt4 = frame(4, "USLT", Bytes{0} + bytes("eng") + Bytes{0} + bytes("after ext"));
    Bytes ext4 = be32(synchsafe(6)) + Bytes{1, 0};
    EXPECT_EQ(lyricsOf(tag(4, ext4 + uslt4, 0x40)), u"after ext");
    // An extended header larger than the tag leaves nothing to find.
    EXPECT_TRUE(lyricsOf(tag(3, be32(0x7FFFFFF0) + uslt, 0x40)).empty());
}

TEST(ID3Damage, TruncatedOversizedAndGarbageFramesGiveNothing) {
    Bytes uslt = Bytes{0} + bytes("eng") + Bytes{0} + bytes("some lyrics here");
    Bytes good = tag(3, frame(3, "USLT", uslt) + frame(3, "APIC", apicBody(0, Bytes{0}, kPicture)));
    ASSERT_FALSE(lyricsOf(good).empty());
    ASSERT_FALSE(pictureOf(good).empty());
    // Cut anywhere: never a read past the end, and a cut frame gives nothing.
    for (std::size_t n = 0; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
        std::u16string l = lyricsOf(cut);
        Bytes p = pictureOf(cut);
        if (n < 10 + 10 + uslt.size()) {
            EXPECT_TRUE(l.empty()) << n;
        } else {
            EXPECT_EQ(l, u"some lyrics here") << n;
        }
        EXPECT_TRUE(p.empty() || n >= good.size() - 32) << n;
    }
    // A frame size beyond the tag, a huge one, and one that is all ones.
    for (std::uint32_t size : {static_cast<std::uint32_t>(uslt.size() + 100), 0x0FFFFFFFu, 0xFFFFFFFFu}) {
        Bytes f = bytes("USLT") + be32(size) + Bytes{0, 0} + uslt;
        EXPECT_TRUE(lyricsOf(tag(3, f)).empty()) << size;
        EXPECT_TRUE(lyricsOf(tag(4, f)).empty()) << size;
    }
    // A tag that claims more than was loaded.
    Bytes claims = good;
    Bytes huge = be32(synchsafe(0x0FFFFFFF));
    std::copy(huge.begin(), huge.end(), claims.begin() + 6);
    EXPECT_EQ(lyricsOf(claims), u"some lyrics here");
    // Garbage frame names end the walk.
    EXPECT_TRUE(lyricsOf(tag(3, frame(3, "us#t", uslt) + frame(3, "USLT", uslt))).empty());
    // No terminator after the descriptor, an unknown encoding, compression.
    EXPECT_TRUE(lyricsOf(tag(3, frame(3, "USLT", Bytes{0} + bytes("engdescriptor")))).empty());
    EXPECT_TRUE(lyricsOf(tag(3, frame(3, "USLT", Bytes{7} + bytes("eng") + Bytes{0} + bytes("x")))).empty());
    EXPECT_TRUE(lyricsOf(tag(3, frame(3, "USLT", uslt, 0x0080))).empty());
    EXPECT_TRUE(lyricsOf(tag(4, frame(4, "USLT", uslt, 0x0008))).empty());
    EXPECT_TRUE(pictureOf(tag(3, frame(3, "APIC", Bytes{0} + bytes("image/png")))).empty());
    EXPECT_TRUE(pictureOf(tag(3, frame(3, "APIC", Bytes{0}))).empty());
    EXPECT_TRUE(pictureOf(tag(3, frame(3, "APIC", Bytes{}))).empty());
    // Unknown major versions and no tag at all.
    EXPECT_TRUE(lyricsOf(tag(5, frame(4, "USLT", uslt))).empty());
    EXPECT_TRUE(lyricsOf(bytes("ID3")).empty());
    EXPECT_TRUE(lyricsOf(Bytes{}).empty());
    EXPECT_FALSE(ID3Tag::hasTag(ByteView(bytes("ID"))));
}

TEST(ID3Damage, RandomBytesBehindAHeaderNeverFault) {
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        Bytes t =
            bytes("ID3") + Bytes{static_cast<std::uint8_t>(2 + round % 3), 0, static_cast<std::uint8_t>(rng() & 0xE0)};
        std::size_t n = rng() % 300;
        for (std::size_t i = 0; i < n + 4; ++i)
            t.push_back(static_cast<std::uint8_t>(rng()));
        // Now and then a frame name the walk stops at.
        if (n > 20 && round % 2) std::copy_n(round % 4 == 1 ? "USLT" : "APIC", 4, t.begin() + 10);
        // Whatever is found lies inside what was given.
        EXPECT_LE(lyricsOf(t).size(), t.size()) << round;
        EXPECT_LE(pictureOf(t).size(), t.size()) << round;
    }
}

// A tag written by a real tagging tool, when one is installed.
TEST(ID3RealTool, LyricsAndPictureWrittenByEyeD3) {
    if (!testsupport::haveTool("eyeD3")) GTEST_SKIP() << "eyeD3 is not installed";
    fs::path dir = testsupport::makeTempDir("id3");
    {
        // Forty silent MPEG-1 layer III frames to hang the tag on.
        std::ofstream mp3(dir / "song.mp3", std::ios::binary);
        for (int i = 0; i < 40; ++i) {
            mp3.write("\xFF\xFB\x90\x00", 4);
            mp3 << std::string(413, '\0');
        }
        std::ofstream(dir / "lyrics.txt", std::ios::binary) << "first line\nsecond line\nlast line";
        std::ofstream(dir / "cover.png", std::ios::binary)
            .write(reinterpret_cast<const char*>(kPicture.data()), static_cast<std::streamsize>(kPicture.size()));
    }
    for (const char* version : {"--to-v2.3", "--to-v2.4"}) {
        SCOPED_TRACE(version);
        fs::copy_file(dir / "song.mp3", dir / "tagged.mp3", fs::copy_options::overwrite_existing);
        std::string cmd = "cd '" + dir.string() + "' && eyeD3 --quiet " + version +
                          " --encoding utf16 --add-lyrics lyrics.txt::eng --add-image cover.png:FRONT_COVER:cover"
                          " tagged.mp3 >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
        const Bytes file = testsupport::readBytes(dir / "tagged.mp3");
        EXPECT_EQ(lyricsOf(file), u"first line\nsecond line\nlast line");
        EXPECT_EQ(pictureOf(file), kPicture);
    }
}
