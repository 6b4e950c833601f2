#include "results/DestinationFileSystem.h"

DestinationFileSystem::~DestinationFileSystem() = default;

bool DestinationFileSystem::takesColons(const std::string& typeName) {
    for (const char* foreign : {"vfat", "msdos", "exfat", "ntfs", "ntfs3", "fuseblk"})
        if (typeName == foreign) return false;
    return true;
}
