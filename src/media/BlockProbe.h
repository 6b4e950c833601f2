#pragma once

// What libblkid reads from a device's first sectors: the partition table of a
// disk (its scheme and the type of each entry) and the file system of a
// volume (its type and label). The device is opened read-only. Without
// libblkid every answer is empty and discovery works from the content tests
// alone.

#include <cstdint>
#include <string>
#include <vector>

class BlockProbe {
public:
    struct PartitionEntry {
        std::uint32_t number = 0; // as the kernel numbers it (sysfs "partition")
        std::string typeString;   // GPT type GUID (upper case) or Apple type name
        int typeByte = -1;        // MBR type byte; -1 when the table has none
    };
    struct PartitionTable {
        std::string scheme; // "gpt", "dos", "mac", ... or "" for none
        std::vector<PartitionEntry> partitions;
        // The probe gave up on a read the device failed.
        bool failed = false;
    };
    struct FileSystem {
        std::string type; // "vfat", "exfat", "hfsplus", "apfs", ... or ""
        std::string label;
        bool failed = false;
    };

    static bool available();
    static PartitionTable partitionTable(const std::string& deviceNode);
    static FileSystem fileSystem(const std::string& deviceNode);
};
