#include "support/ScanHelpers.h"

#include "hfsplus/HFSPlusVolume.h"
#include "hfsplus/OrphanEntries.h"
#include "media/SleepInhibitor.h"
#include "platform/ByteView.h"
#include "platform/SystemLog.h"
#include "scan/ScanThread.h"
#include "signatures/FileTypeTable.h"
#include "signatures/Sig.h"
#include "signatures/SigNode.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using platform::Array;
using platform::Dict;

namespace testsupport {

std::shared_ptr<Volume> volumeOver(const fs::path& image, std::uint64_t start, std::uint64_t sectors,
                                   std::uint32_t bytesPerSector, const std::string& content) {
    if (sectors == 0) sectors = fs::file_size(image) / bytesPerSector - start;
    return Volume::initWithDictionary(Dict{{"Path", image.string()},
                                           {"Preferred Block Size", bytesPerSector},
                                           {"Volume Start", static_cast<unsigned long long>(start)},
                                           {"Volume Size In Sectors", static_cast<unsigned long long>(sectors)},
                                           {"Volume Scan Type", 0},
                                           {"Content", content},
                                           {"Volume Name", "test"},
                                           {"device model", "-"},
                                           {"device serial", "-"},
                                           {"device revision", "-"}});
}

std::shared_ptr<Volume> scannedVolume(const fs::path& image, std::uint64_t start) {
    auto v = volumeOver(image, start);
    ScanThread(v).startMakingTree(Array{"Normal Scan", 0});
    return v;
}

XorrisoImage xorrisoImage() {
    XorrisoImage image;
    const fs::path iso = testImage("hfsplus.iso"), start = testImage("hfsplus.start");
    if (iso.empty() || start.empty()) return image;
    std::ifstream(start) >> image.start;
    image.path = iso;
    return image;
}

XorrisoImage smallXorrisoImage() {
    static const XorrisoImage made = [] {
        XorrisoImage image;
        if (!haveTool("xorriso")) return image;
        const fs::path dir = makeTempDir("small-hfs"), tree = dir / "tree";
        fs::path folder = tree;
        for (int i = 0; i < 33; ++i) {
            if (i % 3 == 0) folder /= "level" + std::to_string(i / 3 + 1);
            writeText(folder / ("file" + std::to_string(i + 1) + ".txt"), "file " + std::to_string(i + 1) + "\n");
        }
        const fs::path iso = dir / "small.iso";
        if (!runCommand("SOURCE_DATE_EPOCH=1700000000 xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -V "
                        "SMALL -o " +
                        shellQuote(iso.string()) + " " + shellQuote(tree.string()) + " 2>/dev/null"))
            return image;
        // The Apple partition map, in 512-byte blocks, names the HFS+ volume.
        for (std::uint64_t entry = 1; entry <= 8 && image.path.empty(); ++entry) {
            const std::vector<std::uint8_t> e = readBytesAt(iso, entry * 512, 512);
            if (e.size() == 512 && asString({e.begin() + 48, e.begin() + 57}) == "Apple_HFS") {
                image.start = platform::ByteView(e).be32(8);
                image.path = iso;
            }
        }
        return image;
    }();
    return made;
}

std::uint64_t catalogNodeSector(Volume& scanned, std::uint32_t node) {
    HFSPlusReaderState state(scanned);
    return HFSPlusVolume(state).catNodeToSector(node);
}

std::map<std::string, ManifestEntry> xorrisoManifest() {
    return imageManifest("hfsplus.manifest");
}

std::map<std::string, ManifestEntry> imageManifest(const std::string& name) {
    std::map<std::string, ManifestEntry> out;
    std::ifstream in(testImage(name));
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::istringstream cols(line);
        for (std::string c; std::getline(cols, c, '\t');)
            f.push_back(c);
        if (f.size() >= 5) out[f[0]] = {std::stoull(f[1]), f[3], f[4], f[2]};
    }
    return out;
}

std::string patternBytes(std::uint64_t offset, std::uint64_t length) {
    std::string bytes(length, '\0');
    for (std::uint64_t i = offset; i < offset + length; ++i)
        bytes[i - offset] = static_cast<char>((i * 131u + (i >> 9) * 7u + 1u) & 0xFF);
    return bytes;
}

