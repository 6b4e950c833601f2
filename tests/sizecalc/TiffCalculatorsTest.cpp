#include "SizeCalcFixture.h"
#include "platform/ByteView.h"
#include "sizecalc/TiffFileCheck.h"
#include "support/TestSupport.h"
#include "support/TiffBuilder.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace std::string_literals;

namespace {
constexpr std::uint64_t kSector = 41;
constexpr std::uint16_t kMake = 271;
std::string hex(std::uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

class TiffCalculatorsTest : public SizeCalcFixture {
protected:
    SizeCalculatorChain::Hit carve(const std::string& bytes) {
        image = imageWith(bytes, kSector);
        return measureWithEveryFormat(image, kSector);
    }
    std::vector<std::string_view> acceptors(const std::string& bytes) {
        image = imageWith(bytes, kSector);
        const std::string_view keys[] = {"cr2", "tiff"};
        return acceptedBy(image, kSector, keys);
    }
    std::string_view keyOf(const SizeCalculatorChain::Hit& hit) {
        return hit.calculator ? hit.calculator->parentKey() : "";
    }
    // A CR2: IFD0 with the image size and the preview, a thumbnail IFD, and
    // the raw IFD whose strips (in one entry or as an array) end the file.
    std::string cr2(int rawStrips, TiffBuilder::Blob& preview, TiffBuilder& b) {
        b.extraHeader("CR\x02\0\0\0\0\0"s);
        const auto ifd0 = b.addIfd();
        b.entry(ifd0, 256, TiffBuilder::Short, {5184});
        b.entry(ifd0, 257, TiffBuilder::Short, {3456});
        b.ascii(ifd0, kMake, "Canon");
        preview = b.addBlob(TiffBuilder::jpeg(5000));
        b.strips(ifd0, {preview});
        const auto thumb = b.addIfd();
        b.entry(thumb, 256, TiffBuilder::Short, {160});
        b.entry(thumb, 257, TiffBuilder::Short, {120});
        const auto raw = b.addIfd();
        std::vector<TiffBuilder::Blob> strips;
        for (int i = 0; i < rawStrips; ++i)
            strips.push_back(b.addBlob(std::string(3000 + i, 'r')));
        b.strips(raw, strips);
        return b.build();
    }
    std::filesystem::path image;
};

TEST_F(TiffCalculatorsTest, BuilderWritesWhatTiffinfoReads) {
    if (!haveTool("tiffinfo")) GTEST_SKIP() << "tiffinfo (libtiff-tools) is not installed";
    // Big-endian; IFD0 with a strip, a tiled sub-IFD and a maker note; a
    // second page.
    TiffBuilder b(true);
    const auto ifd0 = b.addIfd();
    const auto sub = b.addIfd(true), note = b.addIfd(true), page2 = b.addIfd();
    for (const auto ifd : {ifd0, sub, page2}) {
        const std::uint32_t side = ifd.index == sub.index ? 16 : 4;
        b.entry(ifd, 256, TiffBuilder::Short, {side});
        b.entry(ifd, 257, TiffBuilder::Long, {side});
        b.entry(ifd, 258, TiffBuilder::Short, {8});
        b.entry(ifd, 262, TiffBuilder::Short, {1});
        if (ifd.index == ifd0.index) b.ascii(ifd, kMake, "Phase One");
        if (ifd.index == sub.index) {
            b.entry(ifd, 322, TiffBuilder::Short, {16});
            b.entry(ifd, 323, TiffBuilder::Short, {16});
            b.tiles(ifd, {b.addBlob(std::string(256, 't'))});
        } else {
            b.strips(ifd, {b.addBlob(std::string(16, 's'))}, TiffBuilder::Short);
        }
    }
    b.subIfds(ifd0, {sub});
    b.entry(note, 1, TiffBuilder::Short, {7});
    b.pointer(ifd0, 37500, note, TiffBuilder::Undefined);
    const auto file = makeTempDir("tiff") / "built.tif";
    writeText(file, b.build());
    const auto out = runCommand("tiffinfo " + shellQuote(file.string()) + " 2>&1 || echo FAILED");
    ASSERT_TRUE(out);
    for (const std::string expected : {"Image Width: 4 Image Length: 4", "Make: Phase One", "Image Width: 16",
                                       "Tile Width: 16", "Tag 37500: 0x0,0x1"})
        EXPECT_NE(out->find(expected), std::string::npos) << expected << " in\n" << *out;
    EXPECT_NE(out->find("TIFF Directory at offset 0x" + hex(b.offsetOf(page2))), std::string::npos) << *out;
    EXPECT_EQ(out->find("FAILED"), std::string::npos) << *out;
}

TEST_F(TiffCalculatorsTest, Cr2EndsAtTheRawStripAndRecordsThePreview) {
    for (const int strips : {1, 3}) {
        TiffBuilder b;
        TiffBuilder::Blob preview{};
        const std::string file = cr2(strips, preview, b);
        const auto hit = carve(file);
        EXPECT_EQ(keyOf(hit), "cr2");
        EXPECT_EQ(hit.size, file.size()) << strips;
        const auto& jpeg = contexts.back()->rawJpeg;
        EXPECT_TRUE(jpeg.found);
        EXPECT_EQ(jpeg.sectorNumber, kSector + b.offsetOf(preview) / 512);
        EXPECT_EQ(jpeg.extraBytes, b.offsetOf(preview) % 512);
        EXPECT_EQ(jpeg.fileSize, 5000u);
    }
    // A CR2 of IFD0 alone has no raw IFD to end it.
    TiffBuilder lone;
    lone.extraHeader("CR\x02\0"s);
    const auto ifd0 = lone.addIfd();
    lone.ascii(ifd0, kMake, "Canon");
    lone.strips(ifd0, {lone.addBlob(TiffBuilder::jpeg(3000))});
    EXPECT_FALSE(carve(lone.build()));
}

// A Canon TIFF is no CR2; TIFF claims it from the flags the CR2
// classification left, and ends it at the JPEG its maker note points at,
// which lies past its strip.
TEST_F(TiffCalculatorsTest, CanonTiffAddsTheJpegOfItsMakerNote) {
    TiffBuilder b;
    const auto ifd0 = b.addIfd();
    b.ascii(ifd0, kMake, "Canon");
    b.entry(ifd0, 256, TiffBuilder::Short, {8});
    b.entry(ifd0, 257, TiffBuilder::Short, {8});
    const auto exif = b.addIfd(true), note = b.addIfd(true);
    const auto strip = b.addBlob(std::string(192, 'p'));
    const auto jpeg = b.addBlob(TiffBuilder::jpeg(20000));
    b.strips(ifd0, {strip});
    b.pointer(ifd0, 34665, exif);
    b.pointer(exif, 37500, note, TiffBuilder::Undefined);
    b.pointer(note, 0x81, jpeg);
    const std::string file = b.build();
    const auto hit = carve(file);
    EXPECT_EQ(keyOf(hit), "tiff");
    EXPECT_EQ(hit.size, b.offsetOf(jpeg) + 20000 + 512);
    EXPECT_EQ(hit.size, file.size() + 512);
}

// Phase One and one- or two-IFD PENTAX files are camera TIFFs even with a
// SubIFDs tag; a three-IFD PENTAX file is raw, and a DNG tag or a raw Canon
// keeps a plain TIFF from TIFF; a CIFF, a JPEG or an MP3 is no TIFF.
// Another maker's TIFF with SubIFDs is a TIFF.
TEST_F(TiffCalculatorsTest, MakersDecideWhatIsATiff) {
    const auto with = [](const std::string& make, int ifds, std::uint16_t extraTag) {
        TiffBuilder b;
        if (make == "CanonRaw") b.extraHeader("CR"s);
        for (int i = 0; i < ifds; ++i) {
            const auto ifd = b.addIfd();
            for (std::uint16_t tag = 256; tag < 260; ++tag)
                b.entry(ifd, tag, TiffBuilder::Short, {1});
            if (i == 0) b.ascii(ifd, kMake, make == "CanonRaw" ? "Canon" : make);
            if (i == 0 && extraTag) b.entry(ifd, extraTag, TiffBuilder::Long, {0});
            b.strips(ifd, {b.addBlob(std::string(300, 'x'))});
        }
        return b.build();
    };
    using Keys = std::vector<std::string_view>;
    EXPECT_EQ(acceptors(with("Phase One", 1, 330)), Keys{"tiff"});
    EXPECT_EQ(acceptors(with("PENTAX Corporation", 2, 0)), Keys{"tiff"});
    EXPECT_EQ(acceptors(with("PENTAX Corporation", 3, 0)), Keys{});
    EXPECT_EQ(acceptors(with("PENTAX Corporation", 5, 0)), Keys{});
    EXPECT_EQ(acceptors(with("NIKON", 1, 330)), Keys{});
    EXPECT_EQ(acceptors(with("Anything", 1, 50706)), Keys{});
    EXPECT_EQ(acceptors(with("CanonRaw", 2, 0)), Keys{"cr2"});
    EXPECT_EQ(acceptors(with("Anything", 1, 0)), Keys{"tiff"});
    // SubIFDs hold a raw file's image where a raw camera's maker made it,
    // and a TIFF's further images where anyone else did.
    EXPECT_EQ(acceptors(with("Anything", 1, 330)), Keys{"tiff"});
    EXPECT_EQ(acceptors(with("PENTAX Corporation", 3, 330)), Keys{});
    EXPECT_EQ(acceptors("II*\0\x08\0\0\0HEAPCCDR"s + std::string(600, '\0')), Keys{});
    EXPECT_EQ(acceptors(toolSample("convert -size 8x8 xc:red \"$OUT\"", "jpg")), Keys{});
    EXPECT_EQ(acceptors("ID3\x04\0\0\0\0\x10\0"s + std::string(600, 'I')), Keys{});
}

// ImageMagick's TIFFs (strips, tiles, two pages, big-endian) end at the
// furthest of their parts, + 512: libtiff writes a page's directory behind
// its data and the last one ends the file.
TEST_F(TiffCalculatorsTest, PlainTiffEndsAtItsFurthestPart) {
    for (const std::string options :
         {"-size 64x48 xc:red", "-size 256x256 xc:blue -define tiff:tile-geometry=64x64", "-size 40x40 xc:red xc:green",
          "-size 50x30 xc:red -endian MSB", "-size 300x200 plasma: -compress lzw"}) {
        const std::string tiff = toolSample("convert -seed " + sampleSeed(1) + " " + options + " \"$OUT\"", "tif");
        ASSERT_FALSE(tiff.empty());
        const auto hit = carve(tiff);
        EXPECT_EQ(keyOf(hit), "tiff") << options;
        EXPECT_EQ(hit.size, tiff.size() + 512) << options;
        EXPECT_FALSE(contexts.back()->measuredCut) << options;
    }
}

// The SubIFDs and the EXIF directory of a camera TIFF and of another measure
// it as the chain's directories do; a SubIFD past the volume or in zeros, or
// a next directory past the volume, ends the walk: the file is carved as far
// as IFD0 measures it, marked cut.
TEST_F(TiffCalculatorsTest, EveryDirectoryMeasuresTheTiffAndOneThatCannotBeFollowedMarksIt) {
    enum Pointer { SubIfd, Exif, SubIfdPastTheVolume, SubIfdInZeros, NextPastTheVolume };
    for (const bool camera : {false, true})
        for (const Pointer pointer : {SubIfd, Exif, SubIfdPastTheVolume, SubIfdInZeros, NextPastTheVolume}) {
            TiffBuilder b;
            const auto ifd0 = b.addIfd(), sub = b.addIfd(true);
            for (std::uint16_t tag = 256; tag < 260; ++tag)
                b.entry(ifd0, tag, TiffBuilder::Short, {1});
            if (camera) b.ascii(ifd0, kMake, "Drentic");
            const auto preview = b.addBlob(std::string(300, 'p'));
            b.strips(ifd0, {preview});
            b.strips(sub, {b.addBlob(std::string(9000, 'f'))});
            if (pointer == SubIfd) b.subIfds(ifd0, {sub});
            if (pointer == Exif) b.pointer(ifd0, 34665, sub);
            if (pointer == SubIfdPastTheVolume) b.raw(ifd0, 330, TiffBuilder::Long, 1, 0xFFFFFF00);
            if (pointer == SubIfdInZeros) b.raw(ifd0, 330, TiffBuilder::Long, 1, 40000);
            if (pointer == NextPastTheVolume) b.nextOffset(ifd0, 0xFFFFFF00);
            const std::string file = b.build();
            const bool cut = pointer != SubIfd && pointer != Exif;
            const auto hit = carve(file);
            EXPECT_EQ(keyOf(hit), "tiff") << camera << pointer;
            EXPECT_EQ(hit.size, (cut ? b.offsetOf(preview) + 300 : file.size()) + 512) << camera << pointer;
            EXPECT_EQ(contexts.back()->measuredCut, cut) << camera << pointer;
        }
}

// A classifier in use before TIFF has decided: TIFF answers its flag and
// reads nothing, not even the header.
TEST_F(TiffCalculatorsTest, TiffAnswersFromAnEarlierClassification) {
    image = imageWith("not a tiff", kSector);
    CarvingContext& context = contextOver(image);
    context.tiffInUse.cr2 = true;
    TiffFileCheck tiff(context);
    const auto junk = leadingBytes(image, kSector);
    context.tiff.tiffFormatFlag = true;
    EXPECT_TRUE(tiff.isFile(platform::ByteView(junk), kSector));
    context.tiff.tiffFormatFlag = false;
    EXPECT_FALSE(tiff.isFile(platform::ByteView(junk), kSector));
}

// Wild counts and offsets end with no file, at once; a chain that loops
// ends where it comes back, the file measured by the directories read.
TEST_F(TiffCalculatorsTest, HostileDirectoriesEndPromptly) {
    const auto plain = [](const std::function<void(TiffBuilder&, TiffBuilder::Ifd)>& craft, bool canonRaw = false) {
        TiffBuilder b;
        if (canonRaw) b.extraHeader("CR"s);
        const auto ifd0 = b.addIfd();
        if (canonRaw) b.ascii(ifd0, kMake, "Canon");
        for (std::uint16_t tag = 256; tag < 260; ++tag)
            b.entry(ifd0, tag, TiffBuilder::Short, {1});
        b.strips(ifd0, {b.addBlob(std::string(300, 'x'))});
        craft(b, ifd0);
        return b.build();
    };
    const auto loop = [](TiffBuilder& b, TiffBuilder::Ifd ifd0) {
        const auto ifd1 = b.addIfd();
        b.entry(ifd1, 256, TiffBuilder::Short, {1});
        b.entry(ifd1, 257, TiffBuilder::Short, {1});
        b.linkTo(ifd1, ifd0);
    };
    const std::string looped = plain(loop);
    EXPECT_EQ(carve(looped).size, looped.size() + 512);
    EXPECT_FALSE(contexts.back()->measuredCut);
    EXPECT_FALSE(carve(plain(loop, true)));
    EXPECT_FALSE(carve(
        plain([](TiffBuilder& b, TiffBuilder::Ifd ifd0) { b.raw(ifd0, 279, TiffBuilder::Long, 0xFFFFFFFF, 64); })));
    EXPECT_FALSE(carve(plain([](TiffBuilder& b, TiffBuilder::Ifd) { b.ifd0Offset(0xFFFFFFF0); })));
    EXPECT_FALSE(carve(
        plain([](TiffBuilder& b, TiffBuilder::Ifd ifd0) { b.raw(ifd0, 270, TiffBuilder::Ascii, 0xFFFFFFFF, 64); })));
}
