#pragma once

// Bytes whose first one starts a memory page. The kernel copies a large read
// into a page-aligned buffer several times faster than into one a few bytes
// off a page, as the memory of a vector of that size usually is; every large
// buffer a sweep of a medium reads into is one of these.

#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

class AlignedBuffer {
public:
    AlignedBuffer() noexcept = default;
    explicit AlignedBuffer(std::size_t size) { resize(size); }

    // Makes the buffer `size` bytes long. Its bytes are whatever the last
    // read left, and none are kept when it has to grow: callers fill it.
    void resize(std::size_t size);
    // Gives the memory back.
    void clear() noexcept;

    std::uint8_t* data() noexcept { return bytes_.get(); }
    const std::uint8_t* data() const noexcept { return bytes_.get(); }
    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    ByteView view() const noexcept { return ByteView(bytes_.get(), size_); }

private:
    struct Release {
        void operator()(std::uint8_t* bytes) const noexcept;
    };
    std::unique_ptr<std::uint8_t[], Release> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

} // namespace platform
