#pragma once

// Lists of catalog leaf nodes for the catalog readers, for when the leaf
// chain cannot be trusted. Three ways, each costlier than the one before:
// descend the catalog B-tree to the index level just above the leaves and
// take that level's child pointers; search the catalog file node by node for
// one node of that level and walk the level from it; search the catalog file
// node by node for everything that looks like a leaf. The first two fill
// leafNodePointerArray, the third leafNodePointerTotalArray, and the flag
// level2IndexNodeHasProblems tells the scan thread which of them to run.
//
// Nodes come from the medium: each is read into a zeroed buffer, a node that
// cannot be read fails its test, record offsets and child pointers are only
// taken from inside the node, and every walk along sibling links keeps the
// nodes it has met, so a cycle of links ends it.

#include "formats/HFSPlusStructures.h"
#include "hfsplus/HFSPlusReaderState.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class Volume;

class CatalogNodeSearch {
public:
    explicit CatalogNodeSearch(HFSPlusReaderState& state) noexcept : volume_(state.volume), state_(state) {}

    // Runs one step of the search; the scan thread wraps each step in a
    // keep-awake phase, everyone else just calls it.
    using StepRunner = std::function<void(const std::function<void()>& step)>;

    // The leaf lists every catalog walk starts from, once the headers have
    // been checked: the descent when the tree has index levels, the search
    // for the level above the leaves when the descent gave nothing or failed,
    // and the search for leaves themselves when that failed too. Each step
    // that runs goes through runStep when there is one.
    void findCatalogLeafNodes(const StepRunner& runStep = {});

    // Descent from the root through the leftmost children to the level
    // above the leaves, then along that level: leafNodePointerArray gets
    // every child pointer in key order. Sets the flag when a node fails.
    void enumerateLevel2IndexNodes();
    // Searches the catalog file for a node of the level above the leaves
    // that has a sibling, walks back to the level's first node and then
    // forward, appending the child pointers. Sets the flag on failure.
    void searchForLevel2IndexNodes();
    // Searches the catalog file for every node that passes the leaf test;
    // leafNodePointerTotalArray gets their numbers in file order.
    void searchForLeafNodes();

    // Leaf test on a descriptor alone: height 1 and kind leaf.
    static bool verifyLeafNodeDesc(const BTNodeDescriptor_& descriptor);
    // Index node of the given level: that height, kind index, records, and
    // record 0 right behind the descriptor.
    static bool isIndexNode(platform::ByteView node, std::uint32_t level);
    // Leaf node: height 1, kind leaf, records, record 0 behind the descriptor.
    static bool isLeafNode(platform::ByteView node);
    // The child node numbers of every record of an index node, in record
    // order; nothing when a record's key or pointer is not inside the node.
    static std::optional<std::vector<std::uint32_t>> childPointers(platform::ByteView node);

private:
    bool readCatalogNode(std::uint32_t node);
    // Walks the level above the leaves forward from `first`, appending child
    // pointers to leafNodePointerArray; a failing node (or a link back to a
    // node already walked) sets the flag, a stop request ends it quietly.
    void walkLevel2Forward(std::uint32_t first);
    // The node-by-node search of the catalog file. `visit` gets the
    // node number (its position in file order across the extents) with the
    // node in the buffer, and answers true to end the search.
    template <class Visit> void sweepCatalogFile(Visit&& visit);
    void postSearchOpening(std::uint64_t totalNodes);
    std::uint64_t catalogFileNodes() const;

    Volume& volume_;
    HFSPlusReaderState& state_;
    std::vector<std::uint8_t> buffer_;
};
