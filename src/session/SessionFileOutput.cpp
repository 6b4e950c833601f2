#include "session/SessionFileOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Large pieces keep a session of millions of records at the disk's pace.
constexpr std::size_t kBufferBytes = 1u << 20;

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether the open file is one of the media: a block device (even one not in
// the list), or the very file of a medium path.
bool isMediumFile(const struct stat& target, const std::vector<std::string>& media) {
    if (!S_ISREG(target.st_mode)) return true;
    for (const std::string& m : media) {
        struct stat st {};
        if (!m.empty() && ::stat(m.c_str(), &st) == 0 && sameFile(st, target)) return true;
    }
    return false;
}

} // namespace

bool SessionFileOutput::isMedium(const std::string& path, const std::vector<std::string>& media) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && isMediumFile(st, media);
}

std::unique_ptr<SessionFileOutput>
SessionFileOutput::create(const std::string& path, const std::vector<std::string>& media, std::string* error) {
    return open(path, media, error, false);
}

std::unique_ptr<SessionFileOutput>
SessionFileOutput::openForAppend(const std::string& path, const std::vector<std::string>& media, std::string* error) {
    return open(path, media, error, true);
}

std::unique_ptr<SessionFileOutput> SessionFileOutput::open(const std::string& path,
                                                           const std::vector<std::string>& media, std::string* error,
                                                           bool append) {
    auto refuse = [&](const std::string& why) -> std::unique_ptr<SessionFileOutput> {
        if (error) *error = why;
        return nullptr;
    };
    // What is there is looked at before it is opened (a device is never
    // opened for writing), and again once it is open, in case it was
    // swapped in between; only a regular file that is no medium is emptied.
    struct stat before {};
    if (::stat(path.c_str(), &before) == 0 && isMediumFile(before, media))
        return refuse(S_ISREG(before.st_mode) ? "it is a medium being recovered" : "it is not a regular file");
    const int fd = ::open(path.c_str(), O_WRONLY | (append ? 0 : O_CREAT) | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return refuse(std::strerror(errno));
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int e = errno;
        ::close(fd);
        return refuse(std::strerror(e));
    }
    if (isMediumFile(st, media)) {
        ::close(fd);
        return refuse(S_ISREG(st.st_mode) ? "it is a medium being recovered" : "it is not a regular file");
    }
    if (::fcntl(fd, F_SETFL, 0) != 0 || (!append && ::ftruncate(fd, 0) != 0)) {
        const int e = errno;
        ::close(fd);
        return refuse(std::strerror(e));
    }
    auto out = std::unique_ptr<SessionFileOutput>(new SessionFileOutput(fd));
    if (append) out->bufferStart_ = static_cast<std::uint64_t>(st.st_size);
    out->buffer_.reserve(kBufferBytes);
    return out;
}

SessionFileOutput::~SessionFileOutput() {
    if (fd_ >= 0) ::close(fd_);
}

bool SessionFileOutput::fail(int error) {
    if (error_ == 0) error_ = error ? error : EIO;
    return false;
}

std::string SessionFileOutput::reason() const {
    return error_ ? std::strerror(error_) : std::string();
}

bool SessionFileOutput::write(const void* data, std::size_t length) {
    if (failed()) return false;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        if (buffer_.size() == kBufferBytes && !flush()) return false;
        const std::size_t n = std::min(length, kBufferBytes - buffer_.size());
        buffer_.insert(buffer_.end(), bytes, bytes + n);
        bytes += n;
        length -= n;
    }
    return true;
}

bool SessionFileOutput::writeZeros(std::size_t length) {
    static const std::uint8_t zeros[4096] = {};
    while (length > 0) {
        const std::size_t n = std::min(length, sizeof zeros);
        if (!write(zeros, n)) return false;
        length -= n;
    }
    return !failed();
}

bool SessionFileOutput::writeBE16(std::uint16_t v) {
    const std::uint8_t b[2] = {std::uint8_t(v >> 8), std::uint8_t(v)};
    return write(b, sizeof b);
}

bool SessionFileOutput::writeBE32(std::uint32_t v) {
    const std::uint8_t b[4] = {std::uint8_t(v >> 24), std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v)};
    return write(b, sizeof b);
}

bool SessionFileOutput::writeBE64(std::uint64_t v) {
    return writeBE32(std::uint32_t(v >> 32)) && writeBE32(std::uint32_t(v));
}

bool SessionFileOutput::seek(std::uint64_t offset) {
    if (!flush()) return false;
    bufferStart_ = offset;
    return true;
}

bool SessionFileOutput::flush() {
    if (failed()) return false;
    std::size_t done = 0;
    while (done < buffer_.size()) {
        const std::size_t length = buffer_.size() - done;
        const std::uint64_t at = bufferStart_ + done;
        const std::int64_t n = rawWrite_ ? rawWrite_(fd_, buffer_.data() + done, length, at)
                                         : ::pwrite(fd_, buffer_.data() + done, length, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n == 0 ? ENOSPC : errno);
        done += static_cast<std::size_t>(n);
    }
    bufferStart_ += buffer_.size();
    buffer_.clear();
    return true;
}

bool SessionFileOutput::sync() {
    if (!flush()) return false;
    if (::fsync(fd_) != 0) return fail(errno);
    return true;
}

bool SessionFileOutput::close() {
    const bool flushed = flush();
    if (fd_ < 0) return flushed && !failed();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && flushed) return fail(errno);
    return flushed;
}
