#pragma once

// The CRC-32 of ISO 3309 (reflected, polynomial 0xEDB88320), as PNG chunks,
// ZIP entries and GPT headers carry it. Checking every chunk of a found file
// must cost little beside reading it: zlib's braided CRC computes it.

#include "platform/ByteView.h"

#include <cstdint>

namespace platform {

// The CRC of `bytes` continued from `crc`, the CRC of the bytes before them
// (0 for none).
std::uint32_t crc32(ByteView bytes, std::uint32_t crc = 0);

} // namespace platform
