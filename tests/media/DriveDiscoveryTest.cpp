#include "media/DriveDiscovery.h"

#include "media/DriveListRows.h"
#include "media/MountTable.h"
#include "media/SysfsBlockDevice.h"
#include "platform/SystemLog.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using namespace platform;
namespace fs = std::filesystem;
using testsupport::writeText;

namespace {

constexpr const char* kEFI = "C12A7328-F81F-11D2-BA4B-00A0C93EC93B";
constexpr const char* kBasicData = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
constexpr const char* kHFSPlus = "48465300-0000-11AA-AA11-00306543ECAC";
constexpr const char* kAPFSContainer = "7C3457EF-0000-11AA-AA11-00306543ECAC";
constexpr const char* kLinuxData = "0FC63DAF-8483-4772-8E79-3D69D8477DE4";

bool run(const std::string& command) {
    return testsupport::runCommand(command + " >/dev/null 2>&1").has_value();
}

std::string quoted(const fs::path& p) {
    return testsupport::shellQuote(p.string());
}

void makeBlank(const fs::path& p, std::uint64_t bytes) {
    testsupport::zeroFile(p, bytes);
}

void patch(const fs::path& p, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    testsupport::writeBytesAt(p, offset, bytes);
}

// A volume header that says HFS+ ("H+", version 4), journaled or not: all
// the content tests look at.
void makeHFSPlus(const fs::path& p, bool journaled) {
    makeBlank(p, 4u << 20);
    patch(p, 1024, {'H', '+', 0, 4, 0, 0, static_cast<std::uint8_t>(journaled ? 0x20 : 0x00), 0});
}

void makeAPFSContainer(const fs::path& p) {
    makeBlank(p, 4u << 20);
    patch(p, 32, {'N', 'X', 'S', 'B'});
}

// mkfs.vfat on a file of the given size; the FAT type follows from the size.
bool makeFAT(const fs::path& p, std::uint64_t bytes, const std::string& options) {
    makeBlank(p, bytes);
    return run("mkfs.vfat " + options + " " + quoted(p));
}

// A partition table made by sfdisk from its script, on a blank disk.
bool partitionTable(const fs::path& p, std::uint64_t bytes, const std::string& script) {
    makeBlank(p, bytes);
    const fs::path input = testsupport::makeTempDir("sfdisk") / "script";
    writeText(input, script);
    return run("sfdisk -q --no-reread --no-tell-kernel " + quoted(p) + " < " + quoted(input));
}

// A sysfs tree, a device folder and a mount table of our own.
class FakeSystem {
public:
    explicit FakeSystem(const std::string& tag = "fake") : root_(testsupport::makeTempDir(tag)) {
        fs::create_directories(sys() / "block");
        fs::create_directories(sys() / "class" / "block");
        fs::create_directories(dev());
        writeText(mountInfo(), "");
    }
    fs::path sys() const { return root_ / "sys"; }
    fs::path dev() const { return root_ / "dev"; }
    fs::path mountInfo() const { return root_ / "mountinfo"; }
    SystemPaths paths() const { return SystemPaths{sys().string(), mountInfo().string(), dev().string()}; }
    std::string node(const std::string& name) const { return (dev() / name).string(); }

    // A device folder under devices/, with its bus and driver.
    fs::path device(const std::string& rel) {
        fs::path d = sys() / "devices" / rel;
        fs::create_directories(d);
        return d;
    }
    void subsystem(const fs::path& dir, const std::string& where) {
        fs::create_directories(sys() / where);
        fs::create_directory_symlink(sys() / where, dir / "subsystem");
    }
    void driver(const fs::path& dir, const std::string& bus, const std::string& name) {
        fs::path d = sys() / "bus" / bus / "drivers" / name;
        fs::create_directories(d);
        fs::create_directory_symlink(d, dir / "driver");
    }

    struct Disk {
        std::uint64_t sectors = 131072;
        int ro = 0;
        int removable = 0;
        int logicalBlockSize = 512;
        std::string dev = "8:0";
    };
    // A whole disk in blockFolder (its "device" link leads to deviceDir when
    // one is given).
    fs::path addDisk(const std::string& name, const fs::path& blockFolder, const fs::path& deviceDir, Disk d) {
        fs::create_directories(blockFolder / "queue");
        writeText(blockFolder / "size", std::to_string(d.sectors) + "\n");
        writeText(blockFolder / "ro", std::to_string(d.ro) + "\n");
        writeText(blockFolder / "removable", std::to_string(d.removable) + "\n");
        writeText(blockFolder / "dev", d.dev + "\n");
        writeText(blockFolder / "queue" / "logical_block_size", std::to_string(d.logicalBlockSize) + "\n");
        if (!deviceDir.empty()) fs::create_directory_symlink(deviceDir, blockFolder / "device");
        fs::create_directory_symlink(blockFolder, sys() / "block" / name);
        fs::create_directory_symlink(blockFolder, sys() / "class" / "block" / name);
        return blockFolder;
    }
    fs::path addPartition(const fs::path& diskFolder, const std::string& name, int number, std::uint64_t sectors,
                          const std::string& devNumber, int ro = 0) {
        fs::path p = diskFolder / name;
        fs::create_directories(p);
        writeText(p / "partition", std::to_string(number) + "\n");
        writeText(p / "size", std::to_string(sectors) + "\n");
        writeText(p / "start", "2048\n");
        writeText(p / "ro", std::to_string(ro) + "\n");
        writeText(p / "dev", devNumber + "\n");
        fs::create_directory_symlink(p, sys() / "class" / "block" / name);
        return p;
    }
    void mountLine(const std::string& line) { std::ofstream(mountInfo(), std::ios::app) << line << "\n"; }

private:
    fs::path root_;
};

const Dict* findByPath(const Array& list, const std::string& path) {
    for (const Value& v : list)
        if (v.dictValue().get("Path").description() == path) return &v.dictValue();
    return nullptr;
}

std::vector<std::string> pathsOf(const Array& list) {
    std::vector<std::string> out;
    for (const Value& v : list)
        out.push_back(v.dictValue().get("Path").description());
    return out;
}

class DriveDiscoveryTree : public ::testing::Test {
protected:
    void SetUp() override {
        setLogSink([this](const std::string& l) { log.push_back(l); });
    }
    void TearDown() override { setLogSink(nullptr); }
    std::vector<std::string> log;
};

// The machine the discovery tests look at:
//  - sda: SATA disk, GPT: sda1 EFI system, sda2 basic data holding FAT32 and
//    mounted (with a bind mount of one of its folders listed first), sda3
//    journaled HFS+ (unmounted), sda4 Linux data holding nothing we read;
//  - sdb: removable USB stick, MBR: sdb1 FAT16 (type 0x0C), sdb2 exFAT (0x07);
//  - sdc: a read-only SATA disk;
//  - nvme0n1: NVMe disk whose GPT holds an APFS container;
//  - mmcblk0: SD card formatted without a partition table (FAT12), unmounted;
//  - loop0: an attached loop device of zeros; loop1: an unattached one;
//  - zram0: compressed swap; ram0: RAM disk.
class DriveDiscoveryFake : public DriveDiscoveryTree {
protected:
    // The machine is built once; the tests only read what discovery made
    // of it.
    static void SetUpTestSuite() {
        setLogSink([](const std::string&) {});
        fakeSystem = new FakeSystem("machine");
        built = buildMachine(*fakeSystem);
        if (built) {
            discoveryOfMachine = new DriveDiscovery(fakeSystem->paths());
            discoveryOfMachine->initialDriveList();
        }
        setLogSink(nullptr);
    }
    static void TearDownTestSuite() {
        delete discoveryOfMachine;
        delete fakeSystem;
        discoveryOfMachine = nullptr;
        fakeSystem = nullptr;
    }
    void SetUp() override {
        DriveDiscoveryTree::SetUp();
        ASSERT_TRUE(built) << "the fake machine could not be built (mkfs.vfat, mkfs.exfat and sfdisk are needed)";
    }

