#pragma once

// The size at which a picture shows in a document, read from its header in
// memory (JPEG, PNG, GIF, BMP, TIFF): its pixels scaled to points by the
// resolution the file states (JFIF density, PNG pHYs, BMP pixels per metre,
// TIFF resolution tags), or its pixels when it states none. The RTF picture
// pairing compares it with the size the document gives the picture.

#include "platform/ByteView.h"

#include <optional>

class PictureSize {
public:
    struct Size {
        double width = 0;
        double height = 0;
    };

    // Nothing when the bytes are none of these formats or their header does
    // not give a width.
    static std::optional<Size> of(platform::ByteView bytes);

private:
    static std::optional<Size> jpeg(platform::ByteView bytes);
    static std::optional<Size> png(platform::ByteView bytes);
    static std::optional<Size> gif(platform::ByteView bytes);
    static std::optional<Size> bmp(platform::ByteView bytes);
    static std::optional<Size> tiff(platform::ByteView bytes);
};
