#pragma once

// Whether the drive or volume a recovery session was saved from is here now,
// and under which device path. Device numbers change between boots and
// machines (sdb today, sdc tomorrow), so a drive is recognised by its first
// five sectors and a mounted volume by its size and name, never by path; a
// session matched under another path takes that path, so that preview and
// saving read the right device. A sector that cannot be read neither proves
// nor disproves a medium: what recognises one is kept and compared sector by
// sector, only where both sides read, and where no sector can be compared
// the size and the found files decide. A check asks for each sector it reads
// once and alone, past the page cache where the device allows it: the cache
// fails a whole page for one bad sector, which would cost a disk whose
// sector 3 is bad its first five.

#include "media/DMedia.h"
#include "platform/Value.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class Volume;

// What an interrupted scan knows its medium by when it resumes: the size of
// the device and sectors spread over it (the first five, 32 in between and
// the last), each with a digest of its bytes or marked as one the device
// would not give, whatever path the device comes back under.
struct MediumIdentity {
    struct Sample {
        std::uint64_t sector = 0;
        // Nothing when the sector could not be read.
        std::optional<std::uint64_t> digest;
        bool operator==(const Sample&) const = default;
    };
    std::uint64_t bytes = 0;
    std::vector<Sample> samples;
    // One digest over every sample's bytes in turn, when each one read. A
    // snapshot written before the samples were kept one by one holds only
    // this (its samples are empty), and so do readers of that time.
    std::optional<std::uint64_t> wholeDigest;
    bool operator==(const MediumIdentity&) const = default;

    // Whether `read`, the identity of a device read now, may be the medium
    // this one was read from: the same size, and every sample that both
    // read has the same bytes (only the whole digests where this one has
    // no samples, when `read` got every sample). True when no sample could
    // be compared: the found files decide then.
    bool mayBe(const MediumIdentity& read) const;
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
        // The identity the medium that matched was known by, as read just now
        // from `identityDevice` (see findSnapshotMedium): a scan that goes on
        // there at once keeps it in its snapshot, and asks a failing disk
        // for its samples once.
        std::optional<MediumIdentity> identity;
        std::string identityDevice;
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
    // holds the found files. The sectors are compared one by one, leaving
    // out those marked in `unread` (bit i: sector i could not be read when
    // they were kept) and those the drive cannot give now; where none is
    // left, a drive that can hold the volume where it lay is compared by its
    // found files alone. A drive that cannot be opened never matches.
    static Found checkDriveAvailability(const Volume& volume, const platform::Data& first5Sectors, std::uint32_t unread,
                                        const platform::Array& driveDictArray, const FoundFilesPrint& print = {});
    // Sectors 0-4 of `device`, read one by one, of the volume's sector size:
    // one the device does not give is zeros in `sectors` and marked in the
    // answer (bit i: sector i). Nothing when the device cannot be opened.
    static std::optional<std::uint32_t> readFirst5Sectors(const std::string& device, std::uint32_t bytesPerSector,
                                                          platform::Data& sectors);

    // The print of the volume's found files, read quietly from its device
    // (nothing when it cannot be read or holds no file with data).
    static FoundFilesPrint readFoundFilesPrint(const Volume& volume);
    // Whether `device` is the medium the volume's files were found on: most
    // of the print's sectors that it gives read as they did. A session
    // written before prints were kept has none; then a medium on which every
    // sampled carved file that it gives reads as zeros is not the one (a
    // blank disk of the same size and first sectors), and any other is
    // taken as the first sectors say. A device that gives none of the
    // sectors is not refused by them; one that cannot be opened is.
    static bool holdsFoundFiles(const Volume& volume, const std::string& device, const FoundFilesPrint& print);
    // The device whose content identifies the medium of a scan: the drive a
    // volume found on a disk or a whole disk is read from, and for a mounted
    // volume its parent drive, whose partition table stays put while the
    // volume itself is written to.
    static std::string identityDevice(const Volume& volume);
    // Nothing when the device cannot be opened or has gone; a sample it
    // cannot give is marked so, at the cost of one failed read.
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

    // Every check reads a device through a medium of its own, opened
    // quietly: a drive the user may not read is simply not the one, and an
    // alert per drive would bury the answer. This is the reader put under
    // each, by its device (DMedia::setRawRead; an empty one reads with
    // pread): tests give chosen sectors of their disks failing reads this
    // way, as they do under a scan's volume. None by default.
    using RawReadFor = std::function<DMedia::RawRead(const std::string& device)>;
    static void setRawReadFor(RawReadFor rawReadFor);
};
