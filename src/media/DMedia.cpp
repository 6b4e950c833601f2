#include "media/DMedia.h"

#include "media/HeldSectors.h"
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
// A save asks inside a run that walks stepped over at every sector of the
// medium that is a multiple of this: any readable run this long holds one,
// whatever its alignment (and, as it is a multiple of a page, one whose page
// is the run's own), and a bad area costs a failed read for each such length.
constexpr std::uint64_t kScrapeSectors = 64;
// Asks inside such runs that fail in a row before the save judges whether
// the disk still answers, as after a walked stretch: a dead disk ends a save
// of a large file as soon as one of a small file.
constexpr std::uint32_t kScrapeFailuresJudged = 16;
// Asks that fail in a row inside one bad stretch, nothing in it answering
// since, after which the save asks there no more, in this read or a later
// one, as a walk stops: a readable run less than this many times
// kScrapeSectors past the last answer is still found, and a file lying
// wholly in a bad area costs its walks and these asks, not a failed read for
// each kScrapeSectors of it.
constexpr std::uint32_t kScrapeFailuresInARun = 16;
// Places where a scrape stopped that are kept: each cost that many failed
// reads, so only a save over thousands of bad areas lets the first go.
constexpr std::size_t kMostScrapeStops = 4096;
} // namespace

struct DMedia::Device {
    int fd = -1;
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
    // a disk, not a loop device over a file that the page cache holds.
    bool answersPastEveryCache = false;

    ~Device() {
        if (fd >= 0) ::close(fd);
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

bool DMedia::readSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
    // Sectors known to be unreadable are not asked for again.
    if (unreadable_.count() != 0 && size > 0 && unreadable_.countIn(sector, static_cast<std::uint64_t>(size)) != 0)
        return readSectorAgain(sector, size, buffer, false);
    const ReadResult r = readFromDevice(Reader::Scan, sector, size, buffer);
    if (r != ReadResult::Failed) return r == ReadResult::Read;
    return readSectorAgain(sector, size, buffer, true);
}

bool DMedia::readSectorAgain(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer, bool failedWhole) {
    // Which of them failed is counted, as the scan's other readers count
    // theirs, and a bad stretch is passed over; the caller still learns
    // that the read was not whole.
    const std::optional<std::uint64_t> lost =
        readRange(Reader::Scan, sector, size, kRetryGroupSectors, buffer, failedWhole);
    return lost && *lost == 0;
}

bool DMedia::readRecordSectors(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
    const std::uint64_t bps = u32BytesInSector_;
    // What no device could answer is refused as readSector refuses it.
    if (size <= 0 || bps == 0 || static_cast<std::uint64_t>(size) * bps > kMaxReadBytes ||
        !platform::checkedMul(platform::saturatingAdd(sector, static_cast<std::uint64_t>(size)), bps))
        return readSector(sector, size, buffer);
    const auto count = static_cast<std::uint64_t>(size);
    if (count > 1 && unreadable_.countIn(sector, count) == 0) {
        switch (readFromDevice(Reader::Scan, sector, size, buffer)) {
        case ReadResult::Read:
            return true;
        case ReadResult::Failed:
            break;
        case ReadResult::Hopeless:
            std::memset(buffer, 0, static_cast<std::size_t>(count * bps));
            return false;
        }
    }
    bool whole = true;
    for (std::uint64_t s = sector; s < sector + count; ++s) {
        std::uint8_t* into = buffer + (s - sector) * bps;
        const auto runs = unreadable_.runsIn(s, 1);
        ReadResult r = ReadResult::Failed;
        // Records are needed where they lie, as a save needs its files.
        if (runs.empty() || ReadFailurePolicy::asksInside(runs.front(), false))
            r = readFromDevice(Reader::Scan, s, 1, into, true);
        if (r == ReadResult::Read) continue;
        if (r == ReadResult::Hopeless) {
            std::memset(into, 0, static_cast<std::size_t>((sector + count - s) * bps));
            return false;
        }
        std::memset(into, 0, static_cast<std::size_t>(bps));
        unreadable_.addFailed(s);
        whole = false;
    }
    return whole;
}

bool DMedia::readPreviewSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
    return readWith(Reader::Preview, sector, size, buffer);
}
bool DMedia::readSaveSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
    return readWith(Reader::Save, sector, size, buffer);
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
    if (cacheKeeper_ < 0) cacheKeeper_ = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISBLK(st.st_mode)) {
        const std::string sysfs = SystemPaths::system().sysfsRoot;
        const std::optional<SysfsBlockDevice> d = SysfsBlockDevice::open(
            sysfs + "/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)), sysfs);
        device_->answersPastEveryCache = d && d->readsPastEveryCache();
    }
    return device_;
}

int DMedia::uncachedDescriptor(Device& dev) {
    std::call_once(dev.uncachedOpened,
                   [&] { dev.uncachedFd = ::open(cPath_.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC); });
    return dev.uncachedFd;
}

bool DMedia::pastTheCacheOpens() {
    const std::shared_ptr<Device> dev = device();
    return dev && uncachedDescriptor(*dev) >= 0;
}

