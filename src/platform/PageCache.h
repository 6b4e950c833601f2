#pragma once

// What the system's page cache holds of a file or device, read without
// asking the medium below it for anything: a disk that has stopped answering
// still gives the pages the kernel kept of it. The cache is asked which
// pages it holds (mincore on a mapping), never read into: a read the kernel
// cannot answer from memory would ask the medium (even one that may not
// wait, as RWF_NOWAIT starts the medium's read before it refuses).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace platform {

// A descriptor whose page cache is asked often (a dead medium is read from
// the cache a window at a time, to its end), with what its asking depends on
// found out once: whether the system tells the truth of its pages, and
// whether it can be mapped to ask (a file that a FUSE server serves in
// direct I/O cannot). Both hold for the descriptor's life.
struct CacheAsking {
    int fd = -1;
    bool told = false;
    bool maps = false;
};
CacheAsking cacheAsking(int fd);

// Bytes [offset, offset + length) of what `fd` is open on, into `buffer`,
// when the page cache holds every page of them: `length`. Otherwise -1, with
// nothing read from the medium: EAGAIN when some page is not held, or the
// error of the question; EPERM where the system will not tell (it tells of
// the files and devices one owns or may write to, and tells of others that
// it holds everything), ENODEV where the descriptor cannot be mapped.
// readCachedBytesAsked: the same, asked as `asking` says.
std::int64_t readCachedBytes(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset);
std::int64_t readCachedBytesAsked(const CacheAsking& asking, std::uint8_t* buffer, std::size_t length,
                                  std::uint64_t offset);

// Which memory pages of the bytes [offset, offset + length) of what `fd` is
// open on the page cache holds, the page that holds `offset` first; nothing
// where the system will not tell or the question fails (errno says why, as
// readCachedBytes does); heldPagesAsked asks as `asking` says.
std::optional<std::vector<bool>> heldPages(int fd, std::uint64_t offset, std::size_t length);
std::optional<std::vector<bool>> heldPagesAsked(const CacheAsking& asking, std::uint64_t offset, std::size_t length);

// Lets the page cache go of the bytes [offset, offset + length) of what `fd`
// is open on (length 0: to its end), so that the next read there asks what
// lies below: only where no page of them waits to be written, as letting go
// of such a page writes it first, and what lies below may be the medium
// being recovered. Asked of the kernel (cachestat) where it can tell;
// elsewhere only a read-only device, or a file on a read-only file system,
// is let go of. True when it was.
bool dropCleanPages(int fd, std::uint64_t offset, std::uint64_t length);

} // namespace platform
