// Searches a drive made from the input for lost HFS+ volumes, the way the
// partition recovery's drive search does: signatures in every sector, the
// plausibility test of each header, the fit and alternate-header rules, and
// the verification that walks or sweeps each candidate's catalog and looks
// its extents up in the extents-overflow B-tree.
//
// Input: one byte of options, then records of a 4-byte big-endian sector
// number (in 512-byte units) followed by 512 bytes, written into a 4 MiB
// sparse file (sector numbers wrap at its end) that is searched as a drive.
// Option bit 0 makes the drive's sectors 4096 bytes instead of 512; bits 1
// to 7, when not all 0, press Stop at that progress post, so the abort paths
// run too. A seed from the macOS-made volume placed at sector 40:
//
//   python3 -c 'import sys,struct; d=open(sys.argv[1],"rb").read()
//   sys.stdout.buffer.write(b"\0"+b"".join(struct.pack(">I",40+i)+d[i*512:i*512+512]
//   for i in range(len(d)//512) if any(d[i*512:i*512+512])))' hfsplus.raw > seed
//
// Build: see run-all.sh (the fuzz build of the whole tree).

#include "media/DMedia.h"
#include "media/LostVolumeSearch.h"
#include "platform/ByteView.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::uint64_t kUnitBytes = 512;
constexpr std::uint64_t kDriveBytes = 4u << 20;
constexpr std::size_t kRecordBytes = 4 + kUnitBytes;

struct Harness {
    std::string path;
    int fd = -1;
    platform::RecordingController controller;

    Harness() {
        // A drive in memory: rewriting a file on disk for every input would
        // leave the fuzzer waiting on the file system most of the time.
        fd = ::memfd_create("fuzz-lost-volume-search", MFD_CLOEXEC);
        if (fd >= 0) {
            path = "/proc/self/fd/" + std::to_string(fd);
        } else {
            char name[] = "/tmp/fuzz-lost-volume-search-XXXXXX";
            fd = ::mkstemp(name);
            if (fd < 0) std::abort();
            path = name;
        }
        platform::setLogSink([](const std::string&) {});
        controller.setDriveDictArray({platform::Dict{{"Path", path}}});
        platform::setAppController(&controller);
    }
    ~Harness() {
        ::close(fd);
        if (path.rfind("/tmp/", 0) == 0) ::unlink(path.c_str());
    }
};

Harness& harness() {
    static Harness h;
    return h;
}

bool writeDrive(Harness& h, const std::uint8_t* data, std::size_t size) {
    if (::ftruncate(h.fd, 0) != 0) return false;
    const std::uint64_t units = kDriveBytes / kUnitBytes;
    for (std::size_t at = 0; at + kRecordBytes <= size; at += kRecordBytes) {
        const std::uint64_t unit = platform::ByteView(data + at, 4).be32(0) % units;
        if (::pwrite(h.fd, data + at + 4, kUnitBytes, static_cast<off_t>(unit * kUnitBytes)) !=
            static_cast<ssize_t>(kUnitBytes))
            return false;
    }
    return ::ftruncate(h.fd, static_cast<off_t>(kDriveBytes)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    Harness& h = harness();
    const std::uint8_t options = data[0];
    if (!writeDrive(h, data + 1, size - 1)) return 0;
    h.controller.clear();

    const std::uint32_t bytesPerSector = (options & 1) ? 4096 : 512;
    auto media = DMedia::initWithDictionary(platform::Dict{{"Path", h.path},
                                                           {"Preferred Block Size", bytesPerSector},
                                                           {"Size", kDriveBytes},
                                                           {"device model", "-"},
                                                           {"device serial", "-"},
                                                           {"device revision", "-"}});
    if (!media) std::abort();

    const unsigned stopAt = options >> 1;
    unsigned posts = 0;
    h.controller.setCallObserver([&](const platform::RecordingController::Call& c) {
        if (stopAt != 0 && c.name == "updateVolumeScanProgress:" && ++posts == stopAt) media->setAbortVolumeScan(true);
    });

    platform::Array argument{platform::Array{}, platform::Array{}};
    LostVolumeSearch(*media).initializeForVolumeThoroughScan(argument);
    h.controller.setCallObserver(nullptr);

    // Every row stands for one handed-over volume dictionary.
    if (argument[0].arrayValue().size() != argument[1].arrayValue().size()) std::abort();
    if (media->volumeScanArray.size() != argument[1].arrayValue().size()) std::abort();
    return 0;
}
