#include "platform/InfoPlist.h"

#include "platform/Paths.h"
#include "platform/PropertyList.h"

namespace platform {

std::optional<InfoPlist> InfoPlist::load(const std::string& path) {
    auto v = PropertyList::readFile(path);
    if (!v || !v->isDict()) return std::nullopt;
    InfoPlist p;
    p.dict_ = v->dictValue();
    return p;
}

std::optional<InfoPlist> InfoPlist::loadFromBundle() {
    return load(resourcePath("Info.plist"));
}

std::string InfoPlist::cloudPlistUrl() const {
    return dict_.get("cloudPlistUrl").stringValue();
}

std::string InfoPlist::shortVersionString() const {
    return dict_.get("CFBundleShortVersionString").stringValue();
}

std::string InfoPlist::updaterPath() const {
    return dict_.get("updaterPath").stringValue();
}

std::string InfoPlist::supportPageUrl() const {
    return dict_.get("supportPageUrl").stringValue();
}

} // namespace platform
