#include "support/FailingReads.h"

#include "support/LoopDevice.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr std::uint64_t kPageBytes = 4096;

} // namespace

void FailingReads::failSectors(std::uint64_t first, std::uint64_t count) {
    state_->badBytes.emplace_back(first * 512, (first + count) * 512);
}

void FailingReads::holdInTheCache(std::uint64_t first, std::uint64_t count) {
    const std::uint64_t end = ((first + count) * 512 + kPageBytes - 1) / kPageBytes;
    std::lock_guard lock(state_->cacheMutex);
    if (state_->cachedPages.size() < end) state_->cachedPages.resize(end);
    for (std::uint64_t page = first * 512 / kPageBytes; page < end; ++page)
        state_->cachedPages[page] = true;
}

void FailingReads::letGo(std::uint64_t first, std::uint64_t count) {
    const std::uint64_t end = ((first + count) * 512 + kPageBytes - 1) / kPageBytes;
    std::lock_guard lock(state_->cacheMutex);
    for (std::uint64_t page = first * 512 / kPageBytes; page < std::min<std::uint64_t>(end, state_->cachedPages.size());
         ++page)
        state_->cachedPages[page] = false;
}

void FailingReads::answerAgain(std::optional<std::uint64_t> diesAgainAt) {
    std::lock_guard lock(state_->cacheMutex);
    state_->dead = false;
    state_->diesAtByte = diesAgainAt ? *diesAgainAt * 512 : UINT64_MAX;
    state_->diesAfterReads = UINT64_MAX;
}

bool FailingReads::State::answers(std::uint64_t offset, std::size_t length, bool pastEveryCache) {
    if ((diesAtByte == UINT64_MAX && diesAfterReads == UINT64_MAX) || length == 0) return true;
    std::lock_guard lock(cacheMutex);
    dead = dead || offset + length > diesAtByte || reads > diesAfterReads;
    if (dead && pastEveryCache) return false;
    const std::uint64_t first = offset / 4096, end = (offset + length - 1) / 4096 + 1;
    if (cachedPages.size() < end) cachedPages.resize(end);
    for (std::uint64_t page = first; page < end; ++page)
        if (dead && !cachedPages[page]) return false;
    for (std::uint64_t page = first; page < end; ++page)
        cachedPages[page] = true;
    return true;
}

bool FailingReads::State::cached(std::uint64_t offset, std::size_t length) {
    if (length == 0) return true;
    std::lock_guard lock(cacheMutex);
    const std::uint64_t first = offset / kPageBytes, end = (offset + length - 1) / kPageBytes + 1;
    if (cachedPages.size() < end) return false;
    for (std::uint64_t page = first; page < end; ++page)
        if (!cachedPages[page]) return false;
    return true;
}

std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> FailingReads::cachedReader() const {
    return [state = state_](int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) -> std::int64_t {
        if (!state->cached(offset, length)) {
            errno = EAGAIN;
            return -1;
        }
        return ::pread(fd, buffer, length, static_cast<off_t>(offset));
    };
}

std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> FailingReads::reader() const {
    return reader(false);
}

std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> FailingReads::pastEveryCacheReader() const {
    return reader(true);
}

