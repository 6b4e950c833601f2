// Runs the drive list's content tests on a volume made from the input: the
// APFS, FAT and exFAT signatures, the FAT type by cluster count, and the
// HFS+ journal test with its HFS wrapper, plus the byte-order readers at
// positions the input chooses.
//
// Byte 0 chooses the sector size the volume is read with (512, 1024, 2048
// or 4096), byte 1 the sector at which the volume begins in the file (0 to
// 7), bytes 2 to 4 a position and a mode for the byte-order readers, byte 5
// the 512-byte sectors of the file that cannot be read (bit k for sector k,
// bit 7 for the last one), so the tests also meet a failing disk and the
// copies that stand in for its sectors; the rest is the file, whose first
// sectors hold the boot sector or volume header. Any boot sector, volume header or HFS wrapper (with an embedded
// volume close enough to be inside the input) makes a seed:
//
//   { printf '\0\0\0\0\0\0'; head -c 65536 volume.img; } > seed
//
// Build: see run-all.sh (a clang build with -DDRENTIC_BUILD_FUZZ=ON).

#include "FuzzImage.h"
#include "media/VolumeContentDetection.h"
#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHeaderBytes = 6;

FuzzImage& image() {
    static FuzzImage image("fuzz-content-detection", FuzzImage::Controller::None);
    return image;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderBytes) return 0;
    FuzzImage& img = image();
    const std::uint32_t sectorSize = 512u << (data[0] & 3);
    const std::uint64_t start = data[1] & 7;
    const platform::ByteView input(data, size);
    const std::int32_t position = static_cast<std::int16_t>(input.be16(2));
    const std::int32_t mode = data[4] & 3;
    if (!img.writeWhole(data + kHeaderBytes, size - kHeaderBytes)) return 0;

    // The readers never look outside the bytes they are given.
    const platform::ByteView bytes = input.sub(kHeaderBytes);
    (void)VolumeContentDetection::twoByteRead(bytes, position, mode);
    (void)VolumeContentDetection::fourByteRead(bytes, position, mode);

    const std::uint64_t fileBytes = size - kHeaderBytes;
    std::vector<std::uint64_t> failing;
    for (unsigned k = 0; k < 7; ++k)
        if ((data[5] >> k) & 1) failing.push_back(k);
    if ((data[5] & 0x80) != 0 && fileBytes >= 512) failing.push_back(fileBytes / 512 - 1);
    // The volume runs to the file's end, where an HFS+ alternate header lies.
    const std::uint64_t volumeBytes = fileBytes > start * sectorSize ? fileBytes - start * sectorSize : 0;
    const platform::Dict volume{{"Path", img.path()},
                                {"Preferred Block Size", sectorSize},
                                {"Size", static_cast<unsigned long long>(volumeBytes)}};
    const VolumeContentDetection detect(start, FuzzImage::failingReader(std::move(failing)));
    if (auto header = detect.volumeHeader(volume); header && header->size() != 512) std::abort();
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
