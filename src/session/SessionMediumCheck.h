#pragma once

// Whether the drive or volume a recovery session was saved from is here now,
// and under which device path. Device numbers change between boots and
// machines (sdb today, sdc tomorrow), so a drive is recognised by its first
// five sectors and a mounted volume by its size and name, never by path; a
// session matched under another path takes that path, so that preview and
// saving read the right device.

#include "platform/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class Volume;

// What an interrupted scan knows its medium by when it resumes: the size of
// the device and a digest of sectors spread over it (the first five, 32 in
// between and the last), whatever path the device comes back under.
struct MediumIdentity {
    std::uint64_t bytes = 0;
    std::uint64_t digest = 0;
    bool operator==(const MediumIdentity&) const = default;
};

// What the found files of a session begin with on their medium: the first
// sector of a few of them, spread over the tree, each with a digest of its
// bytes. Two cards of one model have the same size and often the same first
// sectors; only the files tell them apart.
struct FoundFilesPrint {
    struct Sample {
        std::uint64_t sector = 0;
        std::uint64_t digest = 0;
        bool operator==(const Sample&) const = default;
    };
    std::vector<Sample> samples;
    bool operator==(const FoundFilesPrint&) const = default;
};

class SessionMediumCheck {
public:
    struct Found {
        // Nothing matched (or the session's sector size is none a drive has).
        bool notConnected = true;
        // The row that matched names another device path than the volume.
        bool pathIsDifferent = false;
        std::string path;
        // A mounted volume's drive, as the row that matched names it.
        std::string parentDrivePath;
    };

    // A power of two from 512 to 65536: the only sector sizes a file's
    // volume may claim.
    static bool isSectorSize(std::uint32_t bytes);

    // A mounted volume: the first row of volumeDictArray whose size in the
    // volume's sectors and whose name are the volume's, and whose device
    // holds the found files (see holdsFoundFiles).
    static Found checkVolumeAvailability(const Volume& volume, const platform::Array& volumeDictArray,
                                         const FoundFilesPrint& print = {});
    // A drive: the first row of driveDictArray whose sectors 0-4 read
    // equal to first5Sectors (5 of the volume's sectors long) and which
    // holds the found files; a drive that cannot be read never matches.
    static Found checkDriveAvailability(const Volume& volume, const platform::Data& first5Sectors,
                                        const platform::Array& driveDictArray, const FoundFilesPrint& print = {});

    // The print of the volume's found files, read quietly from its device
    // (nothing when it cannot be read or holds no file with data).
    static FoundFilesPrint readFoundFilesPrint(const Volume& volume);
    // Whether `device` is the medium the volume's files were found on: most
    // of the print's sectors read as they did. A session written before
    // prints were kept has none; then a medium on which every sampled
    // carved file reads as zeros is not the one (a blank disk of the same
    // size and first sectors), and any other is taken as the first sectors
    // say.
    static bool holdsFoundFiles(const Volume& volume, const std::string& device, const FoundFilesPrint& print);
    // The device whose content identifies the medium of a scan: the drive a
    // volume found on a disk or a whole disk is read from, and for a mounted
    // volume its parent drive, whose partition table stays put while the
    // volume itself is written to.
    static std::string identityDevice(const Volume& volume);
    // Nothing when the device cannot be opened or a sample cannot be read.
    static std::optional<MediumIdentity> readMediumIdentity(const std::string& device, std::uint32_t bytesPerSector);
    // The medium an auto-recovery snapshot of `volume` was made of: a drive
    // row (a mounted volume: a volume row of its size and name) whose device
    // has the identity, and on which the files the search recorded before it
    // was cut off do not read as zeros. Never another medium that merely has
    // the old path.
    static Found findSnapshotMedium(const Volume& volume, const MediumIdentity& identity,
                                    const platform::Array& driveDictArray, const platform::Array& volumeDictArray);

    // The drive found under newPath: the volume and every partition row that
    // named the volume's drive take the new path.
    static void adoptDrivePath(Volume& volume, const std::string& newPath, platform::Array& partitionListDictArray,
                               platform::Array& partitionScanListDictArray);
};
