#include "SizeCalcFixture.h"
#include "sizecalc/SizeCalculator.h"
#include "support/TiffBuilder.h"

#include <functional>
#include <gtest/gtest.h>

using namespace testsupport;
using namespace std::string_literals;
using B = TiffBuilder;

namespace {
constexpr std::uint64_t kSector = 37;
constexpr std::uint16_t kMake = 271, kModel = 272;
} // namespace

// Every file is offered to the chain of every format, where ARW classifies
// the header for the whole family.
class SonyKodakDngNefTest : public SizeCalcFixture {
protected:
    SizeCalculatorChain::Hit carve(const std::string& bytes) {
        image = imageWith(bytes, kSector);
        return measureWithEveryFormat(image, kSector);
    }
    SizeCalculatorChain::Hit carveWith(const std::string& bytes, std::initializer_list<std::string_view> keys) {
        image = imageWith(bytes, kSector);
        return measureAt(image, kSector, keys);
    }
    static std::string_view keyOf(const SizeCalculatorChain::Hit& hit) {
        return hit.calculator ? hit.calculator->parentKey() : "";
    }
    const CarvingContext::RawJpeg& jpeg() const { return contexts.back()->rawJpeg; }
    void expectPreview(const B& b, B::Blob preview, std::uint64_t size) {
        EXPECT_TRUE(jpeg().found);
        EXPECT_EQ(jpeg().sectorNumber, kSector + b.offsetOf(preview) / 512);
        EXPECT_EQ(jpeg().extraBytes, b.offsetOf(preview) % 512);
        EXPECT_EQ(jpeg().fileSize, size);
    }
    // IFD0 with Make and Model, and a sub-IFD whose single strip is given.
    // ARW, which classifies for the family, looks at no IFD0 of fewer than
    // four entries: each file here has four at least.
    static B::Ifd camera(B& b, const std::string& make, const std::string& model, std::uint32_t stripOffset,
                         std::uint32_t stripBytes, B::Ifd& sub) {
        const auto ifd0 = b.addIfd();
        b.entry(ifd0, 254, B::Long, {1});
        b.ascii(ifd0, kMake, make);
        b.ascii(ifd0, kModel, model);
        sub = b.addIfd(true);
        b.subIfds(ifd0, {sub});
        b.raw(sub, 273, B::Long, 1, stripOffset);
        b.raw(sub, 279, B::Long, 1, stripBytes);
        return ifd0;
    }
    std::filesystem::path image;
};

// ARW of the later DSLRs: the sub-IFD's strip end, no margin; the IFD0
// preview is recorded with its length capped at 7 MiB, and dropped when it
// starts past the raw data. As SR2 (a DSC-R1) the same strips give + 512 and
// the preview comes from the sub-IFD.
TEST_F(SonyKodakDngNefTest, SonyFilesEndAtTheSubIfdStrip) {
    for (const std::uint32_t previewAt : {0u, 0x2000000u}) {
        B b;
        B::Ifd sub{};
        const auto ifd0 = camera(b, "SONY", "DSLR-A700", 0x30000, 0x1000000, sub);
        const auto preview = b.addBlob(B::jpeg(2000));
        if (previewAt)
            b.raw(ifd0, 513, B::Long, 1, previewAt);
        else
            b.pointer(ifd0, 513, preview);
        b.raw(ifd0, 514, B::Long, 1, 8 << 20);
        const auto hit = carve(b.build());
        EXPECT_EQ(keyOf(hit), "arw");
        EXPECT_EQ(hit.size, 0x1030000u);
        if (previewAt)
            EXPECT_FALSE(jpeg().found);
        else
            expectPreview(b, preview, 7340032);
    }
    B b;
    B::Ifd sub{};
    camera(b, "SONY", "DSC-R1", 0x30000, 0x1000000, sub);
    const auto preview = b.addBlob(B::jpeg(5000));
    b.pointer(sub, 513, preview);
    b.raw(sub, 514, B::Long, 1, 5000);
    const std::string sr2 = b.build();
    for (const bool alone : {false, true}) {
        // Alone, SR2 finds the DSC-R1 through its SONY Make.
        const auto hit = alone ? carveWith(sr2, {"sr2"}) : carve(sr2);
        EXPECT_EQ(keyOf(hit), "sr2");
        EXPECT_EQ(hit.size, 0x1030000u + 512);
        expectPreview(b, preview, 5000);
    }
}

