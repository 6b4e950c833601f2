#include "signatures/CameraRawRecognisers.h"

#include "platform/CheckedMath.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "signatures/TiffRecognisers.h"

#include <algorithm>
#include <string_view>

namespace {
// What the NEF and Sony raw walk found: the length (0: refused), whether
// a NewSubfileType entry was met and whether the walk broke.
struct MakerWalk {
    std::uint64_t length = 0;
    bool newSubfileType = false;
    bool broken = false;
};

// Nikon and Sony files name their maker near the start, and keep the
// full-size image in directories only SubIFDs entries point to.
MakerWalk walkMakerRaw(RecogniserMedium& medium, std::string_view mark) {
    std::vector<std::uint8_t> head;
    if (!TiffRecognisers::readHead(medium, head) || !TiffRecognisers::makerWindowHas(head, mark)) return {};
    TiffDirectoryWalk walk = TiffRecognisers::directoryWalk(
        medium, {.directoryTest = &CameraRawRecognisers::checkNEF_IFD, .followSubIFDs = true});
    const std::uint64_t length = walk.measure(head);
    return {length, walk.sawNewSubfileType(), walk.broken()};
}
} // namespace

bool CameraRawRecognisers::checkCR2FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig);
    std::vector<std::uint8_t> head;
    if (!TiffRecognisers::readHead(medium, head) || !TiffRecognisers::hasCR2Marker(head)) return false;
    TiffDirectoryWalk walk = TiffRecognisers::directoryWalk(medium, {.directoryTest = &checkCR2_IFD});
    const std::uint64_t length = walk.measure(head);
    return TiffRecognisers::report(medium, sig, length, walk.broken());
}

bool CameraRawRecognisers::checkNEF_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig);
    const MakerWalk walk = walkMakerRaw(medium, "NIKO");
    return TiffRecognisers::report(medium, sig, walk.length, walk.broken);
}

bool CameraRawRecognisers::checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig);
    const MakerWalk walk = walkMakerRaw(medium, "SONY");
    if (!TiffRecognisers::report(medium, sig, walk.length, walk.broken)) return false;
    sig.extension = walk.newSubfileType ? "sr2" : "srf";
    // An SRF file is recorded a fifth longer than its directories measure;
    // the jump stays with the measured part.
    if (!walk.newSubfileType)
        sig.foundSize = std::min(platform::saturatingMul(sig.foundSize, 12) / 10, medium.readableBytes());
    return true;
}

bool CameraRawRecognisers::checkORF_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig);
    std::vector<std::uint8_t> head;
    // The signature match is the only identifying test: the header is not
    // looked at, and every number is read little-endian.
    if (!TiffRecognisers::readHead(medium, head)) return false;
    TiffDirectoryWalk walk =
        TiffRecognisers::directoryWalk(medium, {.byteOrder = TiffDirectoryWalk::ByteOrder::LittleEndian,
                                                .directoryTest = &TiffRecognisers::checkTIFF_IFD});
    const std::uint64_t length = walk.measure(head);
    return TiffRecognisers::report(medium, sig, length, walk.broken());
}

bool CameraRawRecognisers::checkCR2_IFD(const Tiff_IFD& ifd) {
    return ifd.IFD().length % 2 == 0 && std::ranges::all_of(ifd.DEArray(), &TiffRecognisers::checkTIFF_DE);
}

bool CameraRawRecognisers::checkNEF_IFD(const Tiff_IFD& ifd) {
    return TiffRecognisers::checkTIFF_IFD(ifd);
}
