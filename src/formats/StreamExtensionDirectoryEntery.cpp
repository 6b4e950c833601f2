#include "formats/StreamExtensionDirectoryEntery.h"

StreamExtensionDirectoryEntery::StreamExtensionDirectoryEntery(platform::ByteView b)
    : entry_type_(b.u8(0)), general_secondary_flags_(b.u8(1)), reserved1_(b.u8(2)), name_length_(b.u8(3)),
      name_hash_(b.le16(4)), reserved2_(b.le16(6)), valid_data_length_(b.le64(8)), reserved3_(b.le32(16)),
      first_cluster_(b.le32(20)), data_length_(b.le64(24)) {}