    static bool buildMachine(FakeSystem& f) {
        bool ok = true;

        // sda, SATA
        fs::path ata = f.device("pci0000:00/0000:00:1f.2/ata1");
        fs::create_directories(ata / "ata_port" / "ata1");
        fs::path sdaDev = f.device("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0");
        f.subsystem(sdaDev, "bus/scsi");
        f.driver(sdaDev, "scsi", "sd");
        writeText(sdaDev / "model", "Samsung SSD 860  \n");
        writeText(sdaDev / "rev", "4B6Q\n");
        writeText(sdaDev / "wwid", "t10.ATA     Samsung SSD 860 S3Z9NB0K\n");
        fs::path sda = f.addDisk("sda", sdaDev / "block" / "sda", sdaDev, {.sectors = 131072, .dev = "8:0"});
        f.addPartition(sda, "sda1", 1, 4096, "8:1");
        f.addPartition(sda, "sda2", 2, 81920, "8:2");
        f.addPartition(sda, "sda3", 3, 8192, "8:3");
        f.addPartition(sda, "sda4", 4, 8192, "8:4");
        ok = ok && partitionTable(f.dev() / "sda", 64u << 20,
                                  std::string("label: gpt\nstart=2048, size=4096, type=") + kEFI +
                                      "\nstart=6144, size=81920, type=" + kBasicData +
                                      "\nstart=88064, size=8192, type=" + kHFSPlus +
                                      "\nstart=96256, size=8192, type=" + kLinuxData + "\n");
        ok = ok && (makeFAT(f.dev() / "sda1", 2u << 20, ""));
        ok = ok && (makeFAT(f.dev() / "sda2", 40u << 20, "-F 32 -s 1 -n STICK"));
        makeHFSPlus(f.dev() / "sda3", true);
        makeBlank(f.dev() / "sda4", 4u << 20);

        // sdb, USB stick
        fs::path usbDev = f.device("pci0000:00/0000:00:14.0/usb2/2-1");
        f.subsystem(usbDev, "bus/usb");
        fs::path sdbDev = f.device("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0");
        f.subsystem(sdbDev, "bus/scsi");
        f.driver(sdbDev, "scsi", "sd");
        writeText(sdbDev / "model", "Cruzer Blade    \n");
        writeText(sdbDev / "vendor", "SanDisk \n");
        writeText(sdbDev / "rev", "1.00\n");
        fs::path sdb =
            f.addDisk("sdb", sdbDev / "block" / "sdb", sdbDev, {.sectors = 65536, .removable = 1, .dev = "8:16"});
        f.addPartition(sdb, "sdb1", 1, 16384, "8:17");
        f.addPartition(sdb, "sdb2", 2, 8192, "8:18");
        ok = ok && partitionTable(f.dev() / "sdb", 32u << 20,
                                  "label: dos\nstart=2048, size=16384, type=c\nstart=18432, size=8192, type=7\n");
        ok = ok && (makeFAT(f.dev() / "sdb1", 8u << 20, "-F 16 -s 1"));
        makeBlank(f.dev() / "sdb2", 4u << 20);
        ok = ok && (run("mkfs.exfat " + quoted(f.dev() / "sdb2")));

        // sdc, read-only
        fs::path sdcDev = f.device("pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0");
        f.driver(sdcDev, "scsi", "sd");
        f.addDisk("sdc", sdcDev / "block" / "sdc", sdcDev, {.sectors = 2048, .ro = 1, .dev = "8:32"});
        makeBlank(f.dev() / "sdc", 1u << 20);

        // nvme0n1
        fs::path pci = f.device("pci0000:00/0000:00:1d.0/0000:3d:00.0");
        f.subsystem(pci, "bus/pci");
        f.driver(pci, "pci", "nvme");
        fs::path ctrl = f.device("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0");
        f.subsystem(ctrl, "class/nvme");
        writeText(ctrl / "model", "WDC PC SN730\n");
        writeText(ctrl / "serial", "2034AB  \n");
        writeText(ctrl / "firmware_rev", "11170101\n");
        fs::path nvme =
            f.addDisk("nvme0n1", ctrl / "nvme0n1", ctrl, {.sectors = 65536, .logicalBlockSize = 4096, .dev = "259:0"});
        f.addPartition(nvme, "nvme0n1p1", 1, 16384, "259:1");
        ok = ok && partitionTable(f.dev() / "nvme0n1", 32u << 20,
                                  std::string("label: gpt\nstart=2048, size=16384, type=") + kAPFSContainer + "\n");
        makeAPFSContainer(f.dev() / "nvme0n1p1");

        // mmcblk0, an SD card without a partition table
        fs::path card = f.device("platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa");
        f.subsystem(card, "bus/mmc");
        f.driver(card, "mmc", "mmcblk");
        writeText(card / "name", "SC64G\n");
        writeText(card / "serial", "0x1234abcd\n");
        writeText(card / "fwrev", "0x0\n");
        f.addDisk("mmcblk0", card / "block" / "mmcblk0", card, {.sectors = 4096, .dev = "179:0"});
        ok = ok && (makeFAT(f.dev() / "mmcblk0", 2u << 20, "-n CARD"));

        // loop devices, zram, RAM disk
        fs::path loop0 = f.device("virtual/block/loop0");
        fs::create_directories(loop0 / "loop");
        f.addDisk("loop0", loop0, {}, {.sectors = 2048, .dev = "7:0"});
        makeBlank(f.dev() / "loop0", 1u << 20);
        fs::path loop1 = f.device("virtual/block/loop1");
        fs::create_directories(loop1 / "loop");
        f.addDisk("loop1", loop1, {}, {.sectors = 0, .dev = "7:1"});
        fs::path zram = f.device("virtual/block/zram0");
        writeText(zram / "comp_algorithm", "[lzo-rle] zstd\n");
        f.addDisk("zram0", zram, {}, {.sectors = 1048576, .dev = "253:0"});
        f.addDisk("ram0", f.device("virtual/block/ram0"), {}, {.sectors = 8192, .dev = "1:0"});

        f.mountLine("27 1 254:0 / / rw,relatime - ext4 /dev/vda rw");
        f.mountLine("22 27 0:21 / /proc rw,relatime - proc proc rw");
        f.mountLine("101 27 8:2 /photos /srv/bound\\040photos rw,relatime - vfat /dev/sda2 rw");
        f.mountLine("100 27 8:2 / /media/user/My\\040Stick rw,relatime shared:1 - vfat /dev/sda2 rw,fmask=0022");

        return ok;
    }

