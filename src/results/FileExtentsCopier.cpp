#include "results/FileExtentsCopier.h"

#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/NewDir.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <unistd.h>

namespace {

// A run reads up to this many allocation blocks at once.
constexpr std::uint64_t kBlocksPerRun = 8;

// Writes all of it, across interrupted and partial writes.
bool writeAll(int fd, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

FileExtentsCopier::FileExtentsCopier(Geometry geometry, SectorReader reader, const std::atomic<bool>& abortSaving,
                                     WriteObserver afterWrite)
    : geometry_(geometry), reader_(std::move(reader)), abortSaving_(abortSaving), afterWrite_(std::move(afterWrite)) {}

FileExtentsCopier::Result FileExtentsCopier::readAndWrite(std::uint64_t sector, std::uint64_t unitSectors,
                                                          std::uint64_t count) {
    if (written_ >= fileSize_) return Result::Done;
    if (abortSaving_.load()) return Result::Aborted;
    const std::uint64_t sectors = unitSectors * count; // at most 8 x 255
    const auto end = platform::checkedAdd(sector, sectors);
    if (!end || sector < (geometry_.sectorAddressed ? 0 : geometry_.volumeStart) ||
        (geometry_.volumeEnd != 0 && *end > geometry_.volumeEnd)) {
        platform::logFormat(
            "Sectors %llu to %llu lie outside the volume; they are not read", static_cast<unsigned long long>(sector),
            static_cast<unsigned long long>(end ? *end - 1 : std::numeric_limits<std::uint64_t>::max()));
        return Result::ReadFailed;
    }
    const std::size_t bytes = static_cast<std::size_t>(sectors * geometry_.bytesPerSector);
    // A fresh zero-filled buffer for every read: nothing of an earlier read
    // can end up in this file.
    buffer_.assign(bytes, 0);
    if (!reader_ || !reader_(sector, static_cast<std::int32_t>(sectors), buffer_.data())) return Result::ReadFailed;
    // Never past the file's size, whatever the extents add up to.
    const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, fileSize_ - written_));
    if (!writeAll(fd_, buffer_.data(), length) || ::fsync(fd_) != 0) {
        writeError_ = errno;
        return Result::WriteFailed;
    }
    written_ += length;
    if (afterWrite_) afterWrite_(length);
    return Result::Done;
}

FileExtentsCopier::Result FileExtentsCopier::copy(NewDir* node, int fd) {
    fd_ = fd;
    fileSize_ = node->fileSize;
    written_ = 0;
    writeError_ = 0;
    const std::uint64_t bytesPerSector = geometry_.bytesPerSector;
    const std::uint64_t unitSectors = geometry_.sectorAddressed ? 1 : node->sectorsPerBlock;
    if (bytesPerSector == 0 || unitSectors == 0) {
        platform::logFormat("File %u has no block size (%u bytes per sector, %u sectors per block); it is not read",
                            node->fileID, static_cast<unsigned>(bytesPerSector), static_cast<unsigned>(unitSectors));
        return Result::Refused;
    }
    const std::uint64_t unitBytes = bytesPerSector * unitSectors;

    // A single extent is trusted to start the file and sized from the file.
    if (node->extents.size() == 1) {
        const std::uint64_t needed = fileSize_ / unitBytes + (fileSize_ % unitBytes != 0);
        if (needed > std::numeric_limits<std::uint32_t>::max()) {
            platform::logFormat("File %u of %llu bytes needs more blocks than an extent holds; it is not read",
                                node->fileID, static_cast<unsigned long long>(fileSize_));
            return Result::Refused;
        }
        node->extents[0].blockCount = static_cast<std::uint32_t>(needed);
    }

    const std::size_t extentCount = node->extents.size();
    for (std::size_t i = 0; i < extentCount; ++i) {
        if (written_ >= fileSize_) break;
        const ExtP extent = node->extents[i];
        const bool last = i + 1 == extentCount;
        const std::uint64_t count = extent.blockCount;

        if (geometry_.sectorAddressed) {
            for (std::uint64_t j = 0; j < count && written_ < fileSize_; ++j)
                if (Result r = readAndWrite(std::uint64_t(extent.startBlock) + j, 1, 1); r != Result::Done) return r;
            continue;
        }

        const auto base = platform::checkedAdd(geometry_.volumeStart, node->dataStartSector);
        auto sectorOfBlock = [&](std::uint64_t b) -> std::optional<std::uint64_t> {
            const auto block = platform::checkedAdd(extent.startBlock, b);
            return base && block ? platform::checkedMulAdd(*base, *block, unitSectors) : std::nullopt;
        };
        auto run = [&](std::uint64_t b, std::uint64_t blocks) {
            const auto sector = sectorOfBlock(b);
            if (!sector) {
                platform::logFormat("Block %llu of file %u lies beyond any sector number; it is not read",
                                    static_cast<unsigned long long>(b), node->fileID);
                return Result::ReadFailed;
            }
            return readAndWrite(*sector, unitSectors, blocks);
        };

        // Full runs of eight; on the file's last extent its last block is
        // read alone, so the last full run, or the remainder, goes block by
        // block.
        std::uint64_t runs = count / kBlocksPerRun;
        std::uint64_t rest = count % kBlocksPerRun;
        if (last && rest == 0 && runs > 0) {
            --runs;
            rest = kBlocksPerRun;
        }
        std::uint64_t b = 0;
        for (std::uint64_t r = 0; r < runs && written_ < fileSize_; ++r, b += kBlocksPerRun)
            if (Result res = run(b, kBlocksPerRun); res != Result::Done) return res;
        if (rest == 0 || written_ >= fileSize_) continue;
        if (!last) {
            if (Result res = run(b, rest); res != Result::Done) return res;
        } else {
            for (std::uint64_t s = 0; s < rest && written_ < fileSize_; ++s, ++b)
                if (Result res = run(b, 1); res != Result::Done) return res;
        }
    }
    return Result::Done;
}
