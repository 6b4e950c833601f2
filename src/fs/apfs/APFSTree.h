#pragma once

// The second half of the APFS recovery: every inode the block scan gathered
// becomes a node of the found-file tree below its parent folder, the parent
// built first when it is known but not yet built; an inode whose parent is
// known nowhere, or whose parent chain comes back to itself, goes to "Lost
// Files". Files get their extents as sectors of the device being read
// (sectorsPerBlock 1, counted from sector 0), which is how the preview and
// the save read every APFS extent.

#include "fs/apfs/Item.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

class Volume;
struct NewDir;

class APFSTree {
public:
    // A file-extent record.
    struct Extent {
        std::uint64_t start = 0;  // first block of the container
        std::uint64_t length = 0; // bytes
        std::uint64_t offset = 0; // in the file
        std::string name;         // the inode's met just before, or ""
    };
    // The extents of one private id, by offset. A copy of an extent already
    // held (same start, offset and length) is dropped, and so is one at an
    // offset whose low 32 bits are 0 that bears a name already held.
    class ExtentList {
    public:
        bool add(Extent extent);
        const std::vector<Extent>& byOffset() const { return extents_; }

    private:
        std::vector<Extent> extents_;
        std::set<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> seen_;
        std::set<std::string> names_;
    };
    // Inodes by the low 32 bits of their id (ascending: the building order),
    // extents by the low 32 bits of their owner's private id.
    using Items = std::map<std::uint32_t, Item>;
    using Extents = std::unordered_map<std::uint32_t, ExtentList>;

    explicit APFSTree(Volume& volume) noexcept;

    // Builds every item but the volume's root folder (2) and private folder
    // (3) below `parent` (the tree root), with its own progress. Always true.
    bool enumerateDirectoryEntryApfsItemsDict(const Items& items, const Extents& extents, bool rootDirectory,
                                              NewDir* parent);

private:
    // Builds the item and whatever of its parent chain is not built yet.
    void ApfsTreeItem(const Item& item, const Items& items, NewDir* root, const Extents& extents);
    NewDir* buildOne(const Item& item, NewDir* parent, NewDir* root, const Extents& extents);
    NewDir* lostFiles(NewDir* root);

    Volume& volume_;
    // The node built for each item id.
    std::unordered_map<std::uint32_t, NewDir*> built_;
};
