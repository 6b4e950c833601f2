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
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
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
        // Most files have an extent or two, which are compared one by one;
        // a list that grows past this keeps sets of what it holds instead.
        static constexpr std::size_t kCompareOneByOne = 16;
        bool holds(const Extent& extent) const;

        std::vector<Extent> extents_;
        struct Held {
            std::set<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>> extents;
            std::set<std::string> names;
        };
        // Only for a long list.
        std::unique_ptr<Held> held_;
    };
    // Inodes by the low 32 bits of their id (built in ascending order),
    // extents by the low 32 bits of their owner's private id.
    using Items = std::unordered_map<std::uint32_t, Item>;
    using Extents = std::unordered_map<std::uint32_t, ExtentList>;

    explicit APFSTree(Volume& volume) noexcept;

    // Builds every item but the volume's root folder (2) and private folder
    // (3) below `parent` (the tree root), with its own progress. Always true.
    bool enumerateDirectoryEntryApfsItemsDict(const Items& items, const Extents& extents, bool rootDirectory,
                                              NewDir* parent);

private:
    // Builds the item (its place in sorted_) and whatever of its parent chain
    // is not built yet.
    void ApfsTreeItem(std::size_t item, NewDir* root, const Extents& extents);
    NewDir* buildOne(const Item& item, NewDir* parent, NewDir* root, const Extents& extents);
    NewDir* lostFiles(NewDir* root);
    // The place of an id in ids_, or ids_.size().
    std::size_t indexOf(std::uint32_t id) const;

    Volume& volume_;
    // The items by ascending id, and the node built for each (null until it
    // is built).
    std::vector<std::uint32_t> ids_;
    std::vector<const Item*> sorted_;
    std::vector<NewDir*> built_;
    // The parent chain in hand (places in sorted_), kept from item to item.
    std::vector<std::size_t> chain_;
    std::unordered_set<std::size_t> onChain_;
};
