#include "signatures/ArchiveRecognisers.h"

#include "platform/ByteView.h"
#include "platform/CheckedMath.h"
#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"

#include <algorithm>
#include <array>
#include <optional>

namespace {

constexpr std::uint64_t kTarBlock = 512;
// tar writes an archive in records of twenty blocks, the last filled with
// zeros after the end blocks: an archive that tar wrote is a whole number of
// them long.
constexpr std::uint64_t kTarRecord = 20 * kTarBlock;
// Each member costs a header block, so an archive of more members than this
// is larger than any size limit a type has.
constexpr std::uint64_t kTarMostMembers = std::uint64_t{1} << 24;
// A GNU sparse member's map goes on in blocks of its own; no writer needs
// this many.
constexpr int kTarMostSparseBlocks = 4096;
constexpr std::uint32_t kTarWindowSectors = 64;
constexpr std::size_t kTarChecksumAt = 148, kTarChecksumBytes = 8;
constexpr std::size_t kTarSizeAt = 124, kTarSizeBytes = 12;
constexpr std::size_t kTarTypeAt = 156;
// An old GNU header's flag that more blocks of its sparse map follow it,
// and the same flag in each such block.
constexpr std::size_t kTarSparseMoreAt = 482, kTarSparseBlockMoreAt = 504;

constexpr std::uint64_t kVhdFooterBytes = 512;
constexpr std::uint64_t kVhdHeaderBytes = 1024;
constexpr std::size_t kVhdFooterChecksumAt = 64, kVhdHeaderChecksumAt = 36;
constexpr std::uint32_t kVhdDynamic = 3, kVhdDifferencing = 4;
constexpr std::uint32_t kVhdUnallocated = 0xFFFFFFFF;
// A disk holds at most 2 TiB, which blocks of 512 KiB, the smallest any
// writer uses, come to.
constexpr std::uint32_t kVhdMostBlocks = 1u << 22;
constexpr std::size_t kVhdLocatorsAt = 576, kVhdLocatorBytes = 24;
constexpr int kVhdLocators = 8;
constexpr std::size_t kVhdUniqueIdAt = 68, kVhdUniqueIdBytes = 16;
constexpr std::uint32_t kVhdTableWindowSectors = 64;

std::uint64_t roundedUp(std::uint64_t bytes, std::uint64_t unit) {
    return platform::saturatingMul((bytes / unit) + (bytes % unit != 0), unit);
}

bool allZero(platform::ByteView bytes) {
    return std::all_of(bytes.data(), bytes.data() + bytes.size(), [](std::uint8_t b) { return b == 0; });
}

// A tar header's number: octal digits after blanks, ended by a blank or
// NUL, or, where the first byte has its high bit set, the big-endian binary
// of the bytes after it (GNU's large sizes). Nothing for a field of neither.
std::optional<std::uint64_t> tarNumber(platform::ByteView field) {
    if (field.empty()) return std::nullopt;
    std::uint64_t value = 0;
    if ((field.u8(0) & 0x80) != 0) {
        // 0xFF opens a negative number, which no size or checksum is.
        if (field.u8(0) != 0x80) return std::nullopt;
        for (std::size_t i = 1; i < field.size(); ++i) {
            if (value >> 56 != 0) return std::nullopt;
            value = value << 8 | field.u8(i);
        }
        return value;
    }
    std::size_t i = 0;
    while (i < field.size() && field.u8(i) == ' ')
        ++i;
    const std::size_t digits = i;
    for (; i < field.size() && field.u8(i) >= '0' && field.u8(i) <= '7'; ++i) {
        if (value >> 61 != 0) return std::nullopt;
        value = value * 8 + (field.u8(i) - '0');
    }
    if (i == digits) return std::nullopt;
    for (; i < field.size(); ++i)
        if (field.u8(i) != ' ' && field.u8(i) != 0) return std::nullopt;
    return value;
}

// Whether the header's checksum field holds the sum of its bytes, the field
// itself counted as blanks: unsigned, or signed as some early writers summed.
bool tarChecksumHolds(platform::ByteView header) {
    const std::optional<std::uint64_t> stored = tarNumber(header.sub(kTarChecksumAt, kTarChecksumBytes));
    if (!stored) return false;
    std::uint64_t unsignedSum = 0;
    std::int64_t signedSum = 0;
    for (std::size_t i = 0; i < kTarBlock; ++i) {
        const std::uint8_t byte =
            i >= kTarChecksumAt && i < kTarChecksumAt + kTarChecksumBytes ? std::uint8_t{' '} : header.u8(i);
        unsignedSum += byte;
        signedSum += static_cast<std::int8_t>(byte);
    }
    return *stored == unsignedSum || static_cast<std::int64_t>(*stored) == signedSum;
}

// Links, devices, folders and pipes store no data, whatever their size says.
bool tarMemberHoldsData(std::uint8_t type) {
    return type < '1' || type > '6';
}

// Whether the checksum field at `at` of the record holds the one's
// complement of the sum of its other bytes, as a Virtual PC disk's footer
// and dynamic header keep it.
bool vhdChecksumHolds(platform::ByteView record, std::size_t at) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < record.size(); ++i)
        if (i < at || i >= at + 4) sum += record.u8(i);
    return ~sum == record.be32(at);
}

} // namespace

