#pragma once

// The two extension tests of the RTF picture pairing: which pictures an RTF
// document package can name that the search may pick up, and which signature
// type finds such a picture. The RTF recogniser keeps only the pictures that
// pass the first; the recorder and the search driver match later hits with
// the second.

#include <optional>
#include <string>
#include <string_view>

class RtfGraphics {
public:
    // Exactly the spellings of bmp, jpg, jpeg, png, tif, tiff and gif in
    // lower case, upper case and with a capital first letter.
    static bool isSupportedRTFGraphic(std::string_view extension);
    // The extension of the signature type that finds a picture with this
    // extension; nothing when no type does.
    static std::optional<std::string> standardSigExtensionForExtension(std::string_view extension);
};