    static inline FakeSystem* fakeSystem = nullptr;
    static inline DriveDiscovery* discoveryOfMachine = nullptr;
    static inline bool built = false;
    FakeSystem& fake = *fakeSystem;
    DriveDiscovery* discovery = discoveryOfMachine;
};

} // namespace

// --- the mount table ---

TEST(MountTable, EscapedBlanksTabsNewlinesAndBackslashesAreUnescaped) {
    EXPECT_EQ(MountTable::unescape("/media/My\\040Stick"), "/media/My Stick");
    EXPECT_EQ(MountTable::unescape("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    // An escape cut short stays as it is.
    EXPECT_EQ(MountTable::unescape("end\\04"), "end\\04");
    EXPECT_EQ(MountTable::unescape("\\"), "\\");
}

TEST(MountTable, OptionalFieldsBeforeTheSeparatorAreSkipped) {
    auto entries = MountTable::parse("36 35 98:0 /mnt1 /mnt/parent\\040dir rw,noatime master:1 shared:2 - "
                                     "ext3 /dev/root rw,errors=continue\n"
                                     "garbage line\n"
                                     "37 35 8:17 / /media/x rw - vfat /dev/sdb1 rw");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].majorMinor, "98:0");
    EXPECT_EQ(entries[0].root, "/mnt1");
    EXPECT_EQ(entries[0].mountPoint, "/mnt/parent dir");
    EXPECT_EQ(entries[0].fsType, "ext3");
    EXPECT_EQ(entries[0].source, "/dev/root");
    EXPECT_EQ(entries[0].major(), 98u);
    EXPECT_EQ(entries[1].source, "/dev/sdb1");
}

TEST(MountTable, AMissingFileGivesNoEntries) {
    EXPECT_TRUE(MountTable::read("/nonexistent/mountinfo").empty());
}

// --- the steps on their own ---

TEST(DriveDiscoverySteps, RenamedKeysAndMappedContents) {
    DriveDiscovery d(SystemPaths{"/nonexistent", "/nonexistent", "/dev"});
    Value v;
    EXPECT_EQ(d.newKeyForKey("Content", v, Value("48465300-0000-11AA-AA11-00306543ECAC")), "Content");
    EXPECT_EQ(v.stringValue(), "Apple_HFS");
    d.newKeyForKey("Content", v, Value("Windows_FAT_32"));
    EXPECT_EQ(v.stringValue(), "FAT32");
    d.newKeyForKey("Content", v, Value("Windows_FAT_16"));
    EXPECT_EQ(v.stringValue(), "FAT16");
    d.newKeyForKey("Content", v, Value("DOS_FAT_32"));
    EXPECT_EQ(v.stringValue(), "DOS_FAT_32");
    EXPECT_EQ(d.newKeyForKey("Model", v, Value("M")), "device model");
    EXPECT_EQ(d.newKeyForKey("Serial Number", v, Value("S")), "device serial");
    EXPECT_EQ(d.newKeyForKey("Revision", v, Value("R")), "device revision");
    EXPECT_EQ(d.newKeyForKey("BSD Name", v, Value("sdb1")), "Path");
    EXPECT_EQ(v.stringValue(), "/dev/sdb1");
    EXPECT_EQ(d.newKeyForKey("Size", v, Value(1)), std::nullopt);
}

