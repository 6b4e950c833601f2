#include "RecogniserFixture.h"
#include "support/FailingReads.h"
#include "support/TestSupport.h"
#include "support/TiffBuilder.h"
#include "volume/Volume.h"

#include <functional>
#include <gtest/gtest.h>

using namespace testsupport;
using B = TiffBuilder;
using Tweak = std::function<void(B&, B::Ifd)>;

class TiffRecognisersTest : public RecogniserFixture {
protected:
    // One directory whose strip ends at 1000, changed by `tweak`.
    static std::string tiff(const Tweak& tweak = {}, bool big = false) {
        B b(big);
        const auto d = b.addIfd();
        b.entry(d, 273, B::Long, {300}), b.entry(d, 279, B::Long, {700});
        if (tweak) tweak(b, d);
        return b.build();
    }
    Verdict verdict(const Tweak& tweak, bool big = false) { return recogniseBytes(tiff(tweak, big), sigOf(5, "tif")); }
};

TEST_F(TiffRecognisersTest, ToolTiffsInBothByteOrdersWithStripsTilesAndPagesMeasureToTheirEnd) {
    const std::string pages = "convert -size 40x30 gradient:red-blue -compress none \"$OUT.a.tif\" && "
                              "convert -size 20x20 xc:green \"$OUT.b.tif\" && tiffcp ";
    const std::vector<std::string> samples = {toolSample(pages + "-L \"$OUT.a.tif\" \"$OUT\"", "tif"),
                                              toolSample(pages + "-B -r 4 \"$OUT.a.tif\" \"$OUT\"", "tif"),
                                              toolSample(pages + "-B -t \"$OUT.a.tif\" \"$OUT\"", "tif"),
                                              toolSample(pages + "\"$OUT.a.tif\" \"$OUT.b.tif\" \"$OUT\"", "tif")};
    for (const std::uint32_t bps : {512u, 4096u})
        for (const std::string& sample : samples) {
            // libtiff writes each directory's out-of-line values behind it,
            // and those of the last directory end the file.
            Sig sig = sigOf(5, "tif");
            EXPECT_EQ(recognise(volumeOver(imageWith(sample, 3, 4, bps), bps), sig, 3),
                      (Verdict{true, sample.size(), sample.size() / bps, true, "tif"}))
                << &sample - &samples[0] << " " << bps;
        }
}

TEST_F(TiffRecognisersTest, StripEndsAndOutOfLineDataGiveTheLengthInEitherByteOrder) {
    for (const bool big : {false, true}) {
        // Its strip lies behind its directory: with no search to offer it to, only the directory is jumped over.
        EXPECT_EQ(verdict([](B& b, B::Ifd d) { b.entry(d, 279, B::Short, {30000}); }, big),
                  (Verdict{true, 30300, 0, true, "tif"}));
        // Two SHORTs held in the entries: the last offset plus the last count.
        const Tweak inEntries = [](B& b, B::Ifd d) {
            b.entry(d, 273, B::Short, {300, 5000}), b.entry(d, 279, B::Short, {4700, 4700});
        };
        EXPECT_EQ(verdict(inEntries, big).foundSize, 9700u);
        // Data that starts before what the earlier entries reached is passed over.
        const Tweak passed = [](B& b, B::Ifd d) { b.raw(d, 270, B::Ascii, 1100, 200), b.raw(d, 271, 2, 5000, 100); };
        EXPECT_EQ(verdict(passed, big).foundSize, 1300u);
        // A chain that leads back to IFD0 ends there; both directories count.
        const Tweak cycle = [](B& b, B::Ifd d) {
            const auto back = b.addIfd();
            b.entry(back, 324, B::Long, {8, 100, 2000}), b.entry(back, 325, B::Long, {8, 8, 48}), b.linkTo(back, d);
        };
        EXPECT_EQ(verdict(cycle, big).foundSize, 2048u);
    }
}

// A tag editor pads a block of odd length with a zero byte, so that the next lies on a word boundary, the file's
// last block too: that byte is the file's. Another byte after an odd end is not.
TEST_F(TiffRecognisersTest, AFileEndingInABlockOfOddLengthTakesTheZeroByteThatPadsIt) {
    for (const bool big : {false, true})
        for (const char after : {'\0', 'n'}) {
            B b(big);
            const auto d = b.addIfd();
            b.pointer(d, 273, b.addBlob(std::string(63, 'd') + after)), b.entry(d, 279, B::Long, {63});
            const std::string file = b.build();
            EXPECT_EQ(recogniseBytes(file, sigOf(5, "tif")).foundSize, file.size() - (after == 0 ? 0 : 1)) << big;
        }
}

