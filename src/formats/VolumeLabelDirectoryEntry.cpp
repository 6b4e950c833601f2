#include "formats/VolumeLabelDirectoryEntry.h"

#include "formats/FileNameExtensionDirectoryEntry.h"

VolumeLabelDirectoryEntry::VolumeLabelDirectoryEntry(platform::ByteView b)
    : entry_type_(b.u8(0)), character_count_(b.u8(1)), volume_label_(b.utf16le(2, 11)), reserved_(b.le32(24)) {}

std::string VolumeLabelDirectoryEntry::volume_label() const {
    return FileNameExtensionDirectoryEntry::lowByteText(volume_label_);
}
