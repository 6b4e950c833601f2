#include "results/FileExtentsCopier.h"

#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/FileSectorRuns.h"
#include "volume/NewDir.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <unistd.h>

namespace {

// A run reads up to this many allocation blocks.
constexpr std::uint64_t kBlocksPerRun = 8;
constexpr std::size_t kPageBytes = 4096;
// Writes go to the destination in pieces of this size: the kernel copies a
// piece into its page cache several times faster than one large write.
constexpr std::size_t kWriteBytes = 256u << 10;
// A large file's pages are sent to the device while the rest of it is still
// being copied, so its one sync at the end has little left to wait for.
constexpr std::uint64_t kWritebackBytes = 8u << 20;

} // namespace

bool FileExtentsCopier::writeAll(int fd, const std::uint8_t* data, std::size_t length, std::uint64_t offset,
                                 std::size_t& done) {
    done = 0;
    while (done < length) {
        const ssize_t n =
            ::pwrite(fd, data + done, std::min(length - done, kWriteBytes), static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

FileExtentsCopier::FileExtentsCopier(Geometry geometry, SectorReader reader, const std::atomic<bool>& abortSaving,
                                     WriteObserver afterWrite)
    : geometry_(geometry), reader_(std::move(reader)), abortSaving_(abortSaving), afterWrite_(std::move(afterWrite)) {}

std::uint64_t FileExtentsCopier::stillNeeded() const {
    const std::uint64_t left = platform::saturatingAdd(skip_, fileSize_ - written_);
    const std::uint64_t gathered = gatheredSectors_ * geometry_.bytesPerSector;
    return left > gathered ? left - gathered : 0;
}

std::optional<std::uint64_t> FileExtentsCopier::readInto(std::uint64_t sector, std::uint64_t sectors,
                                                         std::uint64_t into) {
    const std::size_t offset = static_cast<std::size_t>(into * geometry_.bytesPerSector);
    const std::size_t bytes = static_cast<std::size_t>(sectors * geometry_.bytesPerSector);
    if (offset + bytes > bufferBytes_) {
        const std::size_t size =
            (std::max(offset + bytes, std::size_t{64} << 10) + kPageBytes - 1) / kPageBytes * kPageBytes;
        buffer_.reset(static_cast<std::uint8_t*>(std::aligned_alloc(kPageBytes, size)));
        bufferBytes_ = buffer_ ? size : 0;
        if (!buffer_) {
            platform::logFormat("No memory for a read of %llu bytes", static_cast<unsigned long long>(bytes));
            return std::nullopt;
        }
    }
    // Zero-filled before every read: nothing of an earlier read, of this
    // file or another, can end up in this file.
    std::memset(buffer_.get() + offset, 0, bytes);
    if (!reader_) return std::nullopt;
    return reader_(sector, static_cast<std::int32_t>(sectors), buffer_.get() + offset);
}

FileExtentsCopier::Result FileExtentsCopier::write(std::uint64_t bytes, bool nothingRead) {
    const std::uint64_t skipped = std::min(bytes, skip_);
    skip_ -= skipped;
    // Never past the file's size, whatever the extents add up to.
    const std::size_t length = static_cast<std::size_t>(std::min(bytes - skipped, fileSize_ - written_));
    if (length != 0 && fd_ < 0) {
        // Zeros before the file's first readable sector make no file yet, nor
        // do zeros it read there: a file whose readable sectors hold nothing
        // else, round sectors the medium did not give, is no recovered file.
        const std::uint8_t* data = buffer_.get() + skipped;
        if (nothingRead || std::all_of(data, data + length, [](std::uint8_t b) { return b == 0; })) {
            written_ += length;
            return Result::Done;
        }
        errno = EBADF;
        fd_ = *open_ ? (*open_)() : -1;
        if (fd_ < 0) {
            writeError_ = errno;
            return Result::OpenFailed;
        }
        // The hole before it is the file's from now on.
        if (afterWrite_ && written_ != 0) afterWrite_(written_);
    }
    std::size_t done = 0;
    const bool whole = writeAll(fd_, buffer_.get() + skipped, length, written_, done);
    const int error = errno;
    written_ += done;
    if (!whole) {
        writeError_ = error;
        if (afterWrite_ && done != 0) afterWrite_(done);
        return Result::WriteFailed;
    }
    if (written_ - writebackStarted_ >= kWritebackBytes) {
        // Only a start: the sync that follows the copy checks the outcome.
        ::sync_file_range(fd_, static_cast<off_t>(writebackStarted_), static_cast<off_t>(written_ - writebackStarted_),
                          SYNC_FILE_RANGE_WRITE);
        writebackStarted_ = written_;
    }
    if (afterWrite_) afterWrite_(length);
    return Result::Done;
}

std::pair<std::uint64_t, std::uint64_t> FileExtentsCopier::sectorsOfTheFile(std::uint64_t sectors) const {
    const std::uint64_t bytesPerSector = geometry_.bytesPerSector;
    const std::uint64_t bytes = sectors * bytesPerSector;
    const std::uint64_t skipped = std::min(bytes, skip_);
    const std::uint64_t length = std::min(bytes - skipped, fileSize_ - written_);
    if (length == 0) return {0, 0};
    return {skipped / bytesPerSector, (skipped + length + bytesPerSector - 1) / bytesPerSector};
}

std::uint64_t FileExtentsCopier::lostOfTheFile(std::uint64_t sector, std::uint64_t sectors, std::uint64_t lost) {
    const std::uint64_t bytesPerSector = geometry_.bytesPerSector;
    const auto [first, end] = sectorsOfTheFile(sectors);
    if (first == end) return 0;
    if (first == 0 && end == sectors) return lost;
    // The lost sectors may lie before the file's first byte or past its
    // last: only those it takes are read again and counted, apart from the
    // bytes that came. The range reader asks the device for none of the
    // unreadable ones again, and gives the same bytes.
    const std::size_t fileBytes = static_cast<std::size_t>((end - first) * bytesPerSector);
    recount_.assign(fileBytes, 0);
    const std::optional<std::uint64_t> again =
        reader_ ? reader_(sector + first, static_cast<std::int32_t>(end - first), recount_.data()) : std::nullopt;
    if (again) {
        std::memcpy(buffer_.get() + first * bytesPerSector, recount_.data(), fileBytes);
        return *again;
    }
    // A medium that has gone since leaves the bytes that came. A lost sector
    // reads as zeros: of the file's sectors, only those that do can be lost.
    std::uint64_t zeroSectors = 0;
    for (std::uint64_t s = first; s < end; ++s) {
        const std::uint8_t* at = buffer_.get() + s * bytesPerSector;
        zeroSectors += std::all_of(at, at + bytesPerSector, [](std::uint8_t b) { return b == 0; });
    }
    return std::min(lost, zeroSectors);
}

FileExtentsCopier::Result FileExtentsCopier::readGathered() {
    if (gatheredSectors_ == 0) return Result::Done;
    if (abortSaving_.load()) return Result::Aborted;
    const std::uint64_t start = gatheredStart_, sectors = gatheredSectors_;
    gatheredSectors_ = 0;
    const std::optional<std::uint64_t> lost = readInto(start, sectors);
    if (!lost) return Result::ReadFailed;
    const auto [first, end] = sectorsOfTheFile(sectors);
    const std::uint64_t lostOfIt = *lost != 0 ? lostOfTheFile(start, sectors, *lost) : 0;
    unreadable_ += lostOfIt;
    readOfTheFile_ += end - first - std::min(lostOfIt, end - first);
    return write(sectors * geometry_.bytesPerSector, lostOfIt >= end - first);
}

FileExtentsCopier::Result FileExtentsCopier::add(std::uint64_t sector, std::uint64_t sectors) {
    if (stillNeeded() == 0) return Result::Done;
    const auto end = platform::checkedAdd(sector, sectors);
    if (!end || sector < geometry_.volumeStart || (geometry_.volumeEnd != 0 && *end > geometry_.volumeEnd)) {
        // What comes before it is read as it would have been.
        if (Result r = readGathered(); r != Result::Done) return r;
        if (abortSaving_.load()) return Result::Aborted;
        platform::logFormat(
            "Sectors %llu to %llu lie outside the volume; they are not read", static_cast<unsigned long long>(sector),
            static_cast<unsigned long long>(end ? *end - 1 : std::numeric_limits<std::uint64_t>::max()));
        return Result::ReadFailed;
    }
    const bool followsOn = gatheredSectors_ != 0 && sector == gatheredStart_ + gatheredSectors_ &&
                           (gatheredSectors_ + sectors) * geometry_.bytesPerSector <= kMaxReadBytes;
    if (!followsOn) {
        if (Result r = readGathered(); r != Result::Done) return r;
        gatheredStart_ = sector;
    }
    gatheredSectors_ += sectors;
    return Result::Done;
}

FileExtentsCopier::SectorRuns FileExtentsCopier::sectorRuns(const NewDir& node, std::size_t most) const {
    // As copy sizes it: a single extent from the file, unless its chain ended it.
    const bool cutByItsChain = geometry_.chainsEndDamagedFiles && node.complete == NewDir::kDamaged;
    return FileSectorRuns::of(node, {geometry_.bytesPerSector, geometry_.volumeStart, geometry_.volumeEnd},
                              !cutByItsChain, most);
}

FileExtentsCopier::Result FileExtentsCopier::copy(NewDir* node, const DestinationOpener& open) {
    open_ = &open;
    fd_ = -1;
    fileSize_ = node->fileSize;
    skip_ = node->firstSectorOffset;
    written_ = 0;
    unreadable_ = 0;
    readOfTheFile_ = 0;
    writebackStarted_ = 0;
    writeError_ = 0;
    gatheredSectors_ = 0;
    const std::uint64_t bytesPerSector = geometry_.bytesPerSector;
    const std::uint64_t unitSectors = node->sectorsPerBlock;
    if (bytesPerSector == 0 || unitSectors == 0) {
        platform::logFormat("File %u has no block size (%u bytes per sector, %u sectors per block); it is not read",
                            node->fileID, static_cast<unsigned>(bytesPerSector), static_cast<unsigned>(unitSectors));
        return Result::Refused;
    }
    const std::uint64_t unitBytes = bytesPerSector * unitSectors;
    if (skip_ != 0 && !newdir::dataBeginsInExtents(node->extents, unitBytes, node->firstSectorOffset)) {
        platform::logFormat("File %u begins %u bytes into its extents, past their end; it has no bytes there",
                            node->fileID, node->firstSectorOffset);
        return Result::Done;
    }

    // A single extent is trusted to start the file and sized from the file,
    // unless the scan found its chain cut short: what follows it belongs to
    // something else.
    const bool cutByItsChain = geometry_.chainsEndDamagedFiles && node->complete == NewDir::kDamaged;
    if (node->extents.size() == 1 && !cutByItsChain) {
        const std::optional<std::uint64_t> span = platform::checkedAdd(skip_, fileSize_);
        const std::uint64_t needed = span ? *span / unitBytes + (*span % unitBytes != 0) : 0;
        if (!span || needed > std::numeric_limits<std::uint32_t>::max()) {
            platform::logFormat("File %u of %llu bytes needs more blocks than an extent holds; it is not read",
                                node->fileID, static_cast<unsigned long long>(fileSize_));
            return Result::Refused;
        }
        node->extents[0].blockCount = static_cast<std::uint32_t>(needed);
    }

    const std::size_t extentCount = node->extents.size();
    for (std::size_t i = 0; i < extentCount; ++i) {
        if (stillNeeded() == 0) break;
        const ExtP extent = node->extents[i];
        const bool last = i + 1 == extentCount;
        const std::uint64_t count = extent.blockCount;

        const auto base = platform::checkedAdd(geometry_.volumeStart, node->dataStartSector);
        auto run = [&](std::uint64_t b, std::uint64_t blocks) {
            const auto block = platform::checkedAdd(extent.startBlock, b);
            const auto sector = base && block ? platform::checkedMulAdd(*base, *block, unitSectors) : std::nullopt;
            if (!sector) {
                if (Result r = readGathered(); r != Result::Done) return r;
                platform::logFormat("Block %llu of file %u lies beyond any sector number; it is not read",
                                    static_cast<unsigned long long>(b), node->fileID);
                return Result::ReadFailed;
            }
            return add(*sector, unitSectors * blocks);
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
        for (std::uint64_t r = 0; r < runs && stillNeeded() > 0; ++r, b += kBlocksPerRun)
            if (Result res = run(b, kBlocksPerRun); res != Result::Done) return res;
        if (rest == 0 || stillNeeded() == 0) continue;
        if (!last) {
            if (Result res = run(b, rest); res != Result::Done) return res;
        } else {
            for (std::uint64_t s = 0; s < rest && stillNeeded() > 0; ++s, ++b)
                if (Result res = run(b, 1); res != Result::Done) return res;
        }
    }
    const Result result = readGathered();
    // Read whole, zeros are what the medium holds there: the file is made
    // as long as they are.
    if (result == Result::Done && fd_ < 0 && written_ != 0 && unreadable_ == 0) {
        errno = EBADF;
        fd_ = *open_ ? (*open_)() : -1;
        if (fd_ < 0) {
            writeError_ = errno;
            return Result::OpenFailed;
        }
        if (::ftruncate(fd_, static_cast<off_t>(written_)) != 0) {
            writeError_ = errno;
            return Result::WriteFailed;
        }
        if (afterWrite_) afterWrite_(written_);
    }
    return result;
}
