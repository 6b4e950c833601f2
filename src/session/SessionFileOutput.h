#pragma once

// A recovery-session or snapshot file being written. Writes are gathered in
// a large buffer and go out in big pieces; every write, seek, sync and the
// close are checked, and the first failure sticks: every later call fails
// too and reason() names what went wrong, so a writer can carry on with its
// own steps and look once at the end. The file is opened refusing what is
// not a regular file and the media being recovered: a session is never
// written over a device or over the image a scan reads.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class SessionFileOutput {
public:
    // The one call through which every byte reaches the file, as pwrite(2):
    // the bytes written, or -1 with errno set. Tests put a writer of their
    // own in between to make the file fail.
    using RawWrite =
        std::function<std::int64_t(int fd, const std::uint8_t* data, std::size_t length, std::uint64_t offset)>;

    // Creates the file, or empties the regular file that is there. Refused,
    // with the reason in *error: a path that is not a regular file, or one
    // of `media` (paths of the devices or images being recovered).
    static std::unique_ptr<SessionFileOutput> create(const std::string& path, const std::vector<std::string>& media,
                                                     std::string* error);
    // Opens the regular file that is there, keeping what it holds, with the
    // next write at its end. Refused as create refuses, and when there is no
    // file.
    static std::unique_ptr<SessionFileOutput> openForAppend(const std::string& path,
                                                            const std::vector<std::string>& media, std::string* error);
    // Whether what is at path must never be written or removed: one of
    // `media`, or anything but a regular file. Nothing there is no medium.
    static bool isMedium(const std::string& path, const std::vector<std::string>& media);
    ~SessionFileOutput();
    SessionFileOutput(const SessionFileOutput&) = delete;
    SessionFileOutput& operator=(const SessionFileOutput&) = delete;

    void setRawWrite(RawWrite write) { rawWrite_ = std::move(write); }

    bool write(const void* data, std::size_t length);
    bool writeZeros(std::size_t length);
    bool writeBE16(std::uint16_t v);
    bool writeBE32(std::uint32_t v);
    bool writeBE64(std::uint64_t v);
    // Where the next write goes.
    std::uint64_t position() const { return bufferStart_ + buffer_.size(); }
    bool seek(std::uint64_t offset);
    // Everything written so far on its way to the file, then on the disk.
    bool flush();
    bool sync();
    bool close();

    bool failed() const { return error_ != 0; }
    // The first failure's system message; empty while nothing failed.
    std::string reason() const;

private:
    explicit SessionFileOutput(int fd) : fd_(fd) {}
    static std::unique_ptr<SessionFileOutput> open(const std::string& path, const std::vector<std::string>& media,
                                                   std::string* error, bool append);
    bool fail(int error);

    int fd_ = -1;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t bufferStart_ = 0;
    int error_ = 0;
    RawWrite rawWrite_;
};
