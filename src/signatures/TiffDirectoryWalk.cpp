#include "signatures/TiffDirectoryWalk.h"

#include "signatures/Sig.h"

#include <algorithm>
#include <bit>

namespace {
// The entry count that four sectors always hold, wherever in its first
// sector a directory starts.
constexpr std::uint32_t kMaxEntries = 50;
constexpr std::uint32_t kDirectorySectors = 4;

constexpr std::uint16_t kNewSubfileType = 254;
constexpr std::uint16_t kStripOffsets = 273;
constexpr std::uint16_t kStripByteCounts = 279;
constexpr std::uint16_t kTileOffsets = 324;
constexpr std::uint16_t kTileByteCounts = 325;
constexpr std::uint16_t kSubIFDs = 330;
constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
} // namespace

TiffDirectoryWalk::TiffDirectoryWalk(RecogniserMedium& medium, const Rules& rules)
    : medium_(medium), rules_(rules), values_(medium.cursor()), directoryReads_(medium.cursor(kDirectorySectors)) {}

std::uint16_t TiffDirectoryWalk::u16(platform::ByteView bytes, std::size_t offset) const {
    return bigEndian_ ? bytes.be16(offset) : bytes.le16(offset);
}

std::uint32_t TiffDirectoryWalk::u32(platform::ByteView bytes, std::size_t offset) const {
    return bigEndian_ ? bytes.be32(offset) : bytes.le32(offset);
}

std::uint64_t TiffDirectoryWalk::measure(platform::ByteView head) {
    bigEndian_ = rules_.byteOrder == ByteOrder::FromHeader && head.be32(0) == 0x4D4D002A;
    const std::uint32_t first = u32(head, 4);
    if (first % 2 != 0) return 0;
    const std::uint64_t length = walk(first);
    // A file cut by the volume's end or the type's size limit is not whole.
    if (length > medium_.readableBytes()) broken_ = true;
    return length;
}

std::uint64_t TiffDirectoryWalk::walk(std::uint64_t position) {
    // Directories are measured apart and the furthest end wins: a thumbnail
    // directory may well point beyond the main image.
    std::uint64_t dataEnd = 0, directoriesEnd = 0;
    std::size_t read = 0;
    // The user's stop ends the walk; what was read by then is still measured.
    while (position != 0 && !medium_.stopped()) {
        if (!visited_.insert(position).second) {
            position = nextChain();
            continue;
        }
        Tiff_IFD ifd;
        const Step step = read < kMostDirectories ? readDirectory(position, ifd) : Step::Ended;
        // The first directory tells a TIFF; a later one that fails tells
        // where the file was cut.
        if (step != Step::Accepted || (read > 0 && ifd.IFD().entryCount == 0)) {
            if (read == 0) return 0;
            broken_ = true;
            break;
        }
        ++read;
        dataEnd = std::max(dataEnd, directoryEnd(ifd));
        directoriesEnd = std::max(directoriesEnd, position + ifd.IFD().length);
        position = ifd.IFD().nextPosition != 0 ? ifd.IFD().nextPosition : nextChain();
    }
    return dataEnd == 0 ? 0 : std::max(dataEnd, directoriesEnd);
}

TiffDirectoryWalk::Step TiffDirectoryWalk::readDirectory(std::uint64_t position, Tiff_IFD& ifd) {
    const std::uint32_t bps = medium_.bytesPerSector();
    if (!directoryReads_.holdsSector(position / bps)) return Step::Ended;
    const platform::ByteView read = directoryReads_.sectors(position / bps, kDirectorySectors);
    if (read.empty()) return Step::Ended;
    const platform::ByteView at = read.sub(position % bps);
    auto& record = ifd.IFD();
    record.position = position;
    record.entryCount = u16(at, 0);
    record.rejected = record.entryCount > kMaxEntries;
    if (record.rejected) return Step::Refused;
    record.length = 12 * record.entryCount + 6;
    // A sector the medium could not give reads as zeros: no directory.
    if (directoryReads_.unreadable(position, record.length)) return Step::Ended;
    record.nextPosition = u32(at, 2 + 12 * std::size_t{record.entryCount});
    for (std::size_t i = 0; i < record.entryCount; ++i) {
        const platform::ByteView entry = at.sub(2 + 12 * i, 12);
        Tiff_DE::Record de{u16(entry, 0), u16(entry, 2), u32(entry, 4), u32(entry, 8)};
        // One or two SHORTs held in the entry: the first in the low half in
        // both byte orders, as the measuring reads them.
        if (bigEndian_ && de.fieldType == kShort && (de.count == 1 || de.count == 2))
            de.value = std::rotl(de.value, 16);
        if (de.tag == kSubIFDs && rules_.followSubIFDs) fillSubIFDs(de);
        if (de.tag == kNewSubfileType) newSubfileType_ = true;
        ifd.addDE(Tiff_DE(de));
    }
    record.rejected = !rules_.directoryTest(ifd);
    return record.rejected ? Step::Refused : Step::Accepted;
}

