#include "hfsplus/LeafNodeRecords.h"

#include "hfsplus/HFSPlusVolume.h"
#include "volume/Volume.h"

#include <algorithm>
#include <limits>
#include <optional>

using platform::ByteView;

namespace {

constexpr std::size_t kFirstRecordOffset = 14;
// A node descriptor's record count: a node claiming more is not one.
constexpr std::uint16_t kMaxNodeRecords = 254;

} // namespace

bool LeafNodeRecords::isLeafDescriptor(const BTNodeDescriptor_& descriptor) {
    return descriptor.height == 1 && descriptor.kind == hfsplus::kLeafNode && descriptor.numRecords >= 1 &&
           descriptor.numRecords <= kMaxNodeRecords && descriptor.reserved == 0;
}

std::vector<bool> LeafNodeRecords::unreadableSectors(const Volume& volume, std::uint64_t first, std::uint64_t count) {
    std::vector<bool> flags(static_cast<std::size_t>(count), false);
    if (volume.unreadableSectorCount() == 0) return flags;
    for (std::uint64_t i = 0; i < count; ++i)
        flags[static_cast<std::size_t>(i)] = volume.unreadableSectorsIn(first + i, 1) != 0;
    return flags;
}

bool LeafNodeRecords::read(HFSPlusReaderState& state, std::uint64_t sector, std::uint64_t count,
                           std::vector<std::uint8_t>& buffer, std::vector<bool>& unreadable) {
    Volume& v = state.volume;
    const std::uint32_t bps = v.u32BytesInSector();
    // More than one read takes is no node.
    if (count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        buffer.clear();
        unreadable.clear();
        return false;
    }
    buffer.assign(static_cast<std::size_t>(count * bps), 0);
    unreadable.assign(static_cast<std::size_t>(count), true);
    if (sector == 0 || count == 0 || bps == 0 || !HFSPlusVolume(state).sectorsInVolume(sector, count)) return false;
    if (v.readSector(sector, static_cast<std::int32_t>(count), buffer.data())) {
        unreadable.assign(static_cast<std::size_t>(count), false);
        return true;
    }
    // The readers know the sectors they could not read; a read that failed
    // without naming one (the medium gone) gave nothing.
    unreadable = unreadableSectors(v, sector, count);
    if (v.mediumGone() || std::none_of(unreadable.begin(), unreadable.end(), [](bool b) { return b; }))
        unreadable.assign(static_cast<std::size_t>(count), true);
    for (std::size_t i = 0; i < unreadable.size(); ++i)
        if (unreadable[i]) std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(i * bps), bps, 0);
    return true;
}

LeafNodeRecords::LeafNodeRecords(ByteView node, std::uint32_t bytesPerSector, std::vector<bool> unreadable)
    : node_(node), bytesPerSector_(bytesPerSector), unreadable_(std::move(unreadable)) {
    const std::size_t size = node.size();
    if (bytesPerSector == 0 || size <= kFirstRecordOffset + 2) return;
    if (!readable(0, hfsplus::kBTNodeDescriptorSize)) {
        fromTableAlone();
        return;
    }
    const BTNodeDescriptor_ desc = convertBTNodeDesc(node);
    if (!isLeafDescriptor(desc)) return;
    // Records lie behind the descriptor and end in front of the table.
    const std::size_t table = hfsplus::offsetTableStart(size, desc.numRecords);
    if (table <= kFirstRecordOffset) return;
    leaf_ = true;
    count_ = desc.numRecords;
    if (readable(table, size))
        fromTable(table);
    else
        walk(table);
}

bool LeafNodeRecords::readable(std::size_t from, std::size_t to) const {
    if (from > to || to > node_.size() || bytesPerSector_ == 0) return false;
    if (from == to) return true;
    const std::size_t last = std::min((to - 1) / bytesPerSector_, unreadable_.size());
    for (std::size_t s = from / bytesPerSector_; s <= last && s < unreadable_.size(); ++s)
        if (unreadable_[s]) return false;
    return true;
}

