#include "results/SaveFileName.h"

#include <vector>

namespace {

// An extension this short is kept when a long name is cut, so the saved
// file still opens with the right program.
constexpr std::size_t kKeptExtension = 32;

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The longest prefix of s of at most max bytes that ends on a character
// boundary.
std::string_view cutAtCharacter(std::string_view s, std::size_t max) {
    if (s.size() <= max) return s;
    std::size_t end = max;
    while (end > 0 && isContinuation(s[end]))
        --end;
    return s.substr(0, end);
}

// s without its last character.
std::string dropLastCharacter(const std::string& s) {
    if (s.empty()) return s;
    std::size_t end = s.size() - 1;
    while (end > 0 && isContinuation(s[end]))
        --end;
    return s.substr(0, end);
}

std::vector<std::string> splitAtDots(std::string_view name) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (;;) {
        const std::size_t dot = name.find('.', from);
        if (dot == std::string_view::npos) {
            parts.emplace_back(name.substr(from));
            return parts;
        }
        parts.emplace_back(name.substr(from, dot - from));
        from = dot + 1;
    }
}

std::string joinWithDots(const std::vector<std::string>& parts) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '.';
        out += parts[i];
    }
    return out;
}

} // namespace

std::string SaveFileName::displayName(std::string_view fileName, bool appendChildrenArrayCount,
                                      std::uint32_t childrenArrayCount, bool canSaveSlashes) {
    std::string name(fileName);
    if (appendChildrenArrayCount) name += " [" + std::to_string(childrenArrayCount) + "]";
    for (char& c : name)
        if (c == '/') c = canSaveSlashes ? ':' : '_';
    return safeComponent(name);
}

std::string SaveFileName::safeComponent(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\0') continue;
        out += c == '/' ? '_' : c;
    }
    if (out.empty()) return "Untitled";
    if (out == ".") return "_.";
    if (out == "..") return "_..";
    if (out.size() <= kNameMax) return out;

    const std::size_t dot = out.rfind('.');
    if (dot != std::string::npos && dot > 0 && out.size() - dot <= kKeptExtension) {
        const std::string extension = out.substr(dot);
        std::string stem(cutAtCharacter(std::string_view(out).substr(0, dot), kNameMax - extension.size()));
        if (!stem.empty()) return stem + extension;
    }
    std::string cut(cutAtCharacter(out, kNameMax));
    // Cutting can leave a name of dots only; it is still a name of its own.
    if (cut == "." || cut == "..") cut.insert(cut.begin(), '_');
    return cut;
}

bool SaveFileName::isSafeComponent(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > kNameMax) return false;
    for (char c : name)
        if (c == '/' || c == '\0') return false;
    return true;
}

std::string SaveFileName::collisionName(std::string_view name) {
    std::vector<std::string> parts = splitAtDots(name);
    const std::size_t k = parts.size() >= 2 ? parts.size() - 2 : 0;
    std::string underscores;
    std::string stem = parts[k];
    while (!stem.empty() && stem.back() == '_') {
        stem.pop_back();
        underscores += '_';
    }
    underscores += '_';
    for (;;) {
        parts[k] = stem + underscores;
        std::string candidate = joinWithDots(parts);
        if (candidate.size() <= kNameMax) return candidate;
        if (stem.empty()) return {};
        stem = dropLastCharacter(stem);
    }
}
