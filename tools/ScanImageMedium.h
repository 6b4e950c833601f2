#pragma once

// The size of what scan-image reads: a disk or volume image, or a block
// device (a disk, a partition, a loop device), opened read-only.

#include <cstdint>
#include <optional>
#include <string>

// Bytes of the image or device at path; nothing when it cannot be opened or
// is neither a regular file nor a block device.
std::optional<std::uint64_t> mediumSize(const std::string& path);
