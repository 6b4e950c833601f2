#include "fs/apfs/ApfsSpaceManager.h"

#include "formats/ObjPhys.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

using platform::ByteView;

namespace {

// Object types (the low 16 bits of the type word).
constexpr std::uint16_t kSuperblock = 1, kSpaceman = 5, kCab = 6, kCib = 7, kCheckpointMap = 12;
constexpr std::uint32_t kMagic = 0x4253584E; // "NXSB"
constexpr std::uint32_t kMinBlock = 4096, kMaxBlock = 65536;
// The descriptor area is a few hundred blocks; anything far larger is not
// one.
constexpr std::uint64_t kMaxDescriptorBlocks = 1u << 16;
constexpr std::uint64_t kMaxSpacemanBlocks = 64;
// Free-queue entries and tree depth followed.
constexpr std::size_t kMaxPending = 1u << 22;
constexpr int kMaxDepth = 16;
// Chunk info block and address block layouts.
constexpr std::size_t kArrayAt = 40, kChunkInfoBytes = 32, kMappingBytes = 40;
// The node header of a B-tree node, its tree information when it is a root.
constexpr std::size_t kNodeHeader = 56, kTreeInfo = 40;

std::uint16_t typeOf(ByteView o) {
    return ObjPhys::read(o).getObjType();
}

} // namespace

std::uint64_t ApfsSpaceManager::checksum(ByteView object) {
    return ObjPhys::checksumOf(object);
}

std::optional<std::vector<std::uint8_t>> ApfsSpaceManager::object(std::uint64_t block, std::uint64_t blocks) const {
    if (blocks == 0 || blocks > kMaxSpacemanBlocks || block >= blockCount_ || blocks > blockCount_ - block)
        return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(blocks * blockSize_));
    if (!reader_(block * blockSize_, bytes.size(), bytes.data())) return std::nullopt;
    const ByteView o(bytes);
    if (o.le64(0) != checksum(o)) return std::nullopt;
    return bytes;
}

std::optional<ApfsSpaceManager> ApfsSpaceManager::read(Reader reader, Reader bitmapReader) {
    ApfsSpaceManager m(std::move(reader), std::move(bitmapReader));
    std::vector<std::uint8_t> first(kMinBlock);
    if (!m.reader_(0, first.size(), first.data())) return std::nullopt;
    const ByteView head(first);
    m.blockSize_ = head.le32(36);
    m.blockCount_ = head.le64(40);
    if (head.le32(32) != kMagic || m.blockSize_ < kMinBlock || m.blockSize_ > kMaxBlock ||
        (m.blockSize_ & (m.blockSize_ - 1)) != 0 || m.blockCount_ == 0 || m.blockCount_ > (1ull << 62) / m.blockSize_)
        return std::nullopt;

    // The newest superblock of the descriptor area that checks out, and the
    // checkpoint maps written with it; block 0 when the area holds none.
    auto superblock = m.object(0);
    if (!superblock) return std::nullopt;
    const ByteView zero(*superblock);
    const std::uint32_t descWord = zero.le32(104);
    const std::uint64_t descBlocks = descWord & 0x7FFFFFFFu, descBase = zero.le64(112);
    // A descriptor area kept in a tree of its own is not followed.
    if ((descWord & 0x80000000u) != 0 || descBlocks > kMaxDescriptorBlocks || descBase >= m.blockCount_ ||
        descBlocks > m.blockCount_ - descBase)
        return std::nullopt;
    std::multimap<std::uint64_t, std::vector<std::uint8_t>> maps; // by transaction
    for (std::uint64_t i = 0; i < descBlocks; ++i) {
        auto o = m.object(descBase + i);
        if (!o) continue;
        const ByteView v(*o);
        const std::uint64_t xid = ObjPhys::read(v).o_xid.val;
        if (typeOf(v) == kSuperblock && v.le32(32) == kMagic && xid > ObjPhys::read(ByteView(*superblock)).o_xid.val)
            superblock = std::move(o);
        else if (typeOf(v) == kCheckpointMap)
            maps.emplace(xid, std::move(*o));
    }
    const ByteView nx(*superblock);
    const std::uint64_t xid = ObjPhys::read(nx).o_xid.val;
    // Ephemeral objects of that checkpoint: id to (block, size in bytes).
    std::map<std::uint64_t, std::pair<std::uint64_t, std::uint64_t>> ephemeral;
    for (auto [it, end] = maps.equal_range(xid); it != end; ++it) {
        const ByteView map(it->second);
        const std::uint64_t count = std::min<std::uint64_t>(map.le32(36), (map.size() - kArrayAt) / kMappingBytes);
        for (std::uint64_t k = 0; k < count; ++k) {
            const std::size_t at = kArrayAt + static_cast<std::size_t>(k) * kMappingBytes;
            ephemeral.emplace(map.le64(at + 24), std::pair{map.le64(at + 32), std::uint64_t{map.le32(at + 8)}});
        }
    }
    const auto spacemanAt = ephemeral.find(nx.le64(152));
    if (spacemanAt == ephemeral.end()) return std::nullopt;
    const auto [smBlock, smBytes] = spacemanAt->second;
    const auto spaceman = m.object(smBlock, (smBytes + m.blockSize_ - 1) / m.blockSize_);
    if (!spaceman || typeOf(ByteView(*spaceman)) != kSpaceman || !m.readChunks(ByteView(*spaceman)))
        return std::nullopt;

    // The main free queue (the second of the three).
    std::vector<std::pair<std::uint64_t, std::uint64_t>> blocksById;
    for (const auto& [id, where] : ephemeral)
        blocksById.emplace_back(id, where.first);
    const auto queue = ephemeral.find(ByteView(*spaceman).le64(200 + 40 + 8));
    if (queue != ephemeral.end()) m.readFreeQueue(queue->second.first, blocksById);
    return m;
}

