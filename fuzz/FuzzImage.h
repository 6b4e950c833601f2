#pragma once

// The scratch drive a fuzz target reads: one file kept for the whole run and
// rewritten for every input, with the log silenced and, for the targets that
// read through DMedia, an application controller that lists the file as a
// drive that is present, so that a failed read is only a failed read.
//
// Most targets take their input as sector records: a 4-byte big-endian
// sector number followed by 512 bytes, written into a sparse file of a fixed
// number of 512-byte sectors (sector numbers wrap at its end). A volume or a
// partitioned disk is mostly empty space with its structures far apart, so a
// real image shrinks to a few dozen records this way. A record whose sector
// number has its top bit set also makes its sector unreadable to the targets
// that read through failingReader.
//
// Header-only, so that every target still builds from its one source file.

#include "platform/ByteView.h"
#include "platform/RecordingController.h"
#include "platform/SystemLog.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

class FuzzImage {
public:
    static constexpr std::uint64_t kSectorBytes = 512;
    static constexpr std::size_t kRecordBytes = 4 + kSectorBytes;

    // Whether the controller is made the application's.
    enum class Controller { None, Recording };
    // A file in /tmp, or one in memory (falling back on /tmp) for a target
    // that rewrites a large image for every input and would otherwise wait
    // on the file system most of the time.
    enum class Storage { TempFile, Memory };

    explicit FuzzImage(const std::string& name, Controller controller = Controller::Recording,
                       Storage storage = Storage::TempFile) {
        if (storage == Storage::Memory) {
            fd_ = ::memfd_create(name.c_str(), MFD_CLOEXEC);
            if (fd_ >= 0) path_ = "/proc/self/fd/" + std::to_string(fd_);
        }
        if (fd_ < 0) {
            std::string pattern = "/tmp/" + name + "-XXXXXX";
            fd_ = ::mkstemp(pattern.data());
            if (fd_ < 0) std::abort();
            path_ = pattern;
            inTmp_ = true;
        }
        platform::setLogSink([](const std::string&) {});
        if (controller == Controller::Recording) {
            controller_.setDriveDictArray({platform::Dict{{"Path", path_}}});
            platform::setAppController(&controller_);
        }
    }
    ~FuzzImage() {
        ::close(fd_);
        if (inTmp_) ::unlink(path_.c_str());
    }
    FuzzImage(const FuzzImage&) = delete;
    FuzzImage& operator=(const FuzzImage&) = delete;

    const std::string& path() const { return path_; }
    platform::RecordingController& controller() { return controller_; }

    // The file becomes `sectors` sectors of zeros with the input's sector
    // records written in.
    bool writeSectorRecords(const std::uint8_t* data, std::size_t size, std::uint64_t sectors) {
        if (::ftruncate(fd_, 0) != 0) return false;
        for (std::size_t at = 0; at + kRecordBytes <= size; at += kRecordBytes) {
            const std::uint64_t sector = platform::ByteView(data + at, 4).be32(0) % sectors;
            if (!writeAt(sector * kSectorBytes, data + at + 4, kSectorBytes)) return false;
        }
        return ::ftruncate(fd_, static_cast<off_t>(sectors * kSectorBytes)) == 0;
    }

    // The sectors the input names unreadable: those of its records whose
    // sector number has its top bit set (which the wrap at the file's end
    // leaves out), as the file's sectors wrap them. Their bytes are written
    // all the same; a reader must never see them.
    static std::vector<std::uint64_t> failingSectors(const std::uint8_t* data, std::size_t size,
                                                     std::uint64_t sectors) {
        std::vector<std::uint64_t> out;
        for (std::size_t at = 0; at + kRecordBytes <= size; at += kRecordBytes) {
            const std::uint32_t number = platform::ByteView(data + at, 4).be32(0);
            if ((number & 0x80000000u) != 0) out.push_back(number % sectors);
        }
        return out;
    }

    // pread(2), but every read that touches one of the 512-byte sectors
    // fails with EIO, as a dying disk fails a whole request for one bad
    // sector: the readers' raw read (DMedia::setRawRead and the content
    // tests' own).
    static std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)>
    failingReader(std::vector<std::uint64_t> failing) {
        return [failing = std::move(failing)](int fd, std::uint8_t* buffer, std::size_t length,
                                              std::uint64_t offset) -> std::int64_t {
            for (const std::uint64_t sector : failing)
                if (sector * kSectorBytes < offset + length && offset < (sector + 1) * kSectorBytes) {
                    errno = EIO;
                    return -1;
                }
            return ::pread(fd, buffer, length, static_cast<off_t>(offset));
        };
    }

    // The file becomes exactly these bytes.
    bool writeWhole(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0) return false;
        return size == 0 || writeAt(0, data, size);
    }

    // Writes the bytes at `offset`, leaving the rest of the file as it is.
    bool writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
        return ::pwrite(fd_, data, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
    }

    // A sector of an input that is a file (not sector records) that
    // failingReader fails, chosen from the input's bytes, so that each such
    // input is also read as from a disk with one bad sector under it. A
    // sector from 1 to `sectors`.
    static std::uint64_t badSectorFor(const std::uint8_t* data, std::size_t size, std::uint64_t sectors) {
        std::uint64_t hash = 14695981039346656037ull;
        for (std::size_t i = 0; i < size; ++i)
            hash = (hash ^ data[i]) * 1099511628211ull;
        return 1 + hash % (sectors == 0 ? 1 : sectors);
    }

    // The drive-list row of a volume found on a disk, as the HFS+ scan
    // targets open it: the image's first `sectors` 512-byte sectors.
    platform::Dict foundVolume(std::uint64_t sectors) const {
        return platform::Dict{{"Path", path_},         {"Preferred Block Size", 512},
                              {"Volume Start", 0},     {"Volume Size In Sectors", sectors},
                              {"Volume Scan Type", 0}, {"Content", "Apple_HFS"},
                              {"Volume Name", "fuzz"}, {"device model", "-"},
                              {"device serial", "-"},  {"device revision", "-"}};
    }

private:
    std::string path_;
    int fd_ = -1;
    bool inTmp_ = false;
    platform::RecordingController controller_;
};