TEST(DriveDiscoverySteps, FlatteningKeepsTheNearestSourceAndMarksEmptyValues) {
    DriveDiscovery d(SystemPaths{"/nonexistent", "/nonexistent", "/dev"});
    d.responseDriveFinder.push_back(Array{
        Dict{{"BSD Name", "sdb1"}, {"Size", 100}, {"Content", "Windows_FAT_32"}, {"Writable", true}},
        Dict{{"BSD Name", "sdb"}, {"Size", 1000}, {"Content", "FDisk_partition_scheme"}},
        Dict{{"Model", ""},
             {"Protocol Characteristics", Dict{{"Physical Interconnect", "USB"}, {"Deeper", Dict{{"Size", 5}}}}},
             {"Device Characteristics", Dict{{"Vendor Identification", "SanDisk"},
                                             {"Product Identification", "Cruzer"},
                                             {"Product Revision Level", "1.00"}}}},
    });
    d.sortDriveFinderResponse();
    ASSERT_EQ(d.responseFindMedia.size(), 1u);
    const Dict& m = d.responseFindMedia[0].dictValue();
    EXPECT_EQ(m.get("Path").stringValue(), "/dev/sdb1");
    EXPECT_EQ(m.get("Size").intValue(), 100);
    EXPECT_EQ(m.get("Content").stringValue(), "FAT32");
    EXPECT_EQ(m.get("Physical Interconnect").stringValue(), "USB");
    // A USB device shows its vendor and product identification.
    EXPECT_EQ(m.get("device model").stringValue(), "SanDisk");
    EXPECT_EQ(m.get("device serial").stringValue(), "Cruzer");
    EXPECT_EQ(m.get("device revision").stringValue(), "1.00");
    EXPECT_FALSE(m.contains("Writable"));
    EXPECT_FALSE(m.contains("Deeper"));
}

TEST(DriveDiscoverySteps, SATAIdentityTakesTheProductNameAndKeepsTheSerialNumber) {
    DriveDiscovery d(SystemPaths{"/nonexistent", "/nonexistent", "/dev"});
    d.responseDriveFinder.push_back(Array{
        Dict{{"BSD Name", "sda"}},
        Dict{{"Serial Number", "S3Z9"},
             {"Product Name", "Samsung SSD"},
             {"Protocol Characteristics", Dict{{"Physical Interconnect", "SATA"}}}},
    });
    d.sortDriveFinderResponse();
    const Dict& m = d.responseFindMedia[0].dictValue();
    EXPECT_EQ(m.get("device model").stringValue(), "Samsung SSD");
    EXPECT_EQ(m.get("device serial").stringValue(), "S3Z9");
}

TEST(DriveDiscoverySteps, IdentityLosesBlanksAndMissingPartsBecomeDashes) {
    DriveDiscovery d(SystemPaths{"/nonexistent", "/nonexistent", "/dev"});
    d.responseFindMedia.push_back(
        Dict{{"Path", "/dev/sda"}, {"device model", " \tSamsung  "}, {"device serial", "   "}});
    d.responseFindMedia.push_back(Dict{{"Path", "/dev/sda1"}, {"WhetherVolume", true}, {"device model", " x "}});
    d.truncateDriveModelNumber();
    const Dict& drive = d.responseFindMedia[0].dictValue();
    EXPECT_EQ(drive.get("device model").stringValue(), "Samsung");
    EXPECT_EQ(drive.get("device serial").stringValue(), "-");
    EXPECT_EQ(drive.get("device revision").stringValue(), "-");
    EXPECT_EQ(d.responseFindMedia[1].dictValue().get("device model").stringValue(), " x ");
}

// --- a whole fake machine ---

TEST_F(DriveDiscoveryFake, DrivesAreTheWritableDisksWithASize) {
    EXPECT_EQ(pathsOf(discovery->driveDictArray()),
              (std::vector<std::string>{fake.node("loop0"), fake.node("mmcblk0"), fake.node("nvme0n1"),
                                        fake.node("sda"), fake.node("sdb")}));
}

TEST_F(DriveDiscoveryFake, ASATADiskGivesItsWholeDriveDictionary) {
    const Dict* found = findByPath(discovery->driveDictArray(), fake.node("sda"));
    ASSERT_NE(found, nullptr);
    Dict sda = *found;
    EXPECT_EQ(sda.get("Children Volume Array").arrayValue().size(), 2u);
    sda.remove("Children Volume Array");
    EXPECT_EQ(sda, (Dict{{"Path", fake.node("sda")},
                         {"Size", 131072ull * 512},
                         {"Preferred Block Size", 512},
                         {"Content", "GUID_partition_scheme"},
                         {"Physical Interconnect", "SATA"},
                         {"device model", "Samsung SSD 860"},
                         {"device serial", "t10.ATA     Samsung SSD 860 S3Z9NB0K"},
                         {"device revision", "4B6Q"},
                         {"CFBundleIdentifier", "sd"},
                         {"IOBundleResourceFile", "Internal.icns"},
                         {"bundle path", (fake.sys() / "bus" / "scsi" / "drivers" / "sd").string()},
                         {"WhetherDiskDict", true},
                         {"Volume and Drive Index", 5}}));
}

TEST_F(DriveDiscoveryFake, AMountedFATPartitionGivesItsWholeVolumeDictionary) {
    const Dict* v = findByPath(discovery->volumeDictArray(), fake.node("sda2"));
    ASSERT_NE(v, nullptr);
    // The mount of the volume's root, not the bind mount of one of its
    // folders listed before it; the blank comes back from \040.
    EXPECT_EQ(*v, (Dict{{"Path", fake.node("sda2")},
                        {"Size", 81920ull * 512},
                        {"Preferred Block Size", 512},
                        {"Content", "FAT32"},
                        {"CFBundleIdentifier", "sd"},
                        {"IOBundleResourceFile", "Internal.icns"},
                        {"Physical Interconnect", "SATA"},
                        {"device model", "Samsung SSD 860"},
                        {"device serial", "t10.ATA     Samsung SSD 860 S3Z9NB0K"},
                        {"device revision", "4B6Q"},
                        {"WhetherVolume", true},
                        {"Volume Name", "My Stick"},
                        {"Mounted Path", "/media/user/My Stick"},
                        {"journaled", "-"},
                        {"supportFileSystemRecovery", 1},
                        {"fileSystem", 1},
                        {"HFSVolumeStart", 0},
                        {"Parent Drive Path", fake.node("sda")},
                        {"Index of child Volume", 0},
                        {"Total Volumes in a disk", 2},
                        {"Volume and Drive Index", 6},
                        {"bundle path", (fake.sys() / "bus" / "scsi" / "drivers" / "sd").string()}}))
        << Value(*v).description();
}

