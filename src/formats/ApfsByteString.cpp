#include "formats/ApfsByteString.h"

#include "platform/TextEncoding.h"

#include <algorithm>

std::string apfsByteString(platform::ByteView bytes) {
    std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    text.resize(std::min(text.size(), text.find('\0')));
    return platform::utf8Lossy(text);
}
