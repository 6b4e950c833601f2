// Reads the partition table of a disk made from the input the way the
// partition list does: the MBR and its chain of extended records, the GUID
// partition table, the Apple partition map, and for every HFS partition its
// volume header, the header nodes of its extents and catalog B-trees, the
// extents-overflow lookup and the first catalog leaf that names the volume;
// then every partition's place, whatever it holds, as scan-image asks it.
//
// A disk is mostly empty space with its tables and volume structures far
// apart, so the input is a list of sectors rather than a whole image: byte 0
// chooses the sector size the drive is read with (512, 1024, 2048 or 4096),
// then come records of a 4-byte big-endian sector number followed by 512
// bytes, written at that 512-byte sector of a 64 MiB sparse file (numbers
// wrap at its end). A record whose sector number has its top bit set also
// makes that sector unreadable: every read that touches it fails with EIO,
// as on a failing disk, and the drive reads it as zeros and counts it. A
// seed from a disk image:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(b"\0"+b"".join(struct.pack(">I",i)+d[i*512:i*512+512]
//   for i in range(len(d)//512) if any(d[i*512:i*512+512])))' disk.img > seed
//
// (a disk holding the volume of hfsplus.raw behind a GUID table, an Apple
// map or an MBR chain shrinks to a few dozen records this way).
//
// Build: see run-all.sh (a clang build with -DDRENTIC_BUILD_FUZZ=ON).

#include "FuzzImage.h"
#include "media/DMedia.h"
#include "media/PartitionTables.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint64_t kDiskSectors = 131072; // 64 MiB of 512-byte sectors
constexpr std::uint32_t kUnreadableBit = 0x80000000u;

// The disk counts as present, so a failed read is only a failed read.
FuzzImage& image() {
    static FuzzImage image("fuzz-partition-tables");
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    FuzzImage& img = image();
    const std::uint32_t sectorSize = 512u << (data[0] & 3);
    if (!img.writeSectorRecords(data + 1, size - 1, kDiskSectors)) return 0;
    img.controller().clear();

    auto drive = DMedia::initWithDictionary(platform::Dict{{"Path", img.path()},
                                                           {"Preferred Block Size", sectorSize},
                                                           {"Size", kDiskSectors * FuzzImage::kSectorBytes},
                                                           {"device model", "-"},
                                                           {"device serial", "-"},
                                                           {"device revision", "-"}});
    if (!drive) std::abort();
    std::vector<std::uint64_t> unreadable;
    for (std::size_t at = 1; at + FuzzImage::kRecordBytes <= size; at += FuzzImage::kRecordBytes) {
        const std::uint32_t number = platform::ByteView(data + at, 4).be32(0);
        if (number & kUnreadableBit) unreadable.push_back(number % kDiskSectors);
    }
    if (!unreadable.empty())
        drive->setRawRead([unreadable](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
            for (const std::uint64_t sector : unreadable)
                if (offset < (sector + 1) * FuzzImage::kSectorBytes &&
                    sector * FuzzImage::kSectorBytes < offset + length) {
                    errno = EIO;
                    return std::int64_t{-1};
                }
            return static_cast<std::int64_t>(::pread(fd, buffer, length, static_cast<off_t>(offset)));
        });
    platform::Array volumes;
    drive->initialize(volumes);

    // Whatever the tables said, the list is the drive's own, made of
    // HFS-family partitions with every key of a partition dictionary.
    if (volumes.size() != drive->volumePMArray.size()) std::abort();
    for (const platform::Value& v : volumes) {
        const platform::Dict& d = v.dictValue();
        if (d.get("Content").stringValue() != "Apple_HFS" || !d.contains("Volume Start") ||
            !d.contains("Volume Size In Sectors") || !d.get("Volume Name").isString() ||
            d.get("Path").stringValue() != img.path())
            std::abort();
    }
    // Only a sector that fails is counted as one that could not be read.
    if (unreadable.empty() && drive->unreadableSectorCount() != 0) std::abort();
    // Every HFS partition listed is one of the table's partitions, and
    // none reaches past the drive's end.
    const std::vector<PartitionTables::Span> spans = PartitionTables(*drive).partitionSpans();
    for (const platform::Value& v : volumes) {
        const platform::Dict& d = v.dictValue();
        const std::uint64_t start = d.get("Volume Start").uint64Value(), end = drive->sizeInSect();
        if (start >= end || d.get("Volume Size In Sectors").uint64Value() > end - start) std::abort();
        if (std::none_of(spans.begin(), spans.end(), [&](const PartitionTables::Span& p) {
                return p.start == d.get("Volume Start").uint64Value() &&
                       p.sectors == d.get("Volume Size In Sectors").uint64Value();
            }))
            std::abort();
    }
    return 0;
}
