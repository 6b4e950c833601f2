#include "media/MediumContentHint.h"

#include "media/ContentHint.h"
#include "media/ContentKind.h"

std::string MediumContentHint::forPartition(const BlockProbe::PartitionEntry& entry) {
    if (entry.typeByte >= 0) {
        if (entry.typeByte == 0x83) return "-";
        return ContentHint::forMBRSystemID(static_cast<std::uint8_t>(entry.typeByte));
    }
    if (entry.typeString.empty()) return "-";
    // Linux has no device per APFS volume: the container partition stands
    // for its volumes.
    if (entry.typeString == kAPFSContainer) return contentString(ContentKind::APFSContainer);
    if (entry.typeString == kLinuxData) return "-";
    // A GPT type comes as its GUID already; an Apple type as its name.
    return ContentHint::forApplePartitionType(entry.typeString);
}

std::string MediumContentHint::forScheme(const std::string& scheme) {
    if (scheme.empty()) return {};
    if (scheme == "gpt") return "GUID_partition_scheme";
    if (scheme == "dos") return "FDisk_partition_scheme";
    if (scheme == "mac") return "Apple_partition_scheme";
    return scheme;
}

std::string MediumContentHint::forFileSystemType(const std::string& type) {
    if (type.rfind("hfs", 0) == 0) return contentString(ContentKind::HFSPlus);
    if (type.rfind("fat", 0) == 0 || type.rfind("msdos", 0) == 0 || type == "vfat")
        return contentString(ContentKind::FAT32);
    if (type == "apfs" || type == "fuse.apfs" || type == "fuse.apfs-fuse" ||
        contentKindOf(type) == ContentKind::APFSContainer)
        return contentString(ContentKind::APFSContainer);
    return {};
}
