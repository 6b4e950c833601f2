#include "SizeCalcFixture.h"
#include "sizecalc/CrwFileCheck.h"
#include "sizecalc/X3fFileCheck.h"
#include "support/TestSupport.h"
#include "support/TiffBuilder.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace std::string_literals;
using Carved = std::pair<std::string, std::uint64_t>;

// No Debian tool writes these raw formats: the files are built here from their public layouts.
namespace {
constexpr std::uint64_t kSector = 11;

std::string num(std::uint64_t value, int width, bool little = false) {
    std::vector<std::uint8_t> b(width);
    little ? putLE(b, 0, value, width) : putBE(b, 0, value, width);
    return std::string(b.begin(), b.end());
}
std::string at(std::string bytes, std::size_t offset, const std::string& field) {
    bytes.resize(std::max(bytes.size(), offset + field.size()), '\0');
    return bytes.replace(offset, field.size(), field);
}

// A CRW: a 26-byte header, the heap with a preview at heap offset 100, and the root table
// (its second entry the preview's) ending right before the trailer at `trailer`.
std::string crw(bool little, std::uint64_t trailer, int entries, std::uint64_t preview, bool jpeg = true) {
    const auto n = [little](std::uint64_t v, int w) { return num(v, w, little); };
    const std::uint64_t table = trailer - 2 - 10 * entries;
    std::string body = n(entries, 2);
    for (int e = 0; e < entries; ++e)
        body += e == 1 ? n(0x2007, 2) + n(preview, 4) + n(100, 4) : n(0x300A + e, 2) + n(0, 8);
    const std::string head = (little ? "II" : "MM") + n(26, 4) + "HEAPCCDR";
    return at(at(head, 126, jpeg ? "\xFF\xD8\xFF\xE0" : "JFIF"), table, body + n(table - 26, 4));
}
std::string raf(std::uint64_t rawOffset, std::uint64_t rawBytes, std::uint64_t second, std::uint64_t preview) {
    return at(at(at(at(at("FUJIFILMCCD-RAW", 84, num(300, 4)), 88, num(preview, 4)), 100, num(rawOffset, 4)), 104,
                 num(rawBytes, 4)),
              132, num(second, 4));
}
// An MRW of MRM length 1000 whose picture description follows `before` blocks of 600 bytes.
std::string mrw(char storage, int before = 1) {
    std::string file = "\0MRM"s + num(1000, 4);
    for (int i = 0; i < before; ++i)
        file += "\0TTW"s + num(600, 4) + std::string(600, 't');
    return file + "\0PRD"s + num(24, 4) + std::string(8, 'v') + num(2000, 2) + num(3000, 2) + "xxxxxx" + storage +
           std::string(5, 'x');
}
// A sectioned X3F: a JPEG image section first, the directory at `directory` with 10 entries.
std::string x3f(std::uint64_t directory) {
    const std::string head = at(at("FOVb", 232, "SECi"), 260, "\xFF\xD8\xFF\xE1");
    return at(head, directory,
              "SECd" + num(2, 4, true) + num(10, 4, true) + num(232, 4, true) + num(30000, 4, true) + "IMAG" +
                  std::string(108, 'e') + num(directory, 4, true));
}
// A little-endian TIFF of one IFD whose Make is at offset 60; `extra` entries follow the Make.
std::string tiff(const std::string& make, const std::string& extra = "", int extraEntries = 0) {
    const std::string entries = num(256, 2, true) + num(3, 2, true) + num(1, 4, true) + num(64, 4, true) +
                                num(271, 2, true) + num(2, 2, true) + num(8, 4, true) + num(60, 4, true) + extra;
    return at("II*\0"s + num(8, 4, true) + num(2 + extraEntries, 2, true) + entries + num(0, 4, true), 60, make);
}
} // namespace

