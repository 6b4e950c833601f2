#pragma once

// What the program knows of a file type from its extension alone: whether
// the photo scans keep it as a media file, and how its preview plays it (as
// a movie, or as sound with at most a cover picture). The clean-up filter
// and the preview ask this one table; the formats the carving recognises
// are rows of it.
//
// Extensions are matched without regard to ASCII case and without the dot.

#include <span>
#include <string_view>

class FileTypeRegistry {
public:
    enum class Kind {
        Other,
        // A still picture, camera raw or a layout document: kept by the
        // photo scans, previewed as an image where a reader can decode it.
        Picture,
        // Pictures and sound together: previewed in the movie view.
        Movie,
        // Sound only: previewed in the movie view with any picture it holds
        // as the poster, never played as video.
        Sound,
    };

    struct Entry {
        std::string_view extension;
        Kind kind;
        // Kept by the photo scans' clean-up ("media" files).
        bool media;
    };

    // Every row, from the file-type table.
    static std::span<const Entry> entries();

    // The row of an extension, or nullptr.
    static const Entry* find(std::u16string_view extension);
    static const Entry* find(std::string_view extension);

    // A file the photo scans keep: two to four characters naming one of the
    // media types.
    static bool isMediaFile(std::u16string_view extension);
    // A type the preview shows in its movie view (movies and sound).
    static bool isMovieType(std::string_view extension);
    // A type that holds sound only.
    static bool isSoundOnly(std::string_view extension);
};
