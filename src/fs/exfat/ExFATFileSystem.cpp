#include "fs/exfat/ExFATFileSystem.h"

#include "volume/Volume.h"

ExFATFileSystem::ExFATFileSystem(Volume& volume) noexcept : volume_(volume) {}

bool ExFATFileSystem::startExFATFileSystemRecovery() {
    return false;
}

void ExFATFileSystem::readExFatDirectoryOffset(std::uint64_t, const MainBootSector&, NewDir*) {}

bool ExFATFileSystem::IsBitSet(std::uint32_t value, std::uint32_t bit) {
    return ((value & 0xFF) >> (bit % 32)) & 1;
}
