// The exFAT records, from bytes captured off a volume that mkfs.exfat made
// (8 MiB, label PHOTOS, serial 3e3e0c0c) and exfat-fuse filled with the
// file "Notes – draft.txt" (20 bytes) and the folder "Docs", whose layout
// fsstat reads the same; and each from a damaged twin, cut short, whose
// fields past the cut read as zero.

#include "formats/AllocationBitMapDirectoryEntry.h"
#include "formats/FileDirectoryEntry.h"
#include "formats/FileNameExtensionDirectoryEntry.h"
#include "formats/MainBootSector.h"
#include "formats/StreamExtensionDirectoryEntery.h"
#include "formats/VolumeLabelDirectoryEntry.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using platform::ByteView;

namespace {

// Hex text written into a zeroed buffer at each offset.
std::vector<std::uint8_t> captured(std::size_t size, std::initializer_list<std::pair<std::size_t, std::string>> parts) {
    std::vector<std::uint8_t> b(size);
    for (const auto& [at, hex] : parts)
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            b.at(at + i / 2) = static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return b;
}

} // namespace

TEST(ExFATRecords, BootSectorGivesTheLayoutFsstatReadsAndACutOneZeroPastTheCut) {
    const auto bytes = captured(
        512, {{0, "eb76904558464154202020"},
              {64, "0000000000000000004000000000000000080000100000000010000000060000050000000c0c3e3e0001000009030180"},
              {510, "55aa"}});
    const MainBootSector boot{ByteView(bytes)};
    EXPECT_EQ(boot.file_system_name(), "EXFAT   ");
    EXPECT_EQ(boot.boot_signature(), 0xAA55);
    EXPECT_EQ(boot.fat_offset(), 2048u);
    EXPECT_EQ(boot.fat_length(), 16u);
    EXPECT_EQ(boot.cluster_heap_offset(), 4096u);
    EXPECT_EQ(boot.cluster_count(), 1536u);
    EXPECT_EQ(boot.root_directory_first_cluster(), 5u);
    EXPECT_EQ(boot.bytes_per_sector() + boot.sectors_per_cluster(), 12); // 4096-byte clusters
    EXPECT_EQ(boot.number_of_fats(), 1);

    const MainBootSector cut{ByteView(bytes).sub(0, 100)};
    EXPECT_EQ(cut.root_directory_first_cluster(), 5u);
    EXPECT_EQ(cut.volume_serial_number() + cut.bytes_per_sector() + cut.boot_signature(), 0u);
    EXPECT_EQ(MainBootSector(ByteView(bytes).sub(0, 6)).file_system_name(), "EXF");
}

TEST(ExFATRecords, RootEntriesGiveLabelBitmapFileAndFolderAndCutOnesZeroPastTheCut) {
    // Label, bitmap, up-case table, the file's set (file, stream, two
    // names), the folder's set.
    const auto root = captured(320, {{0, "8306500048004f0054004f0053"},
                                     {32, "810000000000000000000000000000000000000002000000c0"},
                                     {64, "820000000dd319e600000000000000000000000003000000cc16"},
                                     {96, "850377be20000000ed19875ded19875ded19875d6464808080"},
                                     {128, "c0030011523f00001400000000000000000000000600000014"},
                                     {160, "c1004e006f00740065007300200013202000640072006100660074002e0074"},
                                     {192, "c100780074"},
                                     {224, "8502108910000000ed19875ded19875ded19875d6464808080"},
                                     {256, "c003000434e00000001000000000000000000000070000000010"},
                                     {288, "c10044006f00630073"}});
    auto entry = [&](std::size_t index, std::size_t bytes = 32) { return ByteView(root).sub(index * 32, bytes); };
    EXPECT_EQ(VolumeLabelDirectoryEntry(entry(0)).volume_label(), "PHOTOS");
    EXPECT_EQ(AllocationBitMapDirectoryEntry(entry(1)).data_length(), 192u); // a bit per cluster

    const FileDirectoryEntry file(entry(3));
    EXPECT_EQ(file.secondary_count(), 3);
    EXPECT_EQ(file.file_attributes(), 0x20);
    EXPECT_EQ(file.last_modified(), 0x5d8719edu);
    EXPECT_EQ(file.last_modified_tz_offset(), 0x80); // UTC
    const StreamExtensionDirectoryEntery stream(entry(4));
    EXPECT_EQ(stream.first_cluster(), 6u);
    EXPECT_EQ(stream.data_length(), 20u);
    const std::u16string name =
        FileNameExtensionDirectoryEntry(entry(5)).file_name() + FileNameExtensionDirectoryEntry(entry(6)).file_name();
    EXPECT_EQ(name.substr(0, stream.name_length()), u"Notes – draft.txt");
    EXPECT_EQ(FileDirectoryEntry(entry(7)).file_attributes(), 0x10);
    EXPECT_EQ(StreamExtensionDirectoryEntery(entry(8)).first_cluster(), 7u);

    // Cut within the first cluster field, and within the name's sixth unit.
    const StreamExtensionDirectoryEntery cutStream(entry(4, 21));
    EXPECT_EQ(cutStream.name_length(), 17);
    EXPECT_EQ(cutStream.first_cluster() + cutStream.data_length(), 0u);
    const FileNameExtensionDirectoryEntry cutName(entry(5, 13));
    EXPECT_EQ(cutName.file_name().size(), FileNameExtensionDirectoryEntry::kUnits);
    EXPECT_EQ(cutName.file_name_string(), "Notes");
}
