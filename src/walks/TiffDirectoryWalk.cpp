#include "walks/TiffDirectoryWalk.h"

#include <algorithm>
#include <bit>

namespace {
constexpr std::uint32_t kDirectorySectors = 4;

constexpr std::uint16_t kNewSubfileType = 254;
constexpr std::uint16_t kStripOffsets = 273;
constexpr std::uint16_t kStripByteCounts = 279;
constexpr std::uint16_t kTileOffsets = 324;
constexpr std::uint16_t kTileByteCounts = 325;
constexpr std::uint16_t kSubIFDs = 330;
constexpr std::uint16_t kJpegInterchangeFormat = 513;
constexpr std::uint16_t kJpegInterchangeFormatLength = 514;
constexpr std::uint16_t kExifIFD = 34665;
constexpr std::uint16_t kGpsIFD = 34853;
constexpr std::uint16_t kInteropIFD = 40965;
constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
// The field type of a directory's offset, which some writers give such
// pointers instead of LONG.
constexpr std::uint16_t kIfd = 13;
// Offsets read between asks whether the walk was stopped.
constexpr std::uint64_t kStopPollParts = 4096;
} // namespace

TiffDirectoryWalk::TiffDirectoryWalk(SectorSource& source, std::uint32_t bytesPerSector, std::uint64_t firstSector,
                                     std::uint64_t readableBytes, std::function<bool()> stopped, const Rules& rules,
                                     std::uint64_t headerAt)
    : bps_(bytesPerSector), base_(std::min(headerAt, readableBytes)), readable_(readableBytes - base_),
      stopped_(std::move(stopped)), rules_(rules), values_(source, bytesPerSector, firstSector, readableBytes),
      directoryReads_(source, bytesPerSector, firstSector, readableBytes, kDirectorySectors) {}

std::uint16_t TiffDirectoryWalk::u16(platform::ByteView bytes, std::size_t offset) const {
    return bigEndian_ ? bytes.be16(offset) : bytes.le16(offset);
}

std::uint32_t TiffDirectoryWalk::u32(platform::ByteView bytes, std::size_t offset) const {
    return bigEndian_ ? bytes.be32(offset) : bytes.le32(offset);
}

std::uint64_t TiffDirectoryWalk::measure(platform::ByteView head) {
    bigEndian_ = rules_.byteOrder == ByteOrder::BigEndian ||
                 (rules_.byteOrder == ByteOrder::FromHeader && head.be32(0) == 0x4D4D002A);
    const std::uint32_t first = u32(head, 4);
    if (first % 2 != 0 || bps_ == 0) return 0;
    noteRead(8);
    std::uint64_t length = walk(first);
    // Writers that keep each block on a word boundary pad a block of odd
    // length with a zero byte, the file's last one too (a tag editor's
    // rewrite ends so): that byte is the file's. A file with a directory at
    // an odd position keeps no such rule.
    if (length % 2 != 0 && wordAligned_ && length < readable_) {
        const platform::ByteView pad = values_.at(base_ + length, 1);
        if (!pad.empty() && pad.u8(0) == 0 && !values_.unreadable(base_ + length, 1)) ++length;
    }
    // A file cut by the volume's end or the type's size limit is not whole.
    if (length > readable_) broken_ = true;
    return length;
}

