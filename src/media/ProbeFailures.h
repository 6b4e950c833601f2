#pragma once

// What failed when the first sectors of devices were probed (the content
// tests, the drive list's look through libblkid): each request that failed,
// by device and place. A dying disk spends seconds on every failed read, and
// the probes of one listing or detection ask for the same few places again
// and again (every content test its boot record, each with its own fallbacks):
// a request that holds one known to have failed would fail too, as a disk
// fails a whole request for one bad place in it, and is not asked for. The
// page cache fails a whole page for one bad sector: what failed through it
// says nothing of a request past it, which may get the page's good sectors.
//
// It lasts as long as its owner keeps it: one detection, or, for the drive
// list, from one listing to the next for as long as each device stays as it
// was attached. A device attached anew (another disk at the same node, or the
// same one put back) is asked again.

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class ProbeFailures {
public:
    // The device at `device` is the attachment `attachment` (what tells one
    // attachment of a device from another, see SysfsBlockDevice::attachment):
    // what failed on an earlier one is forgotten.
    void attached(const std::string& device, const std::string& attachment);
    // Whether a request of `length` bytes at byte `offset` of `device`, past
    // the page cache or through it, holds one that failed: past it, one that
    // failed past it; through it, any.
    bool knownToFail(const std::string& device, std::uint64_t offset, std::uint64_t length,
                     bool pastTheCache = false) const;
    void noteFailed(const std::string& device, std::uint64_t offset, std::uint64_t length, bool pastTheCache = false);
    // How many requests have failed on `device` since it was attached.
    std::size_t failures(const std::string& device) const;

private:
    struct Device {
        std::string attachment;
        struct Failed {
            std::uint64_t end = 0;
            bool pastTheCache = false;
        };
        // Failed requests [offset, end), by offset.
        std::multimap<std::uint64_t, Failed> failed;
    };
    mutable std::mutex mutex_;
    std::map<std::string, Device> devices_;
};
