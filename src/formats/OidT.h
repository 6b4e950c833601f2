#pragma once

// An APFS object's id, as a record holds it: one little-endian 64-bit word.

#include "platform/ByteView.h"

#include <cstdint>

struct OidT {
    std::uint64_t val = 0;

    static OidT read(platform::ByteView block, std::size_t startFrom) { return {block.le64(startFrom)}; }
};
