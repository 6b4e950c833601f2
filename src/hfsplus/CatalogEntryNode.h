#pragma once

// The found-file node of one catalog folder or file record. Every reader of
// catalog records (the catalog walk and its live-file twin, the advanced
// scan's fragment search, the deleted-file scan's journal pass) makes its
// nodes here, so an entry looks the same whichever of them found it. What a
// reader accepts, where it puts the node and what it counts stay its own:
// the node comes back zeroed but for the record's fields, unplaced and
// uncounted.

#include "formats/HFSPlusStructures.h"

#include <cstdint>
#include <string_view>

class Volume;
struct NewDir;

class CatalogEntryNode {
public:
    // A folder: its ID, parent, dates and name, and the sector its volume's
    // allocation blocks start at.
    static NewDir* folder(Volume& volume, std::uint32_t parentID, std::u16string_view name,
                          const HFSPlusCatalogFolder_& record);
    // A file as a folder, with the data fork's size, the volume's sectors per
    // block and the data fork's extents as the record lists them, in order
    // up to the first that starts at block 0. The caller has made sure the
    // volume's geometry fits a found file (HFSPlusVolume::filesRepresentable).
    static NewDir* file(Volume& volume, std::uint32_t parentID, std::u16string_view name,
                        const HFSPlusCatalogFile_& record);
    // A file node made from a record whose resource fork lay in sectors that
    // could not be read: what the fork held is lost, so the file is marked
    // damaged ("Bad"), as a file with sectors that could not be read is, and
    // the log says so.
    static void markResourceForkLost(const Volume& volume, NewDir& file);
    // The allocation blocks a file node's extents cover.
    static std::uint64_t coveredBlocks(const NewDir& file);
};
