#pragma once

// File-system recovery of an APFS container. Checkpoints, object maps and
// tree roots are not followed: every block of the range is read in physical
// order and each one that is a node of a file-system tree gives its inode
// and file-extent records. Stale copies of nodes that earlier transactions
// left behind are read like live ones, so files deleted since come back with
// the rest. The tables gathered go to APFSTree, which builds the found-file
// tree from them.
//
// The container is read in whole 4096-byte blocks, in sectors of the device
// from the volume's start sector, on devices of 512- to 4096-byte sectors.

#include "fs/apfs/APFSTree.h"
#include "fs/apfs/Item.h"
#include "platform/ByteView.h"

#include <chrono>
#include <cstdint>
#include <vector>

class Volume;
struct NodeEntry;

class APFSFileSystem {
public:
    explicit APFSFileSystem(Volume& volume) noexcept;

    // The scan of a volume that has a drive of its own (mounted) and of one
    // found on a disk. Both read the same whole blocks; false only when the
    // device's sectors cannot make up a block.
    bool startAPFSFileSystemRecovery();
    bool startAPFSFileSystemRecoveryVolumeRecovery();

    // The quick test on a raw block: a B-tree node object (type 2 or 3) of a
    // file-system tree (subtype 14).
    static bool magicFunctionFSTree(platform::ByteView block);
    // The records of one block, added to the tables when it is a node of a
    // file-system tree other than a root index node.
    void collectBlock(platform::ByteView block);

    const APFSTree::Items& items() const { return items_; }
    const APFSTree::Extents& extents() const { return extents_; }

private:
    bool scanBlocks();
    // `count` blocks from block `first` of the range into `into`.
    bool readBlocks(std::uint64_t first, std::uint64_t count, std::uint8_t* into);
    // Takes what it keeps out of the entry.
    void collectEntry(NodeEntry& entry);
    void progressStep(std::uint64_t done, std::uint64_t count);

    Volume& volume_;
    APFSTree::Items items_;
    APFSTree::Extents extents_;
    // The inode met last: extents that follow it under its id take its name.
    Item current_;
    std::chrono::steady_clock::time_point start_;
};