fs::path patternImage(std::uint64_t sectors) {
    const fs::path p = makeTempDir("pattern") / "pattern.img";
    writeText(p, patternBytes(0, sectors * 512));
    return p;
}

fs::path copyToTemp(const fs::path& file) {
    const fs::path dst = makeTempDir("copy") / file.filename();
    fs::copy_file(file, dst);
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    return dst;
}

fs::path zeroImage(std::uint64_t bytes) {
    return zeroFile(makeTempDir("zeros") / "zeros.img", bytes);
}

fs::path filledImage(bool random, const std::string& phrase, std::uint64_t bytes) {
    const fs::path image = makeTempDir("filled") / "disk.img";
    const std::string fill =
        random ? "openssl enc -aes-128-ctr -nosalt -pbkdf2 -pass pass:" + phrase + "-" + sampleSeed(0) + " </dev/zero"
               : "cat /dev/zero";
    EXPECT_TRUE(runCommand(fill + " 2>/dev/null | head -c " + std::to_string(bytes) + " >" + shellQuoted(image)));
    return image;
}

void writeAt(const fs::path& file, std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(f.good()) << file;
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(f.good()) << file;
}

std::vector<std::uint64_t> imageWithFileEvery(const fs::path& image, std::uint64_t sectors, const std::string& file,
                                              std::uint64_t first, std::uint64_t every) {
    std::ofstream(image).close();
    fs::resize_file(image, sectors * 512);
    std::vector<std::uint64_t> placed;
    for (std::uint64_t at = first; at < sectors; at += every) {
        writeAt(image, at * 512, {file.begin(), file.end()});
        placed.push_back(at);
    }
    return placed;
}

std::vector<std::uint8_t> be16(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

std::vector<std::uint8_t> be32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v)};
}

