#pragma once

// An inode's value: its parent folder, the id its extents are filed under,
// its times (nanoseconds since 1970), its mode and its extended fields.

#include "formats/XfBlobT.h"
#include "platform/ByteView.h"

#include <cstdint>
#include <optional>

struct JInodeValT {
    static constexpr std::size_t kFixedBytes = 92;

    std::uint64_t parent_id = 0;
    std::uint64_t private_id = 0;
    std::uint64_t create_time = 0;
    std::uint64_t mod_time = 0;
    std::uint64_t change_time = 0;
    std::uint64_t access_time = 0;
    std::uint16_t mode = 0;
    XfBlobT xfields;

    // Empty when the fixed part does not lie whole in the view; the fields
    // are read as far as the view reaches.
    static std::optional<JInodeValT> read(platform::ByteView value);

    // A folder by its mode; a mode of 0 says nothing, and then an inode
    // with a single extended field (its name) is taken for a folder.
    bool isFolder() const;

    const XfBlobT& getJInodeValT_xfields() const { return xfields; }
    std::uint64_t getJInodeValT_parent_id() const { return parent_id; }
    std::uint64_t getJInodeValT_private_id() const { return private_id; }
    std::uint64_t getJInodeValT_change_time() const { return change_time; }
    std::uint64_t getJInodeValT_mod_time() const { return mod_time; }
    std::uint64_t getJInodeValT_access_time() const { return access_time; }
};
