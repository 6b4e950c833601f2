#include "media/DriveDiscovery.h"

#include "media/DriveListRows.h"
#include "media/MountTable.h"
#include "media/ProbeFailures.h"
#include "media/SysfsBlockDevice.h"
#include "platform/SystemLog.h"
#include "support/FailingReads.h"
#include "support/LoopDevice.h"
#include "support/TestSupport.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;
using testsupport::writeText;
using testsupport::zeroFile;

namespace platform {
// Failures show lists and dictionaries as the program writes them.
static void PrintTo(const Array& a, std::ostream* os) {
    *os << Value(a).description();
}
static void PrintTo(const Dict& d, std::ostream* os) {
    *os << Value(d).description();
}
} // namespace platform

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

// mkfs.vfat on a file of the given size; the FAT type follows from the size.
bool makeFAT(const fs::path& p, std::uint64_t bytes, const std::string& options) {
    zeroFile(p, bytes);
    return run("mkfs.vfat " + options + " " + quoted(p));
}

// A partition table made by sfdisk from its script, on a blank disk.
bool partitionTable(const fs::path& p, std::uint64_t bytes, const std::string& script) {
    zeroFile(p, bytes);
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
    std::string driverPath(const std::string& bus, const std::string& name) const {
        return (sys() / "bus" / bus / "drivers" / name).string();
    }

    // A device folder under devices/, with its subsystem (a folder of sys)
    // and its bus's driver when they are given.
    fs::path device(const std::string& rel, const std::string& subsystemAt = "", const std::string& bus = "",
                    const std::string& driverName = "") {
        fs::path d = sys() / "devices" / rel;
        fs::create_directories(d);
        if (!subsystemAt.empty()) subsystem(d, subsystemAt);
        if (!driverName.empty()) driver(d, bus, driverName);
        return d;
    }
    void subsystem(const fs::path& dir, const std::string& where) {
        fs::create_directories(sys() / where);
        fs::create_directory_symlink(sys() / where, dir / "subsystem");
    }
    // Attribute files in a folder, each a line of text.
    void attributes(const fs::path& dir, std::initializer_list<std::pair<const char*, std::string>> values) {
        for (const auto& [name, text] : values)
            writeText(dir / name, text + "\n");
    }
    void driver(const fs::path& dir, const std::string& bus, const std::string& name) {
        fs::create_directories(driverPath(bus, name));
        fs::create_directory_symlink(driverPath(bus, name), dir / "driver");
    }

    struct Disk {
        std::uint64_t sectors = 131072;
        int ro = 0;
        int removable = 0;
        int logicalBlockSize = 512;
        std::string dev = "8:0";
    };
    // A whole disk whose block folder sits below its device folder, as a
    // SCSI or MMC disk's does, or in the folder given; the disk's folder is
    // returned.
    fs::path diskOf(const fs::path& deviceDir, const std::string& name, Disk d, fs::path blockFolder = {}) {
        if (blockFolder.empty()) blockFolder = deviceDir / "block" / name;
        attributes(blockFolder, {{"size", std::to_string(d.sectors)},
                                 {"ro", std::to_string(d.ro)},
                                 {"removable", std::to_string(d.removable)},
                                 {"dev", d.dev},
                                 {"queue/logical_block_size", std::to_string(d.logicalBlockSize)}});
        if (!deviceDir.empty()) fs::create_directory_symlink(deviceDir, blockFolder / "device");
        fs::create_directory_symlink(blockFolder, sys() / "block" / name);
        fs::create_directory_symlink(blockFolder, sys() / "class" / "block" / name);
        byNumber(blockFolder, d.dev);
        return blockFolder;
    }
    // A virtual disk (loop, zram, RAM disk) without a device link.
    fs::path virtualDisk(const std::string& name, Disk d, bool loop = false) {
        fs::path dir = device("virtual/block/" + name);
        if (loop) fs::create_directories(dir / "loop");
        return diskOf({}, name, std::move(d), dir);
    }
    fs::path addPartition(const fs::path& diskFolder, const std::string& name, int number, std::uint64_t sectors,
                          const std::string& devNumber, int ro = 0) {
        fs::path p = diskFolder / name;
        attributes(p, {{"partition", std::to_string(number)},
                       {"size", std::to_string(sectors)},
                       {"start", "2048"},
                       {"ro", std::to_string(ro)},
                       {"dev", devNumber}});
        fs::create_directory_symlink(p, sys() / "class" / "block" / name);
        byNumber(p, devNumber);
        return p;
    }
    // The entry of dev/block that names a device by its number.
    void byNumber(const fs::path& folder, const std::string& devNumber) {
        fs::create_directories(sys() / "dev" / "block");
        std::error_code ec;
        fs::create_directory_symlink(folder, sys() / "dev" / "block" / devNumber, ec);
    }
    void mountLine(const std::string& line) { std::ofstream(mountInfo(), std::ios::app) << line << "\n"; }
    std::unique_ptr<DriveDiscovery> discover(const SystemPaths& p) const {
        auto d = std::make_unique<DriveDiscovery>(p);
        d->initialDriveList();
        return d;
    }
    std::unique_ptr<DriveDiscovery> discover() const { return discover(paths()); }

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

// The values of the given keys (null where a key is missing) in the entry of
// a list with that path.
Array valuesAt(const Array& list, const std::string& path, std::initializer_list<const char*> keys) {
    const Dict* d = findByPath(list, path);
    if (!d) return Array{"no entry for " + path};
    Array out;
    for (const char* k : keys)
        out.push_back(d->get(k));
    return out;
}

// Discovery logs what it cannot read; the tests keep that quiet.
class DriveDiscoveryTree : public ::testing::Test {
protected:
    testsupport::LogCapture quiet;
};

// The machine the discovery tests look at:
//  - sda: SATA disk, GPT: sda1 EFI system, sda2 basic data holding FAT32 and
//    mounted (with a bind mount of one of its folders listed first), sda3
//    journaled HFS+ (unmounted), sda4 Linux data holding nothing we read;
//  - sdb: removable USB stick, MBR: sdb1 FAT16 (type 0x0C), sdb2 exFAT (0x07);
//  - sdc: a read-only SATA disk;
//  - nvme0n1: NVMe disk whose GPT holds an APFS container;
//  - mmcblk0: SD card formatted without a partition table (FAT12), unmounted;
//  - loop0: an attached loop device of zeros over an image file; loop1: an
//    unattached one;
//  - zram0: compressed swap; ram0: RAM disk.
class DriveDiscoveryFake : public DriveDiscoveryTree {
protected:
    // The machine is built once; the tests only read what discovery made
    // of it.
    static void SetUpTestSuite() {
        setLogSink([](const std::string&) {});
        fakeSystem = new FakeSystem("machine");
        built = buildMachine(*fakeSystem);
        if (built) discoveryOfMachine = fakeSystem->discover().release();
        setLogSink(nullptr);
    }
    static void TearDownTestSuite() {
        delete std::exchange(discoveryOfMachine, nullptr);
        delete std::exchange(fakeSystem, nullptr);
    }
    void SetUp() override {
        ASSERT_TRUE(built) << "the fake machine could not be built (mkfs.vfat, mkfs.exfat and sfdisk are needed)";
    }

    static bool buildMachine(FakeSystem& f) {
        bool ok = true;

        fs::create_directories(f.device("pci0000:00/0000:00:1f.2/ata1") / "ata_port" / "ata1");
        fs::path sdaDev = f.device("pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "bus/scsi", "scsi", "sd");
        f.attributes(
            sdaDev,
            {{"model", "Samsung SSD 860  "}, {"rev", "4B6Q"}, {"wwid", "t10.ATA     Samsung SSD 860 S3Z9NB0K"}});
        fs::path sda = f.diskOf(sdaDev, "sda", {.sectors = 131072, .dev = "8:0"});
        for (auto [n, sectors] : {std::pair{1, 4096}, {2, 81920}, {3, 8192}, {4, 8192}})
            f.addPartition(sda, "sda" + std::to_string(n), n, sectors, "8:" + std::to_string(n));
        ok = ok && partitionTable(f.dev() / "sda", 64u << 20,
                                  std::string("label: gpt\nstart=2048, size=4096, type=") + kEFI +
                                      "\nstart=6144, size=81920, type=" + kBasicData +
                                      "\nstart=88064, size=8192, type=" + kHFSPlus +
                                      "\nstart=96256, size=8192, type=" + kLinuxData + "\n");
        ok = ok && makeFAT(f.dev() / "sda1", 2u << 20, "");
        ok = ok && makeFAT(f.dev() / "sda2", 40u << 20, "-F 32 -s 1 -n STICK");
        // A journaled HFS+ volume header ("H+", version 4, journaled bit):
        // all the content tests look at.
        zeroFile(f.dev() / "sda3", 4u << 20);
        testsupport::writeBytesAt(f.dev() / "sda3", 1024, {'H', '+', 0, 4, 0, 0, 0x20, 0});
        zeroFile(f.dev() / "sda4", 4u << 20);

        f.device("pci0000:00/0000:00:14.0/usb2/2-1", "bus/usb");
        fs::path sdbDev =
            f.device("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "bus/scsi", "scsi", "sd");
        f.attributes(sdbDev, {{"model", "Cruzer Blade    "}, {"vendor", "SanDisk "}, {"rev", "1.00"}});
        fs::path sdb = f.diskOf(sdbDev, "sdb", {.sectors = 65536, .removable = 1, .dev = "8:16"});
        f.addPartition(sdb, "sdb1", 1, 16384, "8:17");
        f.addPartition(sdb, "sdb2", 2, 8192, "8:18");
        ok = ok && partitionTable(f.dev() / "sdb", 32u << 20,
                                  "label: dos\nstart=2048, size=16384, type=c\nstart=18432, size=8192, type=7\n");
        ok = ok && makeFAT(f.dev() / "sdb1", 8u << 20, "-F 16 -s 1");
        zeroFile(f.dev() / "sdb2", 4u << 20);
        ok = ok && run("mkfs.exfat " + quoted(f.dev() / "sdb2"));

        f.diskOf(f.device("pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0", "", "scsi", "sd"), "sdc",
                 {.sectors = 2048, .ro = 1, .dev = "8:32"});
        zeroFile(f.dev() / "sdc", 1u << 20);

        f.device("pci0000:00/0000:00:1d.0/0000:3d:00.0", "bus/pci", "pci", "nvme");
        fs::path ctrl = f.device("pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "class/nvme");
        f.attributes(ctrl, {{"model", "WDC PC SN730"}, {"serial", "2034AB  "}, {"firmware_rev", "11170101"}});
        fs::path nvme =
            f.diskOf(ctrl, "nvme0n1", {.sectors = 65536, .logicalBlockSize = 4096, .dev = "259:0"}, ctrl / "nvme0n1");
        f.addPartition(nvme, "nvme0n1p1", 1, 16384, "259:1");
        ok = ok && partitionTable(f.dev() / "nvme0n1", 32u << 20,
                                  std::string("label: gpt\nstart=2048, size=16384, type=") + kAPFSContainer + "\n");
        zeroFile(f.dev() / "nvme0n1p1", 4u << 20);
        testsupport::writeBytesAt(f.dev() / "nvme0n1p1", 32, {'N', 'X', 'S', 'B'});

        fs::path card = f.device("platform/fe320000.mmc/mmc_host/mmc0/mmc0:aaaa", "bus/mmc", "mmc", "mmcblk");
        f.attributes(card, {{"name", "SC64G"}, {"serial", "0x1234abcd"}, {"fwrev", "0x0"}});
        f.diskOf(card, "mmcblk0", {.sectors = 4096, .dev = "179:0"});
        ok = ok && makeFAT(f.dev() / "mmcblk0", 2u << 20, "-n CARD");

        f.attributes(f.virtualDisk("loop0", {.sectors = 2048, .dev = "7:0"}, true) / "loop",
                     {{"backing_file", "/home/user/Pictures/old card.img"}});
        zeroFile(f.dev() / "loop0", 1u << 20);
        f.virtualDisk("loop1", {.sectors = 0, .dev = "7:1"}, true);
        writeText(f.virtualDisk("zram0", {.sectors = 1048576, .dev = "253:0"}) / "comp_algorithm", "[lzo-rle] zstd\n");
        f.virtualDisk("ram0", {.sectors = 8192, .dev = "1:0"});

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

TEST(MountTable, EscapesAreUndoneOptionalFieldsSkippedAndGarbageOrAMissingFileGivesNoEntries) {
    EXPECT_EQ(MountTable::unescape("/media/My\\040Stick"), "/media/My Stick");
    EXPECT_EQ(MountTable::unescape("a\\011b\\012c\\134d"), "a\tb\nc\\d");
    // An escape cut short stays as it is.
    EXPECT_EQ(MountTable::unescape("end\\04"), "end\\04");
    EXPECT_EQ(MountTable::unescape("\\"), "\\");
    auto entries = MountTable::parse("36 35 98:0 /mnt1 /mnt/parent\\040dir rw,noatime master:1 shared:2 - "
                                     "ext3 /dev/root rw,errors=continue\n"
                                     "garbage line\n"
                                     "37 35 8:17 / /media/x rw - vfat /dev/sdb1 rw");
    ASSERT_EQ(entries.size(), 2u);
    const MountTable::Entry& e = entries[0];
    EXPECT_EQ(std::tuple(e.majorMinor, e.root, e.mountPoint, e.fsType, e.source, e.major()),
              std::tuple("98:0", "/mnt1", "/mnt/parent dir", "ext3", "/dev/root", 98u));
    EXPECT_EQ(entries[1].source, "/dev/sdb1");
    EXPECT_TRUE(MountTable::read("/nonexistent/mountinfo").empty());
}

TEST(DriveDiscoverySteps, RenamedKeysMappedContentsAndFlatteningKeepsTheNearestSource) {
    DriveDiscovery d(SystemPaths{"/nonexistent", "/nonexistent", "/dev"});
    const struct {
        const char* key;
        Value value;
        std::optional<std::string> newKey;
        Value newValue;
    } cases[] = {
        {"Content", "48465300-0000-11AA-AA11-00306543ECAC", "Content", "Apple_HFS"},
        {"Content", "Windows_FAT_32", "Content", "FAT32"},
        {"Content", "Windows_FAT_16", "Content", "FAT16"},
        {"Content", "DOS_FAT_32", "Content", "DOS_FAT_32"},
        {"Model", "M", "device model", "M"},
        {"Serial Number", "S", "device serial", "S"},
        {"Revision", "R", "device revision", "R"},
        {"BSD Name", "sdb1", "Path", "/dev/sdb1"},
        {"Size", 1, std::nullopt, Value()},
    };
    for (const auto& c : cases) {
        Value v;
        EXPECT_EQ(d.newKeyForKey(c.key, v, c.value), c.newKey) << c.key;
        EXPECT_EQ(v, c.newValue) << c.key;
    }
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
    // A USB device shows its vendor and product identification.
    EXPECT_EQ(d.responseFindMedia[0].dictValue(), (Dict{{"Path", "/dev/sdb1"},
                                                        {"Size", 100},
                                                        {"Content", "FAT32"},
                                                        {"Physical Interconnect", "USB"},
                                                        {"device model", "SanDisk"},
                                                        {"device serial", "Cruzer"},
                                                        {"device revision", "1.00"},
                                                        {"Vendor Identification", "SanDisk"},
                                                        {"Product Identification", "Cruzer"},
                                                        {"Product Revision Level", "1.00"}}));
}

TEST(DriveDiscoverySteps, SATAIdentityTakesTheProductNameAndIdentityLosesBlanksAndMissingPartsBecomeDashes) {
    DriveDiscovery d(SystemPaths{"/nonexistent", "/nonexistent", "/dev"});
    d.responseDriveFinder.push_back(Array{
        Dict{{"BSD Name", "sda"}},
        Dict{{"Serial Number", "S3Z9"},
             {"Product Name", "Samsung SSD"},
             {"Protocol Characteristics", Dict{{"Physical Interconnect", "SATA"}}}},
    });
    d.sortDriveFinderResponse();
    EXPECT_EQ(valuesAt(d.responseFindMedia, "/dev/sda", {"device model", "device serial"}),
              (Array{"Samsung SSD", "S3Z9"}));
    d.responseFindMedia.clear();
    d.responseFindMedia.push_back(
        Dict{{"Path", "/dev/sda"}, {"device model", " \tSamsung  "}, {"device serial", "   "}});
    d.responseFindMedia.push_back(Dict{{"Path", "/dev/sda1"}, {"WhetherVolume", true}, {"device model", " x "}});
    d.truncateDriveModelNumber();
    EXPECT_EQ(
        d.responseFindMedia[0].dictValue(),
        (Dict{{"Path", "/dev/sda"}, {"device model", "Samsung"}, {"device serial", "-"}, {"device revision", "-"}}));
    EXPECT_EQ(d.responseFindMedia[1].dictValue().get("device model").stringValue(), " x ");
}

TEST_F(DriveDiscoveryFake, DrivesAreTheWritableDisksAndVolumesTheRecognisedOnesMountedOrNot) {
    auto nodes = [&](std::initializer_list<const char*> names) {
        std::vector<std::string> out;
        for (const char* n : names)
            out.push_back(fake.node(n));
        return out;
    };
    EXPECT_EQ(pathsOf(discovery->driveDictArray()), nodes({"loop0", "mmcblk0", "nvme0n1", "sda", "sdb"}));
    // Not sda1 (EFI system), sda4 (Linux data, no FAT) or loop0 (zeros).
    EXPECT_EQ(pathsOf(discovery->volumeDictArray()), nodes({"nvme0n1p1", "sda2", "sda3", "sdb1", "sdb2", "mmcblk0"}));
    EXPECT_EQ(pathsOf(discovery->volumeDictArrayHFSOnly()), nodes({"nvme0n1p1", "sda3", "sdb2"}));
}

TEST_F(DriveDiscoveryFake, ASATADiskAndAMountedFATPartitionOnItGiveTheirWholeDictionaries) {
    // What the volume shows of the drive it is on.
    const Dict sata{{"Physical Interconnect", "SATA"},
                    {"device model", "Samsung SSD 860"},
                    {"device serial", "t10.ATA     Samsung SSD 860 S3Z9NB0K"},
                    {"device revision", "4B6Q"},
                    {"CFBundleIdentifier", "sd"},
                    {"IOBundleResourceFile", "Internal.icns"},
                    {"bundle path", fake.driverPath("scsi", "sd")},
                    {"Preferred Block Size", 512}};
    auto with = [&](Dict more) {
        for (const auto& [key, value] : sata)
            more.set(key, value);
        return more;
    };
    const Dict* found = findByPath(discovery->driveDictArray(), fake.node("sda"));
    ASSERT_NE(found, nullptr);
    Dict sda = *found;
    EXPECT_EQ(sda.get("Children Volume Array").arrayValue().size(), 2u);
    sda.remove("Children Volume Array");
    // A disk of no sequence number: its own number and its serial tell it.
    EXPECT_EQ(sda, with({{"Path", fake.node("sda")},
                         {"Medium Identity", "8:0 - - t10.ATA     Samsung SSD 860 S3Z9NB0K"},
                         {"Size", 131072ull * 512},
                         {"Content", "GUID_partition_scheme"},
                         {"WhetherDiskDict", true},
                         {"Volume and Drive Index", 5}}));
    // The mount of the volume's root, not the bind mount of one of its
    // folders listed before it; the blank comes back from \040.
    const Dict* v = findByPath(discovery->volumeDictArray(), fake.node("sda2"));
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(*v, with({{"Path", fake.node("sda2")},
                        {"Medium Identity", "8:2 - 2048 t10.ATA     Samsung SSD 860 S3Z9NB0K"},
                        {"Size", 81920ull * 512},
                        {"Content", "FAT32"},
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
                        {"Volume and Drive Index", 6}}));
}

TEST_F(DriveDiscoveryFake, EachFileSystemGetsItsContentWordAndEachDriveItsBusIdentityAndIconFromSysfs) {
    const Array& vols = discovery->volumeDictArray();
    EXPECT_EQ(
        valuesAt(vols, fake.node("sda3"),
                 {"Content", "journaled", "supportFileSystemRecovery", "fileSystem", "Mounted Path", "Volume Name"}),
        (Array{"Apple_HFS", "Yes", 1, 0, Value(), "sda3"}));
    EXPECT_EQ(valuesAt(vols, fake.node("sdb1"), {"Content"}), Array{"FAT16"});
    EXPECT_EQ(valuesAt(vols, fake.node("sdb2"), {"Content", "fileSystem", "journaled"}), (Array{kBasicData, 1, "-"}));
    // The APFS row is the container partition itself.
    EXPECT_EQ(valuesAt(vols, fake.node("nvme0n1p1"), {"Content", "Preferred Block Size", "Physical Interconnect"}),
              (Array{"APFS", 4096, "PCI-Express"}));
    // The card's file system fills it: drive and volume share the device.
    EXPECT_EQ(valuesAt(vols, fake.node("mmcblk0"),
                       {"Content", "Volume Name", "Parent Drive Path", "Physical Interconnect", "WhetherDiskDict"}),
              (Array{"FAT12", "CARD", fake.node("mmcblk0"), "Secure Digital", Value()}));
    const Array& drives = discovery->driveDictArray();
    EXPECT_EQ(valuesAt(drives, fake.node("sdb"),
                       {"Physical Interconnect", "IOBundleResourceFile", "device model", "device serial", "Content"}),
              (Array{"USB", "Removable.icns", "Cruzer Blade", "-", "FDisk_partition_scheme"}));
    EXPECT_EQ(
        valuesAt(drives, fake.node("nvme0n1"),
                 {"device model", "device serial", "device revision", "CFBundleIdentifier", "bundle path", "Size"}),
        (Array{"WDC PC SN730", "2034AB", "11170101", "nvme", fake.driverPath("pci", "nvme"), 65536ull * 512}));
    EXPECT_EQ(valuesAt(drives, fake.node("mmcblk0"), {"device model", "device serial", "device revision", "Content"}),
              (Array{"SC64G", "0x1234abcd", "0x0", "-"}));
    EXPECT_EQ(valuesAt(drives, fake.node("loop0"),
                       {"Physical Interconnect", "CFBundleIdentifier", "bundle path", "device model", "Size",
                        "Children Volume Array"}),
              (Array{"Virtual Interface", "loop", "nil", "old card.img", 2048ull * 512, Value()}));
}

TEST_F(DriveDiscoveryFake, RowsAndCellsForEachModeAndNumbersInListOrder) {
    const Array& d = discovery->driveDictArray();
    const Array& v = discovery->volumeDictArray();
    const Array& h = discovery->volumeDictArrayHFSOnly();
    // Modes by the numbers sessions store them as.
    const auto m = [](int stored) { return platform::modeFromStored(stored, platform::ScanMode::Formatted); };
    for (auto [mode, rows] : {std::pair{0, 6u}, {3, 11u}, {4, 5u}, {5, 3u}, {-1, 0u}})
        EXPECT_EQ(DriveListRows::numberOfRows(m(mode), d, v, h), rows) << mode;
    for (auto [mode, cells] : {std::pair{3, 11u}, {5, 6u}, {4, 5u}, {-1, 0u}})
        EXPECT_EQ(DriveListRows::cellCount(m(mode), d, v), cells) << mode;
    EXPECT_EQ(DriveListRows::rowObject(m(5), 1, d, v, h)->get("Path").stringValue(), fake.node("sda3"));
    EXPECT_EQ(DriveListRows::rowObject(m(4), 0, d, v, h)->get("Path").stringValue(), fake.node("loop0"));
    EXPECT_EQ(DriveListRows::rowObject(m(1), 5, d, v, h)->get("Path").stringValue(), fake.node("mmcblk0"));
    EXPECT_FALSE(DriveListRows::rowObject(m(1), 6, d, v, h));
    // Drives and volumes are numbered in list order; a volume row is marked "+".
    std::vector<std::string> rows;
    for (std::size_t r = 0; r < 11; ++r) {
        auto row = DriveListRows::rowObject(m(3), r, d, v, h);
        ASSERT_TRUE(row) << r;
        rows.push_back(fs::path(row->get("Path").description()).filename().string() +
                       (row->contains("WhetherVolume") ? "+" : ""));
    }
    EXPECT_EQ(rows, (std::vector<std::string>{"loop0", "mmcblk0", "mmcblk0+", "nvme0n1", "nvme0n1p1+", "sda", "sda2+",
                                              "sda3+", "sdb", "sdb1+", "sdb2+"}));
    EXPECT_FALSE(DriveListRows::rowObject(m(3), 11, d, v, h));
    // A drive's "Children Volume Array" holds its volumes as they are in the
    // volume list, numbers and icon keys included.
    const Array& children = findByPath(d, fake.node("sdb"))->get("Children Volume Array").arrayValue();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1].dictValue(), *findByPath(v, fake.node("sdb2")));
    EXPECT_EQ(valuesAt(children, fake.node("sdb2"), {"Index of child Volume", "bundle path"}),
              (Array{1, fake.driverPath("scsi", "sd")}));
}

TEST_F(DriveDiscoveryFake, MountedVolumesComeFromTheMountTableAndARefreshBuildsTheSameListsAgain) {
    // Only file systems on a device are looked at; /proc is not.
    std::vector<std::string> mounted;
    for (const Value& v : discovery->finalArrayForVolumes)
        mounted.push_back(v.dictValue().get("Mounted Path").stringValue());
    EXPECT_EQ(mounted, (std::vector<std::string>{"/", "/srv/bound photos", "/media/user/My Stick"}));
    const Dict& root = discovery->finalArrayForVolumes[0].dictValue();
    EXPECT_EQ(root.get("Volume Name").stringValue(), "/");
    EXPECT_EQ(root.get("Volume Path").stringValue(), "/dev/vda");
    Array drives = discovery->driveDictArray();
    Array volumes = discovery->volumeDictArray();
    discovery->initialDriveList();
    EXPECT_EQ(discovery->driveDictArray(), drives);
    EXPECT_EQ(discovery->volumeDictArray(), volumes);
}

TEST_F(DriveDiscoveryTree, AMountedWholeDiskIsADriveAndAVolumeButReadOnlyOrUnlistedDisksPartitionsAreNot) {
    FakeSystem f("wholedisk");
    f.diskOf(f.device("platform/mmc0/mmc0:0001", "bus/mmc"), "mmcblk1", {.sectors = 4096, .dev = "179:8"});
    ASSERT_TRUE(makeFAT(f.dev() / "mmcblk1", 2u << 20, ""));
    f.mountLine("50 27 179:8 / /media/card rw - vfat /dev/mmcblk1 rw");
    // A read-only partition of sdx, and the partition of the read-only sdy.
    fs::path a =
        f.diskOf(f.device("pci0000:00/usb1/1-1/host2/target2:0:0/2:0:0:0"), "sdx", {.sectors = 65536, .dev = "8:64"});
    f.addPartition(a, "sdx1", 1, 16384, "8:65", /*ro=*/1);
    fs::path b = f.diskOf(f.device("pci0000:00/usb1/1-2/host3/target3:0:0/3:0:0:0"), "sdy",
                          {.sectors = 65536, .ro = 1, .dev = "8:80"});
    f.addPartition(b, "sdy1", 1, 16384, "8:81");
    ASSERT_TRUE(makeFAT(f.dev() / "sdx1", 8u << 20, ""));
    ASSERT_TRUE(makeFAT(f.dev() / "sdy1", 8u << 20, ""));
    zeroFile(f.dev() / "sdx", 32u << 20);
    // An image of an APFS container attached as a whole loop device.
    f.virtualDisk("loop3", {.sectors = 8192, .dev = "7:3"}, true);
    zeroFile(f.dev() / "loop3", 4u << 20);
    testsupport::writeBytesAt(f.dev() / "loop3", 32, {'N', 'X', 'S', 'B'});
    auto d = f.discover();
    ASSERT_EQ(pathsOf(d->driveDictArray()),
              (std::vector<std::string>{f.node("loop3"), f.node("mmcblk1"), f.node("sdx")}));
    // sdx has a partition, so it is no whole-disk volume either.
    ASSERT_EQ(pathsOf(d->volumeDictArray()), (std::vector<std::string>{f.node("loop3"), f.node("mmcblk1")}));
    EXPECT_EQ(valuesAt(d->volumeDictArray(), f.node("loop3"), {"Content", "Parent Drive Path"}),
              (Array{"APFS", f.node("loop3")}));
    EXPECT_EQ(valuesAt(d->volumeDictArray(), f.node("mmcblk1"),
                       {"Mounted Path", "Volume Name", "Content", "Parent Drive Path"}),
              (Array{"/media/card", "card", "FAT12", f.node("mmcblk1")}));
    const Dict& drive = d->driveDictArray()[1].dictValue();
    EXPECT_EQ(drive.get("Children Volume Array").arrayValue().size(), 1u);
    EXPECT_FALSE(drive.contains("Mounted Path"));
    // A disk without a driver of its own still has an identifier, and its
    // bundle is one no driver folder carries.
    EXPECT_EQ(drive.get("bundle path").stringValue(), "nil");
}

TEST_F(DriveDiscoveryTree, APartitionBelongsToTheDiskAboveItAnEmptyTreeGivesEmptyListsAndAttributesAreBounded) {
    // loop10p1 begins with "loop1" and "data" with nothing of its disk's
    // name: only the folders say where each belongs.
    FakeSystem f("names");
    fs::path loop1 = f.virtualDisk("loop1", {.sectors = 65536, .dev = "7:1"}, true);
    fs::path loop10 = f.virtualDisk("loop10", {.sectors = 65536, .dev = "7:10"}, true);
    f.addPartition(loop10, "loop10p1", 1, 16384, "259:5");
    f.addPartition(loop1, "data", 1, 16384, "259:6");
    zeroFile(f.dev() / "loop1", 32u << 20);
    zeroFile(f.dev() / "loop10", 32u << 20);
    ASSERT_TRUE(makeFAT(f.dev() / "loop10p1", 8u << 20, "-F 16 -s 1"));
    ASSERT_TRUE(makeFAT(f.dev() / "data", 8u << 20, "-F 16 -s 1"));
    auto d = f.discover();
    EXPECT_EQ(pathsOf(d->driveDictArray()), (std::vector<std::string>{f.node("loop1"), f.node("loop10")}));
    EXPECT_EQ(pathsOf(d->volumeDictArray()), (std::vector<std::string>{f.node("data"), f.node("loop10p1")}));
    EXPECT_EQ(valuesAt(d->volumeDictArray(), f.node("loop10p1"), {"Parent Drive Path"}), Array{f.node("loop10")});
    EXPECT_EQ(valuesAt(d->volumeDictArray(), f.node("data"), {"Parent Drive Path"}), Array{f.node("loop1")});
    EXPECT_EQ(valuesAt(d->driveDictArray(), f.node("loop10"), {"Volume and Drive Index"}), Array{2});
    DriveDiscovery empty(SystemPaths{"/nonexistent/sys", "/nonexistent/mountinfo", "/nonexistent/dev"});
    empty.initialDriveList();
    EXPECT_EQ(empty.driveDictArray().size() + empty.volumeDictArray().size() + empty.volumeDictArrayHFSOnly().size(),
              0u);
    writeText(f.sys() / "big", std::string(100000, 'x'));
    EXPECT_EQ(SysfsBlockDevice::readAttribute((f.sys() / "big").string()).value_or("").size(),
              SysfsBlockDevice::kMaxAttribute);
    writeText(f.sys() / "ctl", std::string("a\x01\x1b[31mb\nsecond line"));
    EXPECT_EQ(*SysfsBlockDevice::readAttribute((f.sys() / "ctl").string()), "a  [31mb");
}

// Every medium is followed to its bottom. A disk, its partitions and a device-mapper device over disks are read past
// every cache with O_DIRECT themselves, and so is a loop device in direct I/O over what is itself read so. A loop
// device that reads through the page cache, or one in direct I/O over such a loop device, is read past every cache by
// what the loop devices below it read, each loop's offset and a partition's start added, whether that is a file or a
// device. A file is read past every cache itself only when the device under its file system is (or it has none, as
// on a FUSE file system); where that device is a page-cached loop device, through the file's extents on it, down to
// what that loop device reads. Where a page-cached loop device lies under a device-mapper device, or under a second
// file system on the way, nothing reaches the bottom; so too where the kernel names no backing file, or the stack
// loops on itself.
TEST_F(DriveDiscoveryTree, EveryMediumIsFollowedToWhereItIsReadPastEveryCache) {
    using Kind = SysfsBlockDevice::PathFacts::Kind;
    using Way = SysfsBlockDevice::Bottom::Way;
    FakeSystem f("caches");
    const fs::path sda = f.diskOf(f.device("pci0000:00/ata1/host0/target0:0:0/0:0:0:0"), "sda", {});
    f.addPartition(sda, "sda1", 1, 16384, "8:1");
    // What each loop device reads, as stat tells of it.
    const std::map<std::string, SysfsBlockDevice::PathFacts> files{
        {"/img/card.img", {Kind::RegularFile, "8:1", 12}},     {"/mnt/inner/card.img", {Kind::RegularFile, "7:0", 13}},
        {"/fuse/disk.img", {Kind::RegularFile, "0:55", 2}},    {"/mnt/self/self.img", {Kind::RegularFile, "7:9", 14}},
        {"/mnt/cached/c.img", {Kind::RegularFile, "7:2", 15}}, {"/dev/loop0", {Kind::BlockDevice, "7:0", 0}},
        {"/dev/loop1", {Kind::BlockDevice, "7:1", 0}},         {"/dev/loop2", {Kind::BlockDevice, "7:2", 0}},
        {"/dev/sda1", {Kind::BlockDevice, "8:1", 0}},          {"/dev/loop4", {Kind::BlockDevice, "7:4", 0}},
        {"/mnt/dm/d.img", {Kind::RegularFile, "253:0", 16}},   {"/mnt/deep/e.img", {Kind::RegularFile, "7:5", 17}},
    };
    const SysfsBlockDevice::LookAt look = [&](const std::string& path) -> std::optional<SysfsBlockDevice::PathFacts> {
        const auto it = files.find(path);
        if (it == files.end()) return std::nullopt;
        return it->second;
    };
    const struct {
        const char* name;
        const char* backing;
        const char* dio;
        const char* offset;
    } loops[] = {
        {"loop0", "/img/card.img", "0", "0"},       {"loop1", "/fuse/disk.img", "1", "0"},
        {"loop2", "/dev/loop1", "0", "4096"},       {"loop3", "/dev/loop0", "0", "512"},
        {"loop4", "/dev/loop0", "1", "0"},          {"loop5", "/mnt/inner/card.img", "0", "0"},
        {"loop6", "/mnt/inner/card.img", "1", "0"}, {"loop7", "", "1", "0"},
        {"loop8", "/dev/sda1", "0", "1024"},        {"loop9", "/mnt/self/self.img", "0", "0"},
        {"loop10", "/dev/loop4", "0", "0"},         {"loop11", "/mnt/cached/c.img", "1", "0"},
        {"loop12", "/mnt/dm/d.img", "0", "0"},      {"loop13", "/mnt/deep/e.img", "0", "0"},
    };
    for (const auto& l : loops) {
        const std::string number = "7:" + std::string(l.name).substr(4);
        const fs::path loop = f.virtualDisk(l.name, {.dev = number}, true) / "loop";
        f.attributes(loop, {{"dio", l.dio}, {"offset", l.offset}});
        if (*l.backing) f.attributes(loop, {{"backing_file", l.backing}});
    }
    f.addPartition(f.sys() / "block" / "loop0", "loop0p1", 1, 16384, "259:0");
    f.addPartition(f.sys() / "block" / "loop3", "loop3p1", 1, 16384, "259:1");
    for (const auto& [name, below] :
         {std::pair{"dm-0", "loop0"}, {"dm-1", "sda1"}, {"dm-2", "loop1"}, {"dm-3", "dm-0"}, {"dm-4", "loop2"}}) {
        const fs::path dm = f.virtualDisk(name, {.dev = "253:" + std::string(name).substr(3)});
        fs::create_directories(dm / "slaves");
        fs::create_directory_symlink(f.sys() / "class" / "block" / below, dm / "slaves" / below);
    }
    const auto itself = [](const char* name) {
        return std::tuple(std::string(name), Way::Itself, std::string(), 0ull, 0u);
    };
    const auto none = [](const char* name) {
        return std::tuple(std::string(name), Way::None, std::string(), 0ull, 0u);
    };
    const auto below = [](const char* name, const char* path, unsigned long long start, unsigned loopsPassed) {
        return std::tuple(std::string(name), Way::Below, std::string(path), start, loopsPassed);
    };
    const std::vector<std::tuple<std::string, Way, std::string, unsigned long long, unsigned>> expected{
        itself("sda"),
        itself("sda1"),
        below("loop0", "/img/card.img", 0, 1),
        below("loop0p1", "/img/card.img", 2048 * 512, 1),
        itself("loop1"),
        below("loop2", "/dev/loop1", 4096, 1),
        below("loop3", "/img/card.img", 512, 2),
        below("loop3p1", "/img/card.img", 512 + 2048 * 512, 2),
        below("loop4", "/img/card.img", 0, 2),
        below("loop5", "/img/card.img", 0, 2),
        below("loop6", "/img/card.img", 0, 2),
        none("loop7"),
        below("loop8", "/dev/sda1", 1024, 1),
        none("loop9"),
        below("loop10", "/img/card.img", 0, 3),
        below("loop11", "/dev/loop1", 4096, 2),
        none("loop12"),
        none("loop13"),
        none("dm-0"),
        itself("dm-1"),
        itself("dm-2"),
        none("dm-3"),
        none("dm-4"),
    };
    for (const auto& row : expected) {
        const std::string& name = std::get<0>(row);
        const auto d = SysfsBlockDevice::open((f.sys() / "class" / "block" / name).string(), f.sys().string());
        ASSERT_TRUE(d) << name;
        const SysfsBlockDevice::Bottom b = d->bottom(look);
        EXPECT_EQ(std::tuple(name, b.way, b.path, static_cast<unsigned long long>(b.startBytes),
                             static_cast<unsigned>(b.loops.size())),
                  row);
    }
    // The loops passed, each with what the kernel is to be asked it reads.
    const auto loop10 = SysfsBlockDevice::open((f.sys() / "class" / "block" / "loop10").string(), f.sys().string());
    ASSERT_TRUE(loop10);
    std::vector<std::string> passed;
    for (const SysfsBlockDevice::Loop& l : loop10->bottom(look).loops)
        passed.push_back(l.backing + " " + l.facts.devNumber);
    EXPECT_EQ(passed, (std::vector<std::string>{"/dev/loop4 7:4", "/dev/loop0 7:0", "/img/card.img 8:1"}));
    // Through a file's extents: the file, where the medium begins in it, the device its file system is on, and how
    // many loop devices lead to it, as a loop device over the file and as the file itself.
    const auto loop5 = SysfsBlockDevice::open((f.sys() / "class" / "block" / "loop5").string(), f.sys().string());
    ASSERT_TRUE(loop5);
    const auto through = [](const SysfsBlockDevice::Bottom& b) {
        return b.through ? std::tuple(b.through->file, static_cast<unsigned long long>(b.through->startBytes),
                                      b.through->device, b.through->loopsAbove)
                         : std::tuple(std::string(), 0ull, std::string(), std::size_t{0});
    };
    EXPECT_EQ(through(loop5->bottom(look)),
              std::tuple(std::string("/mnt/inner/card.img"), 0ull, std::string("loop0"), std::size_t{1}));
    const SysfsBlockDevice::Bottom file =
        SysfsBlockDevice::fileBottom(files.at("/mnt/inner/card.img"), "/mnt/inner/card.img", f.sys().string(), look);
    EXPECT_EQ(std::tuple(file.path, file.loops.size()), std::tuple(std::string("/img/card.img"), std::size_t{1}));
    EXPECT_EQ(through(file),
              std::tuple(std::string("/mnt/inner/card.img"), 0ull, std::string("loop0"), std::size_t{0}));
    // The page caches a read past a device's own goes through, nearest first (a loop in direct I/O reads past its
    // own, a file system reads its files past its device's), and whether the way ends on a file system that nothing
    // can be seen below, as FUSE's.
    std::map<std::string, std::pair<std::string, bool>> underneath;
    for (const char* name : {"loop0", "loop1", "loop2", "loop5", "loop13", "dm-0"}) {
        const auto d = SysfsBlockDevice::open((f.sys() / "class" / "block" / name).string(), f.sys().string());
        ASSERT_TRUE(d) << name;
        std::string caches;
        for (const std::string& cache : d->cachesBelow(look))
            caches += (caches.empty() ? "" : " ") + cache;
        underneath[name] = {caches, d->bottom(look).unseenBelow};
    }
    EXPECT_EQ(underneath, (std::map<std::string, std::pair<std::string, bool>>{
                              {"loop0", {"/img/card.img", false}},
                              {"loop1", {"", true}},
                              {"loop2", {"/dev/loop1", true}},
                              {"loop5", {"/mnt/inner/card.img /img/card.img", false}},
                              {"loop13", {"/mnt/deep/e.img /mnt/inner/card.img /img/card.img", false}},
                              {"dm-0", {"/img/card.img", false}}}));
    EXPECT_EQ(SysfsBlockDevice::cachesBelowFile(files.at("/mnt/deep/e.img"), f.sys().string(), look),
              (std::vector<std::string>{"/mnt/inner/card.img", "/img/card.img"}));
    EXPECT_TRUE(
        SysfsBlockDevice::fileBottom(files.at("/fuse/disk.img"), "/fuse/disk.img", f.sys().string(), look).unseenBelow);
    // Files read with O_DIRECT, by the device their file system is on.
    std::map<std::string, bool> past;
    for (const char* on : {"8:1", "7:0", "0:55", "253:1", "253:0", "7:1", "7:2", "7:8"})
        past[on] = SysfsBlockDevice::fileReadsPastEveryCache({Kind::RegularFile, on, 1}, f.sys().string(), look);
    EXPECT_EQ(past, (std::map<std::string, bool>{{"8:1", true},
                                                 {"7:0", false},
                                                 {"0:55", true},
                                                 {"253:1", true},
                                                 {"253:0", false},
                                                 {"7:1", true},
                                                 {"7:2", false},
                                                 {"7:8", false}}));
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
    fs::path disk = f.diskOf(f.device("pci0000:00/0000:00:1f.2/ata3/host4/target4:0:0/4:0:0:0"), "sdz",
                             {.sectors = 65536, .dev = "8:96"});
    f.addPartition(disk, "sdz1", 1, 16384, "8:97");
    ASSERT_TRUE(makeFAT(fs::path(paths.deviceDir) / "sdz1", 8u << 20, "-F 16 -s 1 -n LONG"));
    std::string mountPoint = "/media";
    for (int i = 0; i < 80; ++i)
        mountPoint += "/folder\\040number\\040" + std::to_string(i);
    f.mountLine("70 27 8:97 / " + mountPoint + " rw - vfat /dev/sdz1 rw");
    auto d = f.discover(paths);
    const std::string unescaped = MountTable::unescape(mountPoint);
    ASSERT_GT(unescaped.size(), 1000u);
    EXPECT_EQ(pathsOf(d->volumeDictArray()), std::vector<std::string>{paths.deviceDir + "/sdz1"});
    EXPECT_EQ(valuesAt(d->volumeDictArray(), paths.deviceDir + "/sdz1", {"Content", "Mounted Path", "Volume Name"}),
              (Array{"FAT16", unescaped, "folder number 79"}));
}

TEST(DriveListRows, ADriveWithoutIconTakesItsFirstVolumesOrTheRemovableOneAndVolumesShowTheirDrivesIcon) {
    Array drives{Dict{{"Path", "/dev/sdq"},
                      {"CFBundleIdentifier", "x"},
                      {"Children Volume Array",
                       Array{Dict{{"CFBundleIdentifier", "sd"}, {"IOBundleResourceFile", "External.icns"}}}}},
                 Dict{{"Path", "/dev/sdr"}, {"CFBundleIdentifier", "x"}, {"IOBundleResourceFile", "Internal.icns"}},
                 Dict{{"Path", "/dev/sds"}}, Dict{{"Path", "/dev/sdt"}, {"CFBundleIdentifier", "usb-storage"}}};
    DriveListRows::fixBundleResource(drives);
    const std::initializer_list<const char*> keys = {"CFBundleIdentifier", "IOBundleResourceFile"};
    EXPECT_EQ(valuesAt(drives, "/dev/sdq", keys), (Array{"sd", "External.icns"}));
    EXPECT_EQ(valuesAt(drives, "/dev/sdr", keys), (Array{"x", "Internal.icns"}));
    EXPECT_EQ(valuesAt(drives, "/dev/sds", keys), (Array{Value(), Value()}));
    // A driver but no icon and no volumes: the removable icon.
    EXPECT_EQ(valuesAt(drives, "/dev/sdt", keys), (Array{"com.apple.iokit.IOStorageFamily", "Removable.icns"}));
    drives = Array{
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
    for (const char* drive : {"/dev/sda", "/dev/sdb"})
        EXPECT_EQ(valuesAt(drives, drive, {"bundle path"}), Array{"/sys/bus/scsi/drivers/sd"}) << drive;
    EXPECT_EQ(valuesAt(drives, "/dev/vdb", {"bundle path"}), Array{"nil"});
    EXPECT_EQ(valuesAt(volumes, "/dev/sdb1", {"CFBundleIdentifier", "IOBundleResourceFile", "bundle path"}),
              (Array{"sd", "Removable.icns", "/sys/bus/scsi/drivers/sd"}));
    EXPECT_EQ(valuesAt(volumes, "/dev/vdb", {"CFBundleIdentifier", "bundle path"}), (Array{"virtio_blk", "nil"}));
    // An identifier no drive names gets no bundle path at all.
    EXPECT_FALSE(volumes[2].dictValue().contains("bundle path"));
}

TEST_F(DriveDiscoveryTree, TheRealSystemListsAnAttachedImage) {
    const fs::path image = testsupport::makeTempDir("loop") / "card.img";
    ASSERT_TRUE(makeFAT(image, 8u << 20, "-F 16 -s 1 -n LOOPCARD"));
    const testsupport::LoopDevice attached(image, "-P");
    const std::string& loop = attached.path();
    if (loop.empty()) GTEST_SKIP() << "losetup is not permitted here; attaching an image needs root";

    DriveDiscovery d;
    d.initialDriveList();
    EXPECT_EQ(valuesAt(d.driveDictArray(), loop, {"Size", "Preferred Block Size", "Physical Interconnect"}),
              (Array{8ull << 20, 512, "Virtual Interface"}));
    EXPECT_EQ(valuesAt(d.volumeDictArray(), loop, {"Content", "Parent Drive Path"}), (Array{"FAT16", loop}));
    // Whatever else the machine has, every volume hangs under a listed drive.
    for (const Value& v : d.volumeDictArray())
        EXPECT_NE(findByPath(d.driveDictArray(), v.dictValue().get("Parent Drive Path").description()), nullptr);
}

// A bare HFS+ volume on a disk without partitions, read through a disk that fails one sector. libblkid reads the
// first 16 KiB in one request and gives up on its error, so the program's own tests decide: with a sector of those
// 16 KiB failing (a catalog node's), and with the header's own sector failing, whose alternate copy at the volume's
// end stands in for it, the volume is listed as an HFS+ volume all the same.
TEST_F(DriveDiscoveryTree, ABareHFSPlusVolumeWhoseFirstSectorsFailIsListed) {
    const fs::path volume = testsupport::bareXorrisoHfsVolume();
    ASSERT_FALSE(volume.empty()) << "xorriso is needed to make the volume";
    for (const std::uint64_t bad : {20u, 2u}) {
        SCOPED_TRACE("sector " + std::to_string(bad));
        FakeSystem f("bare-hfs");
        f.virtualDisk("loop4", {.sectors = fs::file_size(volume) / 512, .dev = "7:4"}, true);
        fs::copy_file(volume, f.dev() / "loop4");
        testsupport::FailingReads disk;
        disk.failSectors(bad);
        const auto read = disk.reader();
        DriveDiscovery d(f.paths());
        d.setDeviceReads({.fileSystem =
                              [&](const std::string& node) {
                                  std::vector<std::uint8_t> first(16384);
                                  const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
                                  const std::int64_t n = fd < 0 ? -1 : read(fd, first.data(), first.size(), 0);
                                  if (fd >= 0) ::close(fd);
                                  return n == std::int64_t(first.size()) ? BlockProbe::fileSystem(node)
                                                                         : BlockProbe::FileSystem{};
                              },
                          .read = read});
        d.initialDriveList();
        EXPECT_EQ(valuesAt(d.volumeDictArray(), f.node("loop4"), {"Content", "journaled", "Parent Drive Path"}),
                  (Array{"Apple_HFS", "No", f.node("loop4")}));
        EXPECT_EQ(pathsOf(d.volumeDictArrayHFSOnly()), std::vector<std::string>{f.node("loop4")});
        EXPECT_GT(disk.failedReads(), 0u);
    }
}

// What tells a listed disk from another attached at its node since: its "Medium Identity" stays when it grows and
// changes when it is attached anew (its sequence number counted up, or on a kernel that counts none, another file
// read).
TEST_F(DriveDiscoveryTree, AMediumKeepsItsIdentityWhenItGrowsAndLosesItWhenAttachedAnew) {
    for (const auto& [what, attachedAnew] : {std::pair("diskseq", "13"), std::pair("loop/backing_file", "/b.img")}) {
        SCOPED_TRACE(what);
        FakeSystem f("identity");
        const fs::path disk = f.virtualDisk("loop5", {.sectors = 16384, .dev = "7:5"}, true);
        f.attributes(disk, {{what, "12"}});
        zeroFile(f.dev() / "loop5", 8u << 20);
        const auto identity = [&] {
            return valuesAt(f.discover()->driveDictArray(), f.node("loop5"), {"Medium Identity"});
        };
        const Array first = identity();
        f.attributes(disk, {{"size", "32768"}});
        const Array grown = identity();
        f.attributes(disk, {{what, attachedAnew}});
        EXPECT_TRUE(first[0].isString());
        EXPECT_EQ(grown, first);
        EXPECT_NE(identity(), first);
    }
}

// Disks that fail every read: one without partitions on 512-byte sectors, one on 4096-byte sectors, and one whose
// partition the kernel found before it died. Each is listed as a drive without volumes, libblkid is never asked, and
// every place is asked for once in a few dozen failed reads. The next listings (a refresh, and a new discovery given
// the same memory, as the program's every listing is) ask for nothing again, until the disk is attached anew (its
// sequence number counted up), when each place is asked for once more.
TEST_F(DriveDiscoveryTree, ADiskThatFailsEveryReadIsListedInAFewDozenFailedReadsAndAgainInNone) {
    const struct {
        const char* what;
        int sectorSize;
        bool partition;
    } cases[] = {{"512-byte sectors", 512, false}, {"4096-byte sectors", 4096, false}, {"a partition", 512, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSystem f("dead");
        const fs::path folder =
            f.virtualDisk("loop5", {.sectors = 16384, .logicalBlockSize = c.sectorSize, .dev = "7:5"}, true);
        f.attributes(folder, {{"diskseq", "12"}});
        zeroFile(f.dev() / "loop5", 8u << 20);
        if (c.partition) {
            f.addPartition(folder, "loop5p1", 1, 8192, "259:5");
            zeroFile(f.dev() / "loop5p1", 4u << 20);
        }
        testsupport::FailingReads disk;
        disk.failEveryReadAfter(0);
        int probes = 0;
        const auto failures = std::make_shared<ProbeFailures>();
        const auto listing = [&] {
            DriveDiscovery d(f.paths(), failures);
            d.setDeviceReads({.fileSystem = [&](const std::string&) { return ++probes, BlockProbe::FileSystem{}; },
                              .read = disk.reader()});
            d.initialDriveList();
            EXPECT_EQ(pathsOf(d.driveDictArray()), std::vector<std::string>{f.node("loop5")});
            EXPECT_EQ(d.volumeDictArray(), Array{});
            d.initialDriveList();
        };
        listing();
        const std::uint64_t failed = disk.failedReads();
        EXPECT_GT(failed, 0u);
        EXPECT_LE(failed, 32u);
        EXPECT_EQ(disk.mostFailedReadsOfOnePlace(), 1u);
        listing();
        EXPECT_EQ(disk.failedReads(), failed);
        f.attributes(folder, {{"diskseq", "13"}});
        listing();
        EXPECT_EQ(std::tuple(disk.failedReads(), disk.mostFailedReadsOfOnePlace(), probes),
                  std::tuple(2 * failed, 2u, 0));
    }
}