std::string asString(const std::vector<std::uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

Impostors impostorsOf(const fs::path& disk, std::uint64_t sectors) {
    Impostors out{makeTempDir("other") / "other.img", makeTempDir("twin") / "twin.img"};
    writeText(out.other, patternBytes(7, sectors * 512));
    writeText(out.twin, readText(disk).substr(0, 5 * 512) + patternBytes(7 + 5 * 512, (sectors - 5) * 512));
    return out;
}

std::vector<StructureSample> samplesWithAStructureInOneSector() {
    const std::string jpeg = toolSample("convert -seed " + sampleSeed(1) + " -size 300x300 plasma: \"$OUT\"", "jpg");
    const std::string movie =
        toolSample("ffmpeg -v error -f lavfi -i " + sampleVideo("size=160x120:rate=10:duration=4") +
                       " -threads 1 -c:v mpeg4 -fflags +bitexact \"$OUT\"",
                   "mov");
    const std::string gif = toolSample("convert -seed " + sampleSeed(1) +
                                           " -size 160x120 plasma: \"$OUT.a.gif\" && convert -seed " + sampleSeed(2) +
                                           " -size 160x120 plasma: \"$OUT.b.gif\" && gifsicle --delay 10 "
                                           "\"$OUT\".?.gif -o \"$OUT\"",
                                       "gif");
    const std::string png = toolSample("convert -seed " + sampleSeed(1) + " -size 200x150 plasma: \"$OUT\"", "png");
    if (jpeg.size() < 4 || movie.size() < 4 || gif.empty() || png.empty()) return {};
    // The JPEG's first marker after its start moved to byte 1024, behind a
    // comment segment, and the movie's atoms after its first to byte 1536,
    // behind a free atom: sectors 2 and 3.
    const std::string jpegAt1024 =
        jpeg.substr(0, 2) + "\xFF\xFE" + asString(be16(1024 - 4)) + std::string(1024 - 6, ' ') + jpeg.substr(2);
    const std::size_t firstAtom = std::uint8_t(movie[2]) << 8 | std::uint8_t(movie[3]);
    const std::size_t firstChunk = png.find("IDAT");
    const std::size_t secondChunk = firstChunk == std::string::npos ? firstChunk : png.find("IDAT", firstChunk + 1);
    const std::string control("!\xF9\x04");
    const std::size_t firstFrame = gif.find(control);
    const std::size_t secondFrame = firstFrame == std::string::npos ? firstFrame : gif.find(control, firstFrame + 1);
    if (firstAtom + 8 > 1536 || secondChunk == std::string::npos || secondFrame == std::string::npos) {
        ADD_FAILURE() << "a sample has not the structure its case needs";
        return {};
    }
    const std::string movieAt1536 = movie.substr(0, firstAtom) +
                                    asString(be32(static_cast<std::uint32_t>(1536 - firstAtom))) + "free" +
                                    std::string(1536 - firstAtom - 8, '\0') + movie.substr(firstAtom);
    return {{"the JPEG's tables", jpegAt1024, "jpg", 2},
            {"the movie's wide and mdat atoms", movieAt1536, "mov", 3},
            {"the PNG's second data chunk", png, "png", (secondChunk - 4) / 512},
            {"the GIF's second frame", gif, "gif", secondFrame / 512}};
}

std::string shellQuoted(const fs::path& p) {
    return shellQuote(p.string());
}

std::map<std::string, NewDir*> nodesByPath(const NewDir* root) {
    std::map<std::string, NewDir*> out;
    std::vector<std::pair<const NewDir*, std::string>> pending{{root, ""}};
    while (root && !pending.empty()) {
        auto [d, prefix] = pending.back();
        pending.pop_back();
        for (NewDir* c : d->childList) {
            if (!c) continue;
            const std::string name = newdir::utf8(newdir::fileName(c));
            const std::string path = prefix.empty() ? name : prefix + "/" + name;
            out.emplace(path, c);
            if (c->isFolder()) pending.emplace_back(c, path);
        }
    }
    return out;
}

NewDir* nodeAt(const NewDir* root, const std::string& path) {
    const NewDir* at = root;
    std::istringstream names(path);
    for (std::string name; at && std::getline(names, name, '/');) {
        const auto& list = at->childList;
        auto it = std::find_if(list.begin(), list.end(),
                               [&](const NewDir* c) { return c && newdir::utf8(newdir::fileName(c)) == name; });
        at = it == list.end() ? nullptr : *it;
    }
    return at == root ? nullptr : const_cast<NewDir*>(at);
}

std::uint64_t firstSector(const NewDir& file) {
    return file.extents.empty()
               ? 0
               : file.dataStartSector + std::uint64_t{file.extents[0].startBlock} * file.sectorsPerBlock;
}

std::string readThroughExtents(Volume& v, const NewDir& file) {
    std::string data;
    const std::uint32_t bps = v.u32BytesInSector();
    for (const ExtP& e : file.extents) {
        const std::uint64_t sector =
            v.HPlusVolStart() + file.dataStartSector + std::uint64_t{e.startBlock} * file.sectorsPerBlock;
        const auto count = static_cast<std::int32_t>(e.blockCount * file.sectorsPerBlock);
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(count) * bps);
        EXPECT_TRUE(v.readSector(sector, count, buffer.data())) << "sector " << sector;
        data.append(buffer.begin(), buffer.end());
    }
    // A file may begin inside its first sector.
    data.erase(0, std::min<std::size_t>(file.firstSectorOffset, data.size()));
    if (data.size() > file.fileSize) data.resize(file.fileSize);
    return data;
}

fs::path mkfsVfat(const fs::path& dir, const std::string& options, const std::string& kib) {
    const fs::path image = dir / "fat.img";
    EXPECT_TRUE(runCommand("mkfs.vfat -C --invariant " + options + " " + shellQuote(image.string()) + " " + kib +
                           " >/dev/null"));
    return image;
}

