#include "fs/fat/FATFileSystem.h"
#include "platform/TextEncoding.h"
#include "scan/ScanThread.h"
#include "support/FailingReads.h"
#include "support/LoopDevice.h"
#include "support/ScanHelpers.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <sstream>

using namespace platform;
using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// One line of `fls -r -p -l`: what The Sleuth Kit finds in a FAT volume.
struct Listed {
    bool folder = false, deleted = false;
    std::string inode, path;
    std::uint64_t size = 0;
};

std::vector<Listed> flsList(const fs::path& image, std::uint64_t start) {
    std::vector<Listed> out;
    const auto text = runCommand("fls -r -p -l -o " + std::to_string(start) + " " + shellQuote(image.string()));
    EXPECT_TRUE(text.has_value());
    std::istringstream lines(text.value_or(""));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> f;
        std::istringstream cols(line);
        for (std::string c; std::getline(cols, c, '\t');)
            f.push_back(c);
        // Virtual files ($FAT1, $OrphanFiles ...) and the volume label are no entries of a folder.
        if (f.size() < 7 || f[0][0] == 'v' || f[0][0] == 'V' || f[1].starts_with("$") ||
            f[1].find("(Volume Label Entry)") != std::string::npos)
            continue;
        Listed e{f[0][0] == 'd', f[0].find('*') != std::string::npos, "", f[1], std::stoull(f[6])};
        // "r/r 1234:" gives 1234.
        e.inode = f[0];
        const std::size_t space = f[0].rfind(' ');
        if (space != std::string::npos && f[0].size() > space + 2 && f[0].back() == ':' &&
            f[0].find_first_not_of("0123456789", space + 1) == f[0].size() - 1)
            e.inode = f[0].substr(space + 1, f[0].size() - space - 2);
        out.push_back(e);
    }
    return out;
}

// Whether fls shows the name as a short name: one to eight of A-Z, 0-9, "_" and "~", and perhaps a dot and one to
// three of A-Z and 0-9.
bool isShortName(const std::string& name) {
    const std::size_t dot = name.find('.');
    const std::string base = name.substr(0, dot), extension = dot == std::string::npos ? "" : name.substr(dot + 1);
    const auto all = [](const std::string& part, const char* extra) {
        return std::all_of(part.begin(), part.end(), [&](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr(extra, c) != nullptr;
        });
    };
    return !base.empty() && base.size() <= 8 && all(base, "_~") &&
           (dot == std::string::npos || (!extension.empty() && extension.size() <= 3 && all(extension, "")));
}

