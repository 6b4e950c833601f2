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

#include "FuzzImage.h"
#include "hfsplus/LostVolumeSearch.h"
#include "media/DMedia.h"
#include "platform/RecordingController.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::uint64_t kDriveBytes = 4u << 20;

// A drive in memory: rewriting a file on disk for every input would leave
// the fuzzer waiting on the file system most of the time.
FuzzImage& image() {
    static FuzzImage image("fuzz-lost-volume-search", FuzzImage::Controller::Recording, FuzzImage::Storage::Memory);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    FuzzImage& img = image();
    const std::uint8_t options = data[0];
    if (!img.writeSectorRecords(data + 1, size - 1, kDriveBytes / FuzzImage::kSectorBytes)) return 0;
    img.controller().clear();

    const std::uint32_t bytesPerSector = (options & 1) ? 4096 : 512;
    auto media = DMedia::initWithDictionary(platform::Dict{{"Path", img.path()},
                                                           {"Preferred Block Size", bytesPerSector},
                                                           {"Size", kDriveBytes},
                                                           {"device model", "-"},
                                                           {"device serial", "-"},
                                                           {"device revision", "-"}});
    if (!media) std::abort();

    const unsigned stopAt = options >> 1;
    unsigned posts = 0;
    img.controller().setCallObserver([&](const platform::RecordingController::Call& c) {
        if (stopAt != 0 && c.name == "updateVolumeScanProgress:" && ++posts == stopAt) media->setAbortVolumeScan(true);
    });

    platform::Array argument{platform::Array{}, platform::Array{}};
    LostVolumeSearch(*media).initializeForVolumeThoroughScan(argument);
    img.controller().setCallObserver(nullptr);

    // Every row stands for one handed-over volume dictionary.
    if (argument[0].arrayValue().size() != argument[1].arrayValue().size()) std::abort();
    if (media->volumeScanArray.size() != argument[1].arrayValue().size()) std::abort();
    return 0;
}
