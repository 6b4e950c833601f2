#pragma once

// Copies one found file from the medium into an open destination file: the
// bytes of its extents from its first sector offset on, as many as its size
// says. The extents give the file's reads: runs of up to eight allocation
// blocks, the file's last block on its own. Reads that follow each other on
// the medium are joined into one large read, up to kMaxReadBytes, into one
// buffer kept for the whole save; a joined read that fails is read again run
// by run, so the file keeps exactly what lies before the run that failed.
// Every write is checked; syncing the finished file is the caller's. Nothing
// past the file's size is written and nothing outside the volume is read,
// whatever the extents say.

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

struct NewDir;

class FileExtentsCopier {
public:
    // One read of `count` sectors at `sector` into buffer (count x bytes per
    // sector bytes); Volume::readSaveSector in the program.
    using SectorReader = std::function<bool(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer)>;
    // Called after each write, with its byte count.
    using WriteObserver = std::function<void(std::uint64_t bytes)>;

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
        Refused,     // the node's geometry cannot be used
    };

    FileExtentsCopier(Geometry geometry, SectorReader reader, const std::atomic<bool>& abortSaving,
                      WriteObserver afterWrite);

    // Copies node's data into fd. A node with exactly one extent first gets
    // that extent's block count set to what its offset and size need (the
    // node keeps it), unless a chain ended the damaged node there. An offset
    // at or past the end of the extents leaves the file nothing: it is Done
    // with no bytes and nothing read.
    Result copy(NewDir* node, int fd);

    std::uint64_t bytesWritten() const { return written_; }
    // The errno of the failed write.
    int writeError() const { return writeError_; }

private:
    // Adds the read of `sectors` sectors at sector to the joined read,
    // reading what was gathered first when it does not follow on or would
    // not fit.
    Result add(std::uint64_t sector, std::uint64_t sectors);
    // Reads and writes what was gathered.
    Result readGathered();
    // Reads `sectors` sectors at sector into the buffer and writes what the
    // file still needs of them.
    bool readInto(std::uint64_t sector, std::uint64_t sectors);
    Result write(std::uint64_t bytes);
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
    // The joined read being gathered: its first sector and the sector count
    // of each run in it.
    std::uint64_t gatheredStart_ = 0;
    std::uint64_t gatheredSectors_ = 0;
    std::vector<std::uint32_t> gatheredRuns_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    // Bytes of the reads still to be passed over before the file's first.
    std::uint64_t skip_ = 0;
    std::uint64_t written_ = 0;
    // Bytes of the file whose write-back to the device has been started.
    std::uint64_t writebackStarted_ = 0;
    int writeError_ = 0;
};
