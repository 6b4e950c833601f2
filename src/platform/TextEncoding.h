#pragma once

// UTF-8 and UTF-16 at the edges: names on a medium are UTF-16 (big-endian on
// HFS+, little-endian elsewhere, already in host order here); the program
// shows and writes UTF-8. Damaged text never stops a conversion: what is not
// a character becomes U+FFFD.

#include <string>
#include <string_view>

namespace platform {

std::string utf8FromUtf16(std::u16string_view units);
std::u16string utf16FromUtf8(std::string_view bytes);
// Whether the bytes are well-formed UTF-8 (no overlongs, no surrogates).
bool isValidUtf8(std::string_view bytes);
// The bytes with every ill-formed sequence replaced by U+FFFD.
std::string utf8Lossy(std::string_view bytes);
// Bytes of code page 437, the OEM code page FAT short names are written in
// by default: ASCII below 0x80, the page's letters and signs above.
std::u16string utf16FromCodePage437(std::string_view bytes);

} // namespace platform