bool ApfsSpaceManager::readChunks(ByteView sm) {
    if (sm.le32(32) != blockSize_) return false;
    blocksPerChunk_ = sm.le32(36);
    const std::uint64_t chunkCount = sm.le64(56);
    const std::uint32_t cibCount = sm.le32(64), cabCount = sm.le32(68);
    const std::uint64_t addrAt = sm.le32(80);
    if (blocksPerChunk_ == 0 || chunkCount == 0 || chunkCount > blockCount_ / blocksPerChunk_ + 1) return false;
    const std::uint64_t addresses = cabCount != 0 ? cabCount : cibCount;
    if (addrAt > sm.size() || addresses > (sm.size() - addrAt) / 8) return false;
    for (std::uint64_t i = 0; i < addresses && chunks_.size() < chunkCount; ++i) {
        const std::uint64_t at = sm.le64(static_cast<std::size_t>(addrAt + 8 * i));
        if (cabCount == 0) {
            readChunkInfoBlock(at);
            continue;
        }
        const auto cab = object(at);
        if (!cab || typeOf(ByteView(*cab)) != kCab) continue;
        const ByteView c(*cab);
        const std::uint64_t cibs = std::min<std::uint64_t>(c.le32(36), (c.size() - kArrayAt) / 8);
        for (std::uint64_t k = 0; k < cibs && chunks_.size() < chunkCount; ++k)
            readChunkInfoBlock(c.le64(kArrayAt + static_cast<std::size_t>(8 * k)));
    }
    std::sort(chunks_.begin(), chunks_.end(), [](const Chunk& a, const Chunk& b) { return a.addr < b.addr; });
    return !chunks_.empty();
}

void ApfsSpaceManager::readChunkInfoBlock(std::uint64_t block) {
    const auto cib = object(block);
    if (!cib || typeOf(ByteView(*cib)) != kCib) return;
    const ByteView c(*cib);
    const std::uint64_t count = std::min<std::uint64_t>(c.le32(36), (c.size() - kArrayAt) / kChunkInfoBytes);
    for (std::uint64_t k = 0; k < count; ++k) {
        const std::size_t at = kArrayAt + static_cast<std::size_t>(k) * kChunkInfoBytes;
        Chunk chunk{c.le64(at + 8), c.le32(at + 16) & 0xFFFFFu, c.le64(at + 24)};
        // A chunk reaching past the container, or whose bitmap could not
        // hold its bits, is not taken.
        if (chunk.addr >= blockCount_ || chunk.blockCount > blockCount_ - chunk.addr ||
            chunk.blockCount > std::uint64_t{blockSize_} * 8 || chunk.bitmapAddr >= blockCount_)
            continue;
        chunks_.push_back(chunk);
    }
}

