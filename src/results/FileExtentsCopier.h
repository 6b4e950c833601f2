#pragma once

// Copies one found file from the medium into a destination file: the bytes
// of its extents from its first sector offset on, as many as its size says.
// The destination file is made only when the first bytes of it that could be
// read and are not zeros are in hand to be written, so a file of which
// nothing could be read, or nothing but zeros, is never made, not even for
// the time an alert about the medium waits for the user: zeros round sectors
// the medium did not give are no recovered file. (One read whole that holds
// nothing but zeros is made, as long as it is: that is what the medium
// holds.) What comes before those bytes is left a hole, which reads as
// zeros. The extents
// give the file's reads: runs of up to eight allocation blocks, the file's
// last block on its own. Reads that follow each other on the medium are
// joined into one large read, up to kMaxReadBytes, into one buffer kept for
// the whole save. The reader reads a failed range again in smaller pieces
// and gives a sector that cannot be read as zeros: the file keeps its full
// length and every byte that could be read, and the copier counts the
// sectors of it that were lost. Every write is checked; syncing the finished
// file is the caller's. Nothing past the file's size is written and nothing
// outside the volume is read, whatever the extents say.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

struct NewDir;

class FileExtentsCopier {
public:
    // One read of `count` sectors at `sector` into buffer (count x bytes per
    // sector bytes): how many of them could not be read and are zeros in the
    // buffer, or nothing when the read could not be made at all (the medium
    // has gone). The volume's range reader in its save role in the program.
    using SectorReader =
        std::function<std::optional<std::uint64_t>(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer)>;
    // Called after each write, with its byte count.
    using WriteObserver = std::function<void(std::uint64_t bytes)>;
    // Makes (or gives again) the destination file: its descriptor, or -1
    // with errno set.
    using DestinationOpener = std::function<int()>;

    // The largest joined read. A run larger than this (blocks of more than
    // 128 KiB) is read on its own, never split.
    static constexpr std::size_t kMaxReadBytes = 1u << 20;

    struct Geometry {
        std::uint32_t bytesPerSector = 0;
        // HPlusVolStart: the first sector of the volume on the device.
        std::uint64_t volumeStart = 0;
        // One past the volume's last sector on the device; 0 when unknown.
        std::uint64_t volumeEnd = 0;
        // The file system chains a file's clusters (FAT, exFAT): a file its
        // scan marked damaged holds only what its chain named, and the
        // clusters after it belong to something else. Elsewhere a damaged
        // file's one extent is read on for its size, as any other's.
        bool chainsEndDamagedFiles = false;
    };

    enum class Result {
        Done,        // every extent copied (the file may still be shorter
                     // than its size when its extents fall short)
        Aborted,     // the user stopped the save before a read
        ReadFailed,  // a read failed or lay outside the volume
        WriteFailed, // a write failed
        OpenFailed,  // the destination file could not be made
        Refused,     // the node's geometry cannot be used
    };

    FileExtentsCopier(Geometry geometry, SectorReader reader, const std::atomic<bool>& abortSaving,
                      WriteObserver afterWrite);

    // Copies node's data into the file `open` gives, asked for at the first
    // write. A node with exactly one extent first gets that extent's block
    // count set to what its offset and size need (the node keeps it), unless
    // a chain ended the damaged node there. An offset at or past the end of
    // the extents leaves the file nothing: it is Done with no bytes, nothing
    // read and no file made.
    Result copy(NewDir* node, const DestinationOpener& open);

    // The sectors a copy of node reads, as runs [first, end) in the order it
    // reads them, at most the first `most`; the node is left as it is.
    // None where the copy would refuse it or read nothing.
    using SectorRuns = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    SectorRuns sectorRuns(const NewDir& node, std::size_t most) const;

    // How far into the file the copy has come: the bytes written, and, once
    // the file is made, the hole before its first readable sector.
    std::uint64_t bytesWritten() const { return written_; }
    // Writes all of `length` bytes at `offset`, across interrupted and
    // partial writes; `done` counts what reached the file, also when a write
    // fails part of the way (a destination that fills up takes what still
    // fits).
    static bool writeAll(int fd, const std::uint8_t* data, std::size_t length, std::uint64_t offset, std::size_t& done);
    // Sectors of the file's bytes that could not be read: they are zeros in
    // the destination file.
    std::uint64_t unreadableSectors() const { return unreadable_; }
    // Sectors of the file's bytes that were read.
    std::uint64_t sectorsRead() const { return readOfTheFile_; }
    // The errno of the failed write, or of the destination file that could
    // not be made.
    int writeError() const { return writeError_; }

private:
    // Adds the read of `sectors` sectors at sector to the joined read,
    // reading what was gathered first when it does not follow on or would
    // not fit.
    Result add(std::uint64_t sector, std::uint64_t sectors);
    // Reads and writes what was gathered.
    Result readGathered();
    // Reads `sectors` sectors at sector into the buffer from `into` on
    // (sectors of the medium's size): the reader's answer.
    std::optional<std::uint64_t> readInto(std::uint64_t sector, std::uint64_t sectors, std::uint64_t into = 0);
    // Of the `lost` sectors of the read of `sectors` sectors at sector just
    // made, those the file takes bytes from, the read's bytes kept.
    // Of the read of `sectors` sectors about to be written, the sectors
    // [first, end) the file takes bytes from.
    std::pair<std::uint64_t, std::uint64_t> sectorsOfTheFile(std::uint64_t sectors) const;
    std::uint64_t lostOfTheFile(std::uint64_t sector, std::uint64_t sectors, std::uint64_t lost);
    // `nothingRead`: not one of the file's sectors in them could be read.
    Result write(std::uint64_t bytes, bool nothingRead);
    // Bytes the file still needs once the gathered reads are written.
    std::uint64_t stillNeeded() const;

    struct FreeBuffer {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };

    Geometry geometry_;
    SectorReader reader_;
    const std::atomic<bool>& abortSaving_;
    WriteObserver afterWrite_;
    // Page-aligned: the kernel copies into it at full speed.
    std::unique_ptr<std::uint8_t, FreeBuffer> buffer_;
    std::size_t bufferBytes_ = 0;
    // The file's part of a read with lost sectors, read again to count them.
    std::vector<std::uint8_t> recount_;
    // The joined read being gathered.
    std::uint64_t gatheredStart_ = 0;
    std::uint64_t gatheredSectors_ = 0;
    const DestinationOpener* open_ = nullptr;
    // The destination file once it was made; -1 before.
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    // Bytes of the reads still to be passed over before the file's first.
    std::uint64_t skip_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t unreadable_ = 0;
    std::uint64_t readOfTheFile_ = 0;
    // Bytes of the file whose write-back to the device has been started.
    std::uint64_t writebackStarted_ = 0;
    int writeError_ = 0;
};
