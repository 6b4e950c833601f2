#pragma once

// A recovery-session or snapshot file being read. Such files come from other
// machines and other versions, cut short or damaged: every read is checked
// against the bytes the file still holds, so a length or count taken from
// the file can be tested before anything is allocated for it, and a read
// past the end fails instead of returning stale bytes. Reads are served from
// a large buffer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class SessionFileInput {
public:
    // nullptr, with the system's reason in *error, when the file cannot be
    // opened or is not a regular file.
    static std::unique_ptr<SessionFileInput> open(const std::string& path, std::string* error);
    ~SessionFileInput();
    SessionFileInput(const SessionFileInput&) = delete;
    SessionFileInput& operator=(const SessionFileInput&) = delete;

    std::uint64_t size() const { return size_; }
    std::uint64_t position() const { return position_; }
    // The bytes from the position to the end of the file.
    std::uint64_t left() const { return size_ - position_; }

    // False, reading nothing, when fewer bytes are left than asked for or
    // the file cannot be read (see failed()).
    bool read(void* out, std::size_t length);
    bool readBE32(std::uint32_t& v);
    bool readBE64(std::uint64_t& v);
    bool skip(std::uint64_t length);
    // False for an offset past the end.
    bool seek(std::uint64_t offset);
    // The file itself failed (an I/O error), as opposed to ending early.
    bool failed() const { return error_ != 0; }
    std::string reason() const;

private:
    SessionFileInput(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    bool fill(std::size_t length);

    int fd_ = -1;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    // buffer_ holds the file's bytes from bufferStart_ on.
    std::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0;
    int error_ = 0;
};
