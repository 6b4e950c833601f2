#include "signatures/RtfGraphics.h"

#include <algorithm>
#include <array>

bool RtfGraphics::isSupportedRTFGraphic(std::string_view extension) {
    static constexpr std::array<std::string_view, 21> kSupported = {
        "bmp", "Bmp", "BMP", "jpg", "JPG",  "Jpg",  "jpeg", "JPEG", "Jpeg", "png", "PNG",
        "Png", "tif", "TIF", "Tif", "tiff", "TIFF", "Tiff", "gif",  "GIF",  "Gif"};
    return std::find(kSupported.begin(), kSupported.end(), extension) != kSupported.end();
}

std::optional<std::string> RtfGraphics::standardSigExtensionForExtension(std::string_view extension) {
    if (extension.size() < 4) {
        std::string lower(extension);
        for (char& c : lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return lower;
    }
    if (extension.size() > 4) return std::nullopt;
    // The four-letter spellings are tiff and jpeg: the types are tif and jpg.
    switch (extension.back()) {
    case 'F':
    case 'f':
        return "tif";
    case 'G':
    case 'g':
        return "jpg";
    default:
        return std::nullopt;
    }
}
