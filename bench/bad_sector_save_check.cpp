// Every file of an HFS+ volume read as a save reads it (through the save
// reader, in runs of up to eight allocation blocks) from a device with bad
// sectors, beside the same reads through a plain descriptor that leaves the
// kernel's read-ahead on: a file counts as failed when one of its reads
// fails. Only the files whose sectors are bad should fail. A manual check,
// run by bench/bad-sector-save-check.sh, which makes the device.
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
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

using Reader = std::function<bool(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer)>;

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

// Whether every run of the file could be read.
bool readFile(const NewDir& file, std::uint64_t volumeStart, const Reader& read, std::uint64_t firstBad,
              std::uint64_t badCount, bool& touchesBad) {
    bool ok = true;
    std::vector<std::uint8_t> buffer;
    for (const ExtP& e : file.extents) {
        for (std::uint64_t b = 0; b < e.blockCount; b += 8) {
            const std::uint64_t blocks = std::min<std::uint64_t>(8, e.blockCount - b);
            const std::uint64_t sector = volumeStart + file.dataStartSector + (e.startBlock + b) * file.sectorsPerBlock;
            const std::uint64_t count = blocks * file.sectorsPerBlock;
            touchesBad = touchesBad || (sector < firstBad + badCount && firstBad < sector + count);
            buffer.resize(count * 512);
            ok = read(sector, static_cast<std::int32_t>(count), buffer.data()) && ok;
        }
    }
    return ok;
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
    if (fd < 0) return 2;
    auto forget = [&] { ::ioctl(fd, BLKFLSBUF, 0); };
    auto dying = volumeOn(device, start, sectors);
    const Reader saveReader = [&](std::uint64_t s, std::int32_t n, std::uint8_t* b) {
        return dying->readSaveSector(s, n, b);
    };
    const Reader kernelReadAhead = [&](std::uint64_t s, std::int32_t n, std::uint8_t* b) {
        return ::pread(fd, b, static_cast<std::size_t>(n) * 512, static_cast<off_t>(s * 512)) ==
               static_cast<ssize_t>(n) * 512;
    };
    std::size_t touching = 0;
    for (const auto& [name, reader] :
         {std::pair{"a descriptor with the kernel's read-ahead", kernelReadAhead}, {"the save reader", saveReader}}) {
        forget();
        std::size_t failed = 0;
        touching = 0;
        for (const NewDir* f : files) {
            bool touches = false;
            if (!readFile(*f, sound->HPlusVolStart(), reader, firstBad, badCount, touches)) ++failed;
            if (touches) ++touching;
        }
        std::printf("%zu files, %zu with a bad sector; failed through %s: %zu\n", files.size(), touching, name, failed);
    }
    ::close(fd);
    sound->freeTree();
    platform::setAppController(nullptr);
    return 0;
}
