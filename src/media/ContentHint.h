#pragma once

// The content hint of a partition, from its partition-table type, in the
// vocabulary the drive and volume dictionaries use for "Content": a GPT
// partition by its type GUID in upper-case text ("48465300-0000-11AA-AA11-
// 00306543ECAC" for HFS+, "41504653-0000-11AA-AA11-00306543ECAC" for APFS,
// "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7" for basic data), an MBR partition
// by its system ID ("DOS_FAT_16", "DOS_FAT_32", "Windows_FAT_32", ...), an
// Apple partition by its type ("Apple_HFS", "Apple_HFSX", ...). The hint is
// only where the content tests start: which file system a volume really
// holds is read from the volume itself (VolumeContentDetection).

#include "platform/ByteView.h"

#include <cstdint>
#include <string>

class ContentHint {
public:
    // A type byte of an MBR entry. Types that no volume list takes in come
    // back as their number ("0x83").
    static std::string forMBRSystemID(std::uint8_t systemID);
    // The 16 bytes of a GPT type GUID as they stand on disk (the first three
    // groups little-endian); empty when fewer than 16 bytes are given.
    static std::string forGPTType(platform::ByteView typeGUID);
    // An Apple partition map type, up to its NUL.
    static std::string forApplePartitionType(const std::string& type);
};