std::uint64_t TiffDirectoryWalk::walk(std::uint64_t position) {
    // Directories are measured apart and the furthest end wins: a thumbnail
    // directory may well point beyond the main image.
    std::uint64_t dataEnd = 0, directoriesEnd = 0;
    std::size_t read = 0;
    seen_.insert(position);
    // The user's stop ends the walk; what was read by then is still measured.
    while (position != 0 && !stopped_()) {
        Tiff_IFD ifd;
        const Step step = read == kMostDirectories ? Step::Ended
                          : read == 0              ? readDirectory(position, ifd, rules_.mostFirstEntries)
                                                   : readDirectory(position, ifd, kMostEntries);
        // The first directory tells a TIFF; a later one that fails tells
        // where the file was cut.
        if (step != Step::Accepted || (read > 0 && ifd.IFD().entryCount == 0)) {
            if (read == 0) return 0;
            broken_ = true;
            break;
        }
        ++read;
        noteRead(position + ifd.IFD().length);
        wordAligned_ = wordAligned_ && position % 2 == 0;
        dataEnd = std::max(dataEnd, directoryEnd(ifd));
        directoriesEnd = std::max(directoriesEnd, position + ifd.IFD().length);
        queuePointers(ifd);
        // A chain that leads back to a directory walked (or queued) already
        // ends there.
        const std::uint64_t next = ifd.IFD().nextPosition;
        position = next != 0 && seen_.insert(next).second ? next : nextChain();
    }
    return dataEnd == 0 ? 0 : std::max(dataEnd, directoriesEnd);
}

TiffDirectoryWalk::Step TiffDirectoryWalk::readDirectory(std::uint64_t position, Tiff_IFD& ifd,
                                                         std::uint32_t mostEntries) {
    const std::uint64_t inFile = base_ + position;
    if (!directoryReads_.holdsSector(inFile / bps_)) return Step::Ended;
    const platform::ByteView read = directoryReads_.sectors(inFile / bps_, kDirectorySectors);
    if (read.empty()) return Step::Ended;
    const platform::ByteView at = read.sub(inFile % bps_);
    auto& record = ifd.IFD();
    record.position = position;
    record.entryCount = u16(at, 0);
    record.rejected = record.entryCount > mostEntries;
    if (record.rejected) return Step::Refused;
    record.length = 12 * record.entryCount + 6;
    // A sector the medium could not give reads as zeros: no directory.
    if (directoryReads_.unreadable(inFile, record.length)) return Step::Ended;
    record.nextPosition = u32(at, 2 + 12 * std::size_t{record.entryCount});
    for (std::size_t i = 0; i < record.entryCount; ++i) {
        const platform::ByteView entry = at.sub(2 + 12 * i, 12);
        Tiff_DE::Record de{u16(entry, 0), u16(entry, 2), u32(entry, 4), u32(entry, 8)};
        // One or two SHORTs held in the entry: the first in the low half in
        // both byte orders, as the measuring reads them.
        if (bigEndian_ && de.fieldType == kShort && (de.count == 1 || de.count == 2))
            de.value = std::rotl(de.value, 16);
        if (de.tag == kNewSubfileType) newSubfileType_ = true;
        ifd.addDE(Tiff_DE(de));
    }
    record.rejected = !rules_.directoryTest(ifd);
    return record.rejected ? Step::Refused : Step::Accepted;
}

void TiffDirectoryWalk::queuePointers(const Tiff_IFD& ifd) {
    for (const Tiff_DE& entry : ifd.DEArray()) {
        const auto& de = entry.DE();
        if (de.tag == kSubIFDs && rules_.followSubIFDs) queueSubIFDs(de);
        const bool exif = de.tag == kExifIFD || de.tag == kGpsIFD || de.tag == kInteropIFD;
        // A pointer of no directory (0) points to none.
        if (exif && rules_.followExifDirectories && de.count == 1 && (de.fieldType == kLong || de.fieldType == kIfd) &&
            de.value != 0)
            queue(de.value);
    }
}

void TiffDirectoryWalk::queueSubIFDs(const Tiff_DE::Record& de) {
    if (de.count == 1) {
        // No directory lies at 0: the list is no SubIFDs list of the file's.
        if (de.value == 0) broken_ = true;
        queue(de.value);
        return;
    }
    for (std::uint64_t i = 0; i < de.count; ++i) {
        // A walk of more SubIFDs than the directories it may read is no
        // file's.
        if (listed_ == kMostDirectories) {
            broken_ = true;
            return;
        }
        ++listed_;
        const std::uint64_t at = de.value + 4 * i;
        const platform::ByteView position = values_.at(base_ + at, 4);
        noteRead(at + 4);
        // A list past the readable bytes, or in a sector the medium could
        // not give, cannot be followed.
        if (position.empty() || values_.unreadable(base_ + at, 4) || u32(position, 0) == 0) {
            broken_ = true;
            return;
        }
        queue(u32(position, 0));
    }
}