std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)>
FailingReads::reader(bool pastEveryCache) const {
    return [state = state_, pastEveryCache](int fd, std::uint8_t* buffer, std::size_t length,
                                            std::uint64_t offset) -> std::int64_t {
        bool fails = ++state->reads > state->deadAfter;
        const bool wholePages = state->wholePagesPastTheCache ||
                                (state->wholePagesThroughTheCache && (::fcntl(fd, F_GETFL) & O_DIRECT) == 0);
        for (auto [begin, end] : state->badBytes) {
            if (wholePages) {
                begin -= begin % kPageBytes;
                end += (kPageBytes - end % kPageBytes) % kPageBytes;
            }
            fails = fails || (offset < end && begin < offset + length);
        }
        fails = fails || !state->answers(offset, length, pastEveryCache);
        if (state->deadPastTheCache && (::fcntl(fd, F_GETFL) & O_DIRECT) != 0) {
            std::lock_guard lock(state->cacheMutex);
            fails = fails || state->dead;
        }
        int error = state->error != 0 ? state->error : EIO;
        if (!fails) {
            const std::int64_t got = ::pread(fd, buffer, length, static_cast<off_t>(offset));
            // A request refused or interrupted is no read the medium failed.
            if (got >= 0 || errno == EINVAL || errno == EINTR) return got;
            error = errno;
        }
        ++state->failed;
        {
            struct stat st {};
            ::fstat(fd, &st);
            std::lock_guard lock(state->placesMutex);
            ++state->failedPlaces[{st.st_dev, st.st_ino, offset, length}];
        }
        if (fails) std::this_thread::sleep_for(state->delay);
        errno = error;
        return -1;
    };
}

bool ServedByTheFuseTool::possible() {
    return ::geteuid() == 0 && std::filesystem::exists("/dev/fuse") && haveTool("losetup");
}

bool ServedByTheFuseTool::deviceMapperPossible() {
    return std::filesystem::exists("/sys/module/dm_mod") && haveTool("dmsetup") &&
           runCommand("dmsetup targets 2>/dev/null | grep -q '^linear '").has_value();
}

namespace {

// An ext4 file system holding `file` as `name`, made once as `made` beside it, in blocks of 4 KiB; empty when it
// cannot be made.
std::filesystem::path ext4Holding(const std::filesystem::path& file, const std::string& name,
                                  const std::filesystem::path& made) {
    if (std::filesystem::exists(made)) return made;
    const std::filesystem::path dir = made.string() + ".d";
    std::filesystem::create_directories(dir);
    const std::uint64_t mib = std::filesystem::file_size(file) / (1 << 20) * 5 / 4 + 16;
    if (!runCommand("cp --sparse=always " + shellQuote(file.string()) + " " + shellQuote((dir / name).string()) +
                    " && mkfs.ext4 -q -F -b 4096 -d " + shellQuote(dir.string()) + " " + shellQuote(made.string()) +
                    " " + std::to_string(mib) + "M"))
        return {};
    std::filesystem::remove_all(dir);
    return made;
}

// Where `name` lies on the ext4 file system `ext4` that holds it: its extents, in 4 KiB blocks, as first block of the
// file, first block of the file system and blocks; read once a file system.
using Ext4Extents = std::vector<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>>;
const Ext4Extents& extentsOnExt4(const std::filesystem::path& ext4, const std::string& name) {
    static std::map<std::string, Ext4Extents> known;
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    Ext4Extents& extents = known[ext4.string() + "/" + name];
    if (!extents.empty()) return extents;
    std::istringstream lines(
        runCommand("debugfs -R 'ex /" + name + "' " + shellQuote(ext4.string()) + " 2>/dev/null").value_or(""));
    std::string line;
    while (std::getline(lines, line)) {
        // "level/depth entry/entries  first - last  physical - end  length flags": leaves only (level = depth).
        unsigned level = 0, depth = 0, entry = 0, entries = 0;
        unsigned long long first = 0, last = 0, physical = 0, end = 0;
        if (std::sscanf(line.c_str(), " %u/ %u %u/ %u %llu - %llu %llu - %llu", &level, &depth, &entry, &entries,
                        &first, &last, &physical, &end) == 8 &&
            level == depth && last >= first)
            extents.emplace_back(first, physical, last - first + 1);
    }
    return extents;
}

// Sectors [first, first + count) of the file `name` as runs of sectors of the ext4 file system that holds it;
// nothing of a hole.
using SectorRuns = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
SectorRuns onExt4(const std::filesystem::path& ext4, const std::string& name, std::uint64_t first,
                  std::uint64_t count) {
    SectorRuns runs;
    for (const auto& [logical, physical, blocks] : extentsOnExt4(ext4, name)) {
        const std::uint64_t from = std::max(first, logical * 8), to = std::min(first + count, (logical + blocks) * 8);
        if (from < to) runs.emplace_back(physical * 8 + (from - logical * 8), to - from);
    }
    return runs;
}

// The file systems a sector of the image lies in, from the image's outwards: each made of the one before as `name`.
struct Ext4Layer {
    std::filesystem::path ext4;
    std::string name;
};
// Sectors [first, first + count) of the image as runs of sectors of the outermost file system.
SectorRuns throughLayers(const std::vector<Ext4Layer>& layers, std::uint64_t first, std::uint64_t count) {
    SectorRuns runs{{first, count}};
    for (const Ext4Layer& layer : layers) {
        SectorRuns next;
        for (const auto& [at, sectors] : runs)
            for (const auto& run : onExt4(layer.ext4, layer.name, at, sectors))
                next.push_back(run);
        runs = std::move(next);
    }
    return runs;
}

} // namespace

