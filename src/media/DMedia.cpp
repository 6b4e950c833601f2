#include "media/DMedia.h"

#include "media/PartitionTables.h"
#include "media/SysfsBlockDevice.h"
#include "media/SystemPaths.h"
#include "platform/AlignedBuffer.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "platform/PageCache.h"
#include "platform/SystemLog.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
// Scans read in batches of a few sectors to a few hundred KiB; serving
// sequential batches from one large read keeps them near the medium's
// streaming speed.
constexpr std::size_t kReadAheadBytes = 4u << 20;
// From this size on a read is cheaper straight into the caller's buffer
// than through the window (one copy less).
constexpr std::size_t kDirectReadBytes = 64u << 10;
constexpr std::uint64_t kMaxReadBytes = 1ull << 31;
// After a failed read (of a window or not), no window reaches into the
// sectors from there on for this many bytes: reads there ask for no more
// than they need. On a dying disk a failed read costs seconds and a small
// plain read well under a millisecond, so 64 MiB of small plain reads cost
// about what one more failed window would, and a catalog lying just before a
// bad area costs one failed read instead of one per node.
constexpr std::uint64_t kReadAheadPauseBytes = 64u << 20;
} // namespace

std::optional<std::vector<DMedia::FileExtent>> DMedia::extentsOf(int fd) {
    // Asked once for how many, then for them all: a file of more is read
    // the other ways. Never with FIEMAP_FLAG_SYNC: that writes the file's
    // dirty pages back, and the file system it would write to lies on the
    // disk being recovered. What is not yet on the disk comes back flagged
    // (delayed allocation) and is left out below.
    constexpr std::uint32_t kMostExtents = 1u << 20;
    fiemap head{};
    head.fm_length = FIEMAP_MAX_OFFSET;
    if (::ioctl(fd, FS_IOC_FIEMAP, &head) != 0 || head.fm_mapped_extents > kMostExtents) return std::nullopt;
    const std::uint32_t count = head.fm_mapped_extents;
    std::vector<std::uint64_t> memory((sizeof(fiemap) + count * sizeof(fiemap_extent)) / sizeof(std::uint64_t) + 1);
    auto* map = reinterpret_cast<fiemap*>(memory.data());
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_extent_count = count;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) return std::nullopt;
    // Only extents whose bytes lie as they are on the device: none whose
    // place is not known yet, packed with others, encoded, or not yet
    // written (those read as zeros, from nowhere).
    constexpr std::uint32_t kNotAsOnTheDevice =
        FIEMAP_EXTENT_UNKNOWN | FIEMAP_EXTENT_DELALLOC | FIEMAP_EXTENT_ENCODED | FIEMAP_EXTENT_DATA_ENCRYPTED |
        FIEMAP_EXTENT_NOT_ALIGNED | FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_DATA_TAIL | FIEMAP_EXTENT_UNWRITTEN;
    std::vector<FileExtent> extents;
    for (std::uint32_t i = 0; i < std::min(map->fm_mapped_extents, count); ++i) {
        const fiemap_extent& e = map->fm_extents[i];
        if ((e.fe_flags & kNotAsOnTheDevice) == 0 && e.fe_length != 0 &&
            platform::checkedAdd(e.fe_logical, e.fe_length) && platform::checkedAdd(e.fe_physical, e.fe_length))
            extents.push_back({e.fe_logical, e.fe_length, e.fe_physical});
    }
    std::sort(extents.begin(), extents.end(),
              [](const FileExtent& a, const FileExtent& b) { return a.logical < b.logical; });
    return extents;
}

struct DMedia::Device {
    int fd = -1;
    // The device's size in bytes (0 when it would not tell): a read that
    // stops short before it failed on the page where it stopped.
    std::uint64_t bytes = 0;
    std::mutex windowMutex;
    platform::AlignedBuffer window;
    std::uint64_t windowStart = 0;
    std::size_t windowLength = 0;
    std::uint64_t lastEnd = UINT64_MAX;
    // A descriptor that goes past the page cache, for reading single sectors
    // again: the cache reads a whole page, and fails it whole for one bad
    // sector in it. Opened at the first such read; -1 where the device or
    // its file system refuses it.
    std::once_flag uncachedOpened;
    int uncachedFd = -1;
    // What a read past the page cache gets was read from the medium itself:
    // a disk, an image file on one, a loop device in direct I/O over one;
    // not a loop device that reads through a page cache, nor anything over
    // one.
    bool answersPastEveryCache = false;
    // Where the loop devices such a device stands on read past every cache:
    // the file or device at their bottom, read with O_DIRECT.
    std::optional<SysfsBlockDevice::Bottom> below;
    // Where a read past every cache goes, opened at the first such read, and
    // where the device's first byte lies there; -1 where there is no such
    // way. Reads there are aligned to `directBlock` bytes, what the bottom's
    // own device takes.
    std::once_flag pastEveryCacheOpened;
    // Where the way passes through a file's extents: those that hold its
    // bytes, in order.
    std::vector<FileExtent> extents;
    int pastEveryCacheFd = -1;
    std::uint64_t pastEveryCacheStart = 0;
    std::atomic<std::uint32_t> directBlock{0};
    std::atomic<bool> pastEveryCacheRefused{false};
    // The way ends on a file system nothing can be seen below (see
    // SysfsBlockDevice::Bottom::unseenBelow).
    bool unseenBelow = false;
    // The page caches a read past the device's own goes through (see
    // SysfsBlockDevice::cachesBelow), by the names the kernel gives them.
    std::vector<std::string> cachesBelow;

    ~Device() {
        if (fd >= 0) ::close(fd);
        if (pastEveryCacheFd >= 0 && pastEveryCacheFd != uncachedFd) ::close(pastEveryCacheFd);
        if (uncachedFd >= 0) ::close(uncachedFd);
    }
};

