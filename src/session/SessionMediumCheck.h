#pragma once

// Whether the drive or volume a recovery session was saved from is here now,
// and under which device path. Device numbers change between boots and
// machines (sdb today, sdc tomorrow), so a drive is recognised by its first
// five sectors and a mounted volume by its size and name, never by path; a
// session matched under another path takes that path, so that preview and
// saving read the right device.

#include "platform/Value.h"

#include <cstdint>
#include <string>

class Volume;

class SessionMediumCheck {
public:
    struct Found {
        // Nothing matched (or the session's sector size is none a drive has).
        bool notConnected = true;
        // The row that matched names another device path than the volume.
        bool pathIsDifferent = false;
        std::string path;
    };

    // A power of two from 512 to 65536: the only sector sizes a file's
    // volume may claim.
    static bool isSectorSize(std::uint32_t bytes);

    // A mounted volume: the first row of volumeDictArray whose size in the
    // volume's sectors and whose name are the volume's.
    static Found checkVolumeAvailability(const Volume& volume, const platform::Array& volumeDictArray);
    // A drive: the first row of driveDictArray whose sectors 0-4 read
    // equal to first5Sectors (5 of the volume's sectors long); a drive that
    // cannot be read never matches.
    static Found checkDriveAvailability(const Volume& volume, const platform::Data& first5Sectors,
                                        const platform::Array& driveDictArray);
    // The drive found under newPath: the volume and every partition row that
    // named the volume's drive take the new path.
    static void adoptDrivePath(Volume& volume, const std::string& newPath, platform::Array& partitionListDictArray,
                               platform::Array& partitionScanListDictArray);
};
