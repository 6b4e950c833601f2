#include "platform/AlignedBuffer.h"

#include <new>
#include <unistd.h>

namespace platform {

namespace {
std::align_val_t pageAlignment() {
    static const std::align_val_t alignment = [] {
        const long page = ::sysconf(_SC_PAGESIZE);
        return std::align_val_t(page > 0 ? static_cast<std::size_t>(page) : 4096);
    }();
    return alignment;
}
} // namespace

void AlignedBuffer::Release::operator()(std::uint8_t* bytes) const noexcept {
    ::operator delete[](bytes, pageAlignment());
}

void AlignedBuffer::resize(std::size_t size) {
    if (size > capacity_) {
        clear();
        bytes_.reset(static_cast<std::uint8_t*>(::operator new[](size, pageAlignment())));
        capacity_ = size;
    }
    size_ = size;
}

void AlignedBuffer::clear() noexcept {
    bytes_.reset();
    size_ = capacity_ = 0;
}

} // namespace platform