// The DSLR-A100 keeps the raw data's length at byte 148 of its private
// block: sub-IFD offset + that length. Without a SubIFDs entry a Sony file
// is a plain TIFF, not ARW.
TEST_F(SonyKodakDngNefTest, SonyA100AndSubIfdlessSony) {
    B b;
    const auto ifd0 = b.addIfd();
    b.ascii(ifd0, kMake, "SONY");
    b.ascii(ifd0, kModel, "DSLR-A100");
    b.raw(ifd0, 330, B::Long, 1, 0x20000);
    std::string block(152, '\0');
    block[148] = 0x00, block[149] = 0x00, block[150] = 0x50;
    b.pointer(ifd0, 50740, b.addBlob(block));
    const auto hit = carve(b.build());
    EXPECT_EQ(keyOf(hit), "arw");
    EXPECT_EQ(hit.size, 0x20000u + 0x500000);

    B plain;
    const auto only = plain.addIfd();
    plain.ascii(only, kMake, "SONY");
    plain.ascii(only, kModel, "DSLR-A700");
    plain.entry(only, 256, B::Short, {1});
    plain.strips(only, {plain.addBlob(std::string(300, 'x'))});
    EXPECT_EQ(keyOf(carve(plain.build())), "tiff");
}

// KDC ends at the full-resolution image's strip + 512: IFD0's own when its
// NewSubfileType is 0 (its SubIFDs ignored), else the sub-IFD's, where more
// than 25 strips are refused. K25 measures the same shape without margin.
TEST_F(SonyKodakDngNefTest, KodakKdcAndK25EndAtTheFullResolutionStrip) {
    const auto kodak = [](const std::string& model, bool ifd0IsFull, int strips) {
        B b;
        const auto ifd0 = b.addIfd();
        b.entry(ifd0, 254, B::Long, {ifd0IsFull ? 0u : 1u});
        b.ascii(ifd0, kMake, "Eastman Kodak Company");
        b.ascii(ifd0, kModel, model);
        const auto sub = b.addIfd(true);
        b.subIfds(ifd0, {sub});
        b.raw(ifd0, 273, B::Long, 1, 0x10000);
        b.raw(ifd0, 279, B::Long, 1, 0x200000);
        std::vector<std::uint32_t> offsets(strips, 0x1000), counts(strips, 0x500);
        offsets.back() = 0x60000;
        counts.back() = 0x700000;
        b.entry(sub, 273, B::Long, offsets);
        b.entry(sub, 279, B::Long, counts);
        return b.build();
    };
    auto hit = carve(kodak("Kodak DC120 ZOOM", true, 1));
    EXPECT_EQ(keyOf(hit), "kdc");
    EXPECT_EQ(hit.size, 0x10000u + 0x200000 + 512);
    hit = carve(kodak("Kodak DC120 ZOOM", false, 1));
    EXPECT_EQ(hit.size, 0x60000u + 0x700000 + 512);
    EXPECT_FALSE(carve(kodak("Kodak DC120 ZOOM", false, 26)));
    hit = carve(kodak("KODAK DC25 ZOOM", false, 26));
    EXPECT_EQ(keyOf(hit), "k25");
    EXPECT_EQ(hit.size, 0x60000u + 0x700000);
    // Without ARW each Kodak classifier decides by itself.
    EXPECT_EQ(keyOf(carveWith(kodak("KODAK DC25 ZOOM", false, 1), {"kdc", "k25", "dcr"})), "k25");
}

