#include "formats/ApfsByteString.h"

#include "platform/TextEncoding.h"

#include <string_view>

std::string apfsByteString(platform::ByteView bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return platform::utf8Lossy(text.substr(0, text.find('\0')));
}
