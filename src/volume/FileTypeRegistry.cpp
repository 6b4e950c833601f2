#include "volume/FileTypeRegistry.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

using Kind = FileTypeRegistry::Kind;
using Entry = FileTypeRegistry::Entry;

// Media: the types the photo and file carving finds (and layout documents,
// which the photo scans keep). The rest are the common movie and sound types
// the preview can play.
constexpr Entry kEntries[] = {
    // Pictures and camera raw.
    {"bmp", Kind::Picture, true},
    {"jpg", Kind::Picture, true},
    {"jpeg", Kind::Picture, true},
    {"gif", Kind::Picture, true},
    {"png", Kind::Picture, true},
    {"tif", Kind::Picture, true},
    {"tiff", Kind::Picture, true},
    {"psd", Kind::Picture, true},
    {"arw", Kind::Picture, true},
    {"sr2", Kind::Picture, true},
    {"kdc", Kind::Picture, true},
    {"k25", Kind::Picture, true},
    {"dcr", Kind::Picture, true},
    {"pef", Kind::Picture, true},
    {"dng", Kind::Picture, true},
    {"cr2", Kind::Picture, true},
    {"nef", Kind::Picture, true},
    {"orf", Kind::Picture, true},
    {"raw", Kind::Picture, true},
    {"3fr", Kind::Picture, true},
    {"crw", Kind::Picture, true},
    {"raf", Kind::Picture, true},
    {"mrw", Kind::Picture, true},
    {"x3f", Kind::Picture, true},
    {"indd", Kind::Picture, true},
    {"indt", Kind::Picture, true},
    {"indb", Kind::Picture, true},
    // A transport stream is kept, but the preview does not play it.
    {"mts", Kind::Other, true},
    // Movies.
    {"mov", Kind::Movie, true},
    {"mp4", Kind::Movie, true},
    {"m4v", Kind::Movie, true},
    {"3gp", Kind::Movie, true},
    {"3g2", Kind::Movie, true},
    {"avi", Kind::Movie, true},
    {"mpg", Kind::Movie, true},
    {"mpeg", Kind::Movie, true},
    {"rm", Kind::Movie, true},
    {"qt", Kind::Movie, false},
    {"3gpp", Kind::Movie, false},
    {"3gp2", Kind::Movie, false},
    {"m1v", Kind::Movie, false},
    {"m2v", Kind::Movie, false},
    {"mpe", Kind::Movie, false},
    {"vob", Kind::Movie, false},
    {"dv", Kind::Movie, false},
    {"dif", Kind::Movie, false},
    {"ram", Kind::Movie, false},
    {"ogv", Kind::Movie, false},
    {"mkv", Kind::Movie, false},
    {"webm", Kind::Movie, false},
    {"wmv", Kind::Movie, false},
    {"asf", Kind::Movie, false},
    // Sound.
    {"mp3", Kind::Sound, true},
    {"m4a", Kind::Sound, true},
    {"m4b", Kind::Sound, true},
    {"wav", Kind::Sound, true},
    {"aif", Kind::Sound, true},
    {"aiff", Kind::Sound, true},
    {"amr", Kind::Sound, true},
    {"mid", Kind::Sound, true},
    {"ra", Kind::Sound, true},
    {"m4p", Kind::Sound, false},
    {"mp2", Kind::Sound, false},
    {"mpa", Kind::Sound, false},
    {"aac", Kind::Sound, false},
    {"adts", Kind::Sound, false},
    {"wave", Kind::Sound, false},
    {"aifc", Kind::Sound, false},
    {"caf", Kind::Sound, false},
    {"au", Kind::Sound, false},
    {"snd", Kind::Sound, false},
    {"midi", Kind::Sound, false},
    {"kar", Kind::Sound, false},
    {"smf", Kind::Sound, false},
    {"flac", Kind::Sound, false},
    {"ogg", Kind::Sound, false},
    {"oga", Kind::Sound, false},
    {"wma", Kind::Sound, false},
};

// Longest extension in the table; anything longer is no row.
constexpr std::size_t kLongest = 4;

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
    const auto it =
        std::find_if(std::begin(kEntries), std::end(kEntries), [&](const Entry& e) { return e.extension == key; });
    return it == std::end(kEntries) ? nullptr : it;
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
