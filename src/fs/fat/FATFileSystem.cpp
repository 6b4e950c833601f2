#include "fs/fat/FATFileSystem.h"

#include "volume/Volume.h"

FATFileSystem::FATFileSystem(Volume& volume) noexcept : volume_(volume) {}

bool FATFileSystem::startFATFileSystemRecovery() {
    return false;
}

bool FATFileSystem::checkFATFileSystemHealthy() {
    return false;
}
