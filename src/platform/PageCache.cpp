#include "platform/PageCache.h"

#include "platform/CheckedMath.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// Whether mincore tells the truth of `fd`'s pages: the kernel answers only
// for a file one owns or may write to, and for any other says every page is
// held, so that no one learns what another reads.
bool cacheTold(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    const uid_t me = ::geteuid();
    if (me == 0 || st.st_uid == me) return true;
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    return ::faccessat(AT_FDCWD, self.c_str(), W_OK, AT_EACCESS) == 0;
}

// Whether `fd` can be mapped at all: a file system that serves a file
// without the page cache (FUSE in direct I/O) refuses every mapping of it.
bool maps(int fd) {
    const long pageBytes = ::sysconf(_SC_PAGESIZE);
    const std::size_t page = pageBytes > 0 ? static_cast<std::size_t>(pageBytes) : 4096;
    void* mapped = ::mmap(nullptr, page, PROT_READ, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) return errno != ENODEV;
    ::munmap(mapped, page);
    return true;
}

// The kernel's count of a range's cached pages (cachestat, Linux 6.5 on), as
// its interface lays them out; its number is the same on every architecture.
struct CachestatRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};
struct Cachestat {
    std::uint64_t cached = 0, dirty = 0, writeback = 0, evicted = 0, recentlyEvicted = 0;
};
constexpr long kCachestat = 451;

// Whether no page of the range waits to be written: nothing when the kernel
// cannot tell.
std::optional<bool> noPageToWrite(int fd, std::uint64_t offset, std::uint64_t length) {
    CachestatRange range{offset, length};
    Cachestat stat;
    if (::syscall(kCachestat, fd, &range, &stat, 0) != 0) return std::nullopt;
    return stat.dirty == 0 && stat.writeback == 0;
}

// Whether nothing can be written through `fd`'s device or file system at
// all: a read-only device, or a file on a read-only file system.
bool readOnlyBelow(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    if (S_ISBLK(st.st_mode)) {
        int readOnly = 0;
        return ::ioctl(fd, BLKROGET, &readOnly) == 0 && readOnly != 0;
    }
    struct statvfs fs {};
    return S_ISREG(st.st_mode) && ::fstatvfs(fd, &fs) == 0 && (fs.f_flag & ST_RDONLY) != 0;
}

} // namespace

bool dropCleanPages(int fd, std::uint64_t offset, std::uint64_t length) {
    if (fd < 0 || offset > static_cast<std::uint64_t>(INT64_MAX) ||
        length > static_cast<std::uint64_t>(INT64_MAX) - offset)
        return false;
    const std::optional<bool> clean = noPageToWrite(fd, offset, length);
    if (clean ? !*clean : !readOnlyBelow(fd)) return false;
    return ::posix_fadvise(fd, static_cast<off_t>(offset), static_cast<off_t>(length), POSIX_FADV_DONTNEED) == 0;
}

CacheAsking cacheAsking(int fd) {
    if (fd < 0) return {fd, false, false};
    const bool told = cacheTold(fd);
    return {fd, told, told && maps(fd)};
}

std::optional<std::vector<bool>> heldPages(int fd, std::uint64_t offset, std::size_t length) {
    // One question: whether the system tells is asked with it, and the map
    // itself finds out whether the descriptor maps.
    return heldPagesAsked(CacheAsking{fd, fd >= 0 && cacheTold(fd), true}, offset, length);
}

std::optional<std::vector<bool>> heldPagesAsked(const CacheAsking& asking, std::uint64_t offset, std::size_t length) {
    const int fd = asking.fd;
    if (fd < 0 || length == 0) {
        errno = fd < 0 ? EBADF : EINVAL;
        return std::nullopt;
    }
    const long pageBytes = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t page = pageBytes > 0 ? static_cast<std::uint64_t>(pageBytes) : 4096;
    const std::optional<std::uint64_t> end = checkedAdd(offset, std::uint64_t{length});
    const std::optional<std::uint64_t> mappedEnd = end ? checkedAdd(*end, page - 1) : std::nullopt;
    if (!mappedEnd || *mappedEnd / page * page > static_cast<std::uint64_t>(INT64_MAX)) {
        errno = EINVAL;
        return std::nullopt;
    }
    if (!asking.told || !asking.maps) {
        errno = asking.told ? ENODEV : EPERM;
        return std::nullopt;
    }
    const std::uint64_t first = offset - offset % page;
    const std::size_t span = static_cast<std::size_t>(*mappedEnd / page * page - first);
    void* mapped = ::mmap(nullptr, span, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(first));
    if (mapped == MAP_FAILED) return std::nullopt;
    std::vector<unsigned char> held(span / page);
    const int asked = ::mincore(mapped, span, held.data());
    const int error = errno;
    ::munmap(mapped, span);
    if (asked != 0) {
        errno = error;
        return std::nullopt;
    }
    std::vector<bool> pages(held.size());
    for (std::size_t i = 0; i < held.size(); ++i)
        pages[i] = (held[i] & 1) != 0;
    return pages;
}

std::int64_t readCachedBytes(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
    return readCachedBytesAsked(CacheAsking{fd, fd >= 0 && cacheTold(fd), true}, buffer, length, offset);
}

std::int64_t readCachedBytesAsked(const CacheAsking& asking, std::uint8_t* buffer, std::size_t length,
                                  std::uint64_t offset) {
    const int fd = asking.fd;
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    if (length == 0) return 0;
    const std::optional<std::vector<bool>> held = heldPagesAsked(asking, offset, length);
    if (!held) return -1;
    for (const bool pageHeld : *held) {
        if (!pageHeld) {
            errno = EAGAIN;
            return -1;
        }
    }
    // Every page is held: the read copies them. One the kernel let go since
    // is refused, not read; a descriptor that cannot refuse reads it.
    std::size_t done = 0;
    while (done < length) {
        iovec into{buffer + done, length - done};
        ssize_t n = ::preadv2(fd, &into, 1, static_cast<off_t>(offset + done), RWF_NOWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EOPNOTSUPP)
            n = ::pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (n <= 0) {
            if (n == 0) errno = EAGAIN;
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

} // namespace platform
