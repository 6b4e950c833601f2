#pragma once

// Copies one found file from the medium into an open destination file: its
// extents are read in order through the saving reader, in runs of up to
// eight allocation blocks with the file's last block read on its own, and
// every write is checked and flushed to the device before the next read.
// Nothing past the file's size is written and nothing outside the volume is
// read, whatever the extents say.

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

struct NewDir;

class FileExtentsCopier {
public:
    // One read of `count` sectors at `sector` into buffer (count x bytes per
    // sector bytes); Volume::readSaveSector in the program.
    using SectorReader = std::function<bool(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer)>;
    // Called after each write has reached the device, with its byte count.
    using WriteObserver = std::function<void(std::uint64_t bytes)>;

    struct Geometry {
        std::uint32_t bytesPerSector = 0;
        // HPlusVolStart: the first sector of the volume on the device.
        std::uint64_t volumeStart = 0;
        // One past the volume's last sector on the device; 0 when unknown.
        std::uint64_t volumeEnd = 0;
        // APFS: extents count single sectors from the start of the device.
        bool sectorAddressed = false;
    };

    enum class Result {
        Done,        // every extent copied (the file may still be shorter
                     // than its size when its extents fall short)
        Aborted,     // the user stopped the save before a read
        ReadFailed,  // a read failed or lay outside the volume
        WriteFailed, // a write or its flush failed
        Refused,     // the node's geometry cannot be used
    };

    FileExtentsCopier(Geometry geometry, SectorReader reader, const std::atomic<bool>& abortSaving,
                      WriteObserver afterWrite);

    // Copies node's data into fd. A node with exactly one extent first gets
    // that extent's block count set to what its size needs (the node keeps
    // it). errno is kept from a failed write.
    Result copy(NewDir* node, int fd);

    std::uint64_t bytesWritten() const { return written_; }
    // The errno of the failed write or flush.
    int writeError() const { return writeError_; }

private:
    // Reads `count` units of `unitSectors` sectors at sector and writes what
    // the file still needs of them.
    Result readAndWrite(std::uint64_t sector, std::uint64_t unitSectors, std::uint64_t count);

    Geometry geometry_;
    SectorReader reader_;
    const std::atomic<bool>& abortSaving_;
    WriteObserver afterWrite_;
    std::vector<std::uint8_t> buffer_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    std::uint64_t written_ = 0;
    int writeError_ = 0;
};