bool ArchiveRecognisers::checkTarFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    if (medium.bytesPerSector() == 0) return false;
    BoundedCursor cursor = medium.cursor(kTarWindowSectors);
    std::uint64_t at = 0, members = 0;
    std::optional<std::uint64_t> end;
    while (members < kTarMostMembers && !medium.stopped()) {
        const platform::ByteView header = cursor.at(at, kTarBlock);
        // Zeros the medium could not give are no end blocks: the walk stops
        // there, not knowing what the header held.
        if (header.empty() || cursor.unreadable(at, kTarBlock)) break;
        if (allZero(header)) {
            // Two zero blocks end the archive; some writers leave out the
            // second.
            const platform::ByteView second = cursor.at(at + kTarBlock, kTarBlock);
            end = at + (second.size() == kTarBlock && allZero(second) ? 2 : 1) * kTarBlock;
            break;
        }
        const std::optional<std::uint64_t> size = tarNumber(header.sub(kTarSizeAt, kTarSizeBytes));
        if (!tarChecksumHolds(header) || !size) break;
        const std::uint8_t type = header.u8(kTarTypeAt);
        std::uint64_t next = at + kTarBlock;
        bool sparseMore = type == 'S' && header.u8(kTarSparseMoreAt) != 0;
        for (int blocks = 0; sparseMore && blocks < kTarMostSparseBlocks; ++blocks) {
            const platform::ByteView map = cursor.at(next, kTarBlock);
            if (map.empty()) break;
            sparseMore = map.u8(kTarSparseBlockMoreAt) != 0;
            next += kTarBlock;
        }
        if (tarMemberHoldsData(type)) next = platform::saturatingAdd(next, roundedUp(*size, kTarBlock));
        ++members;
        // A member that runs past the bytes that may be read is the
        // archive's as far as they go.
        at = std::min(next, medium.readableBytes());
        if (next > medium.readableBytes()) break;
    }
    // The first header is none: the hit was chance bytes.
    if (members == 0) return false;
    if (!end) {
        // Headers that break off before the end blocks: the first fragment of
        // an archive, or one cut by another file's sectors.
        medium.acceptCut(sig, at, at);
        return true;
    }
    // The zeros that fill the last record are the archive's.
    const std::uint64_t record = roundedUp(*end, kTarRecord);
    if (record <= medium.readableBytes()) {
        const platform::ByteView fill = cursor.at(*end, static_cast<std::size_t>(record - *end));
        if (fill.size() == record - *end && allZero(fill)) end = record;
    }
    medium.acceptJumpable(sig, *end, *end);
    return true;
}

