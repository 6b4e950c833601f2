#include "volume/NodeTexts.h"

#include "volume/NodePool.h"

#include <cstring>
#include <new>

namespace {
const NodePath kNoPath;
} // namespace

const char16_t* NodeTexts::text() const noexcept {
    return reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(block_) + textOffset(block_->hasPath));
}

NodePath* NodeTexts::pathSlot() const noexcept {
    if (!block_ || !block_->hasPath) return nullptr;
    return std::launder(reinterpret_cast<NodePath*>(reinterpret_cast<char*>(block_) + kPathOffset));
}

std::u16string_view NodeTexts::name() const noexcept {
    return block_ ? std::u16string_view(text(), block_->nameUnits) : std::u16string_view();
}

std::u16string_view NodeTexts::extension() const noexcept {
    return block_ ? std::u16string_view(text() + block_->nameUnits, block_->extensionUnits) : std::u16string_view();
}

const NodePath& NodeTexts::path() const noexcept {
    const NodePath* p = pathSlot();
    return p ? *p : kNoPath;
}

void NodeTexts::rebuild(std::u16string_view name, std::u16string_view extension, bool withPath) {
    Head* made = nullptr;
    if (!name.empty() || !extension.empty() || withPath) {
        const Head head{static_cast<std::uint16_t>(name.size()), static_cast<std::uint8_t>(extension.size()),
                        static_cast<std::uint8_t>(withPath)};
        made = static_cast<Head*>(NodePool::shared().allocate(bytesFor(head)));
        *made = head;
        auto* out = reinterpret_cast<char16_t*>(reinterpret_cast<char*>(made) + textOffset(withPath));
        if (!name.empty()) std::memcpy(out, name.data(), name.size() * sizeof(char16_t));
        if (!extension.empty()) std::memcpy(out + name.size(), extension.data(), extension.size() * sizeof(char16_t));
        if (withPath) {
            auto* slot = new (reinterpret_cast<char*>(made) + kPathOffset) NodePath();
            if (NodePath* old = pathSlot()) *slot = std::move(*old);
        }
    }
    release();
    block_ = made;
}

void NodeTexts::release() noexcept {
    if (!block_) return;
    if (NodePath* p = pathSlot()) p->~NodePath();
    NodePool::shared().release(block_, bytesFor(*block_));
    block_ = nullptr;
}

void NodeTexts::setName(std::u16string_view name) {
    rebuild(name, extension(), pathSlot() != nullptr);
}

void NodeTexts::setExtension(std::u16string_view extension) {
    rebuild(name(), extension, pathSlot() != nullptr);
}

void NodeTexts::setPath(std::u16string_view path) {
    // Made first: the text may lie in this block.
    NodePath made;
    made.assign(path);
    if (made.empty()) {
        if (pathSlot()) rebuild(name(), extension(), false);
        return;
    }
    if (!pathSlot()) rebuild(name(), extension(), true);
    *pathSlot() = std::move(made);
}

void NodeTexts::setPathBelow(const NodePath& folderPath, std::u16string_view folderName, const NodePath* sibling) {
    NodePath made;
    if (sibling && sibling->isBelow(folderPath, folderName))
        made.share(*sibling);
    else
        made.assignBelow(folderPath, folderName);
    if (!pathSlot()) rebuild(name(), extension(), true);
    *pathSlot() = std::move(made);
}