ServedByTheFuseTool::ServedByTheFuseTool(const std::filesystem::path& image, const std::filesystem::path& map,
                                         Loop loop, std::optional<std::uint64_t> dieAtSector, bool diesOnce) {
    const bool twoDeep = loop == Loop::FileOnExt4OnExt4OverCached || loop == Loop::CachedOverFileOnExt4OnExt4OverCached;
    const bool onExt4File =
        twoDeep || loop == Loop::FileOnExt4OverCached || loop == Loop::CachedOverFileOnExt4OverCached;
    const bool uncachedFile = loop == Loop::DirectIo || loop == Loop::OverAnUncachedFile ||
                              loop == Loop::TheFileItself || loop == Loop::CachedOverDirectIo;
    const bool directIo = loop == Loop::DirectIo || loop == Loop::CachedOverDirectIo;
    const std::filesystem::path tool = readyImagesDir().parent_path().parent_path() / "bench/bad-sectors-fuse.py";
    const std::filesystem::path mnt = image.parent_path() / "mnt";
    // The file the tool serves, and where the disk dies on it.
    std::filesystem::path served = image;
    std::vector<Ext4Layer> layers;
    if (onExt4File) {
        layers.push_back({ext4Holding(image, "card.img", image.parent_path() / "ext4.img"), "card.img"});
        if (twoDeep)
            layers.push_back(
                {ext4Holding(layers.back().ext4, "inner.img", image.parent_path() / "ext4-ext4.img"), "inner.img"});
        served = layers.back().ext4;
        if (served.empty() || layers.front().ext4.empty()) return;
        if (dieAtSector) {
            const auto at = throughLayers(layers, *dieAtSector, 1);
            if (at.empty()) return;
            dieAtSector = at.front().first;
        }
    }
    mountPoint = shellQuote(mnt.string());
    countFile = (image.parent_path() / "mnt.counts").string();
    deadFile = (image.parent_path() / "mnt.dead").string();
    std::filesystem::remove(countFile);
    std::filesystem::remove(deadFile);
    const std::string environment = std::string("DIRECT_IO=") + (uncachedFile ? "1" : "0") +
                                    (dieAtSector ? " DIE_AT_SECTOR=" + std::to_string(*dieAtSector) : "") +
                                    (diesOnce ? " DIE_ONCE=1" : "") + " COUNT_FILE=" + shellQuote(countFile) +
                                    " DEAD_FILE=" + shellQuote(deadFile);
    // The bad sectors where the ext4 file system holds them.
    std::filesystem::path badMap = map;
    if (onExt4File) {
        badMap = map.string() + ".ext4";
        std::ifstream in(map);
        std::ofstream out(badMap);
        std::uint64_t first = 0, count = 0;
        while (in >> first >> count)
            for (const auto& [at, sectors] : throughLayers(layers, first, count))
                out << at << ' ' << sectors << '\n';
    }
    const auto command = [](const std::string& step) { return [step] { runCommand(step); }; };
    // Unmounted, the tool ends.
    undo.push_back(command("umount " + mountPoint + " || umount -l " + mountPoint));
    if (!runCommand("mkdir -p " + mountPoint + " && (" + environment + " python3 " + shellQuote(tool.string()) + " " +
                    shellQuote(served.string()) + " " + mountPoint + " @" + shellQuote(badMap.string()) +
                    " 0 >/dev/null 2>&1 &) && for i in $(seq 100); do [ -e " + mountPoint +
                    "/disk.img ] && break; sleep 0.1; done && [ -e " + mountPoint + "/disk.img ]"))
        return;
    const std::string file = (mnt / "disk.img").string();
    if (loop == Loop::TheFileItself) {
        device = file;
        return;
    }
    // A read-only loop device over `what`, in direct I/O or not, taken down with the rest.
    const auto attach = [&](const std::string& what, bool direct) -> std::string {
        const auto made = std::make_shared<LoopDevice>(what, direct ? "-r --direct-io=on" : "-r");
        if (!made->path().empty()) undo.insert(undo.begin(), [made] { made->detach(); });
        return made->path();
    };
    const std::string below = attach(file, directIo);
    if (below.empty()) return;
    switch (loop) {
    case Loop::CachedOverDirectIo:
    case Loop::CachedOverCached:
        device = attach(below, false);
        return;
    case Loop::DirectIoOverCached:
        device = attach(below, true);
        return;
    case Loop::FileOnExt4OverCached:
    case Loop::CachedOverFileOnExt4OverCached:
    case Loop::FileOnExt4OnExt4OverCached:
    case Loop::CachedOverFileOnExt4OnExt4OverCached: {
        // Each file system mounted from the loop device over the file the one outside it holds, outermost first.
        std::string from = below;
        std::filesystem::path holding;
        for (std::size_t k = layers.size(); k-- > 0;) {
            holding = image.parent_path() / (k == 0 ? "mnt-ext4" : "mnt-ext4-outer");
            std::filesystem::create_directories(holding);
            if (!runCommand("mount -t ext4 -o ro,noload " + from + " " + shellQuote(holding.string()))) return;
            undo.insert(undo.begin(), command("umount " + shellQuote(holding.string()) + " || umount -l " +
                                              shellQuote(holding.string())));
            if (k == 0) break;
            from = attach((holding / layers[k].name).string(), false);
            if (from.empty()) return;
        }
        const std::string card = (holding / "card.img").string();
        device =
            loop == Loop::FileOnExt4OverCached || loop == Loop::FileOnExt4OnExt4OverCached ? card : attach(card, false);
        return;
    }
    case Loop::LinearOverCached: {
        const std::string name = "drentic-" + std::to_string(::getpid()) + "-" + below.substr(below.rfind('/') + 1);
        const std::uint64_t sectors = std::filesystem::file_size(image) / 512;
        if (!runCommand("dmsetup create " + name + " --readonly --table '0 " + std::to_string(sectors) + " linear " +
                        below + " 0'"))
            return;
        undo.insert(undo.begin(), command("dmsetup remove " + name));
        device = "/dev/mapper/" + name;
        return;
    }
    default:
        device = below;
        return;
    }
}

ServedByTheFuseTool::~ServedByTheFuseTool() {
    for (const auto& step : undo)
        step();
}

void ServedByTheFuseTool::answerAgain() const {
    std::filesystem::remove(deadFile);
}

std::uint64_t ServedByTheFuseTool::failedReads() const {
    std::ifstream counts(countFile);
    std::uint64_t reads = 0, failed = 0;
    counts >> reads >> failed;
    return failed;
}

std::uint64_t FailingReads::mostFailedReadsOfOnePlace() const {
    std::lock_guard lock(state_->placesMutex);
    std::uint64_t most = 0;
    for (const auto& [place, failed] : state_->failedPlaces)
        most = std::max(most, failed);
    return most;
}

} // namespace testsupport