DMedia::DMedia() = default;
DMedia::~DMedia() {
    if (cacheKeeper_ >= 0) ::close(cacheKeeper_);
}

std::shared_ptr<DMedia> DMedia::initWithDictionary(const platform::Dict& d) {
    std::uint32_t bytesPerSector = d.get("Preferred Block Size").unsignedIntValue();
    if (bytesPerSector == 0) {
        platform::logFormat("Drive %@ has no sector size; it cannot be read", d.get("Path"));
        return nullptr;
    }
    auto m = std::make_shared<DMedia>();
    m->u32BytesInSector_ = bytesPerSector;
    m->path_ = d.get("Path").description();
    m->sizeInBytes_ = d.get("Size").uint64Value();
    m->sizeInSect_ = m->sizeInBytes_ / bytesPerSector;
    m->model_ = d.get("device model").description();
    m->serial_ = d.get("device serial").description();
    m->revision_ = d.get("device revision").description();
    m->setAbortVolumeScan(false);
    m->cPath_ = m->path_;
    return m;
}

void DMedia::encodeWithCoder(platform::KeyedArchiver& coder) const {
    if (!path_.empty()) coder.encodeObject(platform::Value(path_), "path");
    if (!model_.empty()) coder.encodeObject(platform::Value(model_), "model");
    if (!serial_.empty()) coder.encodeObject(platform::Value(serial_), "serial");
    if (!revision_.empty()) coder.encodeObject(platform::Value(revision_), "revision");
    if (sizeInSect_) coder.encodeObject(platform::Value(static_cast<unsigned long long>(sizeInSect_)), "sizeInSect");
}

std::shared_ptr<DMedia> DMedia::initWithCoder(platform::KeyedUnarchiver& coder) {
    auto m = std::make_shared<DMedia>();
    if (coder.containsValueForKey("path")) m->setPath(coder.decodeObject("path").stringValue());
    if (coder.containsValueForKey("model")) m->setModel(coder.decodeObject("model").stringValue());
    if (coder.containsValueForKey("serial")) m->setSerial(coder.decodeObject("serial").stringValue());
    if (coder.containsValueForKey("revision")) m->setRevision(coder.decodeObject("revision").stringValue());
    if (coder.containsValueForKey("sizeInSect")) m->setSizeInSect(coder.decodeObject("sizeInSect").uint64Value());
    return m;
}

void DMedia::registerArchiveClass() {
    platform::KeyedUnarchiver::registerClass(
        "DMedia", [](platform::KeyedUnarchiver& c) -> platform::ObjectPtr { return initWithCoder(c); });
}

std::shared_ptr<DMedia> DMedia::mutableCopy() const {
    auto m = std::make_shared<DMedia>();
    m->path_ = path_;
    m->model_ = model_;
    m->serial_ = serial_;
    m->revision_ = revision_;
    m->sizeInSect_ = sizeInSect_;
    m->u32BytesInSector_ = u32BytesInSector_;
    m->HPlusVolStart_ = HPlusVolStart_;
    m->blockSize_ = blockSize_;
    return m;
}

std::shared_ptr<DMedia::Device> DMedia::device() {
    std::lock_guard lock(deviceMutex_);
    if (device_) return device_;
    int fd = ::open(cPath_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    // The kernel's own read-ahead would widen damage: a request it merges
    // with the pages after the ones asked for fails whole when one of those
    // lies on a bad sector, and takes the sectors asked for down with it.
    // The readers ask for exactly what they need, in large reads where they
    // sweep, so nothing is lost by turning it off; advice is only a hint,
    // and a device that refuses it is read as it is.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_RANDOM);
    // The device's own size: a drive row's may be stale, and a volume's is
    // the volume's.
    const off_t end = ::lseek(fd, 0, SEEK_END);
    policy_.layOut(end > 0 ? static_cast<std::uint64_t>(end)
                           : std::max(sizeInBytes_, (HPlusVolStart_ + sizeInSect_) * u32BytesInSector_),
                   u32BytesInSector_, static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)));
    device_ = std::make_shared<Device>();
    device_->fd = fd;
    device_->bytes = end > 0 ? static_cast<std::uint64_t>(end) : 0;
    if (cacheKeeper_ < 0) cacheKeeper_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
        const std::string sysfs = SystemPaths::system().sysfsRoot;
        const std::optional<SysfsBlockDevice> d = SysfsBlockDevice::open(
            sysfs + "/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)), sysfs);
        const std::optional<SysfsBlockDevice::Bottom> bottom = d ? std::optional(d->bottom()) : std::nullopt;
        device_->answersPastEveryCache = bottom && bottom->way == SysfsBlockDevice::Bottom::Way::Itself;
        if (bottom && bottom->way == SysfsBlockDevice::Bottom::Way::Below) device_->below = bottom;
        device_->unseenBelow = bottom && bottom->way != SysfsBlockDevice::Bottom::Way::None && bottom->unseenBelow;
        if (d) device_->cachesBelow = d->cachesBelow();
    } else if (S_ISREG(st.st_mode)) {
        // An image file read with O_DIRECT is read from its disk, unless a
        // cache lies under its file system (a loop device that reads through
        // the page cache). A test's reader in between that gives a way past
        // every cache of its own says so for itself.
        SysfsBlockDevice::PathFacts file;
        file.kind = SysfsBlockDevice::PathFacts::Kind::RegularFile;
        file.devNumber = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
        file.inode = st.st_ino;
        const SysfsBlockDevice::Bottom bottom =
            SysfsBlockDevice::fileBottom(file, cPath_, SystemPaths::system().sysfsRoot);
        device_->answersPastEveryCache = !pastEveryCacheRead_ && bottom.way == SysfsBlockDevice::Bottom::Way::Itself;
        if (!pastEveryCacheRead_ && bottom.way == SysfsBlockDevice::Bottom::Way::Below) device_->below = bottom;
        device_->unseenBelow =
            !pastEveryCacheRead_ && bottom.way != SysfsBlockDevice::Bottom::Way::None && bottom.unseenBelow;
        device_->cachesBelow = SysfsBlockDevice::cachesBelowFile(file, SystemPaths::system().sysfsRoot);
    }
    // With no way past every cache, the verdict takes weaker evidence from
    // the first read on.
    policy_.setCacheOnly(!device_->answersPastEveryCache && !device_->below && !rawRead_);
    return device_;
}

