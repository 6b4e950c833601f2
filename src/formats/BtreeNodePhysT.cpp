#include "formats/BtreeNodePhysT.h"

#include "formats/ObjPhys.h"

namespace {
BtreeNodePhysT::Nloc nloc(platform::ByteView b, std::size_t at) {
    return {b.le16(at), b.le16(at + 2)};
}
} // namespace

std::optional<BtreeNodePhysT> BtreeNodePhysT::read(platform::ByteView block) {
    std::optional<BtreeNodePhysT> n = readHeader(block);
    if (!n) return n;
    n->btn_data.reserve(n->btn_nkeys);
    for (std::uint32_t i = 0; i < n->btn_nkeys; ++i)
        if (auto e = n->entry(block, i)) n->btn_data.push_back(std::move(*e));
    return n;
}

std::optional<NodeEntry> BtreeNodePhysT::entry(platform::ByteView block, std::uint32_t i) const {
    return NodeEntry::read(block, i, btn_flags, btn_table_space.len, btn_level);
}

std::optional<BtreeNodePhysT> BtreeNodePhysT::readHeader(platform::ByteView block) {
    if (block.size() != kApfsBlockBytes) return std::nullopt;
    BtreeNodePhysT n;
    n.btn_flags = block.le16(32);
    n.btn_level = block.le16(34);
    n.btn_nkeys = block.le32(36);
    n.btn_table_space = nloc(block, 40);
    n.btn_free_space = nloc(block, 44);
    n.btn_key_free_list = nloc(block, 48);
    n.btn_val_free_list = nloc(block, 52);
    const std::uint64_t slotBytes = (n.btn_flags & FixedKV) ? 4 : 8;
    if (kHeaderEnd + std::uint64_t{n.btn_table_space.len} > block.size() ||
        std::uint64_t{n.btn_nkeys} * slotBytes > n.btn_table_space.len)
        return std::nullopt;
    return n;
}