void DMedia::setCPath() {
    std::lock_guard lock(deviceMutex_);
    cPath_ = path_;
    device_.reset();
    if (cacheKeeper_ >= 0) ::close(cacheKeeper_);
    cacheKeeper_ = -1;
}

void DMedia::setMediumUnconfirmed(bool unconfirmed) {
    mediumUnconfirmed_.store(unconfirmed, std::memory_order_release);
    if (!unconfirmed) return;
    std::lock_guard lock(deviceMutex_);
    device_.reset();
    if (cacheKeeper_ >= 0) ::close(cacheKeeper_);
    cacheKeeper_ = -1;
}

std::uint64_t DMedia::readCachedSectors(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
    const std::uint64_t bps = u32BytesInSector_;
    if (count <= 0 || bps == 0 || static_cast<std::uint64_t>(count) * bps > kMaxReadBytes ||
        !platform::checkedMul(platform::saturatingAdd(sector, static_cast<std::uint64_t>(count)), bps))
        return static_cast<std::uint64_t>(std::max(count, 0));
    const auto sectors = static_cast<std::uint64_t>(count);
    const std::uint64_t mediumEnd = policy_.endSector();
    std::memset(buffer, 0, static_cast<std::size_t>(sectors * bps));
    if (mediumUnconfirmed() || (mediumEnd != 0 && sector + sectors > mediumEnd)) return sectors;
    // Whole if the cache holds it all, as it mostly does; else page by page,
    // as the cache holds pages.
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t pageSectors = page > bps ? page / bps : 1;
    std::lock_guard lock(deviceMutex_);
    const auto cached = [&](std::uint64_t first, std::uint64_t n) {
        std::uint8_t* into = buffer + (first - sector) * bps;
        const std::size_t length = static_cast<std::size_t>(n * bps);
        if (cachedBytes(cacheKeeper_, into, length, first * bps)) return true;
        std::memset(into, 0, length);
        return false;
    };
    if (cached(sector, sectors)) return 0;
    std::uint64_t lost = 0;
    for (std::uint64_t at = sector; at < sector + sectors;) {
        const std::uint64_t n = std::min(pageSectors - at % pageSectors, sector + sectors - at);
        if (!cached(at, n)) lost += n;
        at += n;
    }
    return lost;
}