void ApfsSpaceManager::readFreeQueue(std::uint64_t rootPaddr,
                                     const std::vector<std::pair<std::uint64_t, std::uint64_t>>& ephemeral) {
    const auto blockOf = [&](std::uint64_t id) -> std::optional<std::uint64_t> {
        const auto it = std::lower_bound(ephemeral.begin(), ephemeral.end(), std::pair{id, std::uint64_t{0}});
        if (it == ephemeral.end() || it->first != id) return std::nullopt;
        return it->second;
    };
    std::set<std::uint64_t> visited;
    std::vector<std::pair<std::uint64_t, int>> nodes{{rootPaddr, 0}};
    while (!nodes.empty() && pending_.size() < kMaxPending) {
        const auto [block, depth] = nodes.back();
        nodes.pop_back();
        if (depth > kMaxDepth || !visited.insert(block).second) continue;
        const auto node = object(block);
        if (!node) continue;
        const ByteView n(*node);
        const std::uint16_t flags = n.le16(32), level = n.le16(34);
        const std::size_t tocAt = kNodeHeader + n.le16(40), tocBytes = n.le16(42);
        const std::size_t keysAt = tocAt + tocBytes;
        const std::size_t valuesEnd = n.size() - ((flags & 1) ? kTreeInfo : 0);
        // Fixed-size entries only: a 16-byte key (transaction, block) and an
        // 8-byte value (block count, or a child's id).
        if ((flags & 4) == 0 || keysAt > valuesEnd) continue;
        const std::uint64_t count = std::min<std::uint64_t>(n.le32(36), tocBytes / 4);
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::size_t slot = tocAt + static_cast<std::size_t>(4 * i);
            const std::size_t keyAt = keysAt + n.le16(slot);
            const std::uint16_t v = n.le16(slot + 2);
            if (keyAt + 16 > valuesEnd) continue;
            const bool ghost = v == 0xFFFF;
            if (!ghost && (v > valuesEnd || v < 8)) continue;
            const std::uint64_t value = ghost ? 1 : n.le64(valuesEnd - v);
            if (level > 0) {
                if (const auto child = blockOf(value); child && !ghost) nodes.emplace_back(*child, depth + 1);
                continue;
            }
            const std::uint64_t start = n.le64(keyAt + 8);
            if (start < blockCount_ && value <= blockCount_ - start) pending_.push_back({start, value});
        }
    }
    // Disjoint ranges in order, so that one look answers for a block.
    std::sort(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) { return a.start < b.start; });
    std::vector<Pending> merged;
    for (const Pending& r : pending_) {
        if (!merged.empty() && r.start - merged.back().start <= merged.back().count)
            merged.back().count = std::max(merged.back().count, r.start - merged.back().start + r.count);
        else
            merged.push_back(r);
    }
    pending_ = std::move(merged);
}

ApfsSpaceManager::State ApfsSpaceManager::blockState(std::uint64_t block) {
    if (block >= blockCount_) return State::Unknown;
    const auto p = std::upper_bound(pending_.begin(), pending_.end(), block,
                                    [](std::uint64_t b, const Pending& r) { return b < r.start; });
    if (p != pending_.begin() && block - std::prev(p)->start < std::prev(p)->count) return State::Free;
    auto c = std::upper_bound(chunks_.begin(), chunks_.end(), block,
                              [](std::uint64_t b, const Chunk& ch) { return b < ch.addr; });
    if (c == chunks_.begin()) return State::Unknown;
    --c;
    if (block - c->addr >= c->blockCount) return State::Unknown;
    if (c->bitmapAddr == 0) return State::Free;
    const std::size_t index = static_cast<std::size_t>(c - chunks_.begin());
    if (cachedChunk_ != index) {
        cachedChunk_ = index;
        bitmap_.assign(blockSize_, 0);
        const Reader& read = bitmapReader_ ? bitmapReader_ : reader_;
        cachedBitmapRead_ = read(c->bitmapAddr * blockSize_, bitmap_.size(), bitmap_.data());
    }
    if (!cachedBitmapRead_) return State::Unknown;
    const std::uint64_t bit = block - c->addr;
    return (bitmap_[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1 ? State::Used : State::Free;
}
