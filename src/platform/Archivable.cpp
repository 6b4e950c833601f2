#include "platform/Archivable.h"

namespace platform {

Archivable::~Archivable() = default;

std::vector<std::string> Archivable::classChain() const {
    return {className(), "NSObject"};
}

namespace keyedarchive {

std::string escapedKey(std::string_view key) {
    std::string out;
    if (!key.empty() && key.front() == '$') out += '$';
    out += key;
    return out;
}

bool isStorableText(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const unsigned c = p[i];
        if (c == 0) return false;
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t len;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false; // stray continuation byte, overlong lead, or past U+10FFFF
        }
        if (n - i < len) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const unsigned cc = p[i + k];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (len == 3 && cp < 0x800) return false;
        if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
        if (cp >= 0xD800 && cp <= 0xDFFF) return false;
        i += len;
    }
    return true;
}

} // namespace keyedarchive

} // namespace platform
