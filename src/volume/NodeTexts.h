#pragma once

// The name, the extension and the path of a found-file node, in one block of
// the node pool: the node holds a single pointer (null while all three are
// empty). Most nodes carry a name only, so the block leads with the lengths
// and has room for a path only once the node has one. Replacing one text
// keeps the other two. The caller keeps to the lengths the node's fields
// hold: 65,535 units for the name and the path, 255 for the extension.

#include "volume/NodePath.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

class NodeTexts {
public:
    NodeTexts() noexcept = default;
    ~NodeTexts() { release(); }
    NodeTexts(NodeTexts&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    NodeTexts& operator=(NodeTexts&& other) noexcept {
        if (this != &other) {
            release();
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }
    NodeTexts(const NodeTexts&) = delete;
    NodeTexts& operator=(const NodeTexts&) = delete;

    std::u16string_view name() const noexcept;
    std::u16string_view extension() const noexcept;
    const NodePath& path() const noexcept;

    // Any text given may be one of this node's own.
    void setName(std::u16string_view name);
    void setExtension(std::u16string_view extension);
    void setPath(std::u16string_view path);
    // folderPath + "/" + folderName (NodePath::assignBelow); shared with
    // `sibling` (say another child of that folder) when that is its path.
    void setPathBelow(const NodePath& folderPath, std::u16string_view folderName, const NodePath* sibling = nullptr);

private:
    struct Head {
        std::uint16_t nameUnits;
        std::uint8_t extensionUnits;
        std::uint8_t hasPath;
    };
    static constexpr std::size_t kPathOffset = 8;
    static_assert(sizeof(Head) <= kPathOffset);

    static std::size_t textOffset(bool hasPath) noexcept {
        return hasPath ? kPathOffset + sizeof(NodePath) : sizeof(Head);
    }
    static std::size_t bytesFor(const Head& h) noexcept {
        return textOffset(h.hasPath) + (std::size_t{h.nameUnits} + h.extensionUnits) * sizeof(char16_t);
    }
    const char16_t* text() const noexcept;
    NodePath* pathSlot() const noexcept;
    // A new block with these texts; the path, when kept, moves over.
    void rebuild(std::u16string_view name, std::u16string_view extension, bool withPath);
    void release() noexcept;

    Head* block_ = nullptr;
};
