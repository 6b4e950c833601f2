// Every file of an HFS+ volume read as a save reads it (through the range
// reader in its save role, in runs of up to eight allocation blocks) from a
// device with bad sectors, beside the same reads through a plain descriptor
// that leaves the kernel's read-ahead on: a file counts as failed when one of
// its reads fails, and its bytes are compared with the sound image's. Through
// the save reader no file should fail, exactly the files on bad sectors
// should hold unreadable sectors (as zeros), and no file should hold a byte
// that differs from the image outside the bad sectors. A manual check, run by
// bench/bad-sector-save-check.sh, which makes the device.
//
//   bad_sector_save_check DEVICE IMAGE START_SECTOR FIRST_BAD COUNT
// IMAGE is a sound copy of what DEVICE serves; its tree is scanned from it.

#include "platform/RecordingController.h"
#include "platform/SystemLog.h"
#include "scan/ScanThread.h"
#include "volume/NewDir.h"
#include "volume/Volume.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <linux/fs.h>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

// The sectors read as zeros, or nothing when the read failed.
using Reader =
    std::function<std::optional<std::uint64_t>(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer)>;

std::shared_ptr<Volume> volumeOn(const std::string& path, std::uint64_t start, std::uint64_t sectors) {
    return Volume::initWithDictionary(platform::Dict{{"Path", path},
                                                     {"Preferred Block Size", 512},
                                                     {"Volume Start", start},
                                                     {"Volume Size In Sectors", sectors - start},
                                                     {"Volume Scan Type", 0},
                                                     {"Content", "Apple_HFS"},
                                                     {"Volume Name", "check"},
                                                     {"device model", "-"},
                                                     {"device serial", "-"},
                                                     {"device revision", "-"}});
}

void filesBelow(const NewDir* folder, std::vector<const NewDir*>& files) {
    for (const NewDir* child : folder->childList) {
        if (child->isFolder())
            filesBelow(child, files);
        else if (!child->extents.empty())
            files.push_back(child);
    }
}

struct FileRead {
    bool failed = false, touchesBad = false, wrongBytes = false;
    std::uint64_t unreadable = 0;
};

// Every run of the file read, and compared with the sound image outside the
// bad sectors.
FileRead readFile(const NewDir& file, std::uint64_t volumeStart, const Reader& read, int image, std::uint64_t firstBad,
                  std::uint64_t badCount) {
    FileRead out;
    std::vector<std::uint8_t> buffer, sound;
    for (const ExtP& e : file.extents) {
        for (std::uint64_t b = 0; b < e.blockCount; b += 8) {
            const std::uint64_t blocks = std::min<std::uint64_t>(8, e.blockCount - b);
            const std::uint64_t sector = volumeStart + file.dataStartSector + (e.startBlock + b) * file.sectorsPerBlock;
            const std::uint64_t count = blocks * file.sectorsPerBlock;
            out.touchesBad = out.touchesBad || (sector < firstBad + badCount && firstBad < sector + count);
            buffer.assign(count * 512, 0);
            const std::optional<std::uint64_t> lost = read(sector, static_cast<std::int32_t>(count), buffer.data());
            if (!lost) {
                out.failed = true;
                continue;
            }
            out.unreadable += *lost;
            sound.assign(count * 512, 0);
            if (::pread(image, sound.data(), sound.size(), static_cast<off_t>(sector * 512)) < 0) out.wrongBytes = true;
            for (std::uint64_t i = 0; i < count; ++i)
                if ((sector + i < firstBad || sector + i >= firstBad + badCount) &&
                    !std::equal(buffer.begin() + i * 512, buffer.begin() + (i + 1) * 512, sound.begin() + i * 512))
                    out.wrongBytes = true;
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: bad_sector_save_check DEVICE IMAGE START_SECTOR FIRST_BAD COUNT\n");
        return 2;
    }
    const std::string device = argv[1], image = argv[2];
    const std::uint64_t start = std::strtoull(argv[3], nullptr, 10);
    const std::uint64_t firstBad = std::strtoull(argv[4], nullptr, 10), badCount = std::strtoull(argv[5], nullptr, 10);
    const std::uint64_t sectors = std::filesystem::file_size(image) / 512;
    platform::setLogSink([](const std::string&) {});
    platform::RecordingController controller;
    controller.setDriveDictArray(platform::Array{platform::Dict{{"Path", image}}, platform::Dict{{"Path", device}}});
    platform::setAppController(&controller);

    auto sound = volumeOn(image, start, sectors);
    ScanThread(sound).startMakingTree(platform::Array{"Normal Scan", 0});
    std::vector<const NewDir*> files;
    if (sound->dirRoot) filesBelow(sound->dirRoot, files);

    const int fd = ::open(device.c_str(), O_RDONLY);
    const int soundFd = ::open(image.c_str(), O_RDONLY);
    if (fd < 0 || soundFd < 0) return 2;
    auto forget = [&] { ::ioctl(fd, BLKFLSBUF, 0); };
    auto dying = volumeOn(device, start, sectors);
    const Reader saveReader = [&](std::uint64_t s, std::int32_t n, std::uint8_t* b) {
        return dying->readSectorRange(s, n, b, DMedia::RangeReader::Save);
    };
    const Reader kernelReadAhead = [&](std::uint64_t s, std::int32_t n,
                                       std::uint8_t* b) -> std::optional<std::uint64_t> {
        if (::pread(fd, b, static_cast<std::size_t>(n) * 512, static_cast<off_t>(s * 512)) != ssize_t{n} * 512)
            return std::nullopt;
        return 0;
    };
    std::size_t touching = 0;
    for (const auto& [name, reader] :
         {std::pair{"a descriptor with the kernel's read-ahead", kernelReadAhead}, {"the save reader", saveReader}}) {
        forget();
        std::size_t failed = 0, holed = 0, wrong = 0;
        touching = 0;
        for (const NewDir* f : files) {
            const FileRead r = readFile(*f, sound->HPlusVolStart(), reader, soundFd, firstBad, badCount);
            failed += r.failed;
            holed += r.unreadable != 0;
            wrong += r.wrongBytes;
            touching += r.touchesBad;
        }
        std::printf("%zu files, %zu with a bad sector; through %s: %zu failed, %zu with unreadable sectors, %zu with "
                    "bytes that differ from the image\n",
                    files.size(), touching, name, failed, holed, wrong);
    }
    ::close(fd);
    ::close(soundFd);
    sound->freeTree();
    platform::setAppController(nullptr);
    return 0;
}
