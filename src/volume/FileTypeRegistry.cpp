#include "volume/FileTypeRegistry.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

using Entry = FileTypeRegistry::Entry;

// Longest extension the table may hold (the build refuses longer ones);
// anything longer is no row.
constexpr std::size_t kLongest = 8;

template <class Char> const Entry* findLowered(std::basic_string_view<Char> extension) {
    if (extension.empty() || extension.size() > kLongest) return nullptr;
    std::array<char, kLongest> lower{};
    for (std::size_t i = 0; i < extension.size(); ++i) {
        const auto u = static_cast<std::uint32_t>(extension[i]);
        if (u >= 0x80) return nullptr;
        const char c = static_cast<char>(u);
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    const std::string_view key(lower.data(), extension.size());
    const auto rows = FileTypeRegistry::entries();
    const auto it = std::find_if(rows.begin(), rows.end(), [&](const Entry& e) { return e.extension == key; });
    return it == rows.end() ? nullptr : &*it;
}

} // namespace

const Entry* FileTypeRegistry::find(std::u16string_view extension) {
    return findLowered(extension);
}

const Entry* FileTypeRegistry::find(std::string_view extension) {
    return findLowered(extension);
}

bool FileTypeRegistry::isMediaFile(std::u16string_view extension) {
    if (extension.size() < 2 || extension.size() > 4) return false;
    const Entry* e = find(extension);
    return e && e->media;
}

bool FileTypeRegistry::isMovieType(std::string_view extension) {
    const Entry* e = find(extension);
    return e && (e->kind == Kind::Movie || e->kind == Kind::Sound);
}

bool FileTypeRegistry::isSoundOnly(std::string_view extension) {
    const Entry* e = find(extension);
    return e && e->kind == Kind::Sound;
}
