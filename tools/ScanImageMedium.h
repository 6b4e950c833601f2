#pragma once

// The size of what scan-image reads: a disk or volume image, or a block
// device (a disk, a partition, a loop device), opened read-only.

#include <cstdint>
#include <optional>
#include <string>

class DMedia;

// Bytes of the image or device at path; nothing when it cannot be opened or
// is neither a regular file nor a block device.
std::optional<std::uint64_t> mediumSize(const std::string& path);

// Says on standard error what the readers of `medium` (read as `image`) took
// as zeros: the sectors a read asked for that could not be read, and apart
// from them those no read asked for (stepped over in a bad area, or not
// asked of a disk that had stopped answering), which may well be readable.
void reportUnreadableSectors(const DMedia& medium, const std::string& image);