class RawOtherCalculatorsTest : public SizeCalcFixture {
protected:
    // Which calculator measured the file placed at kSector, and the length. A CRW goes to the formats
    // that could take its header first, but not to the TIFF-family classifiers: it classifies itself.
    Carved carve(const std::string& file, bool stopped = false) {
        image = imageWith(file, kSector);
        hit = file.compare(6, 8, "HEAPCCDR") ? measureWithEveryFormat(image, kSector, stopped)
                                             : measureAt(image, kSector, {"mrw", "raf", "x3f", "mp3", "crw"});
        return {hit.calculator ? std::string(hit.calculator->parentKey()) : "", hit.size};
    }
    Carved preview() const {
        const CarvingContext::RawJpeg& j = contexts.back()->rawJpeg;
        return {j.found ? "jpeg at " + std::to_string(j.sectorNumber) + "+" + std::to_string(j.extraBytes) : "",
                j.fileSize};
    }
    SizeCalculatorChain::Hit hit;
    std::filesystem::path image;
};

TEST_F(RawOtherCalculatorsTest, BuiltRawFilesAreMeasuredByTheirLayoutsAndHandOverTheirPreviews) {
    // CRW: up to the end of the trailer that points back at its table, in both byte orders; one
    // trailer straddles two windows. The preview (heap offset 100 = file offset 126) needs 0xFFD8.
    EXPECT_EQ(carve(crw(true, 3000000, 3, 500000)), Carved("crw", 3000004));
    EXPECT_EQ(preview(), Carved("jpeg at 11+126", 500000));
    EXPECT_EQ(carve(crw(false, 2097152 + 4 * 65536 - 2, 2, 500000, false)), Carved("crw", 2097152 + 4 * 65536 + 2));
    EXPECT_EQ(preview(), Carved("", 500000));
    EXPECT_EQ(carve(crw(false, 2200000, 4, 500000)), Carved("crw", 2200004));
    EXPECT_EQ(preview(), Carved("jpeg at 11+126", 500000));
    // RAF: raw offset + raw length (twice when the second block's length matches) + 512.
    EXPECT_EQ(carve(raf(2000000, 10000000, 10000000, 40000)), Carved("raf", 22000512));
    EXPECT_EQ(preview(), Carved("jpeg at 11+300", 40000));
    EXPECT_EQ(carve(raf(2000000, 10000000, 7, 1024)), Carved("raf", 12000512));
    EXPECT_EQ(preview(), Carved("", 1024));
    // MRW: height x width samples (2 bytes "R", 1.5 bytes "Y") behind the MRM block, + 512.
    EXPECT_EQ(carve(mrw('Y')), Carved("mrw", 9000000 + 1008 + 512));
    EXPECT_EQ(carve(mrw('R')), Carved("mrw", 12000000 + 1008 + 512));
    EXPECT_EQ(carve(mrw('Q')), Carved("mrw", 0));
    // X3F: the directory, its 12-byte entries and the closing offset; the JPEG section's data
    // 28 bytes into the section the first entry names.
    EXPECT_EQ(carve(x3f(5000000)), Carved("x3f", 5000136));
    EXPECT_EQ(preview(), Carved("jpeg at 11+260", 30000));
    EXPECT_EQ(dynamic_cast<X3fFileCheck&>(*hit.calculator).extensionOfFile(), ".x3f");
    // A Sigma TIFF is claimed ahead of the TIFF family and named .tif, unless a DNG tag follows its Make.
    EXPECT_EQ(carve(tiff("SIGMA SD14")).first, "x3f");
    EXPECT_EQ(dynamic_cast<X3fFileCheck&>(*hit.calculator).extensionOfFile(), ".tif");
    EXPECT_NE(carve(tiff("SIGMA", num(50706, 2, true) + num(1, 2, true) + num(4, 4, true) + "\1\4\0\0", 1)).first,
              "x3f");
}

// CRW carries no classifier mark of its own: behind a TIFF classifier that looks for the heap mark
// it answers from that classification, reading nothing; behind the Kodak ones alone it looks itself.
TEST_F(RawOtherCalculatorsTest, CrwTakesTheClassificationOfATiffClassifierAheadOfIt) {
    CarvingContext& context = contextOver(image = imageWith(crw(true, 3000000, 3, 500000), kSector));
    CrwFileCheck check(context);
    const auto leading = leadingBytes(image, kSector);
    context.tiffInUse.kdc = context.tiffInUse.k25 = context.tiffInUse.dcr = true;
    EXPECT_TRUE(check.isFile(leading, kSector));
    context.tiffInUse.hasselblad = true;
    EXPECT_FALSE(check.isFile(leading, kSector));
    context.tiff.crwFormatFlag = true;
    EXPECT_TRUE(check.isFile({}, kSector));
}

