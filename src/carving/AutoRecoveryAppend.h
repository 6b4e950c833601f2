#pragma once

// What a search keeps in the auto-recovery pair while it runs, so that an
// interrupted scan can be resumed: a record for every folder and file it adds
// to the tree (appended to the snapshot, a folder before anything inside
// it), and from time to time the unit a resumed search starts from. This
// base keeps nothing: it stands for a pair that is missing, with which the
// search runs all the same.

#include <cstdint>
#include <optional>

struct NewDir;

class AutoRecoveryAppend {
public:
    virtual ~AutoRecoveryAppend();

    // Appends the node's record; its parent's is in the file already.
    virtual void writeDir(const NewDir* node);
    // The records of one found file are all written: they go to the file
    // before anything the search does next.
    virtual void recordsWritten();
    // The search's position, written only after the records of every file
    // found before it but `heldFile`: the unit a resumed search starts from,
    // the device sector that unit begins at, how many sectors below that one
    // the scan could not read, which a resumed scan counts without reading
    // them again, and the first sector (of the search's numbering) of a file
    // whose record the search still holds, as a file found further inside
    // it may yet cut it: a resumed search measures that file again there.
    virtual void checkpoint(std::uint64_t unit, std::uint64_t sector, std::uint64_t lostBelow,
                            std::optional<std::uint64_t> heldFile);
};
