// Reads the partition table of a disk made from the input the way the
// partition list does: the MBR and its chain of extended records, the GUID
// partition table, the Apple partition map, and for every HFS partition its
// volume header, the header nodes of its extents and catalog B-trees, the
// extents-overflow lookup and the first catalog leaf that names the volume.
//
// A disk is mostly empty space with its tables and volume structures far
// apart, so the input is a list of sectors rather than a whole image: byte 0
// chooses the sector size the drive is read with (512, 1024, 2048 or 4096),
// then come records of a 4-byte big-endian sector number followed by 512
// bytes, written at that 512-byte sector of a 64 MiB sparse file (numbers
// wrap at its end). A seed from a disk image:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(b"\0"+b"".join(struct.pack(">I",i)+d[i*512:i*512+512]
//   for i in range(len(d)//512) if any(d[i*512:i*512+512])))' disk.img > seed
//
// (a disk holding the volume of hfsplus.raw behind a GUID table, an Apple
// map or an MBR chain shrinks to a few dozen records this way).
//
// Build: see run-all.sh (a clang build with -DDRENTIC_BUILD_FUZZ=ON).

#include "media/DMedia.h"
#include "platform/ByteView.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr std::uint64_t kRecordSectorBytes = 512;
constexpr std::uint64_t kDiskSectors = 131072; // 64 MiB of 512-byte sectors
constexpr std::size_t kRecordBytes = 4 + kRecordSectorBytes;

struct Harness {
    std::string path;
    int fd = -1;
    platform::RecordingController controller;

    Harness() {
        char name[] = "/tmp/fuzz-partition-tables-XXXXXX";
        fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        path = name;
        platform::setLogSink([](const std::string&) {});
        // The disk counts as present, so a failed read is only a failed read.
        controller.setDriveDictArray({platform::Dict{{"Path", path}}});
        platform::setAppController(&controller);
    }
    ~Harness() {
        ::close(fd);
        ::unlink(path.c_str());
    }
};

Harness& harness() {
    static Harness h;
    return h;
}

bool writeDisk(Harness& h, const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(h.fd, 0) != 0) return false;
    for (std::size_t at = 0; at + kRecordBytes <= size; at += kRecordBytes) {
        const std::uint64_t sector = platform::ByteView(data + at, 4).be32(0) % kDiskSectors;
        if (::pwrite(h.fd, data + at + 4, kRecordSectorBytes, static_cast<off_t>(sector * kRecordSectorBytes)) !=
            static_cast<ssize_t>(kRecordSectorBytes))
            return false;
    }
    return ::ftruncate(h.fd, static_cast<off_t>(kDiskSectors * kRecordSectorBytes)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    Harness& h = harness();
    const std::uint32_t sectorSize = 512u << (data[0] & 3);
    if (!writeDisk(h, data + 1, size - 1)) return 0;
    h.controller.clear();

    auto drive = DMedia::initWithDictionary(platform::Dict{{"Path", h.path},
                                                           {"Preferred Block Size", sectorSize},
                                                           {"Size", kDiskSectors * kRecordSectorBytes},
                                                           {"device model", "-"},
                                                           {"device serial", "-"},
                                                           {"device revision", "-"}});
    if (!drive) std::abort();
    platform::Array volumes;
    drive->initialize(volumes);

    // Whatever the tables said, the list is the drive's own, made of
    // HFS-family partitions with every key of a partition dictionary.
    if (volumes.size() != drive->volumePMArray.size()) std::abort();
    for (const platform::Value& v : volumes) {
        const platform::Dict& d = v.dictValue();
        if (d.get("Content").stringValue() != "Apple_HFS" || !d.contains("Volume Start") ||
            !d.contains("Volume Size In Sectors") || !d.get("Volume Name").isString() || d.get("Path").stringValue() != h.path)
            std::abort();
    }
    return 0;
}
