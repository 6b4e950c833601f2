#pragma once

// Comparing shown names without regard to case, as the find and the order
// of the file-types view do: "jpg" finds IMG_0001.JPG, and "Gif" sorts
// between "doc" and "jpg". Letters are folded with the C library's Unicode
// tables (the C.UTF-8 locale), so accented, Greek and Cyrillic names fold
// too; where that locale is missing, ASCII letters still fold.

#include <string>
#include <string_view>

class CaseInsensitiveText {
public:
    // The code points of the UTF-8 text, each folded to lower case.
    static std::u32string fold(std::string_view utf8);
    // Whether needle occurs anywhere in haystack; an empty needle is found
    // nowhere (an empty find field finds nothing).
    static bool contains(std::string_view haystack, std::string_view needle);
    // <0, 0 or >0 as a is before, equal to or after b, case ignored.
    static int compare(std::string_view a, std::string_view b);
};
