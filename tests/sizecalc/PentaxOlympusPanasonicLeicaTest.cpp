#include "SizeCalcFixture.h"
#include "formats/CarvingFormat.h"
#include "sizecalc/SizeCalculator.h"
#include "support/TiffBuilder.h"

#include <functional>
#include <gtest/gtest.h>

using namespace testsupport;
using B = TiffBuilder;
using namespace std::string_literals;

namespace {
constexpr std::uint64_t kSector = 37;
constexpr std::uint16_t kMake = 271;
} // namespace

class PentaxOlympusPanasonicLeicaTest : public SizeCalcFixture {
protected:
    // The chain of every format: the family's first classifier looks, the
    // rest answer from its flags.
    SizeCalculatorChain::Hit carve(const std::string& bytes) {
        image = imageWith(bytes, kSector);
        return measureWithEveryFormat(image, kSector);
    }
    std::string_view keyOf(const SizeCalculatorChain::Hit& hit) {
        return hit.calculator ? hit.calculator->parentKey() : "";
    }
    void expectPreview(const B& b, B::Blob preview, std::uint64_t size) {
        const auto& jpeg = contexts.back()->rawJpeg;
        EXPECT_TRUE(jpeg.found);
        EXPECT_EQ(jpeg.sectorNumber, kSector + b.offsetOf(preview) / 512);
        EXPECT_EQ(jpeg.extraBytes, b.offsetOf(preview) % 512);
        EXPECT_EQ(jpeg.fileSize, size);
    }
    // IFD0 with the Make and the strips (last in the file), and whatever
    // `more` adds.
    std::string raw(B& b, const std::string& make, const std::function<void(B&, B::Ifd)>& more = {}) {
        const auto ifd0 = b.addIfd();
        b.entry(ifd0, 256, B::Short, {4000});
        b.entry(ifd0, 257, B::Short, {3000});
        b.ascii(ifd0, kMake, make);
        if (more) more(b, ifd0);
        b.strips(ifd0, {b.addBlob(std::string(3000, 'r')), b.addBlob(std::string(5000, 's'))});
        return b.build();
    }
    std::filesystem::path image;
};

// Three IFDs make a PEF: it ends at the furthest strip, and the longest
// preview of the chain is carved and added to its length (+ 512).
TEST_F(PentaxOlympusPanasonicLeicaTest, PefEndsAtItsStripAndAddsItsLongestPreview) {
    for (const int ifds : {3, 2}) {
        B b;
        std::vector<B::Ifd> chain;
        std::vector<B::Blob> previews;
        for (int i = 0; i < ifds; ++i) {
            chain.push_back(b.addIfd());
            previews.push_back(b.addBlob(B::jpeg(i == 1 ? 9000 : 2000)));
            b.pointer(chain.back(), 513, previews.back());
            b.entry(chain.back(), 514, B::Long, {i == 1 ? 9000u : 2000u});
        }
        b.entry(chain[0], 256, B::Short, {4000});
        b.ascii(chain[0], kMake, "PENTAX Corporation");
        b.strips(chain.back(), {b.addBlob(std::string(4000, 'r')), b.addBlob(std::string(6000, 's'))});
        const std::string file = b.build();
        const auto hit = carve(file);
        if (ifds == 2) { // two IFDs: a camera TIFF
            EXPECT_EQ(keyOf(hit), "tiff");
            continue;
        }
        EXPECT_EQ(keyOf(hit), "pef");
        EXPECT_EQ(hit.size, file.size() + 9000 + 512);
        expectPreview(b, previews[1], 9000);
    }
}

