#pragma once

// Where the records of a catalog leaf node lie, for the searches that take
// records from nodes met anywhere (the advanced scan's fragment search, the
// deleted-file scan's journal pass), in a node read from a medium that may
// have failed some of its sectors. A sector that could not be read holds
// zeros, and zeros are no structure: which of the node's sectors those are
// is known, a record that meets one is passed over and counted, never taken,
// and the records around it are still found.
//
// The records are found by the offset table at the node's end when the
// table's sector was read; otherwise one after another from the first, each
// one's length told by its key and its record type, as far as the first
// record whose key or type could not be read. How many there are is the
// descriptor's to say when its sector was read. A node whose descriptor could
// not be read is judged by its offset table alone (offsets rising from the
// first record's, the last of them the free space's, none reaching into the
// table) and by its records: each must end where the next begins, as every
// leaf record does and no index record (a key and a 4-byte node number)
// could.
//
// A file record that meets a lost sector only with its resource fork is the
// exception: what a file is and where its data lies come before that fork,
// so the readers take such a file with its data fork and mark it.
//
// Offsets, keys and lengths come from the medium: every one is bounded by the
// node before it is used.

#include "formats/HFSPlusStructures.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "platform/ByteView.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class Volume;

class LeafNodeRecords {
public:
    // One record: where it begins in the node, and where its bytes must end
    // by (at or before): the last byte in front of the offset table, or where
    // the next record begins in a node judged without its descriptor.
    struct Record {
        std::size_t offset = 0;
        std::size_t limit = 0;
    };

    // `unreadable` holds one flag per `bytesPerSector` bytes of the node, set
    // where the sector could not be read (and the node holds zeros there).
    LeafNodeRecords(platform::ByteView node, std::uint32_t bytesPerSector, std::vector<bool> unreadable);

    // The descriptor of a catalog leaf the searches take: height 1, kind
    // leaf, 1 to 254 records, nothing in the reserved field.
    static bool isLeafDescriptor(const BTNodeDescriptor_& descriptor);
    // Which of `count` sectors from `first` the volume's readers could not
    // read.
    static std::vector<bool> unreadableSectors(const Volume& volume, std::uint64_t first, std::uint64_t count);
    // Reads `count` sectors from `sector`, keeping what could be read:
    // `unreadable` flags the sectors that could not (zeros in the buffer),
    // every one of them when the read failed without telling which. False,
    // the buffer zeroed and every sector flagged, when the sectors are not
    // wholly inside the volume, or begin at sector 0, where a node that has
    // none would be; both empty when they are more than one read takes.
    static bool read(HFSPlusReaderState& state, std::uint64_t sector, std::uint64_t count,
                     std::vector<std::uint8_t>& buffer, std::vector<bool>& unreadable);

    // Whether the node may be a catalog leaf, as far as it could be read.
    bool isLeaf() const { return leaf_; }
    // The records found, in the node's order; none when it is no leaf.
    const std::vector<Record>& records() const { return records_; }
    // Whether every byte of [from, to) lies inside the node and was read.
    bool readable(std::size_t from, std::size_t to) const;
    // How much of the folder or file record of type `type` whose data begins
    // at `data` was read, as far as it lies inside the node: all of it; all
    // but a file's resource fork, which leaves the file its name, ID, dates
    // and data fork; or less than the record needs to be taken.
    enum class DataRead { Whole, WithoutResourceFork, Short };
    DataRead dataRead(std::size_t data, std::int16_t type) const;
    // A record that meets an unreadable sector, passed over by the reader.
    void passOver() { ++passedOver_; }
    // The records lost to unreadable sectors: those passed over, and those
    // the walk could not reach.
    std::uint32_t lost() const;

private:
    void fromTable(std::size_t tableStart);
    void walk(std::size_t tableStart);
    void fromTableAlone();

    platform::ByteView node_;
    std::uint32_t bytesPerSector_ = 0;
    std::vector<bool> unreadable_;
    bool leaf_ = false;
    std::uint32_t count_ = 0;
    std::uint32_t passedOver_ = 0;
    bool walked_ = false;
    std::vector<Record> records_;
};