bool DMedia::cachedBytes(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) const {
    const std::int64_t got = !rawRead_     ? platform::readCachedBytes(fd, buffer, length, offset)
                             : cachedRead_ ? cachedRead_(fd, buffer, length, offset)
                                           : -1;
    return got == static_cast<std::int64_t>(length);
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

std::int64_t DMedia::readFully(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < length) {
        const std::int64_t n = rawRead_ ? rawRead_(fd, buffer + done, length - done, offset + done)
                                        : ::pread(fd, buffer + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        // Noted as it comes: a read that fails further on has still brought
        // these pages into the cache.
        policy_.noteRead(offset + done, static_cast<std::uint64_t>(n));
        done += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(done);
}

bool DMedia::readAheadPausedAt(std::uint64_t offset) {
    // Nor does a window reach a sector known to be unreadable, however long
    // ago it failed.
    if (u32BytesInSector_ != 0 &&
        unreadable_.countIn(offset / u32BytesInSector_, kReadAheadBytes / u32BytesInSector_ + 1) != 0)
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
    switch (readFromDevice(Reader::Carving, sector, size, buffer, pastTheCache)) {
    case ReadResult::Read:
        return CarvingRead::Read;
    case ReadResult::Failed:
        return CarvingRead::Failed;
    case ReadResult::Hopeless:
        break;
    }
    return CarvingRead::Gone;
}

bool DMedia::readWith(Reader reader, std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
    return readFromDevice(reader, sector, size, buffer) == ReadResult::Read;
}

DMedia::ReadResult DMedia::readFromDevice(Reader reader, std::uint64_t sector, std::int32_t size, std::uint8_t* buffer,
                                          bool uncached) {
    const std::uint64_t bps = u32BytesInSector_;
    const std::optional<std::uint64_t> at = platform::checkedMul(sector, bps);
    if (size < 0 || bps == 0 || static_cast<std::uint64_t>(size) * bps > kMaxReadBytes || !at) {
        platform::logFormat("Read of %d sectors at sector %llu refused on %@: the request is out of range", size,
                            static_cast<unsigned long long>(sector), path_);
        return ReadResult::Hopeless;
    }
    const std::uint64_t offset = *at;
    const std::size_t length = static_cast<std::size_t>(static_cast<std::uint64_t>(size) * bps);
    if (length == 0) return ReadResult::Read;
    if ((reader == Reader::Preview || reader == Reader::Save || reader == Reader::SaveRange) && mediumUnconfirmed()) {
        platform::logFormat("%@ is not known to be the medium the files were found on; it is not read", path_);
        return ReadResult::Hopeless;
    }
    // The scan's readers: once the medium has stopped answering, asking it
    // again only costs time.
    const bool scanning = scans(reader);
    if (scanning && mediumGone()) return ReadResult::Hopeless;

    std::shared_ptr<Device> dev = device();
    if (!dev && (reader == Reader::Scan || reader == Reader::Sweep)) {
        // Opened and read before: the device node went with the disk.
        if (answered_.load(std::memory_order_acquire)) {
            markGone();
            return ReadResult::Hopeless;
        }
        platform::logFormat("Unable to open the drive %@ error: %d", cPath_, errno);
        if (auto* c = platform::appController())
            c->runAlertPanel(platform::alertRequest(
                "! Could not open drive", "A valid fileDesc could not be obtained for drive: %@", "OK", {path_}));
        return ReadResult::Hopeless;
    }

    std::int64_t got = -1;
    int err = ENODEV;
    bool failedUncached = false;
    if (dev && uncached && cachedBytes(dev->fd, buffer, length, offset)) {
        // The page cache holds the place, as the medium gave it before: a
        // page that held a bad sector is never cached, and asking past the
        // cache would ask a disk that may have died behind it since.
        got = static_cast<std::int64_t>(length);
    } else if (dev && uncached) {
        if (uncachedDescriptor(*dev) >= 0) {
            platform::AlignedBuffer aligned(length);
            got = readFully(dev->uncachedFd, aligned.data(), length, offset);
            if (got > 0) std::memcpy(buffer, aligned.data(), static_cast<std::size_t>(got));
            // No cache below answered: the disk itself did.
            if (got == static_cast<std::int64_t>(length) && dev->answersPastEveryCache) policy_.noteDiskAnswered();
            // EINVAL: a request the device takes only through the cache.
            failedUncached = got < 0 && errno != EINVAL;
            if (failedUncached) err = errno;
        }
    }
    if (dev && got < 0 && !failedUncached) {
        if ((reader == Reader::Scan || reader == Reader::Sweep) && length < kDirectReadBytes && !uncached) {
            std::lock_guard lock(dev->windowMutex);
            const bool inWindow = offset >= dev->windowStart && offset - dev->windowStart <= dev->windowLength &&
                                  length <= dev->windowLength - (offset - dev->windowStart);
            if (!inWindow && offset == dev->lastEnd && !readAheadPausedAt(offset)) {
                // Sequential batches: one large read serves the next ones.
                dev->window.resize(kReadAheadBytes);
                const std::int64_t n = readFully(dev->fd, dev->window.data(), kReadAheadBytes, offset);
                dev->windowStart = offset;
                dev->windowLength = n < 0 ? 0 : static_cast<std::size_t>(n);
                if (n >= 0) {
                    got = std::min<std::int64_t>(n, static_cast<std::int64_t>(length));
                    if (got > 0) std::memcpy(buffer, dev->window.data(), static_cast<std::size_t>(got));
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
                got = static_cast<std::int64_t>(length);
            }
            dev->lastEnd = offset + length;
        }
        // Random reads (B-tree nodes, headers), large ones and those after a
        // failed window go straight to the device.
        if (got < 0) {
            got = readFully(dev->fd, buffer, length, offset);
            if (got < 0) err = errno;
        }
    }

    const bool saving = reader == Reader::Preview || reader == Reader::Save || reader == Reader::SaveRange;
    if (got >= 0) {
        if (static_cast<std::size_t>(got) == length) {
            if (scanning) answered_.store(true, std::memory_order_release);
            // A sector skipped by a walk, or that failed once, has its bytes
            // now.
            if (unreadable_.count() != 0) unreadable_.forget(sector, sector + static_cast<std::uint64_t>(size));
            if (uncached) policy_.notePageRead(sector, static_cast<std::uint64_t>(size), true);
            return ReadResult::Read;
        }
        // Past the end of the medium: the caller must never see stale bytes
        // of an earlier read in the unread tail.
        std::memset(buffer + got, 0, length - static_cast<std::size_t>(got));
        if (!saving) {
            if (scanning) answered_.store(true, std::memory_order_release);
            return ReadResult::Read;
        }
        // What a preview shows and a save writes must be the medium's bytes:
        // those it did not return are unreadable, never zeros taken for data.
        platform::logFormat("%@ returned %lld of the %llu bytes asked for at sector %llu", cPath_,
                            static_cast<long long>(got), static_cast<unsigned long long>(length),
                            static_cast<unsigned long long>(sector));
        if (dev && returnsSectorZero(dev)) return ReadResult::Failed;
        platform::logFormat("%@ returns nothing at its first sector: it has gone", cPath_);
        tellGone(reader);
        return ReadResult::Hopeless;
    }

    // A window reaching these sectors would fail on them again.
    pauseReadAheadFrom(offset);
    platform::logFormat("Unable to read from the drive %@ error: %d", cPath_, err);
    platform::logFormat("Further info, sectorNum: %@, size: %d, sizeInSect: %@",
                        static_cast<unsigned long long>(sector), size, static_cast<unsigned long long>(sizeInSect_));
    if (dev) dropDevice(dev);
    // A device that says it has gone, or has left the lists, has; any other
    // failure costs only what failed. A save asks the device for itself and
    // a failed single read of the preview or the save is not theirs to judge
    // by its error, as designed.
    const bool saysGone = (scanning || reader == Reader::SaveRange) && ReadFailurePolicy::errorMeansGone(err);
    if (!saysGone && devicePresent()) {
        policy_.notePageRead(sector, static_cast<std::uint64_t>(size), false);
        return ReadResult::Failed;
    }
    tellGone(reader);
    return ReadResult::Hopeless;
}

void DMedia::tellGone(Reader reader) {
    if (scans(reader)) {
        markGone();
        return;
    }
    platform::AppController* c = platform::appController();
    if (!c) return;
    switch (reader) {
    case Reader::Preview:
        c->runAlertPanel(platform::alertRequest("! Can not show preview",
                                                "The Drive or Volume being read is no longer available.", "OK"));
        c->previewClose();
        break;
    case Reader::Save:
    case Reader::SaveRange:
        c->runAlertPanel(platform::alertRequest("! Can not save files",
                                                "The Drive or Volume being read is no longer available.", "OK"));
        c->previewClose();
        break;
    case Reader::Scan:
    case Reader::Sweep:
    case Reader::Carving:
    case Reader::CarvingRange:
        break;
    }
}

bool DMedia::returnsSectorZero(const std::shared_ptr<Device>& dev) {
    std::vector<std::uint8_t> first(std::max<std::uint32_t>(u32BytesInSector_, 1));
    return readFully(dev->fd, first.data(), first.size(), 0) > 0;
}

std::uint64_t DMedia::readSweepSectors(std::uint64_t sector, std::int32_t count, std::uint32_t groupSectors,
                                       std::uint8_t* buffer) {
    const std::optional<std::uint64_t> lost = readRange(Reader::Sweep, sector, count, groupSectors, buffer);
    return lost ? *lost : static_cast<std::uint64_t>(std::max(count, 0));
}

std::optional<std::uint64_t> DMedia::readSectorRange(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                                     RangeReader reader) {
    Reader role = Reader::Scan;
    if (reader == RangeReader::Carving) role = Reader::CarvingRange;
    if (reader == RangeReader::Save) role = Reader::SaveRange;
    if (reader == RangeReader::Sweep) role = Reader::Sweep;
    return readRange(role, sector, count, kRetryGroupSectors, buffer);
}

std::optional<std::uint64_t> DMedia::readExaminedRange(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                                       RangeReader reader) {
    const std::uint64_t bps = u32BytesInSector_;
    // What the range reader refuses, or finds gone, it answers alike here.
    if (!held_ || mediumGone() || count <= 0 || bps == 0 || static_cast<std::uint64_t>(count) * bps > kMaxReadBytes ||
        !platform::checkedMul(platform::saturatingAdd(sector, static_cast<std::uint64_t>(count)), bps))
        return readSectorRange(sector, count, buffer, reader);
    const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
    std::uint64_t lost = 0;
    for (std::uint64_t at = sector; at < end;) {
        std::uint8_t* into = buffer + (at - sector) * bps;
        const HeldSectors::Stretch held = held_->holding(at);
        if (held.count == 0 || at < held.first || at - held.first >= held.count) {
            // The held stretches run on from the batch: nothing after this
            // one is held either.
            const std::optional<std::uint64_t> rest =
                readSectorRange(at, static_cast<std::int32_t>(end - at), into, reader);
            if (!rest) {
                std::memset(buffer, 0, static_cast<std::size_t>(static_cast<std::uint64_t>(count) * bps));
                return std::nullopt;
            }
            return lost + *rest;
        }
        const std::uint64_t n = std::min(end, held.first + held.count) - at;
        std::memcpy(into, held.bytes + (at - held.first) * bps, static_cast<std::size_t>(n * bps));
        lost += unreadable_.countIn(at, n);
        at += n;
    }
    return lost;
}

std::optional<std::uint64_t> DMedia::readRange(Reader reader, std::uint64_t sector, std::int32_t count,
                                               std::uint32_t groupSectors, std::uint8_t* buffer, bool wholeFailed) {
    const std::uint64_t bps = u32BytesInSector_;
    // A request no device could answer (a position a damaged structure made
    // up) fails by itself; it says nothing about the device.
    if (count < 0 || bps == 0 || static_cast<std::uint64_t>(count) * bps > kMaxReadBytes ||
        !platform::checkedMul(platform::saturatingAdd(sector, static_cast<std::uint64_t>(count)), bps))
        return std::nullopt;
    const std::size_t bytes = static_cast<std::size_t>(static_cast<std::uint64_t>(count) * bps);
    const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
    const auto zero = [&](std::uint64_t from, std::uint64_t to) {
        std::memset(buffer + (from - sector) * bps, 0, static_cast<std::size_t>((to - from) * bps));
    };
    std::uint64_t lost = 0;
    // A save finds nothing to save past the medium's end, and each sector
    // asked for there would cost a read: they are lost at once.
    std::uint64_t readable = end;
    // The end is known from the first open on.
    if (reader == Reader::SaveRange && count > 0 && (policy_.endSector() != 0 || device())) {
        const std::uint64_t mediumEnd = policy_.endSector();
        if (mediumEnd != 0 && end > mediumEnd) {
            readable = std::max(sector, mediumEnd);
            zero(readable, end);
            lost += end - readable;
            platform::logFormat("Sectors %llu to %llu lie past the end of %@; they are unreadable",
                                static_cast<unsigned long long>(readable), static_cast<unsigned long long>(end - 1),
                                cPath_);
        }
    }
    // A save needs every sector of its file that can be read: it and its
    // walks ask into what other walks only stepped over in it, once (see
    // ReadFailurePolicy::NeededRange).
    ReadFailurePolicy::NeededRange needed{readable, {}};
    ReadFailurePolicy::NeededRange* const neededHere = reader == Reader::SaveRange ? &needed : nullptr;
    // The page cache reads, and fails, a whole memory page for one sector
    // of it: the sectors sharing a page with one known to be unreadable are
    // read past it.
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t pageSectors = page > bps ? page / bps : 1;
    const auto nearUnreadable = [&](std::uint64_t s) {
        return pageSectors > 1 && unreadable_.countIn(s - s % pageSectors, pageSectors) != 0;
    };
    // The sectors from `at` up to `to`, none of them known to be unreadable,
    // or as far as their first bad stretch; `uncached` first tries them
    // past the page cache.
    const auto readPiece = [&](std::uint64_t at, std::uint64_t to, bool uncached) -> std::optional<Progress> {
        const auto n = static_cast<std::int32_t>(to - at);
        std::uint8_t* into = buffer + (at - sector) * bps;
        bool failedWhole = wholeFailed && at == sector && to == end;
        if (uncached) {
            const ReadResult first = readFromDevice(reader, at, n, into, true);
            if (first == ReadResult::Read) return Progress{0, to};
            // The user has been told, once is enough.
            if (first == ReadResult::Hopeless) return std::nullopt;
            // Failed past the cache: asking the same place again, through the
            // cache or past it, would only fail again on a dying disk.
            if (n == 1) return passStretch(reader, at, at, to, into, true, neededHere);
            failedWhole = true;
        }
        if (scans(reader) && mediumGone()) return std::nullopt;
        return readFreshSectors(reader, at, n, groupSectors, into, failedWhole, neededHere);
    };
    // Whether a stretch of this request has been walked: what is skipped
    // after it, its walk stepped over.
    bool walked = false;
    // Skipped sectors from `at` up to `to`: the first is asked for alone, as
    // a walk stepped over them and they may well fail; when it answers, the
    // rest are read as any others. When it fails, a save asks again where
    // the first page the run holds whole begins: the page cache fails a page
    // whole, and the page the run begins in may hold a bad neighbour's
    // sectors too. Answering there, the run begins a readable island, and
    // the sectors before it are walked; failing there too, the run has been
    // asked into and a walk passes over it, so a bad area costs a read or
    // two a run.
    const auto readSkipped = [&](std::uint64_t at, std::uint64_t to) -> std::optional<Progress> {
        switch (readFromDevice(reader, at, 1, buffer + (at - sector) * bps, true)) {
        case ReadResult::Read:
            break;
        case ReadResult::Failed: {
            const std::uint64_t wholePage = at - at % pageSectors + pageSectors;
            std::uint64_t failed = at;
            if (neededHere && at % pageSectors != 0 && wholePage < to) {
                switch (readFromDevice(reader, wholePage, 1, buffer + (wholePage - sector) * bps, true)) {
                case ReadResult::Read:
                    return passStretch(reader, at, at, to, buffer + (at - sector) * bps, !walked, neededHere);
                case ReadResult::Failed:
                    unreadable_.addFailed(at);
                    failed = wholePage;
                    break;
                case ReadResult::Hopeless:
                    return std::nullopt;
                }
            }
            if (neededHere) neededHere->asked.emplace_back(at, to);
            // Its own walk: what it steps over here stays skipped.
            std::optional<Progress> rest =
                passStretch(reader, failed, at, to, buffer + (at - sector) * bps, !walked, neededHere);
            if (rest && failed != at) {
                zero(at, failed);
                rest->lost += failed - at;
            }
            return rest;
        }
        case ReadResult::Hopeless:
            return std::nullopt;
        }
        if (at + 1 == to) return Progress{0, to};
        return readPiece(at + 1, to, false);
    };
    // What is known to be unreadable is read as zeros, but for what a save
    // needs that a walk only stepped over (see ReadFailurePolicy::asksInside).
    for (std::uint64_t at = sector; at < readable;) {
        std::optional<Progress> step;
        const auto known = unreadable_.runsIn(at, readable - at);
        if (!known.empty() && known.front().begin == at) {
            const UnreadableSectors::Run& run = known.front();
            if (!ReadFailurePolicy::asksInside(run, scans(reader))) {
                zero(at, run.end);
                lost += run.end - at;
                at = run.end;
                continue;
            }
            step = readSkipped(at, run.end);
        } else {
            const std::uint64_t to = known.empty() ? readable : known.front().begin;
            const std::uint64_t firstPageEnd = at - at % pageSectors + pageSectors;
            const std::uint64_t lastPage = (to - 1) - (to - 1) % pageSectors;
            if (nearUnreadable(at))
                step = readPiece(at, std::min(to, firstPageEnd), true);
            else if (!nearUnreadable(to - 1))
                step = readPiece(at, to, false);
            else if (lastPage > at)
                step = readPiece(at, lastPage, false);
            else
                step = readPiece(at, to, true);
        }
        if (!step) {
            std::memset(buffer, 0, bytes);
            return std::nullopt;
        }
        lost += step->lost;
        walked = walked || step->lost != 0;
        at = step->next;
    }
    // A walk steps over readable runs shorter than its step, and the save
    // has asked into each run stepped over only at its first sectors: it
    // asks inside them as a disk-rescue tool scrapes a bad area, but not
    // past where a walk ran to the medium's end with nothing answering.
    const std::uint64_t scrapedTo = std::min(readable, unansweredFrom_.load(std::memory_order_acquire));
    if (neededHere && lost != 0 && scrapedTo > sector) {
        const std::optional<std::uint64_t> got = scrapeSkipped(sector, scrapedTo, buffer);
        if (!got) {
            std::memset(buffer, 0, bytes);
            return std::nullopt;
        }
        lost -= std::min(lost, *got);
    }
    return lost;
}

std::optional<DMedia::Progress> DMedia::readFreshSectors(Reader reader, std::uint64_t sector, std::int32_t count,
                                                         std::uint32_t groupSectors, std::uint8_t* buffer,
                                                         bool wholeFailed, ReadFailurePolicy::NeededRange* needed) {
    const std::uint64_t end = sector + static_cast<std::uint64_t>(count);
    if (!wholeFailed) {
        const ReadResult whole = readFromDevice(reader, sector, count, buffer);
        if (whole == ReadResult::Read) return Progress{0, end};
        if (whole == ReadResult::Hopeless) return std::nullopt;
    }
    const std::size_t bps = u32BytesInSector_;
    // `n` sectors from sector `at` of the stretch; zeros there when they
    // cannot be read. Single sectors are read past the page cache, so that
    // the good sectors sharing a page with a bad one are not lost with it.
    const auto piece = [&](std::uint64_t at, std::int32_t n, bool uncached) {
        std::uint8_t* into = buffer + static_cast<std::size_t>(at - sector) * bps;
        const ReadResult r = readFromDevice(reader, at, n, into, uncached);
        if (r != ReadResult::Read) std::memset(into, 0, static_cast<std::size_t>(n) * bps);
        return r;
    };
    const std::int32_t group = static_cast<std::int32_t>(std::max<std::uint32_t>(groupSectors, 1));
    for (std::uint64_t g = sector; g < end;) {
        const auto n = static_cast<std::int32_t>(std::min<std::uint64_t>(group, end - g));
        if (group < count && n > 1) {
            const ReadResult r = piece(g, n, false);
            if (r == ReadResult::Hopeless) return std::nullopt;
            if (r == ReadResult::Read) {
                g += static_cast<std::uint64_t>(n);
                continue;
            }
        }
        // A failure through the cache tells only that the page holds a bad
        // sector: each sector is asked for past it before it counts as
        // failed, once. Where nothing goes past the cache, the failure just
        // had is all that asking again could tell.
        if (count == 1 && !pastTheCacheOpens()) return passStretch(reader, sector, sector, end, buffer, true, needed);
        for (std::uint64_t s = g; s < g + static_cast<std::uint64_t>(n); ++s) {
            const ReadResult r = piece(s, 1, true);
            if (r == ReadResult::Read) continue;
            if (r == ReadResult::Hopeless) return std::nullopt;
            // The first bad sector: its stretch is walked, not read.
            return passStretch(reader, s, sector, end, buffer, true, needed);
        }
        g += static_cast<std::uint64_t>(n);
    }
    return Progress{0, end};
}

std::optional<DMedia::Progress> DMedia::passStretch(Reader reader, std::uint64_t failed, std::uint64_t sector,
                                                    std::uint64_t end, std::uint8_t* buffer, bool judge,
                                                    ReadFailurePolicy::NeededRange* needed) {
    const std::size_t bps = u32BytesInSector_;
    std::vector<std::uint8_t> after(bps);
    bool endRead = false;
    const std::optional<ReadFailurePolicy::Stretch> stretch =
        walkStretch(reader, failed, after.data(), endRead, judge, needed);
    if (!stretch) return std::nullopt;
    if (needed) needed->asked.emplace_back(failed, stretch->end);
    std::uint64_t stop = std::min(stretch->end, end);
    if (reader == Reader::SaveRange && stretch->answeredAfter) {
        // A save needs every sector of its file that can be read: it asks
        // into each run its walk stepped over there between two sectors that
        // failed, once, as into any other (see readRange), so damage that
        // repeats with the walk's own steps costs only the bad sectors. The
        // run right after the failed sector is its own stretch's rest. As a
        // sweep does, it does not come back over a stretch that ran to the
        // medium's end with nothing answering: a dying disk, or a bad end.
        for (const UnreadableSectors::Run& run : unreadable_.runsIn(failed + 1, stop - failed - 1)) {
            if (run.failed || run.begin == failed + 1) continue;
            stop = run.begin;
            break;
        }
    }
    std::memset(buffer + static_cast<std::size_t>(failed - sector) * bps, 0,
                static_cast<std::size_t>(stop - failed) * bps);
    platform::logFormat("Sectors %llu to %llu of %@ could not be read: they are unreadable and taken as zeros",
                        static_cast<unsigned long long>(failed), static_cast<unsigned long long>(stretch->end - 1),
                        cPath_);
    // The sector that ended the stretch has been read already, unless the
    // walk's last answer came from elsewhere; then it is read again with
    // what follows.
    if (!stretch->answeredAfter || stop == end || stop != stretch->end || !endRead)
        return Progress{stop - failed, stop};
    std::memcpy(buffer + static_cast<std::size_t>(stop - sector) * bps, after.data(), bps);
    return Progress{stop - failed, stop + 1};
}

std::optional<ReadFailurePolicy::Stretch> DMedia::walkStretch(Reader reader, std::uint64_t failed,
                                                              std::uint8_t* endSector, bool& endRead, bool judge,
                                                              const ReadFailurePolicy::NeededRange* needed) {
    std::vector<std::uint8_t> one(u32BytesInSector_);
    // The bytes of the walk's last answer, and the sector they are of: they
    // are the stretch end's only when that sector ends it.
    std::optional<std::uint64_t> held;
    const auto probe = [&](std::uint64_t at) {
        const ReadFailurePolicy::Probe p = probeSector(reader, at, one.data());
        if (p == ReadFailurePolicy::Probe::Answered) {
            std::memcpy(endSector, one.data(), one.size());
            held = at;
        }
        return p;
    };
    const std::uint64_t liveBefore = policy_.liveAnswers();
    // The scan's readers read round whatever any of them stepped over, and a
    // size calculator or a catalog read may walk into a bad area ahead of
    // the sweep: every walk of a scan comes back over its stretch as far as
    // the policy asks, whichever reader walked it.
    const std::optional<ReadFailurePolicy::Stretch> stretch =
        policy_.walk(failed, unreadable_, probe, scans(reader), needed);
    endRead = stretch && held == stretch->end;
    // What a save does not scrape (see readRange).
    if (stretch && !stretch->answeredAfter) {
        std::uint64_t from = unansweredFrom_.load(std::memory_order_acquire);
        while (failed < from && !unansweredFrom_.compare_exchange_weak(from, failed, std::memory_order_acq_rel)) {
        }
    }
    // A save asking into what its own walk of this read stepped over
    // learns nothing of the disk that the walk did not.
    if (!stretch || reader != Reader::SaveRange || !judge) return stretch;
    if (saveStillAnswers(*stretch, liveBefore)) return stretch;
    return std::nullopt;
}

ReadFailurePolicy::Probe DMedia::probeSector(Reader reader, std::uint64_t sector, std::uint8_t* into) {
    switch (readFromDevice(reader, sector, 1, into, true)) {
    case ReadResult::Read:
        return ReadFailurePolicy::Probe::Answered;
    case ReadResult::Failed:
        return ReadFailurePolicy::Probe::Failed;
    case ReadResult::Hopeless:
        break;
    }
    return ReadFailurePolicy::Probe::Gone;
}

bool DMedia::saveStillAnswers(const ReadFailurePolicy::Stretch& stretch, std::uint64_t liveBefore) {
    // A save from a disk that has stopped would write nothing but zeros
    // from here on; a live disk with a bad area is saved to the end. What
    // the judgement reads elsewhere is written nowhere.
    std::vector<std::uint8_t> one(u32BytesInSector_);
    const auto ask = [&](std::uint64_t at) { return probeSector(Reader::SaveRange, at, one.data()); };
    if (policy_.stillAnswers(stretch, liveBefore, unreadable_, ask)) return true;
    platform::logFormat("%@ no longer answers where it has not been read; the save of it ends", cPath_);
    tellGone(Reader::SaveRange);
    return false;
}

std::optional<std::uint64_t> DMedia::scrapeSkipped(std::uint64_t sector, std::uint64_t end, std::uint8_t* buffer) {
    const std::uint64_t bps = u32BytesInSector_;
    // Sectors [first, last] into their place, past the page cache: the cache
    // fails a page whole for one bad sector.
    const auto read = [&](std::uint64_t first, std::uint64_t last) {
        return readFromDevice(Reader::SaveRange, first, static_cast<std::int32_t>(last + 1 - first),
                              buffer + (first - sector) * bps, true);
    };
    const auto failed = [&](std::uint64_t at) {
        std::memset(buffer + (at - sector) * bps, 0, static_cast<std::size_t>(bps));
        unreadable_.addFailed(at);
    };
    // Where the readable run that holds `at`, which has just answered,
    // begins, from `from` on: in halving steps, each a read from the step up
    // to what has been read, so a failure means a bad sector there whatever
    // lies before it. The run's sectors are read, and the one before it, if
    // it lies from `from` on, failed.
    const auto runBegins = [&](std::uint64_t from, std::uint64_t at) -> std::optional<std::uint64_t> {
        std::uint64_t first = from, begins = at;
        while (first < begins) {
            const std::uint64_t step = first + (begins - first) / 2;
            const ReadResult r = read(step, begins - 1);
            if (r == ReadResult::Hopeless) return std::nullopt;
            if (r == ReadResult::Read)
                begins = step;
            else
                first = step + 1;
        }
        if (begins > from) failed(begins - 1);
        return begins;
    };
    // Where the readable run from `at`, which has just answered, ends, up to
    // `to`: read on in steps of kScrapeSectors, and the step that fails in
    // halving steps from its first sector; the sector that ends it failed.
    const auto runEnds = [&](std::uint64_t at, std::uint64_t to) -> std::optional<std::uint64_t> {
        for (std::uint64_t next = at + 1; next < to;) {
            const std::uint64_t stepEnd = std::min(next + kScrapeSectors, to);
            ReadResult r = read(next, stepEnd - 1);
            if (r == ReadResult::Hopeless) return std::nullopt;
            if (r == ReadResult::Read) {
                next = stepEnd;
                continue;
            }
            // The first bad sector lies in [next, last].
            for (std::uint64_t last = stepEnd - 1; next < last;) {
                const std::uint64_t step = next + (last - next) / 2;
                r = read(next, step);
                if (r == ReadResult::Hopeless) return std::nullopt;
                if (r == ReadResult::Read)
                    next = step + 1;
                else
                    last = step;
            }
            failed(next);
            return next;
        }
        return to;
    };
    const auto firstAsked = [](std::uint64_t from) {
        return (from + kScrapeSectors - 1) / kScrapeSectors * kScrapeSectors;
    };
    // Whether every sector of [from, at) is known to be unreadable: nothing
    // there has answered since `from`.
    const auto unbroken = [&](std::uint64_t from, std::uint64_t at) {
        const std::optional<std::uint64_t> runEnd = unreadable_.runEndAt(from);
        return runEnd && *runEnd >= at;
    };
    // Whether the scrape of the bad stretch that holds `at` stopped before
    // `at`, in this read or an earlier one (of this file or another),
    // nothing between answering since.
    const auto stopped = [&](std::uint64_t at) {
        std::lock_guard lock(scrapeMutex_);
        const auto after = scrapeStops_.upper_bound(at);
        return after != scrapeStops_.begin() && unbroken(*std::prev(after), at);
    };
    // The ask at `at` has failed: counted with those that failed before it
    // in the same bad stretch, nothing answering between; true when they are
    // enough to stop the stretch's scrape there.
    const auto stopsTheStretch = [&](std::uint64_t at) {
        std::lock_guard lock(scrapeMutex_);
        ScrapeRow& row = scrapeRow_;
        const bool sameStretch = row.failed != 0 && row.last < at && unbroken(row.last, at);
        row = ScrapeRow{at, sameStretch ? row.failed + 1 : 1};
        if (row.failed < kScrapeFailuresInARun) return false;
        if (scrapeStops_.size() >= kMostScrapeStops) scrapeStops_.erase(scrapeStops_.begin());
        scrapeStops_.insert(at);
        row.failed = 0;
        return true;
    };
    std::uint64_t got = 0;
    std::uint32_t failedInARow = 0;
    const std::uint64_t liveBefore = policy_.liveAnswers();
    // What readRange left unread inside the read: the runs walks stepped
    // over; those that failed are not asked again.
    for (const UnreadableSectors::Run& run : unreadable_.runsIn(sector, end - sector)) {
        if (run.failed) continue;
        // The first sector that may begin a readable run.
        std::uint64_t from = run.begin;
        bool runStopped = false;
        for (std::uint64_t at = firstAsked(from); at < run.end;) {
            if ((runStopped = stopped(at))) break;
            const std::optional<UnreadableSectors::Run> known = unreadable_.runAt(at);
            const ReadResult r = known && known->failed ? ReadResult::Failed : read(at, at);
            if (r == ReadResult::Hopeless) return std::nullopt;
            if (r == ReadResult::Read) {
                failedInARow = 0;
                const std::optional<std::uint64_t> begins = runBegins(from, at);
                const std::optional<std::uint64_t> ends = begins ? runEnds(at, run.end) : std::nullopt;
                if (!ends) return std::nullopt;
                got += *ends - *begins;
                from = *ends + 1;
                at = firstAsked(from);
                continue;
            }
            failed(at);
            from = at + 1;
            if (++failedInARow % kScrapeFailuresJudged == 0 &&
                !saveStillAnswers(ReadFailurePolicy::Stretch{from, false, false}, liveBefore))
                return std::nullopt;
            if ((runStopped = stopsTheStretch(at))) break;
            at += kScrapeSectors;
        }
        // A readable run that goes on past the read's end is found there by
        // the read after, which cannot go back: it is asked for here, so the
        // run's sectors in this read are read to its edge too.
        if (runStopped || run.end != end || from >= end || end >= policy_.endSector() ||
            end >= unansweredFrom_.load(std::memory_order_acquire) || stopped(end))
            continue;
        const std::optional<UnreadableSectors::Run> known = unreadable_.runAt(end);
        if (known && known->failed) continue;
        std::vector<std::uint8_t> one(static_cast<std::size_t>(bps));
        const ReadFailurePolicy::Probe p = probeSector(Reader::SaveRange, end, one.data());
        if (p == ReadFailurePolicy::Probe::Gone) return std::nullopt;
        if (p == ReadFailurePolicy::Probe::Failed) {
            unreadable_.addFailed(end);
            stopsTheStretch(end);
            continue;
        }
        const std::optional<std::uint64_t> begins = runBegins(from, end);
        if (!begins) return std::nullopt;
        got += end - *begins;
    }
    return got;
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