LeafNodeRecords::DataRead LeafNodeRecords::dataRead(std::size_t data, std::int16_t type) const {
    const bool file = type == hfsplus::kFileRecord;
    const std::size_t size = node_.size();
    const std::size_t end = std::min(data + (file ? hfsplus::kCatalogFileSize : hfsplus::kCatalogFolderSize), size);
    if (readable(data, end)) return DataRead::Whole;
    // A fork of zeros would pass for an empty file: the resource fork is
    // only left out, never read from a lost sector.
    if (file && readable(data, std::min(data + hfsplus::kCatalogFileResourceForkOffset, size)))
        return DataRead::WithoutResourceFork;
    return DataRead::Short;
}

std::uint32_t LeafNodeRecords::lost() const {
    const auto unreached = walked_ ? count_ - static_cast<std::uint32_t>(records_.size()) : 0;
    return passedOver_ + unreached;
}

void LeafNodeRecords::fromTable(std::size_t tableStart) {
    const std::size_t size = node_.size();
    // The table lies in the node's last sector, the one that was recognised.
    const std::size_t lastSector = size - std::min<std::size_t>(size, bytesPerSector_);
    for (std::uint32_t i = 0; i < count_; ++i) {
        const std::size_t slot = size - 2 * (static_cast<std::size_t>(i) + 1);
        if (slot < lastSector) break;
        records_.push_back({node_.be16(slot), tableStart - 1});
    }
}

void LeafNodeRecords::walk(std::size_t tableStart) {
    walked_ = true;
    // The bytes a record's data takes after its type, or nothing when they
    // cannot be told.
    const auto dataLength = [this](std::size_t data) -> std::optional<std::size_t> {
        switch (node_.bes16(data)) {
        case hfsplus::kFolderRecord:
            return hfsplus::kCatalogFolderSize;
        case hfsplus::kFileRecord:
            return hfsplus::kCatalogFileSize;
        case hfsplus::kFolderThreadRecord:
        case hfsplus::kFileThreadRecord: {
            const std::size_t name = data + hfsplus::kCatalogThreadNameOffset - 2;
            if (!readable(name, name + 2)) return std::nullopt;
            const std::size_t units = node_.be16(name);
            if (units > hfsplus::kMaxNameLength) return std::nullopt;
            return hfsplus::kCatalogThreadNameOffset + 2 * units;
        }
        default:
            return std::nullopt;
        }
    };
    std::size_t at = kFirstRecordOffset;
    for (std::uint32_t i = 0; i < count_ && at < tableStart; ++i) {
        if (!readable(at, at + 2)) return;
        const std::size_t keyLength = node_.be16(at);
        if (keyLength < hfsplus::kCatalogKeyMinLength || keyLength > hfsplus::kCatalogKeyMaxLength) return;
        const std::size_t data = at + 2 + keyLength;
        if (!readable(data, data + 2)) return;
        const std::int16_t type = node_.bes16(data);
        if (type < hfsplus::kFolderRecord || type > hfsplus::kFileThreadRecord) return;
        records_.push_back({at, tableStart - 1});
        const std::optional<std::size_t> length = dataLength(data);
        if (!length) return;
        at = data + *length;
    }
}

void LeafNodeRecords::fromTableAlone() {
    const std::size_t size = node_.size();
    const std::size_t lastSector = size - std::min<std::size_t>(size, bytesPerSector_);
    // Slot i holds record i's offset; the slot after the last record's holds
    // where the free space begins, which ends at the table.
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i <= kMaxNodeRecords; ++i) {
        const std::size_t slot = size - 2 * (i + 1);
        if (slot < lastSector || slot < kFirstRecordOffset || !readable(slot, slot + 2)) break;
        const std::size_t offset = node_.be16(slot);
        if (offsets.empty() ? offset != kFirstRecordOffset : offset <= offsets.back()) break;
        if (offset > slot) break;
        offsets.push_back(offset);
    }
    if (offsets.size() < 2) return;
    leaf_ = true;
    count_ = static_cast<std::uint32_t>(offsets.size() - 1);
    const std::size_t tableStart = size - 2 * offsets.size();
    for (std::size_t i = 0; i + 1 < offsets.size(); ++i)
        records_.push_back({offsets[i], std::min(offsets[i + 1], tableStart - 1)});
}
