#include "RecogniserFixture.h"
#include "support/TestSupport.h"
#include "volume/Volume.h"

#include <gtest/gtest.h>
#include <random>

using namespace testsupport;
using DatabaseRecordRecognisersTest = RecogniserFixture;

// A record is its length plus its 20-byte header, named and filed in its kind's folder by its number.
TEST_F(DatabaseRecordRecognisersTest, RecordIsMeasuredNamedAndFiledByItsNumber) {
    const auto record = [this](std::uint32_t type, std::uint32_t length, std::uint16_t shortLength, std::uint32_t n) {
        std::vector<std::uint8_t> bytes(20);
        putBE(bytes, 4, length, 4), putBE(bytes, 8, shortLength, 2), putBE(bytes, 16, n, 4);
        Volume& volume = volumeOver(imageWith(asString(bytes), kSector));
        Sig sig = sigOf(type);
        const Verdict v = recognise(volume, sig);
        return std::make_tuple(v.accepted, v.foundSize, v.skipFileSize, searchOf(volume).foundName,
                               searchOf(volume).foundParentPath);
    };
    const std::string base = "Office 2011 Identities/Main Identity/Data Records/";
    EXPECT_EQ(record(36, 300, 300, 1234567),
              std::make_tuple(true, 320u, false, "x05_1234567", base + "Folders/0T/0B/1M/234K"));
    EXPECT_EQ(record(39, 0, 0, 999), std::make_tuple(true, 20u, false, "x00_999", base + "Messages/0T/0B/0M/0K"));
    EXPECT_EQ(std::get<4>(record(46, 8, 8, 1234567890)), base + "UIDs/0T/0B/1M/234K");
    EXPECT_FALSE(std::get<0>(record(33, 0x1012C, 300, 1))); // lengths that agree only in their low 16 bits
}

// The newer master page gives the pages, where a book ends; objects follow to eight zero bytes or the volume's end.
TEST_F(DatabaseRecordRecognisersTest, LayoutDocumentIsItsPagesAndTheObjectsAfterThem) {
    const auto database = [](const std::string& type, std::uint32_t pages0, std::uint32_t sequence0,
                             std::uint32_t pages1, std::uint32_t sequence1, std::uint8_t order = 2) {
        std::vector<std::uint8_t> bytes(8192);
        for (const std::size_t page : {0, 4096}) {
            putBE(bytes, page + 8, 0xBD31EFE7FE74B71D, 8), putLE(bytes, page + 264, page ? sequence1 : sequence0, 4);
            std::copy(type.begin(), type.end(), bytes.begin() + page + 16);
            bytes[page + 24] = order, putLE(bytes, page + 280, page ? pages1 : pages0, 4);
        }
        return asString(bytes);
    };
    const auto object = [](std::uint64_t head, std::uint64_t tail, std::uint32_t length, std::uint8_t order = 2) {
        std::vector<std::uint8_t> bytes(36 + (length < 100000 ? length : 0));
        putBE(bytes, 0, head, 8), putBE(bytes, 8, tail, 8), (order == 2 ? putBE : putLE)(bytes, 32, length, 4);
        return asString(bytes);
    };
    const Sig indd = sigOf(47, "indd");
    EXPECT_EQ(recogniseBytes(database("BOOKBOOK", 10, 3, 10, 3), indd), (Verdict{true, 40960, 0, false, "indb"}));
    EXPECT_EQ(recogniseBytes(database("DOCUMENT", 10, 5, 12, 4), indd).foundSize, 10u * 4096);
    EXPECT_EQ(recogniseBytes(database("DOCUMENT", 10, 4, 12, 4), indd).foundSize, 12u * 4096);
    constexpr std::uint64_t head = 0xDE39397951884B6C, tail = 0xA4D3C728B3417106;
    for (const std::uint8_t order : {1, 2}) // the objects end at 8192 + 136 + 5036
        EXPECT_EQ(recogniseBytes(database("DOCUMENT", 2, 1, 2, 1, order) + object(head, tail, 100, order) +
                                     object(0xFDCEDB70F7864B4F, 0x8E63EEF8AEE0DD38, 5000, order),
                                 indd),
                  (Verdict{true, 16384, 0, false, "indd"}));
    const std::string two = database("DOCUMENT", 2, 1, 2, 1);
    EXPECT_FALSE(recogniseBytes(two + object(head, head, 100), indd).accepted);
    EXPECT_EQ(recogniseBytes(two + object(head, tail, 0xFFFFFFDC), indd, 0).foundSize, 8192 + (std::uint64_t{1} << 32));

    // As written, an object ends in a trailer marker that repeats its header's fields; the walk steps over it, and
    // over nothing that merely looks like it, so what follows the document never lends the walk a length.
    const auto written = [&](std::uint32_t length, std::uint8_t order, std::uint32_t trailerId = 7) {
        std::vector<std::uint8_t> fields(16, 0xFF); // object UID, class, stream length (LE), checksum
        putLE(fields, 0, 7, 4), putLE(fields, 4, 0x1C09, 4), putLE(fields, 8, length + 4, 4);
        std::string header = object(head, 0x8E63EEF8AEE0DD38, length, order),
                    trailer = object(0xFDCEDB70F7864B4F, tail, 0);
        header.replace(16, 16, asString(fields)), putLE(fields, 0, trailerId, 4);
        return header + trailer.replace(16, 20, asString(fields));
    };
    std::mt19937 random(46);
    std::string noise(8192, '\0');
    for (char& byte : noise)
        byte = static_cast<char>(random());
    // Objects that end with a page, zeros after them; or zeros to the page's end, then other data.
    for (const std::uint8_t order : {1, 2})
        for (const std::uint32_t pad : {0, 100}) {
            const std::string pages = database("DOCUMENT", 2, 1, 2, 1, order),
                              after = std::string(pad, '\0') + (pad ? noise : "");
            EXPECT_EQ(recogniseBytes(pages + written(16316 - pad, order) + after, indd).foundSize, 24576u);
            const std::string objects = written(5000, order) + written(15344 - pad, order);
            EXPECT_EQ(recogniseBytes(pages + objects + after, indd).foundSize, 28672u);
        }
    EXPECT_EQ(recogniseBytes(two + written(16316, 2, 9), indd).foundSize, 28672u); // walked as an object, of length 0
}