// ORF: IFD0's strips (+ 5500 for "RS") + 512; the preview through the EXIF
// maker note, named by a directory (older note) or ended by the first EOI
// from offset 24576 (newer note, its length counted from a window on + 50).
TEST_F(PentaxOlympusPanasonicLeicaTest, OrfAddsItsStripsAndFindsThePreviewThroughItsMakerNote) {
    std::uint32_t noteAt = 0, dirAt = 0;
    B::Blob preview{};
    const auto older = [&](B& b, B::Ifd ifd0) {
        const auto exif = b.addIfd(true), note = b.addIfd(true), dir = b.addIfd(true);
        b.pointer(ifd0, 34665, exif);
        b.bytes(exif, 1, "OLYMP\0II"s);
        b.raw(exif, 37500, B::Undefined, 100, noteAt);
        b.raw(note, 0x2020, B::Long, 1, dirAt);
        preview = b.addBlob(B::jpeg(7000));
        b.pointer(dir, 257, preview);
        b.entry(dir, 258, B::Long, {7000});
    };
    B first; // the same layout, to learn where the note and directory go
    raw(first.magic('R', 'O'), "OLYMPUS IMAGING CORP.", older);
    noteAt = static_cast<std::uint32_t>(first.offsetOf(B::Ifd{2}) - 8);
    dirAt = static_cast<std::uint32_t>(first.offsetOf(B::Ifd{3}) - 12);
    B b;
    const std::string file = raw(b.magic('R', 'O'), "OLYMPUS IMAGING CORP.", older);
    auto hit = carve(file);
    EXPECT_EQ(keyOf(hit), "orf");
    EXPECT_EQ(hit.size, file.size() + 512);
    expectPreview(b, preview, 7000);

    B rs;
    B::Blob jpeg{};
    const std::string newer = raw(rs.magic('R', 'S'), "OLYMPUS", [&](B& b, B::Ifd ifd0) {
        const auto exif = b.addIfd(true);
        b.pointer(ifd0, 34665, exif);
        b.pointer(exif, 37500, b.addBlob("OLYMPUS\0II\x03\0"s));
        b.addBlob(std::string(24576, 'p'));
        jpeg = b.addBlob(B::jpeg(4000));
    });
    hit = carve(newer);
    EXPECT_EQ(keyOf(hit), "orf");
    EXPECT_EQ(hit.size, newer.size() + 5500 + 512);
    const auto& found = contexts.back()->rawJpeg;
    EXPECT_EQ(found.sectorNumber, kSector + 24576 / 512);
    EXPECT_EQ(found.fileSize, 65536 + (rs.offsetOf(jpeg) + 4000 - 2 - 24576) + 50);
}

// Panasonic and Leica files end at IFD0's strip (+ 512); tag 46 points at the
// preview, measured by its markers.
TEST_F(PentaxOlympusPanasonicLeicaTest, PanasonicAndLeicaEndAtTheirStripWithTheTag46Preview) {
    for (const auto& [make, key] : {std::pair{"Panasonic", "raw"}, {"LEICA CAMERA AG", "lei"}}) {
        B b;
        B::Blob preview{};
        const std::string file = raw(b.magic(0x55, 0x00), make, [&](B& b, B::Ifd ifd0) {
            preview = b.addBlob(B::jpeg(12000));
            b.pointer(ifd0, 46, preview);
        });
        const auto hit = carve(file);
        EXPECT_EQ(keyOf(hit), key);
        EXPECT_EQ(hit.size, file.size() + 512);
        expectPreview(b, preview, 12000);
    }
    // A preview whose scan data never ends is cut at 5 MiB, answered as that
    // + 1 however many read windows the scan crosses on the way.
    B b;
    B::Blob endless{};
    const std::string file = raw(b.magic(0x55, 0x00), "Panasonic", [&](B& b, B::Ifd ifd0) {
        endless = b.addBlob("\xFF\xD8\xFF\xE0\x00\x02\xFF\xDA"s + std::string(6u << 20, 'j'));
        b.pointer(ifd0, 46, endless);
    });
    EXPECT_EQ(keyOf(carve(file)), "raw");
    expectPreview(b, endless, 5242881);
    // Classifying alone, Panasonic refuses Olympus and Pentax makes.
    const std::string_view alone[] = {"raw"};
    for (const char* make : {"OLYMPUS", "PENTAX"}) {
        B b;
        image = imageWith(raw(b.magic(0x55, 0x00), make), kSector);
        EXPECT_TRUE(acceptedBy(image, kSector, alone).empty()) << make;
    }
}

