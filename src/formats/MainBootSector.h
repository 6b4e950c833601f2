#pragma once

// The main boot sector of an exFAT volume, copied field by field out of the
// volume's first sector. The two shifts and the FAT count are single bytes
// on disk, kept in 16 bits.

#include "platform/ByteView.h"

#include <array>
#include <cstdint>
#include <string>

class MainBootSector {
public:
    explicit MainBootSector(platform::ByteView bytes);

    const std::array<std::uint8_t, 3>& jump_boot() const { return jump_boot_; }
    // The name field as text up to its first NUL ("EXFAT   " on a volume).
    std::string file_system_name() const;
    const std::array<std::uint8_t, 53>& must_be_zero() const { return must_be_zero_; }
    std::uint64_t partition_offset() const { return partition_offset_; }
    std::uint64_t volume_length() const { return volume_length_; }
    // In sectors of the file system from the volume's first sector.
    std::uint32_t fat_offset() const { return fat_offset_; }
    std::uint32_t fat_length() const { return fat_length_; }
    std::uint32_t cluster_heap_offset() const { return cluster_heap_offset_; }
    std::uint32_t cluster_count() const { return cluster_count_; }
    std::uint32_t root_directory_first_cluster() const { return root_directory_first_cluster_; }
    std::uint32_t volume_serial_number() const { return volume_serial_number_; }
    std::uint16_t file_system_revision() const { return file_system_revision_; }
    std::uint16_t volume_flags() const { return volume_flags_; }
    // Shifts: the sizes are 2 to these powers.
    std::uint16_t bytes_per_sector() const { return bytes_per_sector_; }
    std::uint16_t sectors_per_cluster() const { return sectors_per_cluster_; }
    std::uint16_t number_of_fats() const { return number_of_fats_; }
    std::uint16_t drive_select() const { return drive_select_; }
    std::uint16_t percent_in_use() const { return percent_in_use_; }
    const std::array<std::uint8_t, 7>& reserved() const { return reserved_; }
    const std::array<std::uint8_t, 390>& boot_code() const { return boot_code_; }
    std::uint16_t boot_signature() const { return boot_signature_; }

private:
    std::array<std::uint8_t, 3> jump_boot_{};
    std::array<std::uint8_t, 8> file_system_name_{};
    std::array<std::uint8_t, 53> must_be_zero_{};
    std::uint64_t partition_offset_ = 0;
    std::uint64_t volume_length_ = 0;
    std::uint32_t fat_offset_ = 0;
    std::uint32_t fat_length_ = 0;
    std::uint32_t cluster_heap_offset_ = 0;
    std::uint32_t cluster_count_ = 0;
    std::uint32_t root_directory_first_cluster_ = 0;
    std::uint32_t volume_serial_number_ = 0;
    std::uint16_t file_system_revision_ = 0;
    std::uint16_t volume_flags_ = 0;
    std::uint16_t bytes_per_sector_ = 0;
    std::uint16_t sectors_per_cluster_ = 0;
    std::uint16_t number_of_fats_ = 0;
    std::uint16_t drive_select_ = 0;
    std::uint16_t percent_in_use_ = 0;
    std::array<std::uint8_t, 7> reserved_{};
    std::array<std::uint8_t, 390> boot_code_{};
    std::uint16_t boot_signature_ = 0;
};