// DCR: the largest strip end over its sub-IFDs, 4 bytes per count of the
// Kodak tag 65001 and 512. A "DCS PRO" Model is DCR's by K25's test only,
// and a SubIFDs count of 0 or above 10 is no DCR.
TEST_F(SonyKodakDngNefTest, KodakDcrTakesTheLargestStripEnd) {
    const auto dcr = [](const std::string& model, std::uint32_t subIfdCount) {
        B b;
        const auto ifd0 = b.addIfd();
        b.ascii(ifd0, kMake, "Kodak");
        b.ascii(ifd0, kModel, model);
        b.entry(ifd0, 254, B::Long, {0});
        const auto a = b.addIfd(true), c = b.addIfd(true);
        if (subIfdCount == 2)
            b.subIfds(ifd0, {a, c});
        else
            b.raw(ifd0, 330, B::Long, subIfdCount, 8);
        b.raw(a, 273, B::Long, 1, 1000000);
        b.raw(a, 279, B::Long, 1, 8000000);
        b.raw(c, 273, B::Long, 1, 4000000);
        b.raw(c, 279, B::Long, 1, 1000000);
        b.raw(c, 65001, B::Undefined, 1000, 64);
        return b.build();
    };
    const auto hit = carve(dcr("KODAK DCS Pro 14N", 2));
    EXPECT_EQ(keyOf(hit), "dcr");
    EXPECT_EQ(hit.size, 9000000u + 4000 + 512);
    EXPECT_EQ(keyOf(carveWith(dcr("DCS PRO", 2), {"k25", "dcr"})), "dcr");
    EXPECT_FALSE(carveWith(dcr("DCS PRO", 2), {"dcr"}));
    EXPECT_FALSE(carve(dcr("KODAK DCS Pro 14N", 0)));
    EXPECT_FALSE(carve(dcr("KODAK DCS Pro 14N", 11)));
}

// A DNG version tag makes a DNG of any maker: it ends where the furthest of
// its directories and of the strips they name does, + 512, the second
// sub-IFD's strip recorded as its preview. Without SubIFDs it is IFD0, its
// out-of-line values and its strips, + 512.
TEST_F(SonyKodakDngNefTest, DngIsItsRawStripAndPreview) {
    B b;
    const auto ifd0 = b.addIfd();
    b.entry(ifd0, 256, B::Short, {1});
    b.entry(ifd0, 257, B::Short, {1});
    b.ascii(ifd0, kMake, "Canon");
    b.raw(ifd0, 50706, B::Byte, 4, 1);
    const auto raw = b.addIfd(true), small = b.addIfd(true);
    b.subIfds(ifd0, {raw, small});
    const auto preview = b.addBlob(B::jpeg(4000));
    b.strips(small, {preview});
    b.strips(raw, {b.addBlob(std::string(70000, 'r'))});
    const std::string file = b.build();
    const auto hit = carve(file);
    EXPECT_EQ(keyOf(hit), "dng");
    // The raw strip is stored last: the file ends with it.
    EXPECT_EQ(hit.size, file.size() + 512);
    expectPreview(b, preview, 4000);

    // Strips that begin inside IFD0 end the file where the longer ends;
    // more than ten sub-IFDs are damage.
    const auto early = [](std::uint32_t subIfdCount) {
        B e;
        const auto ifd = e.addIfd();
        for (std::uint16_t tag = 256; tag < 259; ++tag)
            e.entry(ifd, tag, B::Short, {1});
        e.raw(ifd, 50706, B::Byte, 4, 1);
        const auto rawSub = e.addIfd(true), previewSub = e.addIfd(true);
        if (subIfdCount == 2)
            e.subIfds(ifd, {rawSub, previewSub});
        else
            e.raw(ifd, 330, B::Long, subIfdCount, 8);
        e.raw(rawSub, 273, B::Long, 1, 8);
        e.raw(rawSub, 279, B::Long, 1, 10);
        e.raw(previewSub, 273, B::Long, 1, 8);
        e.raw(previewSub, 279, B::Long, 1, 3000);
        return e.build();
    };
    EXPECT_EQ(carve(early(2)).size, 8 + 3000 + 512u);
    EXPECT_FALSE(carve(early(11)));

    B lone;
    const auto only = lone.addIfd();
    lone.ascii(only, kMake, "Canon"); // 6 bytes out of line
    lone.raw(only, 50706, B::Byte, 4, 1);
    for (std::uint16_t tag = 256; tag < 262; ++tag)
        lone.entry(only, tag, B::Short, {1});
    EXPECT_EQ(carve(lone.build()).size, 8 + 12 * 8 + 6 + 6 + 512u);
}

