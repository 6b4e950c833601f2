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

// A TIFF's parts by its own directories: the 8-byte header, each directory (count, entries, next offset), the values
// too long for their entries, and the strips or tiles their byte counts give.
std::uint64_t partsOf(const std::string& tiff) {
    const platform::ByteView b(reinterpret_cast<const std::uint8_t*>(tiff.data()), tiff.size());
    const bool big = tiff.starts_with("MM");
    const auto u16 = [&](std::uint64_t at) -> std::uint64_t { return big ? b.be16(at) : b.le16(at); };
    const auto u32 = [&](std::uint64_t at) -> std::uint64_t { return big ? b.be32(at) : b.le32(at); };
    const auto value = [&](std::uint64_t at, std::uint64_t width) { return width == 2 ? u16(at) : u32(at); };
    constexpr std::uint64_t kTypeBytes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    std::uint64_t parts = 8, ifd = u32(4);
    for (int pages = 0; ifd != 0 && ifd < tiff.size() && pages < 16; ++pages) {
        const std::uint64_t entries = u16(ifd);
        parts += 2 + 12 * entries + 4;
        for (std::uint64_t e = ifd + 2; e < ifd + 2 + 12 * entries; e += 12) {
            const std::uint64_t type = u16(e + 2), count = u32(e + 4), width = type < 13 ? kTypeBytes[type] : 0;
            const bool outOfLine = count * width > 4;
            if (outOfLine) parts += count * width;
            if (u16(e) == 279 || u16(e) == 325) // StripByteCounts, TileByteCounts
                for (std::uint64_t i = 0; i < count; ++i)
                    parts += value((outOfLine ? u32(e + 8) : e + 8) + i * width, width);
        }
        ifd = u32(ifd + 2 + 12 * entries);
    }
    return parts;
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
// classification left, ends it at its last strip and adds the JPEG its maker
// note points at (that JPEG's length + 512).
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
    // Camera walk: header 8, the out-of-line Make (6) and the EXIF pointer's
    // LONG (4) lie past IFD0, the strip ends where the JPEG begins; + 512.
    const std::uint64_t camera = 8 + 6 + b.offsetOf(jpeg) + 4 + 512;
    EXPECT_EQ(hit.size, camera + 20000 + 512);
}

// Phase One and one- or two-IFD PENTAX files are camera TIFFs even with a
// SubIFDs tag; a three-IFD PENTAX file is raw, and a DNG tag or a raw Canon
// keeps a plain TIFF from TIFF; a CIFF, a JPEG or an MP3 is no TIFF.
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
    EXPECT_EQ(acceptors("II*\0\x08\0\0\0HEAPCCDR"s + std::string(600, '\0')), Keys{});
    EXPECT_EQ(acceptors(toolSample("convert -size 8x8 xc:red \"$OUT\"", "jpg")), Keys{});
    EXPECT_EQ(acceptors("ID3\x04\0\0\0\0\x10\0"s + std::string(600, 'I')), Keys{});
}

// ImageMagick's TIFFs (strips, tiles, two pages, big-endian) are measured as
// the sum of the parts their directories name, + 512. libtiff starts a part
// on an even offset, so a part of odd length leaves a pad byte that no part
// holds; the margin still covers the whole file.
TEST_F(TiffCalculatorsTest, PlainTiffIsTheSumOfItsParts) {
    for (const std::string options :
         {"-size 64x48 xc:red", "-size 256x256 xc:blue -define tiff:tile-geometry=64x64", "-size 40x40 xc:red xc:green",
          "-size 50x30 xc:red -endian MSB", "-size 300x200 plasma: -compress lzw"}) {
        const std::string tiff = toolSample("convert -seed " + sampleSeed(1) + " " + options + " \"$OUT\"", "tif");
        ASSERT_FALSE(tiff.empty());
        const auto hit = carve(tiff);
        EXPECT_EQ(keyOf(hit), "tiff") << options;
        EXPECT_EQ(hit.size, partsOf(tiff) + 512) << options;
        EXPECT_GE(hit.size, tiff.size()) << options;
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

// Loops, wild counts and offsets end with no file, at once.
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
    EXPECT_FALSE(carve(plain(loop)));
    EXPECT_FALSE(carve(plain(loop, true)));
    EXPECT_FALSE(carve(plain([](TiffBuilder& b, TiffBuilder::Ifd ifd0) { b.nextOffset(ifd0, 0xFFFFFFF0); })));
    EXPECT_FALSE(carve(
        plain([](TiffBuilder& b, TiffBuilder::Ifd ifd0) { b.raw(ifd0, 279, TiffBuilder::Long, 0xFFFFFFFF, 64); })));
    EXPECT_FALSE(carve(plain([](TiffBuilder& b, TiffBuilder::Ifd) { b.ifd0Offset(0xFFFFFFF0); })));
    EXPECT_FALSE(carve(
        plain([](TiffBuilder& b, TiffBuilder::Ifd ifd0) { b.raw(ifd0, 270, TiffBuilder::Ascii, 0xFFFFFFFF, 64); })));
}
