#pragma once

// One node of the found-file tree. Every folder and file a scan finds, by any
// method, becomes a NewDir owned by its parent folder through the child list;
// the root is owned by the volume. The record keeps the designed fields and
// widths (they are what session and snapshot files store). A scan makes
// millions of them, so each is one fixed block of the node pool, and its
// lists, names and path are single pointers to blocks of their own: appends
// are amortised constant time and keep the order in which the scan found the
// entries, and a path shares what it has in common with its folder's.

#include "volume/NodeArray.h"
#include "volume/NodeInlineArray.h"
#include "volume/NodeTexts.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

class BTreeTableClass;

// One data extent: allocation blocks counted from the node's
// dataStartSector in units of sectorsPerBlock sectors.
struct ExtP {
    std::uint32_t startBlock = 0;
    std::uint32_t blockCount = 0;
};

// A group of extents that continues a file at a later file position
// (groupStartBlock = file blocks that precede the group).
struct ExtCompP {
    std::uint32_t groupStartBlock = 0;
    std::vector<ExtP> extents;
    std::uint32_t cellCount() const { return static_cast<std::uint32_t>(extents.size()); }
};

struct NewDir;
using NodeList = NodeArray<NewDir*, true>;

struct NewDir {
    enum : std::uint16_t { Folder = 1, File = 2 };

    // From the node pool; `delete` gives a node back there.
    static void* operator new(std::size_t bytes) { return NodePool::shared().allocate(bytes); }
    static void operator delete(void* node, std::size_t bytes) noexcept { NodePool::shared().release(node, bytes); }

    // The outline item that currently shows the node; not owned.
    void* viewHelper = nullptr;
    // File: size in bytes. Folder: total of the files below it.
    std::uint64_t fileSize = 0;
    // HFS+ seconds since 1904, or DOS date and time when isFATEntry is 1.
    std::uint32_t createDate = 0;
    std::uint32_t modDate = 0;
    std::uint32_t parentID = 0;
    std::uint32_t fileID = 0;
    // Indexes that children appended with indexing go into; not owned.
    BTreeTableClass* childIndex = nullptr;
    BTreeTableClass* advScanIndex = nullptr;
    std::uint32_t fileCount = 0;
    std::uint32_t childrenCount = 0;
    // The child list owns its nodes; the deleted-child list names nodes that
    // are also in the child list and owns none.
    NodeList childList;
    NodeList deletedList;
    // Direct arrays of both lists, built once a scan completes (empty
    // before); the result screens index these.
    NodeList childrenDirect;
    NodeList deletedChildrenDirect;
    // Sector, relative to the volume start, that block 0 of the extents is at.
    std::uint32_t dataStartSector = 0;
    // Byte offset of the data inside its first sector (a JPEG inside a RAW).
    std::uint32_t firstSectorOffset = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t pathLength = 0;
    std::uint16_t repeatCount = 0;
    std::uint16_t fileType = 0;
    NewDir* pndirPointer = nullptr;
    // Extension length in UTF-16 units; the outline also stores here the
    // length of the name's last dot-separated part.
    std::uint8_t extensionLength = 0;
    std::uint8_t deletedViewActive = 0;
    std::uint8_t sectorsPerBlock = 0;
    std::uint8_t selected = 0;
    std::uint8_t isFATEntry = 0;
    // 0: not examined; 1: the extents hold the whole file; kDamaged ("Bad"):
    // they do not, or a part of the file could not be read.
    std::uint8_t complete = 0;
    static constexpr std::uint8_t kDamaged = 2;
    std::uint8_t deleted = 0;
    // 1 for nodes made by the signature search and the carving (and the
    // root of a whole-disk search).
    std::uint8_t foundBySignature = 0;
    NodeInlineArray<ExtP> extents;
    NodeArray<ExtCompP> extentGroups;
    // The name (nameBuffer), the path (pathBuffer) and the extension
    // (extensionBuffer); their lengths are the fields above.
    NodeTexts texts;