bool ArchiveRecognisers::checkVHDFileAtBlock(std::uint64_t block, Sig& sig) {
    RecogniserMedium medium(volume_, block, sig, probe_);
    if (medium.bytesPerSector() == 0) return false;
    BoundedCursor cursor = medium.cursor();
    const platform::ByteView footer = cursor.at(0, kVhdFooterBytes);
    if (footer.size() != kVhdFooterBytes || !vhdChecksumHolds(footer, kVhdFooterChecksumAt)) return false;
    // A fixed disk keeps its footer only after its data, in the file's last
    // sector, and a dynamic disk's last sector holds a copy of the footer
    // it begins with: neither begins a file. A dynamic disk's first footer
    // leads to its dynamic header, which its last does not.
    const std::uint32_t type = footer.be32(60);
    if (type != kVhdDynamic && type != kVhdDifferencing) return false;
    const std::uint64_t headerAt = footer.be64(16);
    std::array<std::uint8_t, kVhdUniqueIdBytes> disk{};
    footer.copyTo(kVhdUniqueIdAt, disk.data(), disk.size());
    if (headerAt < kVhdFooterBytes) return false;
    const platform::ByteView header = cursor.at(headerAt, kVhdHeaderBytes);
    if (header.size() != kVhdHeaderBytes || !header.spells(0, "cxsparse") ||
        !vhdChecksumHolds(header, kVhdHeaderChecksumAt))
        return false;
    const std::uint64_t tableAt = header.be64(16);
    const std::uint32_t entries = header.be32(28), blockBytes = header.be32(32);
    std::uint64_t end = platform::saturatingAdd(headerAt, kVhdHeaderBytes);
    if (blockBytes < 512 || blockBytes % 512 != 0 || entries > kVhdMostBlocks || tableAt < kVhdFooterBytes) {
        medium.acceptCut(sig, end, end);
        return true;
    }
    // Each allocated block is its sector bitmap, then its data.
    const std::uint64_t blockEnd = roundedUp(blockBytes / 512 / 8 + (blockBytes / 512 % 8 != 0), 512) + blockBytes;
    end = std::max(end, platform::saturatingAdd(tableAt, roundedUp(std::uint64_t{entries} * 4, 512)));
    BoundedCursor table = medium.cursor(kVhdTableWindowSectors);
    for (std::uint32_t i = 0; i < entries && !medium.stopped(); ++i) {
        const platform::ByteView entry = table.at(tableAt + std::uint64_t{i} * 4, 4);
        if (entry.empty()) {
            // A table that cannot be read: the disk is its own as far as it.
            medium.acceptCut(sig, tableAt, tableAt);
            return true;
        }
        if (entry.be32(0) != kVhdUnallocated)
            end = std::max(end, platform::saturatingMulAdd(blockEnd, entry.be32(0), 512));
    }
    // A differencing disk's parent locators keep the parent's names in the
    // file too.
    for (int i = 0; i < kVhdLocators && type == kVhdDifferencing; ++i) {
        const platform::ByteView locator = header.sub(kVhdLocatorsAt + std::size_t(i) * kVhdLocatorBytes, 24);
        if (locator.be32(0) != 0)
            end = std::max(end, platform::saturatingAdd(locator.be64(16), roundedUp(locator.be32(8), 512)));
    }
    // The footer again after the last block, the same disk's.
    const platform::ByteView last = cursor.at(end, kVhdFooterBytes);
    if (last.size() == kVhdFooterBytes && last.spells(0, "conectix") &&
        std::equal(disk.begin(), disk.end(), last.data() + kVhdUniqueIdAt)) {
        medium.acceptJumpable(sig, end + kVhdFooterBytes, end + kVhdFooterBytes);
        return true;
    }
    // Its blocks, with no footer after them: the disk was cut there.
    medium.acceptCut(sig, end, end);
    return true;
}