// NEF: the raw sub-IFD's strip end + 512 with the longest preview of its
// sub-IFDs; one sub-IFD with a single strip ends there, no margin; a Nikon
// file without SubIFDs is a camera TIFF.
TEST_F(SonyKodakDngNefTest, NefTakesTheRawStripAndTheLongestPreview) {
    B b;
    const auto ifd0 = b.addIfd();
    b.entry(ifd0, 256, B::Short, {1});
    b.entry(ifd0, 257, B::Short, {1});
    b.ascii(ifd0, kMake, "NIKON CORPORATION");
    const auto thumb = b.addIfd(true), big = b.addIfd(true), raw = b.addIfd(true);
    b.subIfds(ifd0, {thumb, big, raw});
    B::Blob previews[2] = {b.addBlob(B::jpeg(2000)), b.addBlob(B::jpeg(6000))};
    b.pointer(thumb, 513, previews[0]);
    b.raw(thumb, 514, B::Long, 1, 2000);
    b.pointer(big, 513, previews[1]);
    b.raw(big, 514, B::Long, 1, 6000);
    b.strips(raw, {b.addBlob(std::string(5000, 'a')), b.addBlob(std::string(9000, 'b'))});
    const std::string file = b.build();
    auto hit = carve(file);
    EXPECT_EQ(keyOf(hit), "nef");
    EXPECT_EQ(hit.size, file.size() + 512);
    expectPreview(b, previews[1], 6000);

    B one;
    B::Ifd sub{};
    camera(one, "NIKON", "D1", 0x8000, 0x90000, sub);
    hit = carve(one.build());
    EXPECT_EQ(keyOf(hit), "nef");
    EXPECT_EQ(hit.size, 0x98000u);

    B tiff;
    const auto plain = tiff.addIfd();
    tiff.ascii(plain, kMake, "NIKON");
    tiff.entry(plain, 256, B::Short, {1});
    tiff.strips(plain, {tiff.addBlob(std::string(300, 'x'))});
    EXPECT_EQ(keyOf(carve(tiff.build())), "tiff");
}

// Crafted counts, loops and offsets end at once with no file.
TEST_F(SonyKodakDngNefTest, HostileDirectoriesEndPromptly) {
    const auto with = [](const std::string& make, const std::string& model,
                         const std::function<void(B&, B::Ifd, B::Ifd)>& craft) {
        B b;
        const auto ifd0 = b.addIfd();
        b.entry(ifd0, 254, B::Long, {1});
        b.ascii(ifd0, kMake, make);
        b.ascii(ifd0, kModel, model);
        const auto sub = b.addIfd(true);
        b.entry(sub, 256, B::Short, {1});
        craft(b, ifd0, sub);
        return b.build();
    };
    const auto hugeArray = [](B& b, B::Ifd ifd0, B::Ifd sub) {
        b.subIfds(ifd0, {sub});
        b.raw(sub, 273, B::Long, 65534, 0xFFFFFF00);
        b.raw(sub, 279, B::Long, 65534, 0xFFFFFF00);
    };
    // Every listed sub-IFD is IFD0 itself, as many times as the count says.
    const auto selfLoop = [](B& b, B::Ifd ifd0, B::Ifd) { b.raw(ifd0, 330, B::Long, 65534, 8); };
    const auto wildSub = [](B& b, B::Ifd ifd0, B::Ifd) { b.raw(ifd0, 330, B::Long, 1, 0xFFFFFFF0); };
    for (const auto& craft : {std::function<void(B&, B::Ifd, B::Ifd)>(hugeArray), {selfLoop}, {wildSub}})
        for (const auto& [make, model] : {std::pair{"SONY", "DSLR-A700"},
                                          {"SONY", "DSC-R1"},
                                          {"Kodak", "Kodak DC120"},
                                          {"Kodak", "KODAK DC25"},
                                          {"Kodak", "KODAK DCS Pro"},
                                          {"NIKON", "D1"}}) {
            const auto hit = carve(with(make, model, craft));
            EXPECT_LE(hit.size, 209715200u + 512) << model;
        }
}