// The short name as fls shows an entry without a long name: no padding, "_" for a deleted entry's first byte.
std::string shownShortName(const NewDir& n) {
    std::string name = newdir::utf8(newdir::fileName(&n)), out;
    if (n.deleted && !name.empty() && name[0] == ' ') name[0] = '_';
    for (char c : name)
        if (c != ' ') out += c;
    if (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

// A path with the first character of every name dropped: what a deleted entry's name keeps of the original.
std::string withoutFirstCharacters(const std::string& path) {
    std::string out;
    std::istringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');) {
        std::size_t skip = 1;
        while (skip < part.size() && (static_cast<unsigned char>(part[skip]) & 0xC0) == 0x80)
            ++skip;
        out += "/" + part.substr(std::min(skip, part.size()));
    }
    return out;
}

// Where a FAT volume keeps its FATs, root directory and clusters, in bytes, and its directory entries.
struct Layout {
    fs::path image;
    std::uint64_t fat = 0, fatBytes = 0, root = 0, data = 0, cluster = 0;
    explicit Layout(fs::path file) : image(std::move(file)) {
        const auto b = readBytesAt(image, 0, 512);
        const std::uint32_t sectors16 = b[22] | b[23] << 8;
        fatBytes = 512ull * (sectors16 ? sectors16 : b[36] | b[37] << 8 | b[38] << 16 | std::uint32_t(b[39]) << 24);
        fat = (b[14] | b[15] << 8) * 512ull;
        root = fat + 2 * fatBytes;
        data = root + (b[17] | b[18] << 8) * 32ull;
        cluster = b[13] * 512ull;
    }
    std::uint64_t clusterAt(std::uint64_t c) const { return data + (c - 2) * cluster; }
    // The 8.3 entry named `name` (11 bytes) in the directory at `dir`, and its first cluster.
    std::uint64_t entryOf(std::uint64_t dir, const std::string& name) const {
        for (std::uint64_t at = dir; at < dir + 16384; at += 32)
            if (auto e = readBytesAt(image, at, 32); std::string(e.begin(), e.begin() + 11) == name) return at;
        ADD_FAILURE() << name << " not found";
        return dir;
    }
    unsigned firstCluster(std::uint64_t entry) const {
        const auto e = readBytesAt(image, entry + 20, 8);
        return unsigned(e[6] | e[7] << 8 | e[0] << 16 | e[1] << 24);
    }
    std::uint64_t folderAt(std::uint64_t dir, const std::string& name) const {
        return clusterAt(firstCluster(entryOf(dir, name)));
    }
    // Sets the entry of a cluster in FAT 1, or in both FATs.
    void setEntry(unsigned c, unsigned next, bool both = false) const {
        for (std::uint64_t copy : {fat, both ? fat + fatBytes : fat})
            writeBytesAt(image, copy + 2 * c, {std::uint8_t(next), std::uint8_t(next >> 8)});
    }
};

class FATRecovery : public ScanFixture {
protected:
    std::shared_ptr<Volume> scan(const fs::path& image, const std::string& content, std::uint64_t start = 0,
                                 std::uint64_t sectors = 0) {
        auto v = keep(volumeOver(image, start, sectors, 512, content));
        ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        return v;
    }

    // Every entry fls lists is in the tree in the same folder and order, with its short name, size and deleted
    // flag; live files read back as icat reads them and deleted ones as they were written; nothing else is there.
    void expectSameAsSleuthKit(Volume& v, const fs::path& image, std::uint64_t start, const std::string& manifest) {
        std::map<std::string, ManifestEntry> originals;
        for (const auto& [path, entry] : imageManifest(manifest))
            if (entry.state == "deleted") originals[withoutFirstCharacters(path)] = entry;
        std::map<std::string, const NewDir*> folders{{"", v.dirRoot}};
        std::map<const NewDir*, std::size_t> taken;
        std::size_t namesCompared = 0, deletedRead = 0;
        for (const Listed& e : flsList(image, start)) {
            SCOPED_TRACE(e.path);
            const auto slash = e.path.rfind('/');
            const auto parent = folders.find(slash == std::string::npos ? "" : e.path.substr(0, slash));
            ASSERT_NE(parent, folders.end());
            const std::size_t index = taken[parent->second]++;
            ASSERT_LT(index, parent->second->childList.size());
            const NewDir& n = *parent->second->childList[index];
            EXPECT_EQ(n.isFolder(), e.folder);
            // The clean-up marks folders that hold deleted entries, so only a deleted folder's mark is its own.
            if (!e.folder || e.deleted) {
                EXPECT_EQ(n.deleted != 0, e.deleted);
            }
            const std::string name = e.path.substr(slash + 1);
            if (isShortName(name)) {
                EXPECT_EQ(shownShortName(n), name);
                ++namesCompared;
            }
            if (e.folder) {
                folders[e.path] = &n;
                continue;
            }
            EXPECT_EQ(n.fileSize, e.size);
            if (!e.deleted && e.size > 0) {
                EXPECT_EQ(readThroughExtents(v, n), runCommand("icat -o " + std::to_string(start) + " " +
                                                               shellQuote(image.string()) + " " + e.inode));
            } else if (auto original = originals.find(withoutFirstCharacters(e.path)); original != originals.end()) {
                const fs::path copy = makeTempDir("fat-deleted") / "file";
                writeText(copy, readThroughExtents(v, n));
                EXPECT_EQ(runCommand("sha256sum < " + shellQuote(copy.string()) + " | cut -d' ' -f1"),
                          original->second.sha256 + "\n");
                ++deletedRead;
            }
        }
        for (const auto& [path, folder] : folders)
            EXPECT_EQ(taken[folder], folder->childList.size()) << "more entries than fls lists in /" << path;
        EXPECT_GE(namesCompared, 4u);
        EXPECT_EQ(deletedRead, 9u);
    }
};

} // namespace

TEST_F(FATRecovery, TreesOfMtoolsVolumesAreWhatTheSleuthKitFinds) {
    for (const char* type : {"FAT12", "FAT16", "FAT32"}) {
        SCOPED_TRACE(type);
        const std::string name = "fat" + std::string(type + 3);
        const fs::path image = testImage(name + ".img");
        auto v = scan(image, type);
        EXPECT_TRUE(controller.alerts().empty());
        expectSameAsSleuthKit(*v, image, 0, name + ".manifest");
        EXPECT_EQ(v->fileCount, 20u);
        freeVolumes();
    }
}

