#include "signatures/CameraRawRecognisers.h"

#include "platform/CheckedMath.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "signatures/TiffRecognisers.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace {
// Nikon and Sony files name their maker near the start, and keep the
// full-size image in directories only SubIFDs entries point to: the walk of
// such a file, and the length it measured (0: refused).
std::optional<TiffDirectoryWalk> walkMakerRaw(RecogniserMedium& medium, std::string_view mark, std::uint64_t& length) {
    std::vector<std::uint8_t> head;
    length = 0;
    if (!TiffRecognisers::readHead(medium, head) || !TiffRecognisers::makerWindowHas(head, mark)) return std::nullopt;
    TiffDirectoryWalk walk = TiffRecognisers::directoryWalk(
        medium, {.directoryTest = &CameraRawRecognisers::checkNEF_IFD, .followSubIFDs = true});
    length = walk.measure(head);
    return walk;
}
} // namespace

bool CameraRawRecognisers::checkCR2FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    std::vector<std::uint8_t> head;
    if (!TiffRecognisers::readHead(medium, head) || !TiffRecognisers::hasCR2Marker(head)) return false;
    TiffDirectoryWalk walk = TiffRecognisers::directoryWalk(medium, {.directoryTest = &checkCR2_IFD});
    const std::uint64_t length = walk.measure(head);
    return TiffRecognisers::report(medium, sig, length, walk);
}

bool CameraRawRecognisers::checkNEF_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    std::uint64_t length = 0;
    const std::optional<TiffDirectoryWalk> walk = walkMakerRaw(medium, "NIKO", length);
    return walk && TiffRecognisers::report(medium, sig, length, *walk);
}

bool CameraRawRecognisers::checkSONY_RAWFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    std::uint64_t length = 0;
    const std::optional<TiffDirectoryWalk> walk = walkMakerRaw(medium, "SONY", length);
    if (!walk || !TiffRecognisers::report(medium, sig, length, *walk)) return false;
    sig.extension = walk->sawNewSubfileType() ? "sr2" : "srf";
    // An SRF file is recorded a fifth longer than its directories measure
    // (a cut one only to where it was cut); the jump stays with the measured
    // part.
    if (!walk->sawNewSubfileType() && !sig.foundCut)
        sig.foundSize = std::min(platform::saturatingMul(sig.foundSize, 12) / 10, medium.readableBytes());
    return true;
}

bool CameraRawRecognisers::checkORF_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    std::vector<std::uint8_t> head;
    // The signature match is the only identifying test; its first two bytes
    // name the byte order, "MM" big-endian ("MMOR") and "II" little-endian
    // ("IIRO", "IIRS"), as a TIFF's do.
    if (!TiffRecognisers::readHead(medium, head)) return false;
    const bool bigEndian = head.size() >= 2 && head[0] == 'M' && head[1] == 'M';
    TiffDirectoryWalk walk =
        TiffRecognisers::directoryWalk(medium, {.byteOrder = bigEndian ? TiffDirectoryWalk::ByteOrder::BigEndian
                                                                       : TiffDirectoryWalk::ByteOrder::LittleEndian,
                                                .directoryTest = &TiffRecognisers::checkTIFF_IFD});
    const std::uint64_t length = walk.measure(head);
    return TiffRecognisers::report(medium, sig, length, walk);
}

bool CameraRawRecognisers::checkCR2_IFD(const Tiff_IFD& ifd) {
    return ifd.IFD().length % 2 == 0 && std::ranges::all_of(ifd.DEArray(), &TiffRecognisers::checkTIFF_DE);
}

bool CameraRawRecognisers::checkNEF_IFD(const Tiff_IFD& ifd) {
    return TiffRecognisers::checkTIFF_IFD(ifd);
}
