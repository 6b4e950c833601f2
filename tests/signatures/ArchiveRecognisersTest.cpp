#include "RecogniserFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace testsupport;
using namespace std::string_literals;
using ArchiveRecognisersTest = RecogniserFixture;

namespace {

// A folder of thirty members of sizes from 0 to some KiB, some a whole number of blocks long, so that the headers
// after them begin sectors of their own.
const std::string kMembers = "cd \"$(dirname \"$OUT\")\" && mkdir m && for i in $(seq 0 29); do head -c $((i * i * 37 "
                             "+ (i % 3) * 512)) /dev/zero | tr '\\0' x >m/f$i; done && ";

// A ustar header of its own: a name, the size field's twelve bytes, a type, and the checksum of it all.
std::string tarHeader(const std::string& name, const std::string& size, char type) {
    std::string h(512, '\0');
    h.replace(0, name.size(), name);
    h.replace(124, size.size(), size);
    h[156] = type;
    h.replace(257, 8, "ustar\x00"s + "00");
    h.replace(148, 8, std::string(8, ' '));
    unsigned sum = 0;
    for (const char c : h)
        sum += static_cast<std::uint8_t>(c);
    char field[8];
    std::snprintf(field, sizeof field, "%06o", sum);
    h.replace(148, 7, std::string(field, 6) + '\0');
    return h;
}

} // namespace

// An archive of GNU tar or of its POSIX format runs through its members' headers to its two end blocks and the zeros
// that fill its last record, and is jumped over whole; one written in records of a block ends with its end blocks.
// Headers that break off before the end (another file's bytes where the next should stand) are the archive's first
// fragment, marked; a first header whose checksum fails is none, and a member that claims more than can be read runs
// to the readable bytes' end.
TEST_F(ArchiveRecognisersTest, TarRunsThroughItsCheckedHeadersToItsEndBlocks) {
    for (const char* format : {"gnu", "posix", "ustar"}) {
        SCOPED_TRACE(format);
        const std::string tar = toolSample(kMembers + "tar --format=" + format + " -cf \"$OUT\" m", "tar");
        ASSERT_EQ(tar.size() % 10240, 0u);
        EXPECT_EQ(recogniseBytes(tar, sigOf(57, "tar")), (Verdict{true, tar.size(), tar.size() / 512, true, "tar"}));
        const std::string blocks = toolSample(kMembers + "tar --format=" + format + " -b 1 -cf \"$OUT\" m", "tar");
        EXPECT_EQ(recogniseBytes(blocks + "\x01", sigOf(57, "tar")).foundSize, blocks.size());
        // Cut inside a member, the rest of the image other bytes.
        const std::string cut = tar.substr(0, tar.size() / 3) + std::string(tar.size(), '\x55');
        const Verdict fragment = recogniseBytes(cut, sigOf(57, "tar"));
        EXPECT_TRUE(fragment.accepted && fragment.foundCut);
        EXPECT_GT(fragment.foundSize + 512, tar.size() / 3);
        EXPECT_LT(fragment.foundSize, tar.size());
        EXPECT_EQ(fragment.foundSize % 512, 0u);
        std::string corrupt = tar;
        corrupt[0] ^= 1;
        EXPECT_FALSE(recogniseBytes(corrupt, sigOf(57, "tar")).accepted);
    }
    // Sizes in GNU's binary form; a size beyond the medium.
    const std::string binary = "\x80"s + std::string(9, '\0') + "\x04\x00"s;
    const std::string large = tarHeader("big", binary, '0') + std::string(1024, 'd') + std::string(1024, '\0');
    EXPECT_EQ(recogniseBytes(large, sigOf(57, "tar")).foundSize, 10240u);
    const Verdict claim = recogniseBytes(tarHeader("claims", "77777777777", '0'), sigOf(57, "tar"), 8);
    EXPECT_EQ(claim, (Verdict{true, 9 * 512, 0, false, "tar", true}));
    // A folder's and a link's sizes store nothing.
    const std::string links = tarHeader("d/", "00000001000", '5') + tarHeader("l", "00000001000", '2');
    EXPECT_EQ(recogniseBytes(links + std::string(1024, '\0') + "\x01", sigOf(57, "tar")).foundSize, 2048u);
}

// A dynamic disk that qemu-img wrote, empty or holding blocks, runs from the copy of its footer through its dynamic
// header and block table to the footer after its last block. Its last footer, and a fixed disk's (which stands only
// at its end), begin no file; a disk whose last footer is gone is its first fragment, marked, and one whose first
// footer fails its checksum is none.
TEST_F(ArchiveRecognisersTest, VirtualPcDiskRunsFromItsFooterCopyThroughItsBlocksToItsFooter) {
    if (!haveTool("qemu-img")) GTEST_SKIP() << "qemu-img is missing (./dev.sh installs it)";
    const std::string empty = toolSample("qemu-img create -q -f vpc \"$OUT\" 20M", "vhd");
    const std::string filled = toolSample("seq 1 400000 >\"$OUT.raw\" && truncate -s 9M \"$OUT.raw\" && printf tail "
                                          ">>\"$OUT.raw\" && qemu-img convert -f raw -O vpc \"$OUT.raw\" \"$OUT\"",
                                          "vhd");
    const std::string fixed = toolSample("qemu-img create -q -f vpc -o subformat=fixed \"$OUT\" 1M", "vhd");
    for (const std::string& disk : {empty, filled}) {
        ASSERT_EQ(disk.substr(0, 8), "conectix");
        EXPECT_EQ(recogniseBytes(disk, sigOf(61, "vhd")), (Verdict{true, disk.size(), disk.size() / 512, true, "vhd"}));
        Volume& volume = volumeOver(imageWith(disk, kSector));
        Sig sig = sigOf(61, "vhd");
        EXPECT_FALSE(recognise(volume, sig, kSector + disk.size() / 512 - 1).accepted);
        const std::string lastFooterLost = disk.substr(0, disk.size() - 512) + std::string(512, '\x55');
        EXPECT_EQ(recogniseBytes(lastFooterLost, sigOf(61, "vhd")),
                  (Verdict{true, disk.size() - 512, 0, false, "vhd", true}));
        std::string corrupt = disk;
        corrupt[40] ^= 1;
        EXPECT_FALSE(recogniseBytes(corrupt, sigOf(61, "vhd")).accepted);
    }
    Volume& volume = volumeOver(imageWith(fixed, kSector));
    Sig sig = sigOf(61, "vhd");
    EXPECT_FALSE(recognise(volume, sig, kSector + fixed.size() / 512 - 1).accepted);
    // A footer whose dynamic header is gone.
    EXPECT_FALSE(recogniseBytes(filled.substr(0, 512), sigOf(61, "vhd")).accepted);
}
