// Runs the drive list's content tests on a volume made from the input: the
// APFS, FAT and exFAT signatures, the FAT type by cluster count, and the
// HFS+ journal test with its HFS wrapper, plus the byte-order readers at
// positions the input chooses.
//
// Byte 0 chooses the sector size the volume is read with (512, 1024, 2048
// or 4096), byte 1 the sector at which the volume begins in the file (0 to
// 7), bytes 2 to 5 a position and a mode for the byte-order readers; the
// rest is the file, whose first sectors hold the boot sector or volume
// header. Any boot sector, volume header or HFS wrapper (with an embedded
// volume close enough to be inside the input) makes a seed:
//
//   { printf '\0\0\0\0\0\0'; head -c 65536 volume.img; } > seed
//
// Build: see run-all.sh (a clang build with -DDRENTIC_BUILD_FUZZ=ON).

#include "media/VolumeContentDetection.h"
#include "platform/ByteView.h"
#include "platform/SystemLog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

constexpr std::size_t kHeaderBytes = 6;

struct Harness {
    std::string path;
    int fd = -1;

    Harness() {
        char name[] = "/tmp/fuzz-content-detection-XXXXXX";
        fd = ::mkstemp(name);
        if (fd < 0) std::abort();
        path = name;
        platform::setLogSink([](const std::string&) {});
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) return 0;
    Harness& h = harness();
    const std::uint32_t sectorSize = 512u << (data[0] & 3);
    const std::uint64_t start = data[1] & 7;
    const platform::ByteView input(data, size);
    const std::int32_t position = static_cast<std::int16_t>(input.be16(2));
    const std::int32_t mode = data[4] & 3;
    if (::ftruncate(h.fd, 0) != 0) return 0;
    const std::size_t body = size - kHeaderBytes;
    if (body && ::pwrite(h.fd, data + kHeaderBytes, body, 0) != static_cast<ssize_t>(body)) return 0;

    // The readers never look outside the bytes they are given.
    const platform::ByteView bytes = input.sub(kHeaderBytes);
    (void)VolumeContentDetection::twoByteRead(bytes, position, mode);
    (void)VolumeContentDetection::fourByteRead(bytes, position, mode);

    const platform::Dict volume{{"Path", h.path}, {"Preferred Block Size", sectorSize}};
    const VolumeContentDetection detect(start);
    (void)detect.isVolumeAPFS(volume);
    (void)detect.isVolumeExFAT(volume);
    const bool fat = detect.isVolumeFAT(volume);
    const std::string type = detect.fatFileSystemDetermination(volume);
    if (type != "FAT12" && type != "FAT16" && type != "FAT32" && type != "-") std::abort();
    (void)fat;
    if (auto journal = detect.checkForJournal(volume)) {
        const std::string content = journal->get("Content").stringValue();
        if (content != "Apple_HFS" && content != "Apple_HFSX" && content != "-") std::abort();
        const bool journaled = journal->get("journaled").stringValue() == "Yes";
        if (journaled != (journal->get("supportFileSystemRecovery").intValue() == 1)) std::abort();
        if (journaled && content == "-") std::abort();
    }
    return 0;
}