TEST_F(DriveDiscoveryFake, VolumesAreTheRecognisedOnesMountedOrNot) {
    EXPECT_EQ(pathsOf(discovery->volumeDictArray()),
              (std::vector<std::string>{fake.node("nvme0n1p1"), fake.node("sda2"), fake.node("sda3"), fake.node("sdb1"),
                                        fake.node("sdb2"), fake.node("mmcblk0")}));
    EXPECT_EQ(pathsOf(discovery->volumeDictArrayHFSOnly()),
              (std::vector<std::string>{fake.node("nvme0n1p1"), fake.node("sda3"), fake.node("sdb2")}));
}

TEST_F(DriveDiscoveryFake, EachFileSystemGetsItsContentWord) {
    const Array& vols = discovery->volumeDictArray();
    const Dict* hfs = findByPath(vols, fake.node("sda3"));
    ASSERT_NE(hfs, nullptr);
    EXPECT_EQ(hfs->get("Content").stringValue(), "Apple_HFS");
    EXPECT_EQ(hfs->get("journaled").stringValue(), "Yes");
    EXPECT_EQ(hfs->get("supportFileSystemRecovery").intValue(), 1);
    EXPECT_EQ(hfs->get("fileSystem").intValue(), 0);
    EXPECT_FALSE(hfs->contains("Mounted Path"));
    EXPECT_EQ(hfs->get("Volume Name").stringValue(), "sda3");

    const Dict* fat16 = findByPath(vols, fake.node("sdb1"));
    ASSERT_NE(fat16, nullptr);
    EXPECT_EQ(fat16->get("Content").stringValue(), "FAT16");

    const Dict* exfat = findByPath(vols, fake.node("sdb2"));
    ASSERT_NE(exfat, nullptr);
    EXPECT_EQ(exfat->get("Content").stringValue(), kBasicData);
    EXPECT_EQ(exfat->get("fileSystem").intValue(), 1);
    EXPECT_EQ(exfat->get("journaled").stringValue(), "-");

    // The APFS row is the container partition itself.
    const Dict* apfs = findByPath(vols, fake.node("nvme0n1p1"));
    ASSERT_NE(apfs, nullptr);
    EXPECT_EQ(apfs->get("Content").stringValue(), "APFS");
    EXPECT_EQ(apfs->get("Preferred Block Size").intValue(), 4096);
    EXPECT_EQ(apfs->get("Physical Interconnect").stringValue(), "PCI-Express");

    // The card's file system fills it: drive and volume share the device.
    const Dict* card = findByPath(vols, fake.node("mmcblk0"));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->get("Content").stringValue(), "FAT12");
    EXPECT_EQ(card->get("Volume Name").stringValue(), "CARD");
    EXPECT_EQ(card->get("Parent Drive Path").stringValue(), fake.node("mmcblk0"));
    EXPECT_EQ(card->get("Physical Interconnect").stringValue(), "Secure Digital");
    EXPECT_FALSE(card->contains("WhetherDiskDict"));
}

TEST_F(DriveDiscoveryFake, PartitionsOfOtherKindsAreLeftOut) {
    const Array& vols = discovery->volumeDictArray();
    EXPECT_EQ(findByPath(vols, fake.node("sda1")), nullptr);  // EFI system partition
    EXPECT_EQ(findByPath(vols, fake.node("sda4")), nullptr);  // Linux data, no FAT
    EXPECT_EQ(findByPath(vols, fake.node("loop0")), nullptr); // zeros
}

TEST_F(DriveDiscoveryFake, BusIdentityAndIconKindComeFromSysfs) {
    const Array& drives = discovery->driveDictArray();
    const Dict* sdb = findByPath(drives, fake.node("sdb"));
    ASSERT_NE(sdb, nullptr);
    EXPECT_EQ(sdb->get("Physical Interconnect").stringValue(), "USB");
    EXPECT_EQ(sdb->get("IOBundleResourceFile").stringValue(), "Removable.icns");
    EXPECT_EQ(sdb->get("device model").stringValue(), "Cruzer Blade");
    EXPECT_EQ(sdb->get("device serial").stringValue(), "-");
    EXPECT_EQ(sdb->get("Content").stringValue(), "FDisk_partition_scheme");

    const Dict* nvme = findByPath(drives, fake.node("nvme0n1"));
    ASSERT_NE(nvme, nullptr);
    EXPECT_EQ(nvme->get("device model").stringValue(), "WDC PC SN730");
    EXPECT_EQ(nvme->get("device serial").stringValue(), "2034AB");
    EXPECT_EQ(nvme->get("device revision").stringValue(), "11170101");
    EXPECT_EQ(nvme->get("CFBundleIdentifier").stringValue(), "nvme");
    EXPECT_EQ(nvme->get("bundle path").stringValue(), (fake.sys() / "bus" / "pci" / "drivers" / "nvme").string());
    EXPECT_EQ(nvme->get("Size").uint64Value(), 65536ull * 512);

    const Dict* card = findByPath(drives, fake.node("mmcblk0"));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->get("device model").stringValue(), "SC64G");
    EXPECT_EQ(card->get("device serial").stringValue(), "0x1234abcd");
    EXPECT_EQ(card->get("device revision").stringValue(), "0x0");
    EXPECT_EQ(card->get("Content").stringValue(), "-");

    const Dict* loop = findByPath(drives, fake.node("loop0"));
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->get("Physical Interconnect").stringValue(), "Virtual Interface");
    EXPECT_EQ(loop->get("CFBundleIdentifier").stringValue(), "loop");
    EXPECT_EQ(loop->get("bundle path").stringValue(), "nil");
    EXPECT_EQ(loop->get("device model").stringValue(), "-");
    EXPECT_EQ(loop->get("Size").uint64Value(), 2048ull * 512);
    EXPECT_FALSE(loop->contains("Children Volume Array"));
}

