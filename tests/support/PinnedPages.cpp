#include "support/PinnedPages.h"

#include <algorithm>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

PinnedPages::PinnedPages(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length) {
    const long page = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t pageBytes = page > 0 ? static_cast<std::uint64_t>(page) : 4096;
    const std::uint64_t first = offset - offset % pageBytes;
    const std::size_t span =
        static_cast<std::size_t>((offset + length + pageBytes - 1) / pageBytes * pageBytes - first);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || span == 0) {
        if (fd >= 0) ::close(fd);
        return;
    }
    // Mapped, the pages are read in where the cache does not hold them: under a sanitizer, which makes mlock a
    // call that does nothing, they are then at least held and mapped.
    void* mapped = ::mmap(nullptr, span, PROT_READ, MAP_SHARED | MAP_POPULATE, fd, static_cast<off_t>(first));
    ::close(fd);
    if (mapped == MAP_FAILED) return;
    // Locking reads in the pages the cache does not hold; one that cannot be read fails it, and so does one the
    // cache does not hold after it.
    std::vector<unsigned char> held(span / pageBytes);
    if (::mlock(mapped, span) != 0 || ::mincore(mapped, span, held.data()) != 0 ||
        std::any_of(held.begin(), held.end(), [](unsigned char h) { return (h & 1) == 0; })) {
        ::munmap(mapped, span);
        return;
    }
    mapped_ = mapped;
    length_ = span;
}

PinnedPages::~PinnedPages() {
    if (mapped_) ::munmap(mapped_, length_);
}

} // namespace testsupport
