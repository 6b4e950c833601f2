#pragma once

// One inode as the block scan gathers it: what the tree building needs to
// place it and to find its extents.

#include <cstdint>
#include <string>

struct Item {
    // UTF-8; ill-formed bytes of the medium became U+FFFD.
    std::string name;
    std::uint64_t file_size = 0;
    // The low 32 bits of the inode's object id.
    std::uint32_t node_id = 0;
    std::uint64_t parent = 0;
    // The id its file extents are filed under.
    std::uint64_t private_id = 0;
    // Nanoseconds since 1970: the inode's change time stands for its
    // creation.
    std::uint64_t creationtime = 0;
    std::uint64_t modificationtime = 0;
    std::uint64_t accesstime = 0;
    bool folder = false;
    // Nothing marks an inode deleted: a stale copy looks like a live one.
    std::int32_t deleted = 0;

    bool hasName() const { return !name.empty(); }
};