TEST_F(DriveDiscoveryFake, DrivesAndVolumesAreNumberedInListOrder) {
    const Array& drives = discovery->driveDictArray();
    std::vector<std::pair<std::string, int>> rows;
    for (std::size_t r = 0; r < 11; ++r) {
        auto d =
            DriveListRows::rowObject(3, r, drives, discovery->volumeDictArray(), discovery->volumeDictArrayHFSOnly());
        ASSERT_TRUE(d) << r;
        rows.push_back(
            {fs::path(d->get("Path").description()).filename().string(), d->contains("WhetherVolume") ? 1 : 0});
    }
    EXPECT_EQ(rows, (std::vector<std::pair<std::string, int>>{{"loop0", 0},
                                                              {"mmcblk0", 0},
                                                              {"mmcblk0", 1},
                                                              {"nvme0n1", 0},
                                                              {"nvme0n1p1", 1},
                                                              {"sda", 0},
                                                              {"sda2", 1},
                                                              {"sda3", 1},
                                                              {"sdb", 0},
                                                              {"sdb1", 1},
                                                              {"sdb2", 1}}));
    EXPECT_FALSE(
        DriveListRows::rowObject(3, 11, drives, discovery->volumeDictArray(), discovery->volumeDictArrayHFSOnly()));
    // A drive's "Children Volume Array" holds its volumes as they are in the
    // volume list, numbers and icon keys included.
    const Dict* sdb = findByPath(drives, fake.node("sdb"));
    const Array& children = sdb->get("Children Volume Array").arrayValue();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1].dictValue(), *findByPath(discovery->volumeDictArray(), fake.node("sdb2")));
    EXPECT_EQ(children[1].dictValue().get("Index of child Volume").intValue(), 1);
    EXPECT_EQ(children[1].dictValue().get("bundle path").stringValue(),
              (fake.sys() / "bus" / "scsi" / "drivers" / "sd").string());
}

TEST_F(DriveDiscoveryFake, RowsAndCellsForEachMode) {
    const Array& d = discovery->driveDictArray();
    const Array& v = discovery->volumeDictArray();
    const Array& h = discovery->volumeDictArrayHFSOnly();
    EXPECT_EQ(DriveListRows::numberOfRows(0, d, v, h), 6u);
    EXPECT_EQ(DriveListRows::numberOfRows(3, d, v, h), 11u);
    EXPECT_EQ(DriveListRows::numberOfRows(4, d, v, h), 5u);
    EXPECT_EQ(DriveListRows::numberOfRows(5, d, v, h), 3u);
    EXPECT_EQ(DriveListRows::numberOfRows(-1, d, v, h), 0u);
    EXPECT_EQ(DriveListRows::cellCount(3, d, v), 11u);
    EXPECT_EQ(DriveListRows::cellCount(5, d, v), 6u);
    EXPECT_EQ(DriveListRows::cellCount(4, d, v), 5u);
    EXPECT_EQ(DriveListRows::cellCount(-1, d, v), 0u);
    EXPECT_EQ(DriveListRows::rowObject(5, 1, d, v, h)->get("Path").stringValue(), fake.node("sda3"));
    EXPECT_EQ(DriveListRows::rowObject(4, 0, d, v, h)->get("Path").stringValue(), fake.node("loop0"));
    EXPECT_EQ(DriveListRows::rowObject(1, 5, d, v, h)->get("Path").stringValue(), fake.node("mmcblk0"));
    EXPECT_FALSE(DriveListRows::rowObject(1, 6, d, v, h));
}

TEST_F(DriveDiscoveryFake, ARefreshBuildsTheSameListsAgain) {
    Array drives = discovery->driveDictArray();
    Array volumes = discovery->volumeDictArray();
    discovery->initialDriveList();
    EXPECT_EQ(discovery->driveDictArray(), drives);
    EXPECT_EQ(discovery->volumeDictArray(), volumes);
}

TEST_F(DriveDiscoveryFake, MountedVolumesComeFromTheMountTable) {
    // Only file systems on a device are looked at; /proc is not.
    std::vector<std::string> mounted;
    for (const Value& v : discovery->finalArrayForVolumes)
        mounted.push_back(v.dictValue().get("Mounted Path").stringValue());
    EXPECT_EQ(mounted, (std::vector<std::string>{"/", "/srv/bound photos", "/media/user/My Stick"}));
    const Dict& root = discovery->finalArrayForVolumes[0].dictValue();
    EXPECT_EQ(root.get("Volume Name").stringValue(), "/");
    EXPECT_EQ(root.get("Volume Path").stringValue(), "/dev/vda");
}

// --- odd trees ---

TEST_F(DriveDiscoveryTree, AMountedWholeDiskIsADriveAndAVolumeOnTheSameDevice) {
    FakeSystem f("wholedisk");
    fs::path card = f.device("platform/mmc0/mmc0:0001");
    f.subsystem(card, "bus/mmc");
    f.addDisk("mmcblk1", card / "block" / "mmcblk1", card, {.sectors = 4096, .dev = "179:8"});
    ASSERT_TRUE(makeFAT(f.dev() / "mmcblk1", 2u << 20, ""));
    f.mountLine("50 27 179:8 / /media/card rw - vfat /dev/mmcblk1 rw");
    DriveDiscovery d(f.paths());
    d.initialDriveList();
    ASSERT_EQ(d.driveDictArray().size(), 1u);
    ASSERT_EQ(d.volumeDictArray().size(), 1u);
    const Dict& drive = d.driveDictArray()[0].dictValue();
    const Dict& volume = d.volumeDictArray()[0].dictValue();
    EXPECT_EQ(drive.get("Path"), volume.get("Path"));
    EXPECT_EQ(volume.get("Mounted Path").stringValue(), "/media/card");
    EXPECT_EQ(volume.get("Volume Name").stringValue(), "card");
    EXPECT_EQ(volume.get("Content").stringValue(), "FAT12");
    EXPECT_EQ(volume.get("Parent Drive Path").stringValue(), f.node("mmcblk1"));
    EXPECT_EQ(drive.get("Children Volume Array").arrayValue().size(), 1u);
    EXPECT_FALSE(drive.contains("Mounted Path"));
    // A disk without a driver of its own still has an identifier, and its
    // bundle is one no driver folder carries.
    EXPECT_EQ(drive.get("bundle path").stringValue(), "nil");
}