TEST_F(FATRecovery, AFAT32VolumeInsideAPartitionedDiskOrALoopDevice) {
    const fs::path volume = testImage("fat32.img"), dir = makeTempDir("fat-disks");
    const std::uint64_t sectors = fs::file_size(volume) / 512;
    const std::string size = std::to_string(sectors);
    const std::vector<std::pair<std::string, std::string>> disks = {
        {"mbr.img", "printf 'label: dos\\nstart=2048, size=" + size + ", type=c\\n' | sfdisk -q "},
        {"gpt.img", "sgdisk -q -n 1:2048:+" + size + " -t 1:0700 "}};
    for (const auto& [disk, partition] : disks) {
        SCOPED_TRACE(disk);
        const std::string path = shellQuote((dir / disk).string());
        ASSERT_TRUE(runCommand("truncate -s " + std::to_string((sectors + 4096) * 512) + " " + path + " && " +
                               partition + path + " >/dev/null && dd if=" + shellQuote(volume.string()) +
                               " of=" + path + " bs=512 seek=2048 conv=notrunc status=none"));
        expectSameAsSleuthKit(*scan(dir / disk, "FAT32", 2048, sectors), dir / disk, 2048, "fat32.manifest");
    }
    testsupport::LoopDevice loop(dir / "mbr.img", "-P");
    const std::string device = loop.path();
    if (device.empty()) GTEST_SKIP() << "no loop device could be attached";
    // Without partition devices (a container), the disk's device with the partition's start does.
    const bool partitionDevice = fs::exists(device + "p1");
    auto v = partitionDevice ? scan(device + "p1", "FAT32", 0, sectors) : scan(device, "FAT32", 2048, sectors);
    loop.detach();
    EXPECT_TRUE(controller.alerts().empty());
    EXPECT_EQ(v->fileCount, 20u);
}

// Hostile FATs end promptly: a chain that comes back on itself, a folder that points at its ancestor, cluster
// numbers outside the volume; impossible geometry is refused with the alert.
TEST_F(FATRecovery, DamagedFATsEndPromptlyAndImpossibleGeometryIsRefused) {
    const fs::path image = copyToTemp(testImage("fat16.img"));
    const Layout l(image);
    const std::uint64_t docs = l.entryOf(l.root, "DOCUME~1   ");
    const unsigned docsCluster = l.firstCluster(docs);
    const unsigned bigCluster = l.firstCluster(l.entryOf(l.folderAt(l.root, "MEDIA      "), "BIG     BIN"));
    l.setEntry(bigCluster + 1, bigCluster);
    const std::uint64_t reports = l.entryOf(l.clusterAt(docsCluster), "REPORTS    ");
    writeBytesAt(image, reports + 26, {std::uint8_t(docsCluster), std::uint8_t(docsCluster >> 8)});
    writeBytesAt(image, l.entryOf(l.root, "ONE     BIN") + 26, {1, 0});
    writeBytesAt(image, l.entryOf(l.root, "PICTURES   ") + 26, {0xF0, 0xFF});
    // In both FATs, a file's chain runs into its grandparent folder's cluster after its first cluster.
    const unsigned draft =
        l.firstCluster(l.entryOf(l.folderAt(l.clusterAt(docsCluster), "NOTES      "), "DRAFT   TXT"));
    l.setEntry(draft, docsCluster, true);
    const auto draftStart = readBytesAt(image, l.clusterAt(draft), l.cluster);

    auto v = scan(image, "FAT16");
    EXPECT_TRUE(controller.alerts().empty());
    // The loop is in FAT 1 only: FAT 2 gives the whole file.
    const NewDir* bigNode = nodeAt(v->dirRoot, "MEDIA   /BIG     .BIN");
    ASSERT_NE(bigNode, nullptr);
    EXPECT_EQ(readThroughExtents(*v, *bigNode).size(), bigNode->fileSize);
    EXPECT_EQ(bigNode->complete, 0);
    // The other keeps its first cluster and nothing of the folder's, marked damaged.
    const NewDir* draftNode = nodeAt(v->dirRoot, "DOCUME~1/NOTES   /DRAFT   .TXT");
    ASSERT_NE(draftNode, nullptr);
    EXPECT_EQ(draftNode->complete, NewDir::kDamaged);
    EXPECT_EQ(readThroughExtents(*v, *draftNode), std::string(draftStart.begin(), draftStart.end()));
    // Folders left empty go in the clean-up.
    for (const char* folder : {"DOCUME~1/REPORTS ", "PICTURES"}) {
        const NewDir* n = nodeAt(v->dirRoot, folder);
        EXPECT_TRUE(n == nullptr || n->childList.empty()) << folder;
    }
    ASSERT_NE(nodeAt(v->dirRoot, "ONE     .BIN"), nullptr);
    EXPECT_EQ(nodeAt(v->dirRoot, "ONE     .BIN")->extentCount(), 0u);

    // Cut short, the volume still gives what lies in the part that is left.
    const fs::path cut = copyToTemp(testImage("fat16.img"));
    fs::resize_file(cut, 1 << 20);
    EXPECT_GT(scan(cut, "FAT16")->dirRoot->childList.size(), 0u);

    const std::vector<std::pair<std::size_t, std::uint8_t>> refused = {{13, 0}, {13, 3}, {12, 1}, {16, 0}};
    for (const auto& [offset, value] : refused) {
        const fs::path bad = copyToTemp(testImage("fat16.img"));
        writeBytesAt(bad, offset, {value});
        controller.clear();
        auto r = scan(bad, "FAT16");
        ASSERT_EQ(controller.alerts().size(), 1u) << offset;
        EXPECT_EQ(controller.alerts()[0].title, "!Volume corrupted");
        EXPECT_EQ(r->dirRoot->childList.size(), 0u);
    }
}

