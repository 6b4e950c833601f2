#include "walks/ExifThumbnail.h"

#include "media/BoundedCursor.h"
#include "walks/TiffDirectoryWalk.h"

#include <algorithm>

namespace {
// What a JPEG's APP1 segment holds before the TIFF header; WebP and PNG
// writers put it there too at times.
constexpr std::uint64_t kExifMarker = 0x457869660000; // "Exif\0\0"
constexpr std::uint64_t kExifMarkerBytes = 6;
constexpr std::uint32_t kLittleEndianHeader = 0x49492A00; // "II*\0"
constexpr std::uint32_t kBigEndianHeader = 0x4D4D002A;    // "MM\0*"
constexpr std::uint64_t kHeaderBytes = 8;

// An EXIF block's directories hold whatever tags the camera writes: the
// header and the bounds of the block are what tell it.
bool anyDirectory(const Tiff_IFD&) {
    return true;
}
} // namespace

std::vector<std::uint64_t> ExifThumbnail::sectors(SectorSource& source, std::uint32_t bytesPerSector,
                                                  std::uint64_t firstSector, std::uint64_t readableBytes,
                                                  std::uint64_t at, std::uint64_t length,
                                                  std::function<bool()> stopped) {
    if (bytesPerSector == 0 || at >= readableBytes) return {};
    const std::uint64_t end = at + std::min(length, readableBytes - at);
    BoundedCursor cursor(source, bytesPerSector, firstSector, end, 1);
    if (const platform::ByteView marker = cursor.at(at, kExifMarkerBytes);
        marker.size() == kExifMarkerBytes && (std::uint64_t{marker.be32(0)} << 16 | marker.be16(4)) == kExifMarker)
        at += kExifMarkerBytes;
    const platform::ByteView head = cursor.at(at, kHeaderBytes);
    if (head.empty() || (head.be32(0) != kLittleEndianHeader && head.be32(0) != kBigEndianHeader)) return {};
    TiffDirectoryWalk walk(source, bytesPerSector, firstSector, end, std::move(stopped),
                           {.directoryTest = &anyDirectory, .mostFirstEntries = TiffDirectoryWalk::kMostEntries}, at);
    walk.measure(head);
    std::vector<std::uint64_t> inside;
    for (const std::uint64_t sector : walk.partSectors())
        if (sector * bytesPerSector > at && sector * bytesPerSector < end) inside.push_back(sector);
    std::sort(inside.begin(), inside.end());
    inside.erase(std::unique(inside.begin(), inside.end()), inside.end());
    return inside;
}
