#include "formats/AllocationBitMapDirectoryEntry.h"

AllocationBitMapDirectoryEntry::AllocationBitMapDirectoryEntry(platform::ByteView b)
    : entry_type_(b.u8(0)), bit_map_flags_(b.u8(1)), first_cluster_(b.le32(20)), data_length_(b.le64(24)) {
    b.copyTo(2, reserved_.data(), reserved_.size());
}