// A Hasselblad file's strip is in its SubIFD; from 30 MiB on 10 MiB is cut,
// and no margin is added. Alone, 3FR claims the file without SubIFDs.
TEST_F(PentaxOlympusPanasonicLeicaTest, HasselbladEndsAtItsSubIfdStrip) {
    const auto hasselblad = [](std::uint32_t end, bool sub) {
        B b;
        const auto ifd0 = b.addIfd(), child = b.addIfd(true);
        b.ascii(ifd0, kMake, "Hasselblad");
        b.entry(ifd0, 256, B::Long, {100});
        b.entry(ifd0, 257, B::Long, {100});
        b.entry(ifd0, 258, B::Short, {16});
        if (sub) b.subIfds(ifd0, {child});
        b.raw(child, 273, B::Long, 1, 1000);
        b.raw(child, 279, B::Long, 1, end - 1000);
        return b.build();
    };
    const auto hit = carve(hasselblad(40000000, true));
    EXPECT_EQ(keyOf(hit), "3fr");
    EXPECT_EQ(hit.size, 40000000u - 10485760u);
    EXPECT_EQ(carve(hasselblad(20000000, true)).size, 20000000u);
    EXPECT_EQ(keyOf(carve(hasselblad(9000, false))), "tiff");
    const std::string_view alone[] = {"3fr"};
    image = imageWith(hasselblad(9000, false), kSector);
    EXPECT_EQ(acceptedBy(image, kSector, alone).size(), 1u);
    image = imageWith(hasselblad(9000, true), kSector);
    EXPECT_TRUE(acceptedBy(image, kSector, alone).empty());
}

// Loops, wild offsets and runaway previews end promptly with a sane answer.
TEST_F(PentaxOlympusPanasonicLeicaTest, HostileRawFilesEndPromptly) {
    // A PEF chain that loops: the walk gives up at its seventh IFD.
    B loop;
    const auto a = loop.addIfd(), b = loop.addIfd(), c = loop.addIfd();
    loop.ascii(a, kMake, "PENTAX");
    for (const auto ifd : {a, b, c})
        loop.entry(ifd, 256, B::Long, {1});
    loop.strips(b, {loop.addBlob(std::string(900, 'r'))});
    loop.linkTo(c, a);
    image = imageWith(loop.build(), kSector);
    CarvingContext& context = contextOver(image);
    context.tiff.littleEndianFormatFlag = true;
    const auto pef = SizeCalculatorChain::make("pef", context);
    EXPECT_EQ(pef->fileSizeCalculation(platform::ByteView(leadingBytes(image, kSector)), kSector), 0u);

    // A strip array beyond the family's offsets ends the walk with 0.
    B wild;
    auto hit = carve(
        raw(wild.magic(0x55, 0x00), "Panasonic", [](B& b, B::Ifd ifd0) { b.raw(ifd0, 273, B::Long, 9, 0xFFFFFFF0); }));
    EXPECT_EQ(keyOf(hit), "raw");
    EXPECT_EQ(hit.size, 0u);

    // A preview that never ends is cut at its first length past 5 MiB.
    B runaway;
    const std::string file = raw(runaway.magic(0x55, 0x00), "Panasonic",
                                 [](B& b, B::Ifd ifd0) { b.pointer(ifd0, 46, b.addBlob("\xFF\xD8"s)); });
    hit = carve(file);
    EXPECT_EQ(hit.size, file.size() + 512);
    EXPECT_EQ(contexts.back()->rawJpeg.fileSize, 5242882u);
    // A maker note out of reach ends the ORF walk with 0.
    B orf;
    hit = carve(raw(orf.magic('R', 'O'), "OLYMPUS", [](B& b, B::Ifd ifd0) {
        const auto exif = b.addIfd(true);
        b.pointer(ifd0, 34665, exif);
        b.raw(exif, 37500, B::Undefined, 8, 0xFFFFFFF0);
    }));
    EXPECT_EQ(keyOf(hit), "orf");
    EXPECT_EQ(hit.size, 0u);
}
