#pragma once

// The extended fields after an inode's fixed part: a count, then one 4-byte
// header per field, then the fields' values, each padded to 8 bytes. The
// recovery reads two of them: the name and the data stream (the file's
// size).

#include "formats/XfName.h"
#include "formats/XfSize.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <optional>
#include <vector>

struct XfBlobT {
    enum : std::uint8_t { Name = 4, DataStream = 8 };
    // Larger values are not the fields read here: they are passed over.
    static constexpr std::uint16_t kMaxParsedSize = 512;
    static constexpr std::size_t kReservedFields = 8;

    struct XFieldT {
        std::uint8_t x_type = 0;
        std::uint8_t x_flags = 0;
        std::uint16_t x_size = 0;
        // The parsed value: a name (type 4) or a data stream (type 8).
        std::optional<XfName> name;
        std::optional<XfSize> dataStream;

        std::uint8_t getX_Type() const { return x_type; }
        std::uint16_t getX_Size() const { return x_size; }
    };

    std::uint16_t xf_num_exts = 0;
    std::uint16_t xf_used_data = 0;
    // The fields whose header and value lie whole in the view, in order.
    std::vector<XFieldT> xf;

    static XfBlobT read(platform::ByteView bytes);

    std::uint16_t getXfBlobT_xf_num_exts() const { return xf_num_exts; }
    const std::vector<XFieldT>& getXfBlobT_xf() const { return xf; }
};