void TiffDirectoryWalk::queue(std::uint64_t position) {
    if (position != 0 && seen_.insert(position).second) pending_.push_back(position);
}

std::uint64_t TiffDirectoryWalk::nextChain() {
    return nextPending_ < pending_.size() ? pending_[nextPending_++] : 0;
}

std::uint64_t TiffDirectoryWalk::directoryEnd(const Tiff_IFD& ifd) {
    // Counts and positions are 32-bit, so none of these sums can wrap in 64
    // bits.
    std::uint64_t dataEnd = 0, offset = 0, byteCount = 0, jpegOffset = 0, jpegLength = 0;
    for (const Tiff_DE& entry : ifd.DEArray()) {
        const auto& de = entry.DE();
        // Data that starts before what the earlier entries reached is passed
        // over, even when it ends beyond it.
        if (entry.valuesOutside() && de.value >= dataEnd)
            dataEnd = de.value + std::uint64_t{de.count} * Tiff_DE::valueSize(de.fieldType);
        if (de.fieldType != kShort && de.fieldType != kLong) continue;
        // Strips and tiles share the offset and the count: the later tag of
        // each kind in the directory gives it.
        if (de.tag == kStripOffsets || de.tag == kTileOffsets) {
            offset = lastValue(de);
            notePartStarts(de);
        }
        if (de.tag == kStripByteCounts || de.tag == kTileByteCounts) byteCount = lastValue(de);
        if (de.count != 1) continue;
        if (de.tag == kJpegInterchangeFormat) jpegOffset = de.value;
        if (de.tag == kJpegInterchangeFormatLength) jpegLength = de.value;
    }
    if (jpegOffset != 0) notePartStart(jpegOffset);
    const std::uint64_t jpegEnd = jpegOffset != 0 ? jpegOffset + jpegLength : 0;
    return std::max({dataEnd, offset + byteCount, jpegEnd});
}

std::uint64_t TiffDirectoryWalk::lastValue(const Tiff_DE::Record& de) {
    const bool isShort = de.fieldType == kShort;
    if (de.count <= 1) return de.value;
    if (isShort && de.count == 2) return de.value >> 16;
    const std::size_t size = isShort ? 2 : 4;
    // A value that cannot be read is 0, as a zero-filled read gives it; one
    // the medium could not give leaves the measure short.
    const std::uint64_t at = de.value + std::uint64_t{de.count - 1} * size;
    const platform::ByteView last = values_.at(base_ + at, size);
    if (values_.unreadable(base_ + at, size)) broken_ = true;
    if (!last.empty()) noteRead(at + size);
    return isShort ? u16(last, 0) : u32(last, 0);
}

void TiffDirectoryWalk::notePartStarts(const Tiff_DE::Record& de) {
    const bool isShort = de.fieldType == kShort;
    if (de.count <= 1 || (isShort && de.count == 2)) {
        notePartStart(de.value & (isShort ? 0xFFFF : 0xFFFFFFFF));
        if (isShort && de.count == 2) notePartStart(de.value >> 16);
        return;
    }
    const std::size_t size = isShort ? 2 : 4;
    for (std::uint64_t i = 0; i < de.count && partStartsRead_ < kMostPartStarts; ++i) {
        if (i % kStopPollParts == 0 && stopped_()) return;
        const std::uint64_t at = de.value + i * size;
        const platform::ByteView offset = values_.at(base_ + at, size);
        if (offset.empty()) return;
        noteRead(at + size);
        notePartStart(isShort ? u16(offset, 0) : u32(offset, 0));
    }
}

void TiffDirectoryWalk::notePartStart(std::uint64_t offset) {
    ++partStartsRead_;
    const std::uint64_t inFile = base_ + offset;
    if (offset != 0 && inFile % bps_ == 0) partSectors_.push_back(inFile / bps_);
}
