#include "RecogniserFixture.h"
#include "support/TiffBuilder.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace std::string_literals;
using B = TiffBuilder;

class CameraRawRecognisersTest : public RecogniserFixture {};

TEST_F(CameraRawRecognisersTest, Cr2WalksDirectoriesAtOddPositionsThatTheTiffTestRefuses) {
    for (const bool canon : {true, false}) {
        B b;
        b.extraHeader(canon ? "CR\x02\0\0\0\0\0"s : std::string(8, '\0'));
        b.ascii(b.addIfd(), 271, canon ? "Canon SONY" : "Canon EOS!"); // 11 bytes: the raw IFD lands at an odd position
        b.strips(b.addIfd(), {b.addBlob(std::string(9000, 'r'))});
        const std::string file = b.build();
        // With no search to offer the image data behind the directories to, only the directories (in the first
        // sector) are jumped over.
        const Verdict walked{true, file.size(), 0, true, "cr2"};
        EXPECT_EQ(recogniseBytes(file, sigOf(8, "cr2")), (canon ? walked : Verdict{.extension = "cr2"}));
        EXPECT_FALSE(recogniseBytes(file, sigOf(5, "tif")).accepted);
    }
}

TEST_F(CameraRawRecognisersTest, NefMeasuresTheMainChainThenEachSubIFDChain) {
    B b;
    const auto ifd0 = b.addIfd(), a = b.addIfd(true), full = b.addIfd(true), thumb = b.addIfd();
    b.ascii(ifd0, 271, "NIKON CORPORATION"), b.subIfds(ifd0, {a, full});
    b.strips(thumb, {b.addBlob(std::string(100, 't'))});
    b.strips(a, {b.addBlob(std::string(200, 'a'))});
    b.strips(full, {b.addBlob(std::string(5000, 'f'))}); // only the second SubIFD reaches the end
    const std::string nef = b.build();
    EXPECT_EQ(recogniseBytes(nef, sigOf(9, "nef")), (Verdict{true, nef.size(), 0, true, "nef"}));
    EXPECT_FALSE(recogniseBytes(nef, sigOf(5, "tif")).accepted);
    EXPECT_FALSE(recogniseBytes(nef, sigOf(10, "arw")).accepted);

    // 1000 SubIFD positions, all of `a`: 32 slots are taken, `a` is walked once.
    B many;
    const auto top = many.addIfd(), sub = many.addIfd(true);
    many.ascii(top, 271, "NIKON"), many.raw(top, 330, B::Long, 1000, 4096);
    many.strips(sub, {many.addBlob(std::string(100, 's'))});
    std::string crafted = many.build();
    crafted.resize(4096 + 4000, '\0');
    for (std::size_t i = 0; i < 1000; ++i)
        crafted.replace(4096 + 4 * i, 4, std::string{char(many.offsetOf(sub)), 0, 0, 0});
    EXPECT_EQ(recogniseBytes(crafted, sigOf(9, "nef")).foundSize, crafted.size());
}

TEST_F(CameraRawRecognisersTest, SonyRawIsSr2WithANewSubfileTypeElseSrfRecordedAFifthLonger) {
    for (const bool sr2 : {true, false}) {
        B b;
        const auto d = b.addIfd();
        b.ascii(d, 271, "SONY");
        if (sr2) b.entry(d, 254, B::Long, {0});
        b.entry(d, 273, B::Long, {300}), b.entry(d, 279, B::Long, {700});
        EXPECT_EQ(recogniseBytes(b.build(), sigOf(10, "arw")),
                  (sr2 ? Verdict{true, 1000, 0, true, "sr2"} : Verdict{true, 1200, 0, true, "srf"}));
    }
}

TEST_F(CameraRawRecognisersTest, OrfIsReadInTheByteOrderItsHeaderNames) {
    for (const bool big : {false, true}) {
        B b(big);
        b.magic(big ? 'O' : 'R', big ? 'R' : 'O'); // "MMOR", "IIRO"
        b.strips(b.addIfd(), {b.addBlob(std::string(3000, 'o'))});
        const std::string orf = b.build();
        EXPECT_EQ(recogniseBytes(orf, sigOf(12, "orf")), (Verdict{true, orf.size(), 0, true, "orf"}));
    }
}
