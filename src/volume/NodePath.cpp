#include "volume/NodePath.h"

#include "volume/NodePool.h"

#include <cstring>
#include <vector>

// The text of a path is the text of the part before it, then its own units.
struct NodePath::Part {
    Part* before;
    std::uint32_t refs;
    std::uint16_t length; // of the whole path up to here
    std::uint16_t units;  // its own, stored right after the part
    char16_t* text() { return reinterpret_cast<char16_t*>(this + 1); }
    const char16_t* text() const { return reinterpret_cast<const char16_t*>(this + 1); }
    static std::size_t bytesFor(std::size_t units) { return sizeof(Part) + units * sizeof(char16_t); }
};

NodePath::Part* NodePath::makePart(Part* before, std::u16string_view first, std::u16string_view second) {
    const std::size_t units = first.size() + second.size();
    auto* p = static_cast<Part*>(NodePool::shared().allocate(Part::bytesFor(units)));
    p->before = before;
    p->refs = 1;
    p->length = static_cast<std::uint16_t>((before ? before->length : 0) + units);
    p->units = static_cast<std::uint16_t>(units);
    if (!first.empty()) std::memcpy(p->text(), first.data(), first.size() * sizeof(char16_t));
    if (!second.empty()) std::memcpy(p->text() + first.size(), second.data(), second.size() * sizeof(char16_t));
    return p;
}

void NodePath::assign(std::u16string_view text) {
    Part* made = text.empty() ? nullptr : makePart(nullptr, text, {});
    clear();
    part_ = made;
}

void NodePath::assignBelow(const NodePath& folderPath, std::u16string_view folderName) {
    Part* before = folderPath.part_;
    Part* made = makePart(before, u"/", folderName);
    // Held before this path lets go of its own part, which may be that one.
    if (before) ++before->refs;
    clear();
    part_ = made;
}

bool NodePath::isBelow(const NodePath& folderPath, std::u16string_view folderName) const noexcept {
    const Part* p = part_;
    return p && p->before == folderPath.part_ && p->units == 1 + folderName.size() && p->text()[0] == u'/' &&
           std::u16string_view(p->text() + 1, folderName.size()) == folderName;
}

void NodePath::share(const NodePath& other) noexcept {
    Part* shared = other.part_;
    if (shared) ++shared->refs;
    clear();
    part_ = shared;
}

void NodePath::clear() noexcept {
    // Along the chain without recursion: it is as long as the folders are deep.
    for (Part* p = std::exchange(part_, nullptr); p && --p->refs == 0;) {
        Part* before = p->before;
        NodePool::shared().release(p, Part::bytesFor(p->units));
        p = before;
    }
}

std::size_t NodePath::size() const noexcept {
    return part_ ? part_->length : 0;
}

std::u16string NodePath::text() const {
    std::vector<const Part*> parts;
    for (const Part* p = part_; p; p = p->before)
        parts.push_back(p);
    std::u16string out;
    out.reserve(size());
    for (auto it = parts.rbegin(); it != parts.rend(); ++it)
        out.append((*it)->text(), (*it)->units);
    return out;
}