// One unreadable sector of a folder's cluster costs the entries it holds: the folder is there, and so is every
// entry of its other sectors, whole.
TEST_F(FATRecovery, AnUnreadableSectorOfAFolderCostsOnlyTheEntriesItHolds) {
    const fs::path dir = makeTempDir("fat-bad-sector"), files = dir / "files";
    const fs::path image = mkfsVfat(dir, "-F 16 -s 4", "16384");
    fs::create_directories(files);
    for (int i = 10; i < 70; ++i)
        writeText(files / ("F" + std::to_string(i) + ".BIN"), patternBytes(std::uint64_t(i) * 1000, 700));
    mtools(image, "mmd", "::/CROWD");
    mtools(image, "mcopy", shellQuote(files.string()) + "/* ::/CROWD/");
    const Layout l(image);
    const std::uint64_t folder = l.folderAt(l.root, "CROWD      ");
    FailingReads bad;
    bad.failSectors(folder / 512 + 1);
    auto v = keep(volumeOver(image, 0, 0, 512, "FAT16"));
    v->setRawRead(bad.reader(), {}, bad.pastEveryCacheReader());
    ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
    std::size_t kept = 0;
    for (std::uint64_t at = 64; at < 4 * 512; at += 32) {
        const auto entry = readBytesAt(image, folder + at, 3);
        const std::string name(entry.begin(), entry.end());
        if (name[0] != 'F') continue;
        const NewDir* n = nodeAt(v->dirRoot, "CROWD   /" + name + "     .BIN");
        EXPECT_EQ(n != nullptr, at / 512 != 1) << name;
        if (n) kept += readThroughExtents(*v, *n) == readText(files / (name + ".BIN"));
    }
    EXPECT_EQ(kept, 60u - 16u);
}

