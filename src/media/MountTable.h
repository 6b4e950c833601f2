#pragma once

// The mount table of this process (/proc/self/mountinfo): which file system
// is mounted where, from which device. Lines are read whole however long
// they are; fields the kernel escapes (blank, tab, newline, backslash as
// \040, \011, \012, \134) are unescaped.

#include <string>
#include <string_view>
#include <vector>

class MountTable {
public:
    struct Entry {
        std::string majorMinor; // "8:1"; the device the file system lives on
        std::string root;       // the folder of that file system seen here
        std::string mountPoint;
        std::string fsType; // "vfat", "hfsplus", "fuseblk", ...
        std::string source; // the mounted-from device name ("/dev/sdb1")
        unsigned major() const;
    };

    // The entries in the table's order; empty when the file cannot be read.
    static std::vector<Entry> read(const std::string& mountInfoPath);
    static std::vector<Entry> parse(std::string_view text);
    // One line; false when it is not a well-formed entry.
    static bool parseLine(std::string_view line, Entry& out);
    static std::string unescape(std::string_view field);
};