// The directories entries point to (SubIFDs, one or a list, nested or not; the EXIF directory and the GPS and
// interoperability ones) and a JPEG interchange stream measure the file as the chain's do: here their data end it.
// A SubIFD that cannot be followed lists the file as far as the one directory it has measures, marked.
TEST_F(TiffRecognisersTest, DirectoriesTheEntriesPointToMeasureTheFileAndOneThatCannotBeFollowedMarksIt) {
    const auto blob = [](B& b, std::size_t size) { return b.addBlob(std::string(size, 'd')); };
    struct Layout {
        const char* name;
        Tweak tweak;
        bool cut;
        // The sectors the directories reach, which a whole file is jumped over.
        std::uint64_t directorySectors = 0;
    };
    const Layout layouts[] = {
        {"SubIfdList",
         [&](B& b, B::Ifd d) {
             const auto a = b.addIfd(true), c = b.addIfd(true);
             b.subIfds(d, {a, c}), b.strips(a, {blob(b, 100)}), b.strips(c, {blob(b, 5000)});
         },
         false},
        {"NestedSubIfd",
         [&](B& b, B::Ifd d) {
             const auto a = b.addIfd(true), c = b.addIfd(true);
             b.subIfds(d, {a}), b.subIfds(a, {c}), b.strips(a, {blob(b, 100)}), b.tiles(c, {blob(b, 5000)});
         },
         false},
        {"ExifValue",
         [](B& b, B::Ifd d) {
             const auto exif = b.addIfd(true);
             b.pointer(d, 34665, exif), b.bytes(exif, 37500, std::string(3000, 'n'));
         },
         false},
        {"GpsAndInteropValues",
         [](B& b, B::Ifd d) {
             const auto exif = b.addIfd(true), gps = b.addIfd(true), interop = b.addIfd(true);
             b.pointer(d, 34665, exif), b.pointer(d, 34853, gps), b.pointer(exif, 40965, interop);
             b.ascii(gps, 27, std::string(1999, 'g')), b.ascii(interop, 1, std::string(2999, 'i'));
         },
         false, 4}, // the interoperability directory lies behind the GPS directory's text
        {"JpegInterchangeStream",
         [&](B& b, B::Ifd d) { b.pointer(d, 513, blob(b, 4000)), b.entry(d, 514, B::Long, {4000}); }, false},
        {"SubIfdPastTheVolume", [](B& b, B::Ifd d) { b.raw(d, 330, B::Long, 1, 0xFFFFFF00); }, true},
        {"SubIfdInZeros", [](B& b, B::Ifd d) { b.raw(d, 330, B::Long, 1, 8192); }, true},
        {"SubIfdListPastTheVolume",
         [](B& b, B::Ifd d) {
             b.entry(d, 330, B::Long, {0xFFFFFF00, 0xFFFFFE00});
         },
         true},
        {"SubIfdAtNoPosition", [](B& b, B::Ifd d) { b.raw(d, 330, B::Long, 1, 0); }, true},
    };
    for (const bool big : {false, true})
        for (const Layout& layout : layouts) {
            const std::string file = tiff(layout.tweak, big);
            // With no search to offer the data behind the directories to, only the directories are jumped over.
            const Verdict whole{true, file.size(), layout.directorySectors, true, "tif"};
            const Verdict cut{true, 1000, 0, false, "tif", true};
            EXPECT_EQ(recogniseBytes(file, sigOf(5, "tif")), layout.cut ? cut : whole) << layout.name << " " << big;
        }
}

