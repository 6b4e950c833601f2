#pragma once

// The bundle's Info.plist: the program's version, the address of the update
// list, the updater and the support page, the only settings the program
// reads. An address or path left empty means the thing is not offered.

#include "platform/Value.h"

#include <optional>
#include <string>

namespace platform {

class InfoPlist {
public:
    explicit InfoPlist(Dict dict = {}) : dict_(std::move(dict)) {}
    static std::optional<InfoPlist> load(const std::string& path);
    // The one in the resource folder.
    static std::optional<InfoPlist> loadFromBundle();

    std::string cloudPlistUrl() const;
    std::string shortVersionString() const;
    std::string updaterPath() const;
    std::string supportPageUrl() const;
    const Dict& dictionary() const { return dict_; }

private:
    Dict dict_;
};

} // namespace platform
