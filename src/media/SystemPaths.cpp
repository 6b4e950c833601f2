#include "media/SystemPaths.h"

SystemPaths SystemPaths::system() {
    return SystemPaths{};
}

std::string SystemPaths::deviceNode(const std::string& name) const {
    if (deviceDir.empty() || deviceDir.back() == '/') return deviceDir + name;
    return deviceDir + "/" + name;
}
