#pragma once

// Plain property lists (XML or binary) as Values: the bundle's Info.plist and
// the update check's remote list.

#include "platform/Value.h"

#include <optional>
#include <string>

namespace platform {

class PropertyList {
public:
    // nullopt on anything that is not a property list; UIDs (keyed-archive
    // references) read as unsigned numbers.
    static std::optional<Value> read(const Data& bytes);
    static std::optional<Value> readFile(const std::string& path);
    // XML text of a value (objects are not representable and fail).
    static std::optional<std::string> toXml(const Value& value);
};

} // namespace platform
