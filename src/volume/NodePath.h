#pragma once

// The path of a found-file node. Readers give a folder the path of its parent
// folder, "/", and that folder's name; stored whole, a chain of nested folders
// would cost the square of its depth (70,000 levels need gigabytes). So such
// a path is kept as a link to the parent's path plus the parent's name as it
// was then, and the text is put together when asked. Parts are shared and
// never change once made: renaming a folder later, or giving it another path,
// leaves the paths taken from it as they were. A path given whole is one part.
//
// The parts are counted references without a lock: like the rest of the
// tree, a path is touched by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

class NodePath {
public:
    // What the node's pathLength holds.
    static constexpr std::size_t kMaxUnits = 0xFFFF;

    NodePath() noexcept = default;
    ~NodePath() { clear(); }
    NodePath(NodePath&& other) noexcept : part_(std::exchange(other.part_, nullptr)) {}
    NodePath& operator=(NodePath&& other) noexcept {
        if (this != &other) {
            clear();
            part_ = std::exchange(other.part_, nullptr);
        }
        return *this;
    }
    NodePath(const NodePath&) = delete;
    NodePath& operator=(const NodePath&) = delete;

    // The caller keeps the resulting length within kMaxUnits.
    void assign(std::u16string_view text);
    // folderPath + "/" + folderName, folderPath being the path of that
    // folder (this path itself too).
    void assignBelow(const NodePath& folderPath, std::u16string_view folderName);
    static std::size_t lengthBelow(const NodePath& folderPath, std::u16string_view folderName) {
        return folderPath.size() + 1 + folderName.size();
    }
    // Whether this path is the one assignBelow(folderPath, folderName) makes,
    // to be shared rather than made again.
    bool isBelow(const NodePath& folderPath, std::u16string_view folderName) const noexcept;
    // The same text as `other`, sharing its parts (which never change).
    void share(const NodePath& other) noexcept;
    void clear() noexcept;

    std::size_t size() const noexcept;
    bool empty() const noexcept { return !part_; }
    std::u16string text() const;

private:
    struct Part;
    static Part* makePart(Part* before, std::u16string_view first, std::u16string_view second);

    Part* part_ = nullptr;
};