// A FAT16 card of thirty folders written one after another, each with its files, some deleted, read through bad areas
// of a card still attached (a wide stretch, many small ones, its last sectors) or a card that dies under the page
// cache part-way: the tree scan runs to its end, keeps every folder whose own cluster lies clear of the failures with
// every entry it had, counts what it could not read, never takes the card for gone, and pays a few failed reads for
// each bad stretch.
TEST_F(FATRecovery, BadAreasOfALiveCardCostOnlyTheFoldersOnThem) {
    const fs::path dir = makeTempDir("fat-bad-areas"), files = dir / "files";
    const fs::path image = mkfsVfat(dir, "-F 16 -s 4", "40960");
    fs::create_directories(files);
    for (int d = 10; d < 40; ++d) {
        const std::string folder = "D" + std::to_string(d);
        mtools(image, "mmd", "::/" + folder);
        for (int f = 0; f < 3; ++f) {
            const fs::path file = files / (folder + "F" + std::to_string(f) + ".BIN");
            writeText(file, patternBytes(std::uint64_t(d) * 7919 + f, 300000));
            mtools(image, "mcopy", shellQuote(file.string()) + " ::/" + folder + "/");
        }
        mtools(image, "mdel", "::/" + folder + "/" + folder + "F1.BIN");
    }
    const Layout l(image);
    std::map<std::string, std::uint64_t> folderSector;
    for (int d = 10; d < 40; ++d) {
        const std::string name = "D" + std::to_string(d);
        folderSector[name] = l.folderAt(l.root, name + std::string(11 - name.size(), ' ')) / 512;
    }
    const auto entriesOf = [](const Volume& v) {
        std::map<std::string, std::size_t> out;
        for (const NewDir* folder : v.dirRoot->childList)
            if (folder->isFolder()) out[shownShortName(*folder)] = folder->childList.size();
        return out;
    };
    const auto clean = entriesOf(*scan(image, "FAT16"));
    controller.clear();
    const std::uint64_t sectors = fs::file_size(image) / 512, data = l.data / 512;
    struct Case {
        const char* name;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> bad;
        std::uint64_t diesAt = UINT64_MAX;
    };
    std::vector<Case> cases{{"a wide stretch", {{data + (sectors - data) / 4, (sectors - data) / 4}}},
                            {"the last 64 sectors", {{sectors - 64, 64}}},
                            {"dies a quarter of the way in", {}, sectors / 4}};
    // Every third folder's cluster, and a sector between each two folders.
    Case many{"many small stretches", {}};
    for (const auto& [name, at] : folderSector) {
        if (std::stoi(name.substr(1)) % 3 == 0) many.bad.emplace_back(at, 4);
        many.bad.emplace_back(at + 40, 1);
    }
    cases.push_back(many);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FailingReads failing;
        for (const auto& [first, count] : c.bad)
            failing.failSectors(first, count);
        if (c.diesAt != UINT64_MAX) failing.dieUnderThePageCacheAt(c.diesAt);
        auto v = keep(volumeOver(image, 0, 0, 512, "FAT16"));
        v->setRawRead(failing.reader(), {}, failing.pastEveryCacheReader());
        ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
        EXPECT_FALSE(v->mediumGone());
        EXPECT_FALSE(controller.terminateRequested());
        expectTreeCompleteLast();
        const auto found = entriesOf(*v);
        for (const auto& [name, at] : folderSector) {
            bool clear = at < c.diesAt;
            for (const auto& [first, count] : c.bad)
                clear = clear && (at + 1 <= first || first + count <= at);
            if (clear) {
                EXPECT_EQ(found.count(name) ? found.at(name) : 0, clean.at(name)) << name;
            }
        }
        EXPECT_LE(failing.failedReads(), c.bad.size() > 1 ? 10 * c.bad.size() : 40);
        controller.clear();
    }
}

// A full FAT32 volume, every other file deleted and larger ones written into the holes, with FAT 1 left as it was
// before: the chains it gives the new files are too short for them, FAT 2's fit, and every file reads back whole.
// With both FATs left so, no file takes what follows its chain: each reads back as a part of itself, marked damaged.
TEST_F(FATRecovery, ChainsThatFAT1NoLongerGivesRightComeFromFAT2AndNoFileTakesAnothersClusters) {
    const fs::path dir = makeTempDir("fat-stale"), files = dir / "files";
    const fs::path image = mkfsVfat(dir, "-F 32 -s 1", "40960");
    const auto put = [&](const std::string& name, std::uint64_t size) {
        writeText(files / (name + ".BIN"), patternBytes(std::hash<std::string>{}(name) >> 16, size));
        mtools(image, "mcopy", shellQuote((files / (name + ".BIN")).string()) + " ::/");
    };
    fs::create_directories(files);
    std::vector<std::string> kept;
    for (int i = 10; i < 30; ++i)
        put("A" + std::to_string(i), 1900000);
    const Layout l(image);
    const auto stale = readBytesAt(image, l.fat, l.fatBytes);
    for (int i = 10; i < 30; ++i)
        if (i % 2 == 0)
            mtools(image, "mdel", "::/A" + std::to_string(i) + ".BIN");
        else
            kept.push_back("A" + std::to_string(i));
    for (int i = 10; i < 16; ++i) {
        kept.push_back("B" + std::to_string(i));
        put(kept.back(), 3000000);
    }
    writeBytesAt(image, l.fat, stale);
    for (const bool bothStale : {false, true}) {
        if (bothStale) writeBytesAt(image, l.fat + l.fatBytes, stale);
        auto v = scan(image, "FAT32");
        for (const std::string& name : kept) {
            const NewDir* n = nodeAt(v->dirRoot, name + "     .BIN");
            ASSERT_NE(n, nullptr) << name;
            const std::string original = readText(files / (name + ".BIN")), read = readThroughExtents(*v, *n);
            EXPECT_EQ(read, bothStale ? original.substr(0, read.size()) : original) << name << bothStale;
            EXPECT_TRUE(read.size() < original.size() ? n->complete == NewDir::kDamaged : bothStale || !n->complete)
                << name << bothStale;
        }
        freeVolumes();
    }
    EXPECT_TRUE(logged("FAT 2"));
}

TEST(CodePage437, ShortNameBytesAboveASCIIAreTheOEMLetters) {
    EXPECT_EQ(utf8FromUtf16(utf16FromCodePage437("\x9A\x4E\xD8\xE5.TXT")), "ÜN╪σ.TXT");
}