void TiffDirectoryWalk::fillSubIFDs(const Tiff_DE::Record& de) {
    // Slots beyond this entry's count keep what an earlier SubIFDs entry
    // left there.
    if (de.count == 1) subIFDs_[0] = de.value;
    if (de.count < 2) return;
    const std::uint32_t bps = medium_.bytesPerSector();
    // A list that cannot be read leaves zero slots, which end the walk
    // where it reaches them.
    // Read apart from the directory this entry belongs to, which is in use.
    const platform::ByteView positions = values_.sectors(de.value / bps, kDirectorySectors).sub(de.value % bps);
    const std::size_t listBytes = std::size_t{kDirectorySectors} * bps - de.value % bps;
    const std::size_t n = std::min<std::size_t>({de.count, subIFDs_.size(), listBytes / 4});
    if (values_.unreadable(de.value, 4 * n)) broken_ = true;
    for (std::size_t i = 0; i < n; ++i)
        subIFDs_[i] = u32(positions, 4 * i);
}

std::uint64_t TiffDirectoryWalk::nextChain() {
    if (!rules_.followSubIFDs || subIFDsUsed_ == subIFDs_.size()) return 0;
    return subIFDs_[subIFDsUsed_++];
}

std::uint64_t TiffDirectoryWalk::directoryEnd(const Tiff_IFD& ifd) {
    // Counts and positions are 32-bit, so none of these sums can wrap in 64
    // bits.
    std::uint64_t dataEnd = 0, offset = 0, byteCount = 0;
    for (const Tiff_DE& entry : ifd.DEArray()) {
        const auto& de = entry.DE();
        // Data that starts before what the earlier entries reached is passed
        // over, even when it ends beyond it.
        if (entry.valuesOutside() && de.value >= dataEnd)
            dataEnd = de.value + std::uint64_t{de.count} * Tiff_DE::valueSize(de.fieldType);
        if (de.fieldType != kShort && de.fieldType != kLong) continue;
        // Strips and tiles share the offset and the count: the later tag of
        // each kind in the directory gives it.
        if (de.tag == kStripOffsets || de.tag == kTileOffsets) offset = lastValue(de);
        if (de.tag == kStripByteCounts || de.tag == kTileByteCounts) byteCount = lastValue(de);
    }
    return std::max(dataEnd, offset + byteCount);
}

std::uint64_t TiffDirectoryWalk::lastValue(const Tiff_DE::Record& de) {
    const bool isShort = de.fieldType == kShort;
    if (de.count <= 1) return de.value;
    if (isShort && de.count == 2) return de.value >> 16;
    const std::size_t size = isShort ? 2 : 4;
    // A value that cannot be read is 0, as a zero-filled read gives it; one
    // the medium could not give leaves the measure short.
    const std::uint64_t at = de.value + std::uint64_t{de.count - 1} * size;
    const platform::ByteView last = values_.at(at, size);
    if (values_.unreadable(at, size)) broken_ = true;
    return isShort ? u16(last, 0) : u32(last, 0);
}

bool TiffDirectoryWalk::report(const RecogniserMedium& medium, Sig& sig, std::uint64_t length, bool broken) {
    if (length == 0) return false;
    if (!broken) {
        medium.acceptJumpable(sig, length);
        return true;
    }
    sig.foundSize = std::min(length, medium.readableBytes());
    sig.skipSize = 0;
    sig.skipFileSize = false;
    sig.foundCut = true;
    return true;
}
