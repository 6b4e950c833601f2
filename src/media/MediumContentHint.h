#pragma once

// The "Content" hint of a medium found by discovery: a partition's hint from
// the entry libblkid reads in its disk's table (in the vocabulary of
// ContentHint), a whole disk's partition scheme, and, where the table says
// nothing about the file system, the hint the file system's own type gives.

#include "media/BlockProbe.h"

#include <string>

class MediumContentHint {
public:
    // GPT type GUIDs that the list's vocabulary (ContentKind) names otherwise,
    // and one the table readers leave as it is.
    static constexpr const char* kAppleHFS = "48465300-0000-11AA-AA11-00306543ECAC";
    static constexpr const char* kAPFSContainer = "7C3457EF-0000-11AA-AA11-00306543ECAC";
    static constexpr const char* kLinuxData = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

    // A partition's hint from its table entry. "-" when the entry names no
    // particular file system (Linux data, MBR type 0x83): the file system
    // found on it decides.
    static std::string forPartition(const BlockProbe::PartitionEntry& entry);
    // A whole disk's hint: its partition scheme, "" when it has none.
    static std::string forScheme(const std::string& scheme);
    // The hint a mounted or probed file system gives when the table gave
    // none; "" when its type is not one the list knows. An APFS container
    // may fill a whole disk as well as a partition (an image of one
    // attached as a loop device).
    static std::string forFileSystemType(const std::string& type);
};
