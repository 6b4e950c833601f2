#pragma once

// Where discovery looks for the system's description of its block devices:
// the sysfs tree (block/, class/block/, bus/), the mount table of this process
// and the folder of device nodes. Tests point these at fake trees.

#include <string>

struct SystemPaths {
    std::string sysfsRoot = "/sys";
    std::string mountInfo = "/proc/self/mountinfo";
    std::string deviceDir = "/dev";

    // The running system's own paths.
    static SystemPaths system();
    // "<deviceDir>/<name>": the node a medium is read through.
    std::string deviceNode(const std::string& name) const;
};