    std::uint32_t childrenArrayCount() const { return static_cast<std::uint32_t>(childList.size()); }
    std::uint32_t deletedCount() const { return static_cast<std::uint32_t>(deletedList.size()); }
    std::uint32_t extentCount() const { return static_cast<std::uint32_t>(extents.size()); }
    std::uint32_t extentGroupCount() const { return static_cast<std::uint32_t>(extentGroups.size()); }
    bool isFolder() const { return fileType == Folder; }
};

// Record-level operations the tree operations of the volume and of the
// result screens are built from. None of them touches counters of ancestors.
namespace newdir {

// A new zeroed node (the caller owns it until it is attached).
NewDir* allocate();

// Frees the node and its whole subtree: each node reachable through child
// lists exactly once (deleted-child lists own nothing), without recursion so
// that a hostile medium's deep folder chain cannot exhaust the stack.
void freeNDir(NewDir* node);

void appendChild(NewDir* folder, NewDir* child);
void appendDeletedChild(NewDir* folder, NewDir* child);
// Unlinks the child at that position of the child list and frees its
// subtree; an index not below the count changes nothing. The deleted-child
// list is not touched.
void removeChildAtIndex(NewDir* folder, std::uint32_t index);
// The child at that position, or nullptr past the end.
NewDir* childAtIndex(const NewDir* folder, std::uint32_t index);
// The child at that position in the order the result screens show: from the
// direct array, or from the list where the array was never built or has
// fallen behind it; nullptr past the end.
NewDir* shownChildAtIndex(const NewDir* folder, std::uint32_t index);
NewDir* deletedChildAtIndex(const NewDir* folder, std::uint32_t index);
// Exchanges the child list and the deleted-child list (and their direct
// arrays), for the deleted-files view.
void swapChildLists(NewDir* folder);

// The record stores 32-bit block numbers: a value that does not fit is
// refused with a log line instead of being truncated. True when appended.
bool appendDataExtent(NewDir* node, std::uint64_t startBlock, std::uint64_t blockCount);
void appendExtentGroup(NewDir* node, ExtCompP group);
bool appendExtentToGroup(ExtCompP& group, std::uint64_t startBlock, std::uint64_t blockCount);
// Refuses, with a log line, a block of more than 255 sectors.
bool setSectorsPerBlock(NewDir* node, std::uint64_t sectors);
// dataStartSector is 32 bits wide; refuses what does not fit.
bool setDataStartSector(NewDir* node, std::uint64_t sector);
// Whether data that begin firstSectorOffset bytes into the extents (blocks
// of unitBytes each) begin inside them. The offset may come from a session
// file: one at or past the extents' end leaves the file no bytes, rather
// than sending a reader beyond the extents to find them.
bool dataBeginsInExtents(std::span<const ExtP> extents, std::uint64_t unitBytes, std::uint32_t firstSectorOffset);

// Names, paths and extensions: the units up to the first NUL. An empty
// result leaves the length 0. A string longer than its length field can
// hold is refused with a log line (false).
bool setFileName(NewDir* node, std::u16string_view name);
bool setPathName(NewDir* node, std::u16string_view path);
// The path of an entry of the folder: the folder's path, "/" and its name,
// as they are now (a later change of the folder's name or path leaves it).
// Refused as setPathName refuses a path that long.
bool setPathBelow(NewDir* node, const NewDir* folder);
bool setExtension(NewDir* node, std::u16string_view extension);
std::u16string fileName(const NewDir* node);
std::u16string pathName(const NewDir* node);
std::u16string extension(const NewDir* node);
// The name an entry placed in the folder takes so that it does not repeat
// a child's name: the k-th later entry named as a child gets k underscores
// before its extension. The child counts the repeat.
std::u16string suggestedRepeatFileName(std::u16string_view name, NewDir* parent);

// Builds the direct arrays of the folder and of every folder below it.
void fillChildrenDirectArrays(NewDir* folder);

// UTF-8 <-> UTF-16 at the edges (names are shown and written as UTF-8).
std::u16string utf16(std::string_view utf8);
std::string utf8(std::u16string_view utf16);

// Applies fn to the node and to every folder above it along the parent
// links, up to the root. The links come from the readers; a damaged medium
// could close them into a ring, so the walk stops when it comes back to a
// node it has been at (Brent's checkpoints: no memory, at most about twice
// the ring's length of extra steps). False when it met a ring; the caller
// says in the log what that leaves undone.
template <class Fn> bool forEachAncestor(NewDir* from, Fn&& fn) {
    NewDir* checkpoint = nullptr;
    std::size_t steps = 0;
    std::size_t limit = 1;
    for (NewDir* cur = from; cur;) {
        fn(cur);
        cur = cur->pndirPointer;
        if (cur && cur == checkpoint) return false;
        if (++steps == limit) {
            checkpoint = cur;
            limit *= 2;
            steps = 0;
        }
    }
    return true;
}

// Walks of the tree. A hostile medium can nest folders 200,000 deep, so they
// keep an explicit list instead of recursing. Every walk says which list it
// goes along (list(node): anything with size() and [i], such as childList)
// and which children it enters (follow(child); null entries never are).
// The list is read, and follow asked, right after the node's visit, so a
// visit may rework the node's own list first. Children are visited in list
// order, each subtree whole before the next sibling.

// What a visit answers; a visit that answers nothing goes Into.
enum class Walk {
    Into, // on to the nodes below
    Skip, // nothing below this node
    Stop, // the walk ends here
};

inline constexpr auto childList = [](const NewDir* n) -> const NodeList& { return n->childList; };
inline constexpr auto anyChild = [](const NewDir*) { return true; };
inline constexpr auto folderChild = [](const NewDir* c) { return c->isFolder(); };

namespace detail {
template <class Fn, class Node> Walk answer(Fn& fn, Node* n) {
    if constexpr (std::is_void_v<std::invoke_result_t<Fn&, Node*>>) {
        fn(n);
        return Walk::Into;
    } else {
        return fn(n);
    }
}

template <class Node> Node* takeLast(std::vector<Node*>& pending) {
    if (pending.empty()) return nullptr;
    Node* n = pending.back();
    pending.pop_back();
    return n;
}

// Pushed last to first, so the first child comes off the list first.
template <class Entry, class Node, class List, class Follow>
void pushChildren(std::vector<Entry>& pending, Node* n, List& list, Follow& follow) {
    auto&& children = list(n);
    for (auto i = children.size(); i-- > 0;)
        if (Node* c = children[i]; c && follow(c)) pending.push_back(Entry{c});
}
} // namespace detail

// visit(node) for `from` and the nodes below it, each before its children.
// False when a visit stopped the walk. (A walk from a leaf allocates
// nothing: the result screens start one per child of a folder.)
template <class Node, class List, class Follow, class Visit>
bool preOrder(Node* from, List&& list, Follow&& follow, Visit&& visit) {
    std::vector<Node*> pending;
    for (Node* n = from; n; n = detail::takeLast(pending)) {
        const Walk w = detail::answer(visit, n);
        if (w == Walk::Stop) return false;
        if (w == Walk::Into) detail::pushChildren(pending, n, list, follow);
    }
    return true;
}

// enter(node) on the way down, as preOrder's visit, and leave(node) once
// everything below it is done. Every enter that does not stop the walk gets
// its leave (after Skip too), so the two nest like brackets and a pass can
// keep a stack of its own for the folders it is in. False when an enter
// stopped the walk; no leave follows then.
template <class Node, class List, class Follow, class Enter, class Leave>
bool postOrder(Node* from, List&& list, Follow&& follow, Enter&& enter, Leave&& leave) {
    struct Step {
        Node* node;
        bool leaving = false;
    };
    std::vector<Step> pending;
    if (from) pending.push_back(Step{from});
    while (!pending.empty()) {
        const Step step = pending.back();
        pending.pop_back();
        if (step.leaving) {
            leave(step.node);
            continue;
        }
        const Walk w = detail::answer(enter, step.node);
        if (w == Walk::Stop) return false;
        pending.push_back(Step{step.node, true});
        if (w == Walk::Into) detail::pushChildren(pending, step.node, list, follow);
    }
    return true;
}

} // namespace newdir
