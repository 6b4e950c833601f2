#include "formats/FileDirectoryEntry.h"

FileDirectoryEntry::FileDirectoryEntry(platform::ByteView b)
    : entry_type_(b.u8(0)), secondary_count_(b.u8(1)), set_checksum_(b.le16(2)), file_attributes_(b.le16(4)),
      reserved1_(b.le16(6)), create_date_(b.le32(8)), last_modified_(b.le32(12)), last_accessed_(b.le32(16)),
      create_10ms_(b.u8(20)), last_modified_10ms_(b.u8(21)), create_tz_offset_(b.u8(22)),
      last_modified_tz_offset_(b.u8(23)), last_accessed_tz_offset_(b.u8(24)) {
    b.copyTo(25, reserved2_.data(), reserved2_.size());
}
