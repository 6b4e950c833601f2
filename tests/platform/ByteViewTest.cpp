#include "platform/ByteView.h"

#include <array>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <span>
#include <vector>

using platform::ByteView;

namespace {

// Bytes 0x01 0x02 ... 0x10 in a heap block of exactly that size, so a read
// one byte too far is caught by AddressSanitizer in the sanitizer build.
std::unique_ptr<std::uint8_t[]> sixteenBytes() {
    auto p = std::make_unique<std::uint8_t[]>(16);
    for (int i = 0; i < 16; ++i)
        p[i] = static_cast<std::uint8_t>(i + 1);
    return p;
}

constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();

// Every unsigned reader at one offset.
auto readsAt(const ByteView& v, std::size_t off) {
    return std::tuple(v.u8(off), v.be16(off), v.be32(off), v.be64(off), v.le16(off), v.le32(off), v.le64(off));
}
const auto kZeroReads = readsAt(ByteView(), 0);

} // namespace

TEST(ByteView, EmptyViewAnswersZeroForEveryRead) {
    ByteView v;
    EXPECT_EQ(v.size(), 0u);
    EXPECT_TRUE(v.empty());
    EXPECT_EQ(v.data(), nullptr);
    EXPECT_TRUE(v.has(0, 0));
    EXPECT_FALSE(v.has(0, 1));
    EXPECT_EQ(readsAt(v, 0), std::tuple(0, 0, 0u, 0u, 0, 0u, 0u));
    EXPECT_TRUE(v.utf16be(0, 10).empty());
    EXPECT_TRUE(v.sub(0, 10).empty());
    EXPECT_EQ(ByteView(nullptr, 100).size(), 0u) << "a null pointer with a size is an empty view";
}

TEST(ByteView, ReadsBothByteOrders) {
    auto p = sixteenBytes();
    ByteView v(p.get(), 16);
    EXPECT_EQ(readsAt(v, 0),
              std::tuple(0x01, 0x0102, 0x01020304u, 0x0102030405060708ull, 0x0201, 0x04030201u, 0x0807060504030201ull));
    EXPECT_EQ(std::tuple(v.be32(1), v.le32(1), v.be64(8), v.le64(8)),
              std::tuple(0x02030405u, 0x05040302u, 0x090A0B0C0D0E0F10ull, 0x100F0E0D0C0B0A09ull));
}

TEST(ByteView, SignedReadersKeepTheSign) {
    const std::array<std::uint8_t, 4> b{0xFF, 0xFE, 0x80, 0x00};
    ByteView v{std::span<const std::uint8_t>(b)};
    EXPECT_EQ(std::tuple(v.s8(0), v.bes16(0), v.les16(0), v.bes32(0), v.les32(0)),
              std::tuple(-1, -2, -257, static_cast<std::int32_t>(0xFFFE8000u), 0x0080FEFF));
}

TEST(ByteView, ReadsAndHasAreExactAtTheEndAndOffsetsNearTheTopOfTheAddressRangeDoNotWrap) {
    auto p = sixteenBytes();
    ByteView v(p.get(), 16);
    EXPECT_EQ(std::tuple(v.u8(15), v.be16(14), v.be32(12), v.le16(14)), std::tuple(0x10, 0x0F10, 0x0D0E0F10u, 0x100F));
    EXPECT_EQ(std::tuple(v.u8(16), v.be16(15), v.be32(13), v.be64(9), v.le16(15), v.le32(13), v.le64(9)), kZeroReads);
    for (std::size_t off : {kMax, kMax - 1, kMax - 3, kMax - 7, kMax / 2}) {
        EXPECT_EQ(readsAt(v, off), kZeroReads) << off;
        EXPECT_TRUE(v.sub(off, 4).empty() && v.utf16be(off, 4).empty()) << off;
    }
    for (auto [off, len] : {std::pair{0ul, 16ul}, {16, 0}, {15, 1}})
        EXPECT_TRUE(v.has(off, len)) << off << "+" << len;
    // The last four: offset + length would wrap round to a small number.
    for (auto [off, len] : {std::pair{0ul, 17ul}, {16, 1}, {17, 0}, {1, kMax}, {kMax, 2}, {8, kMax - 7}, {kMax, kMax}})
        EXPECT_FALSE(v.has(off, len)) << off << "+" << len;
}

TEST(ByteView, SubIsClampedAndEmptyPastTheEndAndCopyToZeroFillsWhatIsMissing) {
    auto p = sixteenBytes();
    ByteView v(p.get(), 16);
    ByteView s = v.sub(4, 4);
    EXPECT_EQ(s.size(), 4u);
    EXPECT_EQ(s.data(), p.get() + 4);
    EXPECT_EQ(s.be32(0), 0x05060708u);
    EXPECT_EQ(s.be32(1), 0u) << "a sub-view is bounded by its own end, not its parent's";

    EXPECT_EQ(v.sub(12, 100).size(), 4u);
    EXPECT_EQ(v.sub(12, kMax).size(), 4u);
    EXPECT_TRUE(v.sub(16, 1).empty());
    EXPECT_TRUE(v.sub(100, 1).empty());
    EXPECT_EQ(v.sub(3).size(), 13u);
    EXPECT_TRUE(v.sub(16).empty());
    // A copy fills with zeros what is not there.
    std::array<std::uint8_t, 6> out;
    out.fill(0xAA);
    v.copyTo(13, out.data(), out.size());
    EXPECT_EQ(out, (std::array<std::uint8_t, 6>{0x0E, 0x0F, 0x10, 0, 0, 0}));
    out.fill(0xAA);
    v.copyTo(kMax, out.data(), out.size());
    EXPECT_EQ(out, (std::array<std::uint8_t, 6>{}));
}

TEST(ByteView, Utf16UnitsInBothByteOrdersStopAtTheEndWithWholeUnitsOnly) {
    // "Hé" then U+1F600 as a surrogate pair
    const std::vector<std::uint8_t> be{0x00, 0x48, 0x00, 0xE9, 0xD8, 0x3D, 0xDE, 0x00};
    const std::vector<std::uint8_t> le{0x48, 0x00, 0xE9, 0x00, 0x3D, 0xD8, 0x00, 0xDE};
    const std::u16string want = u"H\u00E9\U0001F600";
    EXPECT_EQ(ByteView(be).utf16be(0, 4), want);
    EXPECT_EQ(ByteView(le).utf16le(0, 4), want);
    EXPECT_EQ(ByteView(be).utf16be(2, 1), u"\u00E9");
    auto p = sixteenBytes();
    ByteView v(p.get(), 16);
    EXPECT_EQ(v.utf16be(0, 100).size(), 8u);
    EXPECT_EQ(v.utf16be(1, 100).size(), 7u) << "the odd byte at the end is not half a unit";
    EXPECT_EQ(v.utf16be(15, 1).size(), 0u);
    EXPECT_EQ(v.utf16be(14, 1), std::u16string(1, char16_t(0x0F10)));
    EXPECT_EQ(v.utf16be(0, kMax).size(), 8u);
}
