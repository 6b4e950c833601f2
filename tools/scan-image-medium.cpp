#include "ScanImageMedium.h"
#include "media/DMedia.h"
#include "platform/SystemLog.h"

#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

std::optional<std::uint64_t> mediumSize(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::optional<std::uint64_t> size;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        // A block device's inode has no size of its own.
        std::uint64_t bytes = 0;
        if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &bytes) == 0)
            size = bytes;
        else if (S_ISREG(st.st_mode))
            size = static_cast<std::uint64_t>(st.st_size);
    }
    ::close(fd);
    return size;
}

void reportUnreadableSectors(const DMedia& medium, const std::string& image) {
    const std::uint64_t lost = medium.unreadableSectorCount(), failed = medium.failedSectorsIn(0, UINT64_MAX);
    const std::string name = platform::escapedText(image);
    if (failed != 0)
        std::fprintf(stderr, "scan-image: %llu sectors of %s could not be read; they were taken as zeros\n",
                     static_cast<unsigned long long>(failed), name.c_str());
    if (lost > failed)
        std::fprintf(stderr,
                     "scan-image: %llu sectors of %s were not read, stepped over in a bad area or not asked of a "
                     "disk that had stopped answering; they were taken as zeros\n",
                     static_cast<unsigned long long>(lost - failed), name.c_str());
}
