#include "signatures/TiffRecognisers.h"

#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"

#include <algorithm>

namespace {
constexpr std::size_t kMakerWindow = 1015;
}

bool TiffRecognisers::checkTIFF_FileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    std::vector<std::uint8_t> head;
    if (!readHead(medium, head)) return false;
    // Nikon, Sony and Canon raw files are TIFF too; their own recognisers
    // measure them.
    if (makerWindowHas(head, "NIKO") || makerWindowHas(head, "SONY") || hasCR2Marker(head)) return false;
    // A TIFF's images may lie in any directory its entries point to: a
    // DNG-like file keeps the full-size one in a SubIFD.
    TiffDirectoryWalk walk =
        directoryWalk(medium, {.directoryTest = &checkTIFF_IFD, .followSubIFDs = true, .followExifDirectories = true});
    const std::uint64_t length = walk.measure(head);
    return report(medium, sig, length, walk);
}

bool TiffRecognisers::checkTIFF_IFD(const Tiff_IFD& ifd) {
    const auto& record = ifd.IFD();
    if (record.position % 2 != 0 || record.length % 2 != 0 || record.nextPosition % 2 != 0) return false;
    return std::ranges::all_of(ifd.DEArray(), &checkTIFF_DE);
}

bool TiffRecognisers::checkTIFF_DE(const Tiff_DE& de) {
    const auto& record = de.DE();
    if (record.count == 0 || Tiff_DE::valueSize(record.fieldType) == 0) return false;
    const bool oddPosition = record.value % 2 != 0;
    switch (record.fieldType) {
    case 3: // SHORT
    case 8: // SSHORT
        return !(record.count > 2 && oddPosition);
    case 4: // LONG
    case 9: // SLONG
        return !(record.count >= 2 && oddPosition);
    default: // byte, rational, float and double data may lie at odd positions
        return true;
    }
}

bool TiffRecognisers::readHead(RecogniserMedium& medium, std::vector<std::uint8_t>& head) {
    const std::uint32_t bps = medium.bytesPerSector();
    if (bps == 0) return false;
    const auto count = static_cast<std::uint32_t>((kMakerWindow + bps - 1) / bps);
    BoundedCursor cursor = medium.cursor(count);
    const platform::ByteView read = cursor.holdsSector(0) ? cursor.sectors(0, count) : platform::ByteView();
    head.assign(read.data(), read.data() + read.size());
    return !read.empty();
}

bool TiffRecognisers::makerWindowHas(platform::ByteView head, std::string_view mark) {
    const platform::ByteView window = head.sub(0, kMakerWindow);
    const std::string_view text(reinterpret_cast<const char*>(window.data()), window.size());
    return text.find(mark) != std::string_view::npos;
}

bool TiffRecognisers::hasCR2Marker(platform::ByteView head) {
    return head.be32(8) == 0x43520200;
}

TiffDirectoryWalk TiffRecognisers::directoryWalk(RecogniserMedium& medium, const TiffDirectoryWalk::Rules& rules) {
    return TiffDirectoryWalk(
        medium, medium.bytesPerSector(), medium.firstSector(), medium.readableBytes(),
        [&medium] { return medium.stopped(); }, rules);
}

bool TiffRecognisers::report(RecogniserMedium& medium, Sig& sig, std::uint64_t length, const TiffDirectoryWalk& walk) {
    if (length == 0) return false;
    if (walk.broken()) {
        medium.acceptCut(sig, length, walk.structureEnd());
        return true;
    }
    medium.ownPartsBeginAt(walk.partSectors());
    medium.acceptJumpable(sig, length, walk.structureEnd());
    return true;
}