TEST_F(TiffRecognisersTest, MalformedRawOrEmptyCandidatesAreRefused) {
    const auto entries = [](int n) -> Tweak {
        return [n](B& b, B::Ifd d) {
            for (int i = 2; i < n; ++i)
                b.entry(d, static_cast<std::uint16_t>(1000 + i), B::Short, {1});
        };
    };
    const auto entry = [](std::uint16_t type, std::uint32_t count, std::uint32_t value) -> Tweak {
        return [=](B& b, B::Ifd d) { b.raw(d, 700, type, count, value); };
    };
    const auto markAt = [](std::size_t at, const char* mark) -> Tweak {
        return [=](B& b, B::Ifd) { b.extraHeader(std::string(1008, '\0').replace(at - 8, 4, mark)); };
    };
    for (const Tweak& walked : {entries(50), entry(B::Long, 1, 501), markAt(1012, "SONY")})
        EXPECT_TRUE(verdict(walked).accepted);
    const Tweak oddIfd0 = [](B& b, B::Ifd) { b.ifd0Offset(9); };
    const Tweak canon = [](B& b, B::Ifd) { b.extraHeader(std::string("CR\x02\0", 4)); };
    const Tweak refused[] = {entries(51),          oddIfd0, entry(13, 1, 0), entry(1, 0, 0), entry(B::Long, 2, 501),
                             markAt(1011, "NIKO"), canon};
    for (const Tweak& tweak : refused)
        EXPECT_FALSE(verdict(tweak).accepted) << &tweak - refused;
    EXPECT_FALSE(recogniseBytes(B().build(), sigOf(5, "tif")).accepted);
}

TEST_F(TiffRecognisersTest, AStoppedScanAndAnEndBeyondTheVolumeStayInsideIt) {
    Volume& volume = volumeOver(imageWith(tiff([](B& b, B::Ifd d) { b.entry(d, 279, B::Long, {0xFFFFFFF0}); }), 7));
    Sig sig = sigOf(5, "tif");
    // Cut by the volume's end: marked, and not jumped over.
    EXPECT_EQ(recognise(volume, sig), (Verdict{true, 65 * 512, 0, false, "tif", true}));
    volume.setStopTreeThread(true);
    EXPECT_FALSE(recognise(volume, sig).accepted);
}

// Three fax pages of about 24 KiB as tiffcp joins them, each page's directory behind its strip: a walk broken at the
// second directory lists the file to the end of the first, marked, and the search looks inside it again.
TEST_F(TiffRecognisersTest, AWalkThatBreaksAfterTheFirstDirectoryListsTheFileToThereMarked) {
    const std::string fax =
        toolSample("convert -size 1728x1100 pattern:checkerboard -compress Group4 \"$OUT.a.tif\" && "
                   "tiffcp \"$OUT.a.tif\" \"$OUT.a.tif\" \"$OUT.a.tif\" \"$OUT\"",
                   "tif");
    const platform::ByteView bytes(reinterpret_cast<const std::uint8_t*>(fax.data()), fax.size());
    const std::uint64_t first = bytes.le32(4), firstEnd = first + 6 + 12 * std::uint64_t{bytes.le16(first)};
    const std::uint64_t second = bytes.le32(firstEnd - 4);
    ASSERT_GT(second / 512, firstEnd / 512);
    const Verdict cut{true, firstEnd, 0, false, "tif", true};
    // Another file's bytes or zeros where the second directory was.
    for (const char fill : {'\xFF', '\0'}) {
        std::string broken = fax;
        broken.replace(second, 512 - second % 512, 512 - second % 512, fill);
        EXPECT_EQ(recogniseBytes(broken, sigOf(5, "tif")), cut) << int(fill);
    }
    // The second directory's sector could not be read.
    testsupport::FailingReads bad;
    bad.failSectors(kSector + second / 512);
    Volume& failing = volumeOver(imageWith(fax, kSector));
    failing.setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
    Sig sig = sigOf(5, "tif");
    EXPECT_EQ(recognise(failing, sig), cut);
    // A strip list whose last byte count could not be read leaves the measure short.
    std::vector<B::Blob> strips;
    B b;
    const auto d = b.addIfd();
    for (int i = 0; i < 300; ++i)
        strips.push_back(b.addBlob(std::string(10, 's')));
    b.strips(d, strips);
    const std::string list = b.build();
    testsupport::FailingReads lost;
    lost.failSectors(kSector + (list.size() - 3001) / 512);
    Volume& listLost = volumeOver(imageWith(list, kSector));
    listLost.setRawRead(lost.reader(), {}, lost.pastEveryCacheReader());
    const Verdict shortened = recognise(listLost, sig);
    EXPECT_TRUE(shortened.foundCut && !shortened.skipFileSize) << shortened;
}