int DMedia::pastEveryCacheDescriptor(Device& dev) {
    std::call_once(dev.pastEveryCacheOpened, [&] {
        // A test's reader in between an image file stands for the file read
        // with O_DIRECT, unless it gives a way of its own.
        if (dev.answersPastEveryCache || (rawRead_ && !dev.below)) {
            dev.pastEveryCacheFd = uncachedDescriptor(dev);
            return;
        }
        if (!dev.below) return;
        // Down the loop devices to the bottom, each what the kernel says it
        // reads: a name the kernel gave may since stand for another file or
        // device, which is never read in its place. Where the way passes
        // through a file's extents, from the file to the device its file
        // system is on, which must be the file's.
        const SysfsBlockDevice::Bottom& below = *dev.below;
        std::vector<int> opened;
        const auto closeAll = [&](int keep) {
            for (const int fd : opened)
                if (fd != keep) ::close(fd);
        };
        int above = dev.fd;
        for (std::size_t k = 0; k < below.loops.size(); ++k) {
            if (below.through && k == below.through->loopsAbove) {
                std::optional<std::vector<FileExtent>> extents = extentsOf(above);
                struct stat file {};
                const int fileSystem =
                    extents && ::fstat(above, &file) == 0
                        ? ::open(SystemPaths::system().deviceNode(below.through->device).c_str(), O_RDONLY | O_CLOEXEC)
                        : -1;
                if (fileSystem >= 0) opened.push_back(fileSystem);
                struct stat st {};
                if (fileSystem < 0 || ::fstat(fileSystem, &st) != 0 || !S_ISBLK(st.st_mode) ||
                    st.st_rdev != file.st_dev) {
                    closeAll(-1);
                    platform::logFormat("%@ is read past every cache by no way: where %@ lies could not be told",
                                        cPath_, below.through->file);
                    return;
                }
                dev.extents = std::move(*extents);
                above = fileSystem;
            }
            const SysfsBlockDevice::Loop& loop = below.loops[k];
            const bool last = k + 1 == below.loops.size();
            loop_info64 info{};
            const bool told = ::ioctl(above, LOOP_GET_STATUS64, &info) == 0 && info.lo_offset == loop.offset;
            const int next = told ? ::open(loop.backing.c_str(), O_RDONLY | O_CLOEXEC | (last ? O_DIRECT : 0)) : -1;
            if (next >= 0) opened.push_back(next);
            struct stat st {};
            const bool file = loop.facts.kind == SysfsBlockDevice::PathFacts::Kind::RegularFile;
            const bool same =
                next >= 0 && ::fstat(next, &st) == 0 &&
                (file ? S_ISREG(st.st_mode) && info.lo_inode == st.st_ino &&
                            major(info.lo_device) == major(st.st_dev) && minor(info.lo_device) == minor(st.st_dev)
                      : S_ISBLK(st.st_mode) && major(info.lo_rdevice) == major(st.st_rdev) &&
                            minor(info.lo_rdevice) == minor(st.st_rdev));
            if (!same) {
                closeAll(-1);
                platform::logFormat("%@ no longer reads %@ as it was attached; it is not read past every cache", cPath_,
                                    loop.backing);
                return;
            }
            above = next;
        }
        if (opened.empty()) return;
        closeAll(above);
        dev.pastEveryCacheFd = above;
        dev.pastEveryCacheStart = below.startBytes;
    });
    return dev.pastEveryCacheRefused.load(std::memory_order_acquire) ? -1 : dev.pastEveryCacheFd;
}

DMedia::Got DMedia::readPastEveryCache(Device& dev, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
    Got got;
    const int fd = pastEveryCacheDescriptor(dev);
    // What lies below past the device's end (a loop's size limit, a
    // partition's end) is none of the medium's.
    if (dev.below && dev.bytes != 0)
        length = offset < dev.bytes ? std::min<std::uint64_t>(length, dev.bytes - offset) : 0;
    while (got.bytes < length || length == 0) {
        // Where the rest lies at the bottom, as far as it lies there in one
        // run: a place of a file that no extent holds (a hole) has no place
        // there, and is read the other ways.
        const std::optional<std::pair<std::uint64_t, std::size_t>> at =
            fd < 0 ? std::nullopt : bottomOf(dev, offset + got.bytes, length - got.bytes);
        if (!at) {
            errno = EINVAL;
            got.failed = true;
            return got;
        }
        const Got piece = readAtTheBottom(dev, fd, buffer + got.bytes, at->second, at->first);
        if (piece.bytes > 0 && !piece.failed)
            policy_.noteAnswer(offset + got.bytes, piece.bytes, ReadFailurePolicy::Source::PastEveryCache);
        got.bytes += piece.bytes;
        got.failed = piece.failed;
        // The end of the file: what lies past it is nothing to read.
        if (piece.failed || piece.bytes < at->second || length == 0) return got;
    }
    return got;
}