TEST_F(DriveDiscoveryTree, ReadOnlyPartitionsAndPartitionsOfUnlistedDisksAreNotVolumes) {
    FakeSystem f("ro");
    fs::path devA = f.device("pci0000:00/usb1/1-1/host2/target2:0:0/2:0:0:0");
    fs::path a = f.addDisk("sdx", devA / "block" / "sdx", devA, {.sectors = 65536, .dev = "8:64"});
    f.addPartition(a, "sdx1", 1, 16384, "8:65", /*ro=*/1);
    fs::path devB = f.device("pci0000:00/usb1/1-2/host3/target3:0:0/3:0:0:0");
    fs::path b = f.addDisk("sdy", devB / "block" / "sdy", devB, {.sectors = 65536, .ro = 1, .dev = "8:80"});
    f.addPartition(b, "sdy1", 1, 16384, "8:81");
    ASSERT_TRUE(makeFAT(f.dev() / "sdx1", 8u << 20, ""));
    ASSERT_TRUE(makeFAT(f.dev() / "sdy1", 8u << 20, ""));
    makeBlank(f.dev() / "sdx", 32u << 20);
    DriveDiscovery d(f.paths());
    d.initialDriveList();
    EXPECT_EQ(pathsOf(d.driveDictArray()), std::vector<std::string>{f.node("sdx")});
    // sdx has a partition, so it is no whole-disk volume either.
    EXPECT_TRUE(d.volumeDictArray().empty());
}

TEST_F(DriveDiscoveryTree, APartitionBelongsToTheDiskAboveItWhateverItsName) {
    // loop10p1 begins with "loop1" and "data" with nothing of its disk's
    // name: only the folders say where each belongs.
    FakeSystem f("names");
    fs::path loop1 = f.device("virtual/block/loop1");
    fs::create_directories(loop1 / "loop");
    f.addDisk("loop1", loop1, {}, {.sectors = 65536, .dev = "7:1"});
    fs::path loop10 = f.device("virtual/block/loop10");
    fs::create_directories(loop10 / "loop");
    f.addDisk("loop10", loop10, {}, {.sectors = 65536, .dev = "7:10"});
    f.addPartition(loop10, "loop10p1", 1, 16384, "259:5");
    f.addPartition(loop1, "data", 1, 16384, "259:6");
    makeBlank(f.dev() / "loop1", 32u << 20);
    makeBlank(f.dev() / "loop10", 32u << 20);
    ASSERT_TRUE(makeFAT(f.dev() / "loop10p1", 8u << 20, "-F 16 -s 1"));
    ASSERT_TRUE(makeFAT(f.dev() / "data", 8u << 20, "-F 16 -s 1"));
    DriveDiscovery d(f.paths());
    d.initialDriveList();
    EXPECT_EQ(pathsOf(d.driveDictArray()), (std::vector<std::string>{f.node("loop1"), f.node("loop10")}));
    EXPECT_EQ(pathsOf(d.volumeDictArray()), (std::vector<std::string>{f.node("data"), f.node("loop10p1")}));
    EXPECT_EQ(findByPath(d.volumeDictArray(), f.node("loop10p1"))->get("Parent Drive Path").stringValue(),
              f.node("loop10"));
    EXPECT_EQ(findByPath(d.volumeDictArray(), f.node("data"))->get("Parent Drive Path").stringValue(), f.node("loop1"));
    EXPECT_EQ(findByPath(d.driveDictArray(), f.node("loop10"))->get("Volume and Drive Index").intValue(), 2);
}

TEST_F(DriveDiscoveryTree, LongPathsAreFollowedWhateverTheirLength) {
    // A device folder far longer than any fixed path field, and a mount
    // point longer than the 512 bytes a mount-table entry once could hold.
    std::string deep = "dev";
    for (int i = 0; i < 12; ++i)
        deep += "/a-rather-long-folder-name-for-devices-" + std::to_string(i);
    FakeSystem f("long");
    SystemPaths paths = f.paths();
    paths.deviceDir = (fs::path(paths.sysfsRoot).parent_path() / deep).string();
    ASSERT_GT(paths.deviceDir.size(), 500u);
    fs::path dir = f.device("pci0000:00/0000:00:1f.2/ata3/host4/target4:0:0/4:0:0:0");
    fs::path disk = f.addDisk("sdz", dir / "block" / "sdz", dir, {.sectors = 65536, .dev = "8:96"});
    f.addPartition(disk, "sdz1", 1, 16384, "8:97");
    ASSERT_TRUE(makeFAT(fs::path(paths.deviceDir) / "sdz1", 8u << 20, "-F 16 -s 1 -n LONG"));
    std::string mountPoint = "/media";
    for (int i = 0; i < 80; ++i)
        mountPoint += "/folder\\040number\\040" + std::to_string(i);
    f.mountLine("70 27 8:97 / " + mountPoint + " rw - vfat /dev/sdz1 rw");
    DriveDiscovery d(paths);
    d.initialDriveList();
    ASSERT_EQ(d.volumeDictArray().size(), 1u);
    const Dict& v = d.volumeDictArray()[0].dictValue();
    EXPECT_EQ(v.get("Path").stringValue(), paths.deviceDir + "/sdz1");
    EXPECT_EQ(v.get("Content").stringValue(), "FAT16");
    EXPECT_EQ(v.get("Mounted Path").stringValue(), MountTable::unescape(mountPoint));
    EXPECT_GT(v.get("Mounted Path").stringValue().size(), 1000u);
    EXPECT_EQ(v.get("Volume Name").stringValue(), "folder number 79");
}

TEST_F(DriveDiscoveryTree, AnEmptyOrMissingTreeGivesEmptyLists) {
    DriveDiscovery d(SystemPaths{"/nonexistent/sys", "/nonexistent/mountinfo", "/nonexistent/dev"});
    d.initialDriveList();
    EXPECT_TRUE(d.driveDictArray().empty());
    EXPECT_TRUE(d.volumeDictArray().empty());
    EXPECT_TRUE(d.volumeDictArrayHFSOnly().empty());
}

TEST_F(DriveDiscoveryTree, AnAttributeIsReadOnlyUpToItsBound) {
    FakeSystem f("attr");
    writeText(f.sys() / "big", std::string(100000, 'x'));
    auto v = SysfsBlockDevice::readAttribute((f.sys() / "big").string());
    ASSERT_TRUE(v);
    EXPECT_EQ(v->size(), SysfsBlockDevice::kMaxAttribute);
    writeText(f.sys() / "ctl", std::string("a\x01\x1b[31mb\nsecond line"));
    EXPECT_EQ(*SysfsBlockDevice::readAttribute((f.sys() / "ctl").string()), "a  [31mb");
}