std::optional<fs::path> cutShortHfsDisk(std::uint64_t bytes) {
    // Each volume is copied from where its hybrid image's Apple map says it begins.
    const auto dir = runCommand("set -e; cd " + shellQuoted(makeTempDir("cut")) + R"sh(; truncate -s 14M disk.img
sgdisk -n 1:2048:10239 -n 2:10240:18431 -n 3:18432:26623 -t 1:AF00 -t 2:AF00 -t 3:AF00 disk.img >/dev/null; for n in 1 2 3
do mkdir -p $n/Photos; for i in 1 2 3; do convert -seed $(($n$i + )sh" +
                                sampleSeed(0) + R"sh()) -size 96x64 plasma: $n/Photos/photo$i.jpg; done
  xorriso -as mkisofs -quiet -hfsplus -apm-block-size 512 -V Volume$n -o $n.iso $n 2>/dev/null
  for e in 2 3 4 5 6 7; do [ "$(dd if=$n.iso bs=1 skip=$((e * 512 + 48)) count=9 status=none)" = Apple_HFS ] && break; done
  dd if=$n.iso of=disk.img skip=$(($(od -An -tu4 --endian=big -j $((e * 512 + 8)) -N 4 $n.iso))) \
    seek=$((n * 8192 - 6144)) conv=notrunc status=none; done; truncate -s )sh" +
                                std::to_string(bytes) + " disk.img; pwd");
    if (!dir) return std::nullopt;
    return fs::path(dir->substr(0, dir->find('\n')));
}

void mtools(const fs::path& image, const std::string& tool, const std::string& arguments) {
    ASSERT_TRUE(runCommand("MTOOLS_SKIP_CHECK=1 MTOOLSRC=/dev/null " + tool + " -i " + shellQuote(image.string()) +
                           " " + arguments))
        << tool << " " << arguments;
}

Array markedTypes(const fs::path& table, const std::set<std::string>& extensions) {
    const auto rows = FileTypeTable::parse(readText(table)).value();
    Array out;
    std::set<std::string> photoTypes;
    for (const auto list : {FileTypeTable::PR, FileTypeTable::FR})
        for (const auto& category : FileTypeTable::buildList(rows, list))
            for (const auto& node : category->children()) {
                const std::string& extension = node->sig()->extension;
                if (!extensions.count(extension) || (list == FileTypeTable::FR && photoTypes.count(extension)))
                    continue;
                if (list == FileTypeTable::PR) photoTypes.insert(extension);
                out.emplace_back(node);
            }
    return out;
}

Array fileListTypes(const fs::path& table, const std::set<std::string>& extensions) {
    const auto rows = FileTypeTable::parse(readText(table)).value();
    Array out;
    for (const auto& category : FileTypeTable::buildList(rows, FileTypeTable::FR))
        for (const auto& node : category->children())
            if (extensions.count(node->sig()->extension)) out.emplace_back(node);
    return out;
}

namespace {
// The scans' keep-awake threads are detached and outlive the test; talking
// to the system bus and logging while the test program exits is what they
// must not do, so here they only wait.
class QuietInhibitor : public SleepInhibitor {
public:
    void reportUserActivity() override {}
    void release() override {}
};
} // namespace

void ScanFixture::SetUp() {
    SleepInhibitor::setShared(std::make_shared<QuietInhibitor>());
    platform::setAppController(&controller);
    platform::setLogSink([this](const std::string& l) {
        std::lock_guard lock(logMutex);
        logs.push_back(l);
    });
}

void ScanFixture::TearDown() {
    freeVolumes();
    platform::setAppController(nullptr);
    platform::setLogSink(nullptr);
}

std::multimap<std::uint64_t, SearchedFile> ScanFixture::searchedDisk(const std::filesystem::path& image,
                                                                     const platform::Array& types, int method) {
    auto v = keep(volumeOver(image, 0, 0, 512, ""));
    v->setRawSearchStart(0, 100);
    ScanThread(v).scanForDeletedFilesDisk(platform::Array{types, method});
    std::multimap<std::uint64_t, SearchedFile> found;
    for (const auto& [path, node] : nodesByPath(v->dirRoot))
        if (!node->isFolder() && node->foundBySignature == 1 && !node->extents.empty())
            found.emplace(firstSector(*node),
                          SearchedFile{readThroughExtents(*v, *node), node->complete == NewDir::kDamaged, path});
    freeVolumes();
    controller.clear();
    return found;
}

