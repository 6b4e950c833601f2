#pragma once

// Where a found file's bytes lie on the device: the runs of sectors a read of
// it takes, from its first byte (its first sector offset into the extents) up
// to its size, in the order of its extents. The save reads these, and the end
// of a scan asks the medium's map about them. A run outside the volume, and
// anything after it, is no place of the file.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

struct NewDir;

class FileSectorRuns {
public:
    struct Geometry {
        std::uint32_t bytesPerSector = 0;
        // HPlusVolStart: the first sector of the volume on the device.
        std::uint64_t volumeStart = 0;
        // One past the volume's last sector on the device; 0 when unknown.
        std::uint64_t volumeEnd = 0;
    };
    using Runs = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    // Each run [first, end), in order, until `run` answers false.
    // `singleExtentSizedFromFile`: a file of one extent is read for its size,
    // whatever the extent's block count says (as the save reads any file but
    // one its chain cut short).
    static void visit(const NewDir& node, const Geometry& geometry, bool singleExtentSizedFromFile,
                      const std::function<bool(std::uint64_t first, std::uint64_t end)>& run);
    // The first `most` runs; none where the node has no block size, size or
    // place.
    static Runs of(const NewDir& node, const Geometry& geometry, bool singleExtentSizedFromFile, std::size_t most);
};
