#pragma once

// The frame every search of the medium in batches runs in: the plain
// signature searches now, the photo and file carving later, each a small
// policy for what it walks and a detection for what it does with one sector.
// The frame owns the batch reads (large sequential reads through the
// volume's one descriptor into page-aligned windows, read ahead of the
// search by a thread of its own and served batch by batch from a window that
// also holds the bytes after each batch, so a signature at an offset up to
// 1024 is read whole; the files the detection measures are read from those
// windows too, as far as they hold them), the used flags, the four position
// moves (next sector, a skip within the batch, leaving the batch, next
// batch), the checkpoint, the progress hand-over and the user's stop. A
// window that fails is read again in smaller pieces by the medium's range
// reader: only the sectors that cannot be read are lost, and they are
// examined as zeros.
//
// Units are what the search counts in (allocation blocks, clusters,
// sectors); unit u holds the sectors from (u - unitBase) x sectorsPerUnit of
// the search's sector numbering, which starts at the volume's first sector
// plus blocksStartsAtSector, as the recognisers count.

#include "carving/AutoRecoveryAppend.h"
#include "carving/UsedBlockMaps.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <functional>
#include <optional>

class Volume;

class BlockSearchEngine {
public:
    struct Policy {
        // "Progress Status" of the progress dictionaries.
        const char* progressStatus = "Searching lost files...";
        // Units of the volume; startPos and endPos are percentages of it.
        std::uint64_t totalUnits = 0;
        std::uint32_t sectorsPerUnit = 1;
        // The unit whose first sector is sector 0 of the numbering (2 for FAT
        // clusters), and the first unit that exists.
        std::uint64_t unitBase = 0;
        std::uint64_t firstUnit = 0;
        std::uint32_t unitsPerBatch = UsedBlockMaps::kBatchUnits;
        // Examined sectors between checkpoints.
        std::uint32_t stride = 20000;
        // The checkpoint counts every sector, in use or not; otherwise only
        // the sectors examined.
        bool checkpointEverySector = false;
        // The batch at unit 0 is passed over whole (the volume's own
        // structures lie there).
        bool skipBatchAtZero = false;
        // Progress once a batch, before its read, instead of every sector.
        bool progressPerBatch = false;
        // Clears the flags of the free units among 40 from a unit; none: no
        // unit is in use.
        std::function<void(std::uint64_t firstUnit, UsedBlockMaps::Flags& flags)> usedFlags;
        // The key under which a unit starting a known file is indexed in
        // btreeFirstFileBlock; none: no unit is looked up.
        std::function<std::optional<std::uint64_t>(std::uint64_t unit)> knownFileKey;
    };

    // How far the search may jump after a file it found.
    struct Skip {
        std::uint64_t sectors = 0;
        // The file surely covers these sectors from the examined one on (a
        // stream a size calculator measured): the search goes on with the
        // unit that holds the first sector after them. Otherwise the whole
        // units in them are jumped from the examined unit.
        bool coveredFromHere = false;
    };

    // What a search does with one examined sector.
    class Detection {
    public:
        virtual ~Detection();
        // `bytes` start with the sector numbered `sector` and run on past it
        // as far as the batch window holds.
        virtual Skip examineSector(std::uint64_t sector, platform::ByteView bytes) = 0;
        // Writes the records of found files the detection held back, to
        // settle them by sectors it had yet to examine: the engine asks when
        // its run ends.
        virtual void settle() {}
        // Before a checkpoint at `sector` (of the search's numbering), which
        // vouches for every file before it: writes the records held back of
        // files that end before it. A file that runs on past it stays open,
        // its record held, so that a file found inside it further on still
        // cuts it however far that lies: its first sector, which the
        // checkpoint keeps.
        virtual std::optional<std::uint64_t> checkpointAt(std::uint64_t) {
            settle();
            return std::nullopt;
        }
        // A resumed search goes on from `sector`: a file the interrupted one
        // held open across the checkpoint it goes on from was never
        // recorded, and is measured and held again.
        virtual void resumeAt(std::uint64_t) {}
    };

    BlockSearchEngine(Volume& volume, AutoRecoveryAppend& fileDesc) noexcept : volume_(volume), fileDesc_(fileDesc) {}

    // Searches from startPos to endPos percent of the policy's units, or,
    // when the volume resumes an interrupted scan, from the checkpoint
    // `resumeUnit` to the same end. The checkpoint is checked first: one at
    // or past the range's end (a stale or torn Info file, or a snapshot
    // whose records were cut off) gives way to the unit of
    // `lastRecordedSector`, the furthest place the interrupted search's
    // records vouch for, or the range's start when they vouch for none.
    // The stretch from there to the interruption is searched again, so the
    // detection must not record a file twice; a file it held open across the
    // checkpoint is its to open again (resumeAt). Returns at the end of the
    // range or on the user's stop.
    void run(const Policy& policy, Detection& detection, std::uint64_t resumeUnit,
             std::optional<std::uint64_t> lastRecordedSector = std::nullopt);

    // Byte window kept for the batches (a whole number of sectors).
    static constexpr std::size_t kWindowBytes = 4u << 20;

private:
    struct Run;

    Volume& volume_;
    AutoRecoveryAppend& fileDesc_;
};