// --- icon keys and rows ---

TEST(DriveListRows, ADriveWithADriverButNoIconAndNoVolumesGetsTheRemovableIcon) {
    Array drives{Dict{{"Path", "/dev/sdq"}, {"CFBundleIdentifier", "usb-storage"}}};
    DriveListRows::fixBundleResource(drives);
    EXPECT_EQ(drives[0].dictValue().get("CFBundleIdentifier").stringValue(), "com.apple.iokit.IOStorageFamily");
    EXPECT_EQ(drives[0].dictValue().get("IOBundleResourceFile").stringValue(), "Removable.icns");
}

TEST(DriveListRows, ADriveWithoutIconTakesItsFirstVolumesIcon) {
    Array drives{Dict{{"Path", "/dev/sdq"},
                      {"CFBundleIdentifier", "x"},
                      {"Children Volume Array",
                       Array{Dict{{"CFBundleIdentifier", "sd"}, {"IOBundleResourceFile", "External.icns"}}}}},
                 Dict{{"Path", "/dev/sdr"}, {"CFBundleIdentifier", "x"}, {"IOBundleResourceFile", "Internal.icns"}},
                 Dict{{"Path", "/dev/sds"}}};
    DriveListRows::fixBundleResource(drives);
    EXPECT_EQ(drives[0].dictValue().get("CFBundleIdentifier").stringValue(), "sd");
    EXPECT_EQ(drives[0].dictValue().get("IOBundleResourceFile").stringValue(), "External.icns");
    EXPECT_EQ(drives[1].dictValue().get("IOBundleResourceFile").stringValue(), "Internal.icns");
    EXPECT_FALSE(drives[2].dictValue().contains("IOBundleResourceFile"));
}

TEST(DriveListRows, VolumesShowTheirDrivesIconAndSharedDriversShareOneBundle) {
    Array drives{
        Dict{{"Path", "/dev/sda"}, {"CFBundleIdentifier", "sd"}, {"IOBundleResourceFile", "Internal.icns"}},
        Dict{{"Path", "/dev/sdb"}, {"CFBundleIdentifier", "sd"}, {"IOBundleResourceFile", "Removable.icns"}},
        Dict{{"Path", "/dev/vdb"}, {"CFBundleIdentifier", "virtio_blk"}, {"IOBundleResourceFile", "Internal.icns"}}};
    Array volumes{Dict{{"Path", "/dev/sdb1"},
                       {"Parent Drive Path", "/dev/sdb"},
                       {"CFBundleIdentifier", "own"},
                       {"IOBundleResourceFile", "Own.icns"}},
                  Dict{{"Path", "/dev/vdb"}, {"Parent Drive Path", "/dev/vdb"}},
                  Dict{{"Path", "/dev/orphan"}, {"CFBundleIdentifier", "nobody"}}};
    std::vector<DriveListRows::Bundle> bundles{
        {"ahci", "/sys/bus/pci/drivers/ahci"}, {"sd", "/sys/bus/scsi/drivers/sd"}, {"sd", "/sys/bus/other/drivers/sd"}};
    DriveListRows::getDrvVolIconPaths(drives, volumes, bundles);
    EXPECT_EQ(drives[0].dictValue().get("bundle path").stringValue(), "/sys/bus/scsi/drivers/sd");
    EXPECT_EQ(drives[1].dictValue().get("bundle path").stringValue(), "/sys/bus/scsi/drivers/sd");
    EXPECT_EQ(drives[2].dictValue().get("bundle path").stringValue(), "nil");
    const Dict& sdb1 = volumes[0].dictValue();
    EXPECT_EQ(sdb1.get("CFBundleIdentifier").stringValue(), "sd");
    EXPECT_EQ(sdb1.get("IOBundleResourceFile").stringValue(), "Removable.icns");
    EXPECT_EQ(sdb1.get("bundle path").stringValue(), "/sys/bus/scsi/drivers/sd");
    EXPECT_EQ(volumes[1].dictValue().get("CFBundleIdentifier").stringValue(), "virtio_blk");
    EXPECT_EQ(volumes[1].dictValue().get("bundle path").stringValue(), "nil");
    // An identifier no drive names gets no bundle path at all.
    EXPECT_FALSE(volumes[2].dictValue().contains("bundle path"));
}

// --- this machine ---

TEST_F(DriveDiscoveryTree, TheRealSystemListsAnAttachedImage) {
    fs::path dir = testsupport::makeTempDir("loop");
    fs::path image = dir / "card.img";
    ASSERT_TRUE(makeFAT(image, 8u << 20, "-F 16 -s 1 -n LOOPCARD"));
    std::string loop = testsupport::runCommand("losetup -fP --show " + quoted(image) + " 2>/dev/null").value_or("");
    while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' '))
        loop.pop_back();
    if (loop.empty()) GTEST_SKIP() << "losetup is not permitted here; attaching an image needs root";
    struct Detach {
        std::string dev;
        ~Detach() { run("losetup -d '" + dev + "'"); }
    } detach{loop};

    DriveDiscovery d;
    d.initialDriveList();
    const Dict* drive = findByPath(d.driveDictArray(), loop);
    ASSERT_NE(drive, nullptr) << loop << " is not in the drive list";
    EXPECT_EQ(drive->get("Size").uint64Value(), 8ull << 20);
    EXPECT_EQ(drive->get("Preferred Block Size").intValue(), 512);
    EXPECT_EQ(drive->get("Physical Interconnect").stringValue(), "Virtual Interface");
    const Dict* volume = findByPath(d.volumeDictArray(), loop);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->get("Content").stringValue(), "FAT16");
    EXPECT_EQ(volume->get("Parent Drive Path").stringValue(), loop);
    // Whatever else the machine has, every volume hangs under a listed drive.
    for (const Value& v : d.volumeDictArray())
        EXPECT_NE(findByPath(d.driveDictArray(), v.dictValue().get("Parent Drive Path").description()), nullptr);
}