TEST_F(RawOtherCalculatorsTest, OtherFilesAreRefusedAndHostileOrCutOnesEndPromptlyWithSaneAnswers) {
    const auto tif = toolSample("convert -size 16x16 xc:red \"$OUT\"", "tif");
    const auto jpg = toolSample("convert -size 16x16 xc:red \"$OUT\"", "jpg");
    const std::string_view ours[] = {"mrw", "raf", "x3f", "crw"};
    for (const std::string& other : {tif, jpg, tiff("NIKON"), "FOVb"s + std::string(300, 'x')})
        EXPECT_TRUE(acceptedBy(imageWith(other, kSector), kSector, ours).empty());
    // CRW: a trailer before the search's start, or none, gives the fixed 15 MiB; a
    // preview of 5000000 bytes is not handed over.
    EXPECT_EQ(carve(crw(true, 900000, 3, 500000)), Carved("crw", 15728640));
    EXPECT_EQ(carve(at("II"s + num(0xFFFFFFFF, 4, true) + "HEAPCCDR", 3000000, std::string(5000, '\1'))),
              Carved("crw", 15728640));
    EXPECT_EQ(carve(crw(true, 3000000, 3, 5000000)), Carved("crw", 3000004));
    EXPECT_EQ(preview().first, "");
    // RAF: a raw offset past 200 MiB, or a file under 100 bytes, is no file.
    EXPECT_EQ(carve(raf(209715201, 10, 0, 0)), Carved("raf", 0));
    EXPECT_EQ(carve(raf(50, 49, 0, 0)), Carved("raf", 0));
    // MRW: no picture description among five blocks, an MRM block past 50 MiB, a block that
    // sends the walk past the device, or a stop: all 0.
    EXPECT_EQ(carve(mrw('Y', 5)), Carved("mrw", 0));
    EXPECT_EQ(carve(at(mrw('Y'), 4, num(52428801, 4))), Carved("mrw", 0));
    EXPECT_EQ(carve(at(mrw('Y'), 12, num(0xFFFFFFFF, 4))), Carved("mrw", 0));
    EXPECT_EQ(carve(mrw('Y'), true), Carved("mrw", 0));
    // X3F: without a directory the fixed 19 MiB; a stopped search 0. A Sigma TIFF whose IFD0
    // count or Make offset is out of bounds is left to the TIFF family.
    EXPECT_EQ(carve(at("FOVb", 232, "SECi")), Carved("x3f", 19922944));
    EXPECT_EQ(carve(x3f(5000000), true), Carved("x3f", 0));
    EXPECT_NE(carve(at(tiff("SIGMA"), 8, num(0xFFFF, 2, true))).first, "x3f");
    EXPECT_NE(carve(at(tiff("SIGMA"), 30, num(104857601, 4, true))).first, "x3f");
}

// A Sigma TIFF is measured by the plain TIFF walk under its own bounds: the sum of its parts + 512; a second
// directory of more than 100 entries ends the walk at 25 MiB.
TEST_F(RawOtherCalculatorsTest, SigmaTiffIsTheSumOfItsParts) {
    const auto sigma = [](bool overlongNext) {
        testsupport::TiffBuilder b;
        const auto ifd0 = b.addIfd();
        b.ascii(ifd0, 271, "SIGMA SD14");
        b.entry(ifd0, 256, testsupport::TiffBuilder::Long, {64});
        b.entry(ifd0, 257, testsupport::TiffBuilder::Long, {64});
        b.entry(ifd0, 258, testsupport::TiffBuilder::Short, {8});
        b.strips(ifd0, {b.addBlob(std::string(12288, 's')), b.addBlob(std::string(4096, 't'))});
        if (overlongNext) b.nextOffset(ifd0, 0x20000);
        std::string file = b.build();
        if (overlongNext) file += std::string(0x20000 - file.size(), '\0') + "\xFF\xFF"s;
        return file;
    };
    const std::string file = sigma(false);
    EXPECT_EQ(carve(file), Carved("x3f", file.size() + 512));
    EXPECT_EQ(dynamic_cast<X3fFileCheck&>(*hit.calculator).extensionOfFile(), ".tif");
    EXPECT_EQ(carve(sigma(true)), Carved("x3f", 26214400));
}
