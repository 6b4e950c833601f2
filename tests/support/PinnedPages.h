#pragma once

// Bytes of a file or device held in the page cache while the object lives:
// their pages are mapped and locked in memory, read in first where the cache
// did not hold them (under a sanitizer, whose mlock does nothing, mapped
// only). What the kernel keeps there of them is then the test's
// choice, however much memory other processes take; a test of what a program
// does with what the cache holds makes it hold what the test needs.

#include <cstdint>
#include <filesystem>

namespace testsupport {

class PinnedPages {
public:
    PinnedPages(const std::filesystem::path& path, std::uint64_t offset, std::uint64_t length);
    ~PinnedPages();
    PinnedPages(const PinnedPages&) = delete;
    PinnedPages& operator=(const PinnedPages&) = delete;
    // Whether every page of the bytes is held (false when one could not be
    // read, or locking was refused).
    bool pinned() const { return mapped_ != nullptr; }

private:
    void* mapped_ = nullptr;
    std::size_t length_ = 0;
};

} // namespace testsupport
