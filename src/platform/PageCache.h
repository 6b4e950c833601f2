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

// Bytes [offset, offset + length) of what `fd` is open on, into `buffer`,
// when the page cache holds every page of them: `length`. Otherwise -1, with
// nothing read from the medium: EAGAIN when some page is not held, or the
// error of the question; EPERM where the system will not tell (it tells of
// the files and devices one owns or may write to, and tells of others that
// it holds everything).
std::int64_t readCachedBytes(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset);

// Which memory pages of the bytes [offset, offset + length) of what `fd` is
// open on the page cache holds, the page that holds `offset` first; nothing
// where the system will not tell or the question fails.
std::optional<std::vector<bool>> heldPages(int fd, std::uint64_t offset, std::size_t length);

} // namespace platform
