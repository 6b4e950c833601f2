#pragma once

// A B-tree node of an APFS container: its header after the object header,
// and its entries in table order.

#include "formats/NodeEntry.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <optional>
#include <vector>

struct BtreeNodePhysT {
    enum : std::uint16_t { Root = 1, Leaf = 2, FixedKV = 4 };
    // The table of contents starts right after the node header.
    static constexpr std::size_t kHeaderEnd = 56;
    // A root node ends with the tree's information.
    static constexpr std::size_t kTreeInfoBytes = 40;

    struct Nloc {
        std::uint16_t off = 0;
        std::uint16_t len = 0;
        std::uint16_t getLength() const { return len; }
    };

    std::uint16_t btn_flags = 0;
    std::uint16_t btn_level = 0;
    std::uint32_t btn_nkeys = 0;
    Nloc btn_table_space;
    Nloc btn_free_space;
    Nloc btn_key_free_list;
    Nloc btn_val_free_list;
    // The entries that lie whole in the block.
    std::vector<NodeEntry> btn_data;

    // Empty when the header is impossible: a block that is not one whole
    // block, or a table of contents that would not fit in the block or
    // could not hold btn_nkeys slots.
    static std::optional<BtreeNodePhysT> read(platform::ByteView block);
    // The same header with no entries read: a scan that looks at each entry
    // once takes them one by one with entry() instead of building the list.
    static std::optional<BtreeNodePhysT> readHeader(platform::ByteView block);
    // Entry i (below btn_nkeys) of the block this header was read from, as
    // read() would list it; empty where read() leaves it out.
    std::optional<NodeEntry> entry(platform::ByteView block, std::uint32_t i) const;

    std::uint16_t getBtn_flags() const { return btn_flags; }
    std::uint16_t getBtn_level() const { return btn_level; }
    const std::vector<NodeEntry>& getBtn_Data() const { return btn_data; }
};
