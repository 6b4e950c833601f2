#include "formats/MainBootSector.h"

#include <algorithm>

MainBootSector::MainBootSector(platform::ByteView b)
    : partition_offset_(b.le64(64)), volume_length_(b.le64(72)), fat_offset_(b.le32(80)), fat_length_(b.le32(84)),
      cluster_heap_offset_(b.le32(88)), cluster_count_(b.le32(92)), root_directory_first_cluster_(b.le32(96)),
      volume_serial_number_(b.le32(100)), file_system_revision_(b.le16(104)), volume_flags_(b.le16(106)),
      bytes_per_sector_(b.u8(108)), sectors_per_cluster_(b.u8(109)), number_of_fats_(b.u8(110)),
      drive_select_(b.u8(111)), percent_in_use_(b.u8(112)), boot_signature_(b.le16(510)) {
    b.copyTo(0, jump_boot_.data(), jump_boot_.size());
    b.copyTo(3, file_system_name_.data(), file_system_name_.size());
    b.copyTo(11, must_be_zero_.data(), must_be_zero_.size());
    b.copyTo(113, reserved_.data(), reserved_.size());
    b.copyTo(120, boot_code_.data(), boot_code_.size());
}

std::string MainBootSector::file_system_name() const {
    const auto end = std::find(file_system_name_.begin(), file_system_name_.end(), 0);
    return std::string(file_system_name_.begin(), end);
}