void ScanFixture::freeVolumes() {
    for (auto& state : hfsStates) {
        OrphanEntries orphans(*state);
        orphans.releaseUnplacedEntries(state->btreeOrph.get());
        orphans.releaseUnplacedEntries(state->btreeOrphAdvScanEntries.get());
    }
    hfsStates.clear();
    for (auto& v : volumes)
        v->freeTree();
    volumes.clear();
}

HFSPlusReaderState& ScanFixture::hfsState(Volume& v) {
    for (auto& state : hfsStates)
        if (&state->volume == &v) return *state;
    return *hfsStates.emplace_back(std::make_unique<HFSPlusReaderState>(v));
}

std::shared_ptr<Volume> ScanFixture::keep(std::shared_ptr<Volume> v) {
    if (!v) return v;
    volumes.push_back(v);
    Array drives = controller.driveDictArray();
    drives.push_back(Dict{{"Path", v->cPath()}});
    controller.setDriveDictArray(drives);
    return v;
}

bool ScanFixture::logged(const std::string& part) {
    std::lock_guard lock(logMutex);
    return std::any_of(logs.begin(), logs.end(),
                       [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

void ScanFixture::expectTreeCompleteLast() {
    const auto calls = controller.calls();
    ASSERT_FALSE(calls.empty());
    auto isFinal = [](const platform::RecordingController::Call& c) {
        return c.name == "updateProgress:" && c.argument.dictValue().get("Tree Complete").boolValue();
    };
    EXPECT_EQ(std::count_if(calls.begin(), calls.end(), isFinal), 1);
    EXPECT_TRUE(isFinal(calls.back()));
}

fs::path exFATVolumeWithDeletedFiles() {
    const fs::path image = zeroImage(8u << 20);
    if (!runCommand("mkfs.exfat " + shellQuote(image.string()) + " >/dev/null 2>&1")) return {};
    const auto boot = readBytesAt(image, 0, 512);
    const auto le32 = [&](std::size_t at) {
        return std::uint32_t(boot[at]) | std::uint32_t(boot[at + 1]) << 8 | std::uint32_t(boot[at + 2]) << 16 |
               std::uint32_t(boot[at + 3]) << 24;
    };
    const std::uint64_t sector = 1ull << boot[108], cluster = sector << boot[109];
    const std::uint64_t heap = le32(88) * sector, clusters = le32(92);
    const auto clusterAt = [&](std::uint64_t c) { return heap + (c - 2) * cluster; };
    // A deleted set at `entry`: a file or folder of that size from its first cluster on, its data there.
    const auto put = [&](std::uint64_t entry, const std::string& name, bool folder, std::uint64_t first,
                         const std::string& data) {
        writeAt(image, clusterAt(first), std::vector<std::uint8_t>(data.begin(), data.end()));
        std::vector<std::uint8_t> set(96, 0);
        set[0] = 0x05, set[1] = 2, set[4] = folder ? 0x10 : 0x20;
        set[32] = 0x40, set[33] = 0x03, set[35] = static_cast<std::uint8_t>(name.size());
        putLE(set, 40, data.size(), 8);
        putLE(set, 52, first, 4);
        putLE(set, 56, data.size(), 8);
        set[64] = 0x41;
        for (std::size_t u = 0; u < name.size(); ++u)
            set[66 + 2 * u] = static_cast<std::uint8_t>(name[u]);
        writeAt(image, entry, set);
        return set.size();
    };
    std::uint64_t entry = clusterAt(le32(96));
    while (readBytesAt(image, entry, 1)[0] != 0)
        entry += 32;
    for (std::uint32_t i = 0; i < 6; ++i)
        entry += put(entry, "deleted" + std::to_string(i) + ".bin", false, clusters - 8 * (i + 1),
                     patternBytes(i * 7919, 5000 + i * 3001));
    // The folder, its one cluster zero but for the set of its file.
    put(entry, "Old", true, clusters, std::string(cluster, '\0'));
    put(clusterAt(clusters), "inside.bin", false, clusters - 2, patternBytes(99991, 3000));
    return image;
}

} // namespace testsupport
