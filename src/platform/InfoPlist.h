#pragma once

// The bundle's Info.plist: the program's version and the address of the
// update list, the only settings the program reads.

#include "platform/Value.h"

#include <optional>
#include <string>

namespace platform {

class InfoPlist {
public:
    static std::optional<InfoPlist> load(const std::string& path);
    // The one in the resource folder.
    static std::optional<InfoPlist> loadFromBundle();

    std::string cloudPlistUrl() const;
    std::string shortVersionString() const;
    const Dict& dictionary() const { return dict_; }

private:
    Dict dict_;
};

} // namespace platform
