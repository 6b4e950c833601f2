#pragma once

// Sectors of a fuzz target's medium that cannot be read: a raw reader for
// DMedia::setRawRead that fails, with EIO, every read touching one of the
// chosen 512-byte sectors, as a dying disk fails a whole request for one bad
// sector. The readers read around them and see zeros there, which must never
// be taken for structure.
//
// Header-only, so that every target still builds from its one source file.

#include "FuzzImage.h"
#include "media/DMedia.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unistd.h>
#include <vector>

class FailingSectors {
public:
    void clear() { sectors_ = std::make_shared<std::vector<std::uint64_t>>(); }
    void fail(std::uint64_t sector) {
        const auto at = std::lower_bound(sectors_->begin(), sectors_->end(), sector);
        if (at == sectors_->end() || *at != sector) sectors_->insert(at, sector);
    }
    bool empty() const { return sectors_->empty(); }
    // The sectors of FuzzImage's sector records whose 4-byte number has its
    // top bit set: written as the others are, then unreadable, so an input
    // chooses what lies under the zeros the readers see.
    void failMarkedRecords(const std::uint8_t* data, std::size_t size, std::uint64_t sectors) {
        clear();
        for (std::size_t at = 0; sectors != 0 && at + FuzzImage::kRecordBytes <= size; at += FuzzImage::kRecordBytes) {
            const std::uint32_t number = platform::ByteView(data + at, 4).be32(0);
            if (number & 0x80000000u) fail(number % sectors);
        }
    }

    // Puts the failures between the medium and its readers, when there are
    // any; the sectors chosen after this fail too.
    void failReadsOf(DMedia& medium) const {
        if (empty()) return;
        medium.setRawRead([sectors = sectors_](int fd, std::uint8_t* buffer, std::size_t length,
                                               std::uint64_t offset) -> std::int64_t {
            const auto at = std::lower_bound(sectors->begin(), sectors->end(), offset / 512);
            if (length != 0 && at != sectors->end() && *at * 512 < offset + length) {
                errno = EIO;
                return -1;
            }
            return ::pread(fd, buffer, length, static_cast<off_t>(offset));
        });
    }

private:
    std::shared_ptr<std::vector<std::uint64_t>> sectors_ = std::make_shared<std::vector<std::uint64_t>>();
};
