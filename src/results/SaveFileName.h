#pragma once

// Names on the destination. A name that comes from the medium is whatever a
// damaged or hostile catalog says it is; before it touches the destination it
// becomes one safe path component: no "/", no NUL, never "", "." or "..",
// and short enough for the destination to take it.

#include <cstdint>
#include <string>
#include <string_view>

class SaveFileName {
public:
    // The longest component Linux file systems take, in bytes.
    static constexpr std::size_t kNameMax = 255;

    // The name a node gets on the destination: its shown name, with the
    // child count of an extension folder of the file-types view ("jpg [12]"),
    // every "/" replaced by ":" where the destination takes it and by "_"
    // where it does not, then made safe.
    static std::string displayName(std::string_view fileName, bool appendChildrenArrayCount,
                                   std::uint32_t childrenArrayCount, bool canSaveSlashes);

    // One path component that cannot leave its folder: NUL removed, any "/"
    // left becomes "_", "" becomes "Untitled", "." and ".." become "_." and
    // "_..", and a name longer than kNameMax bytes is cut at a character
    // boundary, keeping a short extension.
    static std::string safeComponent(std::string_view name);
    static bool isSafeComponent(std::string_view name);

    // The next name to try when the name is taken: split at every ".", "_"
    // appended to the next-to-last part (the first when there is only one),
    // so photo.jpg, archive.tar.gz, notes and .profile become photo_.jpg,
    // archive.tar_.gz, notes_ and _.profile. When the result would be too
    // long, that part gives up its last character (before its own
    // underscores) first. Empty when no longer name can be made.
    static std::string collisionName(std::string_view name);
};