std::optional<std::pair<std::uint64_t, std::size_t>> DMedia::bottomOf(const Device& dev, std::uint64_t offset,
                                                                      std::size_t length) const {
    if (!dev.below || !dev.below->through) {
        const std::optional<std::uint64_t> at = platform::checkedAdd(offset, dev.pastEveryCacheStart);
        if (!at) return std::nullopt;
        return std::pair{*at, length};
    }
    const std::optional<std::uint64_t> inFile = platform::checkedAdd(offset, dev.below->through->startBytes);
    if (!inFile) return std::nullopt;
    const auto after = std::upper_bound(dev.extents.begin(), dev.extents.end(), *inFile,
                                        [](std::uint64_t at, const FileExtent& e) { return at < e.logical; });
    if (after == dev.extents.begin()) return std::nullopt;
    const FileExtent& e = *std::prev(after);
    if (*inFile - e.logical >= e.length) return std::nullopt;
    const std::optional<std::uint64_t> at =
        platform::checkedAdd(e.physical + (*inFile - e.logical), dev.pastEveryCacheStart);
    if (!at) return std::nullopt;
    return std::pair{*at, static_cast<std::size_t>(std::min<std::uint64_t>(length, e.length - (*inFile - e.logical)))};
}

DMedia::Got DMedia::readAtTheBottom(Device& dev, int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t at) {
    Got got;
    // O_DIRECT takes whole blocks of the file's own device: the sector size
    // first, and a page where that is refused.
    const std::uint32_t known = dev.directBlock.load(std::memory_order_acquire);
    const std::uint32_t tries[] = {known != 0 ? known : std::max<std::uint32_t>(u32BytesInSector_, 512), 4096};
    for (const std::uint32_t block : tries) {
        if (block == 0 || (known != 0 && block != known)) continue;
        const std::uint64_t from = at / block * block;
        const std::uint64_t span = (at + length + block - 1) / block * block - from;
        platform::AlignedBuffer aligned(static_cast<std::size_t>(span));
        std::size_t done = 0;
        int error = 0;
        while (done < span) {
            const std::int64_t n =
                rawRead_ ? (pastEveryCacheRead_ ? pastEveryCacheRead_ : rawRead_)(
                               fd, aligned.data() + done, static_cast<std::size_t>(span) - done, from + done)
                         : ::pread(fd, aligned.data() + done, static_cast<std::size_t>(span) - done,
                                   static_cast<off_t>(from + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) error = errno;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        if (error == EINVAL && done == 0) continue;
        dev.directBlock.store(block, std::memory_order_release);
        const std::size_t skip = static_cast<std::size_t>(at - from);
        const std::size_t useful = done > skip ? std::min(done - skip, length) : 0;
        if (useful > 0) std::memcpy(buffer, aligned.data() + skip, useful);
        got.bytes = useful;
        if (error != 0) {
            got.failed = true;
            errno = error;
        }
        return got;
    }
    // Refused however aligned: no way past every cache here.
    platform::logFormat("%@ refuses reads past every cache; it is read through the caches", cPath_);
    dev.pastEveryCacheRefused.store(true, std::memory_order_release);
    errno = EINVAL;
    got.failed = true;
    return got;
}

int DMedia::uncachedDescriptor(Device& dev) {
    std::call_once(dev.uncachedOpened,
                   [&] { dev.uncachedFd = ::open(cPath_.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC); });
    return dev.uncachedFd;
}

void DMedia::setCPath() {
    std::lock_guard lock(deviceMutex_);
    cPath_ = path_;
    device_.reset();
    if (cacheKeeper_ >= 0) ::close(cacheKeeper_);
    cacheKeeper_ = -1;
    keeperAsking_ = {};
}

void DMedia::setMediumUnconfirmed(bool unconfirmed) {
    mediumUnconfirmed_.store(unconfirmed, std::memory_order_release);
    if (!unconfirmed) return;
    std::lock_guard lock(deviceMutex_);
    device_.reset();
    if (cacheKeeper_ >= 0) ::close(cacheKeeper_);
    cacheKeeper_ = -1;
    keeperAsking_ = {};
}

std::uint64_t DMedia::readCachedSectors(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
    const std::uint64_t bps = u32BytesInSector_;
    if (count <= 0 || bps == 0 || static_cast<std::uint64_t>(count) * bps > kMaxReadBytes ||
        !platform::checkedMul(platform::saturatingAdd(sector, static_cast<std::uint64_t>(count)), bps))
        return static_cast<std::uint64_t>(std::max(count, 0));
    const auto sectors = static_cast<std::uint64_t>(count);
    const std::uint64_t mediumEnd = policy_.endSector();
    if (mediumEnd != 0 && sector + sectors > mediumEnd) {
        std::memset(buffer, 0, static_cast<std::size_t>(sectors * bps));
        return sectors;
    }
    std::uint64_t lost = 0;
    for (const auto& [first, end] : readFromTheCache(sector, sectors, buffer))
        lost += end - first;
    return lost;
}

MediumDevice::Runs DMedia::readFromTheCache(std::uint64_t sector, std::uint64_t count, std::uint8_t* buffer) {
    const std::uint64_t bps = u32BytesInSector_;
    if (count == 0) return {};
    const Runs all{{sector, platform::saturatingAdd(sector, count)}};
    if (bps == 0 || count > kMaxReadBytes / bps || !platform::checkedMul(platform::saturatingAdd(sector, count), bps))
        return all;
    std::memset(buffer, 0, static_cast<std::size_t>(count * bps));
    if (mediumUnconfirmed()) return all;
    // Whole if the cache holds it all, as it mostly does; else the pages it
    // holds, as the cache holds pages.
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t pageSectors = page > bps ? page / bps : 1;
    std::lock_guard lock(deviceMutex_);
    // Found out once for the descriptor that keeps the cache: a dead medium
    // is read from here a window at a time to its end.
    if (keeperAsking_.fd != cacheKeeper_) keeperAsking_ = platform::cacheAsking(cacheKeeper_);
    // Why the last look found less than all it asked for.
    int notAll = 0;
    const auto cached = [&](std::uint64_t first, std::uint64_t n) {
        std::uint8_t* into = buffer + (first - sector) * bps;
        const std::size_t length = static_cast<std::size_t>(n * bps);
        if (cachedBytes(keeperAsking_, into, length, first * bps)) return true;
        notAll = errno;
        std::memset(into, 0, length);
        return false;
    };
    if (cached(sector, count)) return {};
    // Nothing of it can be looked at (the descriptor cannot be mapped, or
    // the system will not tell): asked page by page, each page would only
    // fail the same way, at the cost of a question each.
    if (notAll != EAGAIN) return all;
    // Which pages are held, asked once for the whole request where the
    // system tells; a test's cache answers page by page.
    std::optional<std::vector<bool>> held;
    if (!rawRead_) {
        held = platform::heldPagesAsked(keeperAsking_, sector * bps, static_cast<std::size_t>(count * bps));
        if (!held) return all;
    }
    Runs notHeld;
    const auto lose = [&](std::uint64_t first, std::uint64_t end) {
        if (!notHeld.empty() && notHeld.back().second == first)
            notHeld.back().second = end;
        else
            notHeld.emplace_back(first, end);
    };
    const std::uint64_t firstPage = sector * bps / page;
    for (std::uint64_t at = sector; at < sector + count;) {
        // A run of pages alike, held or not by what the system told.
        std::uint64_t n = std::min(pageSectors - at % pageSectors, sector + count - at);
        const auto pageHeld = [&](std::uint64_t s) {
            const std::uint64_t index = s * bps / page - firstPage;
            return !held || (index < held->size() && (*held)[static_cast<std::size_t>(index)]);
        };
        const bool told = pageHeld(at);
        if (held)
            while (at + n < sector + count && pageHeld(at + n) == told)
                n += std::min(pageSectors, sector + count - at - n);
        if (!told || !cached(at, n)) {
            // A run the kernel let go of since it was told is read page by
            // page, as it may have let go of only some.
            if (told && held && n > pageSectors) {
                for (std::uint64_t p = at; p < at + n;) {
                    const std::uint64_t m = std::min(pageSectors - p % pageSectors, at + n - p);
                    if (!cached(p, m)) lose(p, p + m);
                    p += m;
                }
            } else {
                lose(at, at + n);
            }
        }
        at += n;
    }
    return notHeld;
}

bool DMedia::cachedBytes(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) const {
    const std::int64_t got = !rawRead_     ? platform::readCachedBytes(fd, buffer, length, offset)
                             : cachedRead_ ? cachedRead_(fd, buffer, length, offset)
                                           : -1;
    return got == static_cast<std::int64_t>(length);
}

bool DMedia::cachedBytes(const platform::CacheAsking& asking, std::uint8_t* buffer, std::size_t length,
                         std::uint64_t offset) const {
    // A test's disk with no cache above it holds nothing to look at.
    errno = ENODATA;
    if (rawRead_) return cachedBytes(asking.fd, buffer, length, offset);
    return platform::readCachedBytesAsked(asking, buffer, length, offset) == static_cast<std::int64_t>(length);
}

void DMedia::dropDevice(const std::shared_ptr<Device>& failed) {
    std::lock_guard lock(deviceMutex_);
    if (device_ == failed) device_.reset();
}

bool DMedia::devicePresent() const {
    platform::AppController* c = platform::appController();
    if (!c) return true;
    for (const platform::Array& list : {c->driveDictArray(), c->volumeDictArray()})
        for (const auto& d : list)
            if (d.dictValue().get("Path").description() == path_) return true;
    return false;
}

DMedia::Got DMedia::readFully(Device& dev, int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset,
                              ReadFailurePolicy::Source source, std::uint64_t deviceBytes) {
    Got got;
    while (got.bytes < length) {
        const std::size_t asked = length - got.bytes;
        const std::int64_t n = rawRead_
                                   ? rawRead_(fd, buffer + got.bytes, asked, offset + got.bytes)
                                   : ::pread(fd, buffer + got.bytes, asked, static_cast<off_t>(offset + got.bytes));
        if (n < 0) {
            if (errno == EINTR) continue;
            // EINVAL: a request the device refuses as asked (past the cache,
            // one it takes only through it), which it did not fail.
            if (errno != EINVAL) failedReads_.fetch_add(1, std::memory_order_relaxed);
            got.failed = true;
            return got;
        }
        if (n == 0) break;
        // Told as it comes: a read that fails further on has still brought
        // these pages into the cache. Where no way reaches past every cache,
        // an answer of nothing but zeros may be a hole of a file on the way,
        // which answers without any disk: data, and no evidence.
        const std::uint8_t* bytes = buffer + got.bytes;
        const bool hole = source == ReadFailurePolicy::Source::Medium && policy_.cacheOnly() &&
                          std::all_of(bytes, bytes + n, [](std::uint8_t b) { return b == 0; });
        noteAnswer(dev, offset + got.bytes, static_cast<std::uint64_t>(n),
                   hole ? ReadFailurePolicy::Source::PageCache : source);
        got.bytes += static_cast<std::size_t>(n);
        // Short before the device's end: the page cache answered up to the
        // page it could not read, and asking there again would only fail
        // there again, at a dying disk's cost.
        if (static_cast<std::size_t>(n) < asked && offset + got.bytes < deviceBytes) {
            failedReads_.fetch_add(1, std::memory_order_relaxed);
            errno = EIO;
            got.failed = true;
            return got;
        }
    }
    return got;
}

void DMedia::noteAnswer(Device& dev, std::uint64_t offset, std::uint64_t length, ReadFailurePolicy::Source source) {
    // A hole of a file the way past every cache passes through lies on no
    // disk: its zeros are the file's, and no sign of the disk, nor a place
    // that read from it.
    if (source == ReadFailurePolicy::Source::PageCache || !dev.below || !dev.below->through ||
        pastEveryCacheDescriptor(dev) < 0) {
        policy_.noteAnswer(offset, length, source);
        return;
    }
    for (std::uint64_t at = offset; at < offset + length;) {
        const std::size_t rest = static_cast<std::size_t>(offset + length - at);
        const std::optional<std::pair<std::uint64_t, std::size_t>> placed = bottomOf(dev, at, rest);
        std::uint64_t run = placed ? placed->second : rest;
        if (!placed) {
            // To the next extent, or the end.
            const std::optional<std::uint64_t> inFile = platform::checkedAdd(at, dev.below->through->startBytes);
            const auto next = inFile
                                  ? std::upper_bound(dev.extents.begin(), dev.extents.end(), *inFile,
                                                     [](std::uint64_t a, const FileExtent& e) { return a < e.logical; })
                                  : dev.extents.end();
            if (next != dev.extents.end()) run = std::min<std::uint64_t>(rest, next->logical - *inFile);
        }
        policy_.noteAnswer(at, run, placed ? source : ReadFailurePolicy::Source::PageCache);
        at += std::max<std::uint64_t>(run, 1);
    }
}

bool DMedia::readAheadPausedAt(std::uint64_t offset) {
    // Nor does a window reach a sector known to be unreadable, however long
    // ago it failed.
    if (u32BytesInSector_ != 0 &&
        policy_.map().countIn(offset / u32BytesInSector_, kReadAheadBytes / u32BytesInSector_ + 1) != 0)
        return true;
    std::lock_guard lock(deviceMutex_);
    // A window from a little further back would reach the same bad sectors.
    return platform::saturatingAdd(offset, kReadAheadBytes) > readAheadPausedFrom_ && offset < readAheadPausedUntil_;
}

void DMedia::pauseReadAheadFrom(std::uint64_t offset) {
    std::lock_guard lock(deviceMutex_);
    readAheadPausedFrom_ = offset;
    readAheadPausedUntil_ = platform::saturatingAdd(offset, kReadAheadPauseBytes);
}

void DMedia::markGone() {
    if (mediumGone_.exchange(true, std::memory_order_acq_rel)) return;
    platform::logFormat("The drive %@ no longer answers; the scan of it ends", cPath_);
    if (platform::AppController* c = platform::appController()) {
        c->runAlertPanel(platform::alertRequest(
            "! Error", "The Drive or Volume being read is no longer available. The Program will quit now.", "Quit"));
        c->terminateApp();
    }
    mediumStoppedAnswering();
}

DMedia::CarvingRead DMedia::readCarvingSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer,
                                              bool pastTheCache) {
    // A request no device could answer (a position a damaged file made up)
    // fails by itself; it says nothing about the device.
    if (size < 0 || u32BytesInSector_ == 0 || static_cast<std::uint64_t>(size) * u32BytesInSector_ > kMaxReadBytes ||
        !platform::checkedMul(sector, std::uint64_t{u32BytesInSector_}))
        return CarvingRead::Failed;
    switch (reader_.readWhole(Asker::IdentityCheck, sector, size, buffer, pastTheCache)) {
    case Answer::Failed:
        return CarvingRead::Failed;
    case Answer::Hopeless:
        return CarvingRead::Gone;
    case Answer::FromTheCache:
    case Answer::Read:
    case Answer::ReadPastEveryCache:
        break;
    }
    return CarvingRead::Read;
}

bool DMedia::readsPastTheCache() {
    const std::shared_ptr<Device> dev = device();
    return dev && uncachedDescriptor(*dev) >= 0;
}

bool DMedia::readsPastEveryCache() {
    const std::shared_ptr<Device> dev = device();
    return dev && pastEveryCacheDescriptor(*dev) >= 0;
}

bool DMedia::unseenBelow() {
    const std::shared_ptr<Device> dev = device();
    return dev && dev->unseenBelow;
}

void DMedia::letCachesGo(const std::vector<std::uint64_t>& sectors) {
    const std::shared_ptr<Device> dev = device();
    if (!dev) return;
    const std::uint64_t bps = u32BytesInSector_;
    const long pageBytes = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t page = pageBytes > 0 ? static_cast<std::uint64_t>(pageBytes) : 4096;
    for (const std::uint64_t sector : sectors)
        if (const std::optional<std::uint64_t> at = platform::checkedMul(sector, bps))
            platform::dropCleanPages(dev->fd, *at - *at % page, page);
    letCachesBelowGo(*dev);
}

void DMedia::letCachesBelowGo(const Device& dev) {
    for (const std::string& cache : dev.cachesBelow) {
        // Opened as what the kernel names now, only to let its pages go:
        // whatever file or device that is, nothing of it is read or written.
        const int fd = ::open(cache.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) continue;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && (S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) platform::dropCleanPages(fd, 0, 0);
        ::close(fd);
    }
}

void DMedia::tellStopped(Asker asker) {
    if (MediumDevice::scans(asker)) {
        // The scan goes on with what the cache holds; its end says so, and
        // how far it had come.
        const std::uint64_t at = stoppedAnsweringAt(), size = sizeInSect();
        const std::uint64_t into = at > HPlusVolStart_ ? at - HPlusVolStart_ : 0;
        sweepProgress_.judgedStopped(size == 0 ? 0 : static_cast<std::uint32_t>(std::min(into, size) * 100 / size));
        return;
    }
    tellGone(asker);
}

void DMedia::forgetUnreadableSectors() {
    sweepProgress_.begin();
    policy_.forget();
    reader_.endSave();
    reader_.beginScan();
    // Judged stopped before and asked again in vain: the scan met it at its
    // start.
    if (stoppedAnswering()) sweepProgress_.judgedStopped(0);
}

std::optional<std::uint32_t> DMedia::stoppedAnsweringAtPercent() const {
    if (!stoppedAnswering()) return std::nullopt;
    return sweepProgress_.stoppedPercent();
}

DMedia::Outcome DMedia::readSectors(Asker asker, std::uint64_t sector, std::int32_t size, std::uint8_t* buffer,
                                    Way way) {
    const std::uint64_t bps = u32BytesInSector_;
    const std::optional<std::uint64_t> at = platform::checkedMul(sector, bps);
    if (size < 0 || bps == 0 || static_cast<std::uint64_t>(size) * bps > kMaxReadBytes || !at) {
        platform::logFormat("Read of %d sectors at sector %llu refused on %@: the request is out of range", size,
                            static_cast<unsigned long long>(sector), path_);
        return {Answer::Hopeless};
    }
    const std::uint64_t offset = *at;
    const std::size_t length = static_cast<std::size_t>(static_cast<std::uint64_t>(size) * bps);
    if (length == 0) return {Answer::Read};
    const bool saving = MediumDevice::saves(asker);
    if (saving && mediumUnconfirmed()) {
        platform::logFormat("%@ is not known to be the medium the files were found on; it is not read", path_);
        return {Answer::Hopeless};
    }
    // The scan's readers: once the medium has stopped answering, asking it
    // again only costs time.
    const bool scanning = MediumDevice::scans(asker);
    if (scanning && mediumGone()) return {Answer::Hopeless};

    std::shared_ptr<Device> dev = device();
    if (!dev && asker == Asker::Scan) {
        // Opened and read before: the device node went with the disk.
        if (answered_.load(std::memory_order_acquire)) {
            markGone();
            return {Answer::Hopeless};
        }
        platform::logFormat("Unable to open the drive %@ error: %d", cPath_, errno);
        if (auto* c = platform::appController())
            c->runAlertPanel(platform::alertRequest(
                "! Could not open drive", "A valid fileDesc could not be obtained for drive: %@", "OK", {path_}));
        return {Answer::Hopeless};
    }

    // A read through the caches below failed since they were last let go of:
    // one of them may keep a large folio that failed whole, readable pages
    // with its bad one, and fail every read of them for as long as it keeps
    // it. Reads past the device's own cache pass them by where a way reaches
    // past them all (see below); those through it do not, and would fail one
    // by one on each readable page of such a folio.
    if (dev && !dev->cachesBelow.empty() && cachesBelowFailed_.load(std::memory_order_acquire) &&
        cachesBelowFailed_.exchange(false, std::memory_order_acq_rel))
        letCachesBelowGo(*dev);

    // The bytes read, and of a failed read those read before it failed.
    std::optional<std::size_t> got;
    std::size_t before = 0;
    int err = ENODEV;
    bool failedPastTheCache = false, failedPastEveryCache = false;
    Answer answer = Answer::Read;
    // A place the page cache holds whole is taken from there, as the medium
    // gave it before (a page that held a bad sector is never cached), by a
    // read past the cache, which would otherwise ask a disk that may have
    // died behind the cache since, and by a save's reads, to which the cache
    // answers only for its data: its answer proves nothing of the disk. A
    // save on a medium that has not failed yet is never judged on what came
    // before its first failure, and reads as a plain read does: asking the
    // cache first costs a small file's save several calls more.
    const bool cacheFirst = dev && (way == Way::PastTheCache ||
                                    (way == Way::ThroughTheCache && asker == Asker::Save && policy_.hasFailed()));
    // Past the device's own cache, where caches lie below it and a way
    // reaches past them all, a read takes that way: through them, a folio one
    // of them failed whole for one bad page fails its readable pages too for
    // as long as it is kept, so a failure there is not the medium's word, and
    // asking the medium again after each would ask every bad sector twice.
    const bool pastTheCachesBelow =
        dev && (way == Way::ToTheMedium ||
                (way == Way::PastTheCache && !dev->cachesBelow.empty() && !dev->answersPastEveryCache));
    if (cacheFirst && cachedBytes(dev->fd, buffer, length, offset)) {
        got = length;
        answer = Answer::FromTheCache;
        policy_.noteAnswer(offset, length, ReadFailurePolicy::Source::PageCache);
    } else if (pastTheCachesBelow && pastEveryCacheDescriptor(*dev) >= 0) {
        const Got read = readPastEveryCache(*dev, buffer, length, offset);
        if (!read.failed) {
            got = read.bytes;
            answer = Answer::ReadPastEveryCache;
        } else if (errno != EINVAL) {
            failedPastTheCache = failedPastEveryCache = true;
            err = errno;
            before = read.bytes;
        }
    }
    // Past the page cache, where the read past every cache was refused too.
    if (dev && !got && !failedPastTheCache && way != Way::ThroughTheCache && uncachedDescriptor(*dev) >= 0) {
        platform::AlignedBuffer aligned(length);
        const bool pastEveryCache = dev->answersPastEveryCache;
        const Got read = readFully(
            *dev, dev->uncachedFd, aligned.data(), length, offset,
            pastEveryCache ? ReadFailurePolicy::Source::PastEveryCache : ReadFailurePolicy::Source::Medium, dev->bytes);
        if (read.bytes > 0) std::memcpy(buffer, aligned.data(), read.bytes);
        if (!read.failed) {
            got = read.bytes;
            // No cache below answered: the disk itself did.
            if (pastEveryCache) answer = Answer::ReadPastEveryCache;
        } else if (errno != EINVAL) {
            // EINVAL: a request the device takes only through the cache.
            failedPastTheCache = true;
            err = errno;
            before = read.bytes;
        }
    }
    if (dev && !got && !failedPastTheCache) {
        if (asker == Asker::Scan && way == Way::ThroughTheCache && length < kDirectReadBytes) {
            std::lock_guard lock(dev->windowMutex);
            const bool inWindow = offset >= dev->windowStart && offset - dev->windowStart <= dev->windowLength &&
                                  length <= dev->windowLength - (offset - dev->windowStart);
            if (!inWindow && offset == dev->lastEnd && !readAheadPausedAt(offset)) {
                // Sequential batches: one large read serves the next ones.
                dev->window.resize(kReadAheadBytes);
                const Got n = readFully(*dev, dev->fd, dev->window.data(), kReadAheadBytes, offset,
                                        ReadFailurePolicy::Source::Medium, dev->bytes);
                dev->windowStart = offset;
                dev->windowLength = n.failed ? 0 : n.bytes;
                if (!n.failed) {
                    got = std::min(n.bytes, length);
                    if (*got > 0) std::memcpy(buffer, dev->window.data(), *got);
                } else {
                    // Somewhere in the window lies a sector that cannot be
                    // read; what was asked for may well be readable.
                    platform::logFormat("Read-ahead of %@ at sector %llu failed (error %d); reads from there on ask "
                                        "only for what they need",
                                        cPath_, static_cast<unsigned long long>(sector), errno);
                    pauseReadAheadFrom(offset);
                }
            } else if (inWindow) {
                std::memcpy(buffer, dev->window.data() + (offset - dev->windowStart), length);
                got = length;
            }
            dev->lastEnd = offset + length;
        }
        // Random reads (B-tree nodes, headers), large ones and those after a
        // failed window go straight to the device.
        if (!got) {
            const Got read =
                readFully(*dev, dev->fd, buffer, length, offset, ReadFailurePolicy::Source::Medium, dev->bytes);
            if (!read.failed) {
                got = read.bytes;
            } else {
                err = errno;
                before = read.bytes;
            }
        }
    }

    if (got) {
        if (*got == length) {
            if (scanning) answered_.store(true, std::memory_order_release);
            // A split page is one no cache made: see ReadFailurePolicy.
            if (way != Way::ThroughTheCache && answer != Answer::FromTheCache)
                policy_.notePageRead(sector, static_cast<std::uint64_t>(size), true);
            return {answer};
        }
        // Past the end of the medium: the caller must never see stale bytes
        // of an earlier read in the unread tail.
        std::memset(buffer + *got, 0, length - *got);
        if (!saving) {
            if (scanning) answered_.store(true, std::memory_order_release);
            return {Answer::Read};
        }
        // What a preview shows and a save writes must be the medium's bytes:
        // those it did not return are unreadable, never zeros taken for data.
        platform::logFormat("%@ returned %lld of the %llu bytes asked for at sector %llu", cPath_,
                            static_cast<long long>(*got), static_cast<unsigned long long>(length),
                            static_cast<unsigned long long>(sector));
        if (dev && returnsSectorZero(dev)) return {Answer::Failed, *got / bps};
        platform::logFormat("%@ returns nothing at its first sector: it has gone", cPath_);
        tellGone(asker);
        return {Answer::Hopeless};
    }

    // What the medium gave before the failure is the medium's; the rest is
    // zeros, never stale bytes.
    std::memset(buffer + before, 0, length - before);
    // A window reaching these sectors would fail on them again.
    pauseReadAheadFrom(offset);
    platform::logFormat("Unable to read from the drive %@ error: %d", cPath_, err);
    platform::logFormat("Further info, sectorNum: %@, size: %d, sizeInSect: %@",
                        static_cast<unsigned long long>(sector), size, static_cast<unsigned long long>(sizeInSect_));
    if (dev && !dev->cachesBelow.empty() && !failedPastEveryCache)
        cachesBelowFailed_.store(true, std::memory_order_release);
    if (dev) dropDevice(dev);
    policy_.noteFailure();
    // A device that says it has gone, or has left the lists, has; any other
    // failure costs only what failed. A save asks the device for itself and
    // a failed single read of the preview or the save is not theirs to judge
    // by its error, as designed.
    const bool saysGone = (scanning || asker == Asker::Save) && ReadFailurePolicy::errorMeansGone(err);
    if (!saysGone && devicePresent()) {
        policy_.notePageRead(sector, static_cast<std::uint64_t>(size), false);
        return {Answer::Failed, before / bps};
    }
    tellGone(asker);
    return {Answer::Hopeless};
}

void DMedia::tellGone(Asker asker) {
    if (MediumDevice::scans(asker)) {
        markGone();
        return;
    }
    platform::AppController* c = platform::appController();
    if (!c) return;
    switch (asker) {
    case Asker::Preview:
        c->runAlertPanel(platform::alertRequest("! Can not show preview",
                                                "The Drive or Volume being read is no longer available.", "OK"));
        c->previewClose();
        break;
    case Asker::SaveSector:
    case Asker::Save:
        c->runAlertPanel(platform::alertRequest("! Can not save files",
                                                "The Drive or Volume being read is no longer available.", "OK"));
        c->previewClose();
        break;
    case Asker::Scan:
    case Asker::SizeCalculator:
    case Asker::IdentityCheck:
        break;
    }
}

bool DMedia::returnsSectorZero(const std::shared_ptr<Device>& dev) {
    std::vector<std::uint8_t> first(std::max<std::uint32_t>(u32BytesInSector_, 1));
    const Got read = readFully(*dev, dev->fd, first.data(), first.size(), 0, ReadFailurePolicy::Source::Medium);
    return !read.failed && read.bytes > 0;
}

void DMedia::initialize(platform::Array& array) {
    PartitionTables(*this).initialize(array);
}

void DMedia::myTimerFireMethod() {
    if (!timerFireMethodCanRun()) return;
    platform::Dict progress = dataUpdate;
    if (auto* c = platform::appController()) c->updateVolumeScanProgress(progress);
    setTimerFireMethodCanRun(false);
}

std::string DMedia::getTimeFormStringForInterval(double seconds) const {
    return platform::getTimeFormStringForInterval(seconds);
}
