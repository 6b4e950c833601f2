#include "session/SessionFileInput.h"

#include "platform/ByteView.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr std::size_t kBufferBytes = 1u << 20;
} // namespace

std::unique_ptr<SessionFileInput> SessionFileInput::open(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (error) *error = "it is not a regular file";
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SessionFileInput>(new SessionFileInput(fd, static_cast<std::uint64_t>(st.st_size)));
}

SessionFileInput::~SessionFileInput() {
    if (fd_ >= 0) ::close(fd_);
}

std::string SessionFileInput::reason() const {
    return error_ ? std::strerror(error_) : std::string();
}

bool SessionFileInput::fill(std::size_t length) {
    // The buffer starts again at the position with at least `length` bytes.
    const std::size_t want = std::max(length, kBufferBytes);
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(want, left()));
    buffer_.resize(n);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, buffer_.data() + done, n - done, static_cast<off_t>(position_ + done));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            // A file that shrank while it was read ends there.
            error_ = got < 0 ? errno : EIO;
            buffer_.clear();
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    bufferStart_ = position_;
    return true;
}

bool SessionFileInput::read(void* out, std::size_t length) {
    if (failed() || length > left()) return false;
    if (length == 0) return true;
    const bool inBuffer = position_ >= bufferStart_ && position_ - bufferStart_ <= buffer_.size() &&
                          length <= buffer_.size() - (position_ - bufferStart_);
    if (!inBuffer && !fill(length)) return false;
    std::memcpy(out, buffer_.data() + (position_ - bufferStart_), length);
    position_ += length;
    return true;
}

bool SessionFileInput::readBE32(std::uint32_t& v) {
    std::uint8_t b[4];
    if (!read(b, sizeof b)) return false;
    v = platform::ByteView(b, sizeof b).be32(0);
    return true;
}

bool SessionFileInput::readBE64(std::uint64_t& v) {
    std::uint8_t b[8];
    if (!read(b, sizeof b)) return false;
    v = platform::ByteView(b, sizeof b).be64(0);
    return true;
}

bool SessionFileInput::skip(std::uint64_t length) {
    if (failed() || length > left()) return false;
    position_ += length;
    return true;
}

bool SessionFileInput::seek(std::uint64_t offset) {
    if (failed() || offset > size_) return false;
    position_ = offset;
    return true;
}
