#include "media/DMedia.h"

#include "media/HeldSectors.h"
#include "media/PartitionTables.h"
#include "platform/AlignedBuffer.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/KeyedArchiver.h"
#include "platform/KeyedUnarchiver.h"
#include "platform/SystemLog.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
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
// A run of this many failed scan reads makes the readers ask the device
// again for a sector it answered before, and for sectors no read has
// reached: a disk that fails those has stopped answering, one that reads
// them has a bad stretch. With no sector ever answered, a run
// kGiveUpUnanswered long is taken for a medium that is gone; with no region
// left that no read has reached, a run as long as a retry group failing
// sector by sector.
constexpr std::uint32_t kProbeAfterFailures = 8;
constexpr std::uint32_t kGiveUpUnanswered = 1024;
constexpr std::uint32_t kGiveUpUnprobed = 64;
// Read regions are never smaller than this: the middle of one lies beyond
// the kernel's read-ahead (128 KiB unless tuned) from a read next to it.
constexpr std::uint64_t kMinReadRegionBytes = 1u << 20;
// Successive probes step through the unread regions by the golden ratio's
// fraction, so that every round asks somewhere new, far from the last.
constexpr double kGoldenFraction = 0.6180339887498949;
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

    ~Device() {
        if (fd >= 0) ::close(fd);
        if (uncachedFd >= 0) ::close(uncachedFd);
    }
};

DMedia::DMedia() = default;
DMedia::~DMedia() = default;

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
    return readWith(Reader::Scan, sector, size, buffer);
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
    layOutReadMap(fd);
    device_ = std::make_shared<Device>();
    device_->fd = fd;
    return device_;
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

std::int64_t DMedia::readFully(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset, bool noted) {
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
        if (noted) noteRead(offset + done, static_cast<std::uint64_t>(n));
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

void DMedia::noteAnswered(std::uint64_t sector) {
    failuresInARow_.store(0, std::memory_order_relaxed);
    lastAnswered_.store(sector, std::memory_order_relaxed);
    answered_.store(true, std::memory_order_release);
}

bool DMedia::answersAt(std::uint64_t sector) {
    std::shared_ptr<Device> dev = device();
    if (!dev) return false;
    const std::uint64_t bps = u32BytesInSector_;
    const std::uint64_t offset = sector * bps;
    // From the device itself where it lets us past the page cache, which
    // still holds what was read; else with the cache's page dropped.
    std::call_once(dev->uncachedOpened,
                   [&] { dev->uncachedFd = ::open(cPath_.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC); });
    platform::AlignedBuffer probe(bps);
    if (dev->uncachedFd >= 0) {
        if (readFully(dev->uncachedFd, probe.data(), bps, offset, false) >= 0) return true;
        if (errno != EINVAL) return false;
    }
    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    if (page != 0)
        ::posix_fadvise(dev->fd, static_cast<off_t>(offset / page * page), static_cast<off_t>(page),
                        POSIX_FADV_DONTNEED);
    return readFully(dev->fd, probe.data(), bps, offset, false) >= 0;
}

bool DMedia::stoppedAnswering(std::uint64_t failedSector) {
    const std::uint32_t failures = failuresInARow_.fetch_add(1, std::memory_order_relaxed) + 1;
    if (failures % kProbeAfterFailures != 0) return false;
    if (!answered_.load(std::memory_order_acquire)) return failures >= kGiveUpUnanswered;
    // A sector read before that no longer reads: the disk has stopped.
    if (!answersAt(lastAnswered_.load(std::memory_order_relaxed))) return true;
    // It may be answered from memory below us: a loop device's file keeps
    // in the page cache whatever this scan read, however long ago. Sectors
    // no read has reached cannot be, and two far apart tell a bad stretch
    // from a dead disk. Each round asks at new ones, as a probe that
    // answered is cached from then on.
    const std::uint32_t round = probeRounds_.fetch_add(1, std::memory_order_relaxed);
    bool asked = false;
    for (const std::uint64_t n : {2ull * round + 1, 2ull * round + 2}) {
        const std::optional<std::uint64_t> probe =
            unreadSector(failedSector, std::fmod(static_cast<double>(n) * kGoldenFraction, 1.0));
        if (!probe) break;
        asked = true;
        if (answersAt(*probe)) {
            failuresInARow_.store(0, std::memory_order_relaxed);
            return false;
        }
    }
    if (asked) return true;
    // Every region but the failing one has been read (the very end of a
    // scan): nothing is left to tell a dead disk behind a cache from a bad
    // stretch. A dying disk spends seconds on each failed read, so a run of
    // failures as long as a retry group failing sector by sector is taken
    // for a dead disk; a bad stretch that long there is rare, and it ends
    // only a scan that had nothing but its last region left to read.
    return failures >= kGiveUpUnprobed;
}

void DMedia::layOutReadMap(int fd) {
    if (readRegionBytes_.load(std::memory_order_acquire) != 0) return;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    const std::uint64_t bytes = end > 0 ? static_cast<std::uint64_t>(end)
                                        : std::max(sizeInBytes_, (HPlusVolStart_ + sizeInSect_) * u32BytesInSector_);
    if (bytes == 0) return;
    const std::uint64_t regions = kReadMapWords * 64;
    readMapBytes_.store(bytes, std::memory_order_relaxed);
    readRegionBytes_.store(std::max((bytes + regions - 1) / regions, kMinReadRegionBytes), std::memory_order_release);
}

void DMedia::noteRead(std::uint64_t offset, std::uint64_t length) {
    const std::uint64_t region = readRegionBytes_.load(std::memory_order_acquire);
    if (region == 0 || length == 0) return;
    const std::uint64_t last = std::min(platform::saturatingAdd(offset, length - 1) / region, kReadMapWords * 64 - 1);
    for (std::uint64_t r = std::min(offset / region, last); r <= last; ++r) {
        std::atomic<std::uint64_t>& word = readMap_[r / 64];
        const std::uint64_t bit = 1ull << (r % 64);
        // The bit is set by the first read of a region; the many after it
        // only look.
        if ((word.load(std::memory_order_relaxed) & bit) == 0) word.fetch_or(bit, std::memory_order_relaxed);
    }
}

std::optional<std::uint64_t> DMedia::unreadSector(std::uint64_t failedSector, double fraction) const {
    const std::uint64_t region = readRegionBytes_.load(std::memory_order_acquire);
    const std::uint64_t bps = u32BytesInSector_;
    if (region == 0 || bps == 0) return std::nullopt;
    // Whole regions only: a sector of the short one at the end may lie past
    // the end of the medium, where a read answers with nothing.
    const std::uint64_t regions = readMapBytes_.load(std::memory_order_relaxed) / region;
    const std::uint64_t failing = platform::saturatingMul(failedSector, bps) / region;
    const auto unread = [&](std::uint64_t r) {
        return r != failing && (readMap_[r / 64].load(std::memory_order_relaxed) & (1ull << (r % 64))) == 0;
    };
    std::uint64_t count = 0;
    for (std::uint64_t r = 0; r < regions; ++r)
        count += unread(r) ? 1 : 0;
    if (count == 0) return std::nullopt;
    const double at = fraction * static_cast<double>(count);
    std::uint64_t skip = std::min(static_cast<std::uint64_t>(at), count - 1);
    const double within = at - std::floor(at);
    for (std::uint64_t i = 1; i <= regions; ++i) {
        const std::uint64_t r = (failing + i) % regions;
        if (!unread(r) || skip-- != 0) continue;
        return (r * region + region / 4 + static_cast<std::uint64_t>(within * static_cast<double>(region / 2))) / bps;
    }
    return std::nullopt;
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

DMedia::CarvingRead DMedia::readCarvingSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
    // A request no device could answer (a position a damaged file made up)
    // fails by itself; it says nothing about the device.
    if (size < 0 || u32BytesInSector_ == 0 || static_cast<std::uint64_t>(size) * u32BytesInSector_ > kMaxReadBytes ||
        !platform::checkedMul(sector, std::uint64_t{u32BytesInSector_}))
        return CarvingRead::Failed;
    switch (readFromDevice(Reader::Carving, sector, size, buffer)) {
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
    const bool scanning = reader == Reader::Scan || reader == Reader::CarvingRange;
    if (scanning && mediumGone()) return ReadResult::Hopeless;

    std::shared_ptr<Device> dev = device();
    if (!dev && reader == Reader::Scan) {
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
    if (dev && uncached) {
        std::call_once(dev->uncachedOpened,
                       [&] { dev->uncachedFd = ::open(cPath_.c_str(), O_RDONLY | O_DIRECT | O_CLOEXEC); });
        if (dev->uncachedFd >= 0) {
            platform::AlignedBuffer aligned(length);
            got = readFully(dev->uncachedFd, aligned.data(), length, offset);
            if (got > 0) std::memcpy(buffer, aligned.data(), static_cast<std::size_t>(got));
            // EINVAL: a request the device takes only through the cache.
            failedUncached = got < 0 && errno != EINVAL;
            if (failedUncached) err = errno;
        }
    }
    if (dev && got < 0 && !failedUncached) {
        if (reader == Reader::Scan && length < kDirectReadBytes && !uncached) {
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

    if (got >= 0) {
        // Past the end of the medium: the caller must never see stale bytes
        // of an earlier read in the unread tail.
        if (static_cast<std::size_t>(got) < length)
            std::memset(buffer + got, 0, length - static_cast<std::size_t>(got));
        if (scanning) noteAnswered(sector);
        return ReadResult::Read;
    }

    // A window reaching these sectors would fail on them again.
    pauseReadAheadFrom(offset);
    platform::logFormat("Unable to read from the drive %@ error: %d", cPath_, err);
    platform::logFormat("Further info, sectorNum: %@, size: %d, sizeInSect: %@",
                        static_cast<unsigned long long>(sector), size, static_cast<unsigned long long>(sizeInSect_));
    if (dev) dropDevice(dev);
    if (scanning) {
        if (err != ENODEV && err != ENXIO && devicePresent() && !stoppedAnswering(sector)) return ReadResult::Failed;
        markGone();
        return ReadResult::Hopeless;
    }
    // A save reads a failed range again sector by sector: a device that no
    // longer answers at all would only give a file of zeros, so it has gone
    // even while the lists still name it.
    const bool answers = reader != Reader::SaveRange || (err != ENODEV && err != ENXIO);
    if (answers && devicePresent()) return ReadResult::Failed;

    platform::AppController* c = platform::appController();
    if (!c) return ReadResult::Hopeless;
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
    case Reader::Carving:
    case Reader::CarvingRange:
        break;
    }
    return ReadResult::Hopeless;
}

std::uint64_t DMedia::readSweepSectors(std::uint64_t sector, std::int32_t count, std::uint32_t groupSectors,
                                       std::uint8_t* buffer) {
    const std::optional<std::uint64_t> lost = readRange(Reader::Scan, sector, count, groupSectors, buffer);
    return lost ? *lost : static_cast<std::uint64_t>(std::max(count, 0));
}

std::optional<std::uint64_t> DMedia::readSectorRange(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                                     RangeReader reader) {
    Reader role = Reader::Scan;
    if (reader == RangeReader::Carving) role = Reader::CarvingRange;
    if (reader == RangeReader::Save) role = Reader::SaveRange;
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
                                               std::uint32_t groupSectors, std::uint8_t* buffer) {
    const std::uint64_t bps = u32BytesInSector_;
    // A request no device could answer (a position a damaged structure made
    // up) fails by itself; it says nothing about the device.
    if (count < 0 || bps == 0 || static_cast<std::uint64_t>(count) * bps > kMaxReadBytes ||
        !platform::checkedMul(platform::saturatingAdd(sector, static_cast<std::uint64_t>(count)), bps))
        return std::nullopt;
    const std::size_t bytes = static_cast<std::size_t>(static_cast<std::uint64_t>(count) * bps);
    std::uint64_t lost = 0;
    std::uint64_t at = sector;
    // Only the scan's readers end with the scan's medium; a save asks the
    // device for itself.
    const bool scanning = reader == Reader::Scan || reader == Reader::CarvingRange;
    // The sectors from `at` up to `to`; `uncached` first tries them past the
    // page cache.
    const auto readPiece = [&](std::uint64_t to, bool uncached) {
        if (to <= at) return true;
        const auto n = static_cast<std::int32_t>(to - at);
        std::uint8_t* into = buffer + (at - sector) * bps;
        std::optional<std::uint64_t> r = 0;
        ReadResult first = ReadResult::Failed;
        if (uncached) first = readFromDevice(reader, at, n, into, true);
        // Hopeless: the user has been told, once is enough.
        if (first != ReadResult::Read)
            r = first == ReadResult::Hopeless || (scanning && mediumGone())
                    ? std::nullopt
                    : readFreshSectors(reader, at, n, groupSectors, into);
        if (!r) return false;
        lost += *r;
        at = to;
        return true;
    };
    // The page cache reads, and fails, a whole memory page for one sector
    // of it: the sectors sharing a page with one known to be unreadable are
    // read past it.
    const std::uint64_t page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t pageSectors = page > bps ? page / bps : 1;
    const auto nearUnreadable = [&](std::uint64_t s) {
        return pageSectors > 1 && unreadable_.countIn(s - s % pageSectors, pageSectors) != 0;
    };
    // The sectors from `at` up to `to`, none of them known to be unreadable.
    const auto readUpTo = [&](std::uint64_t to) {
        if (to <= at) return true;
        if (nearUnreadable(at) && !readPiece(std::min(to, at - at % pageSectors + pageSectors), true)) return false;
        if (to <= at) return true;
        const std::uint64_t lastPage = (to - 1) - (to - 1) % pageSectors;
        if (!nearUnreadable(to - 1)) return readPiece(to, false);
        return readPiece(std::max(at, lastPage), false) && readPiece(to, true);
    };
    for (const auto& [begin, end] : unreadable_.runsIn(sector, static_cast<std::uint64_t>(count))) {
        if (!readUpTo(begin)) {
            std::memset(buffer, 0, bytes);
            return std::nullopt;
        }
        std::memset(buffer + (begin - sector) * bps, 0, static_cast<std::size_t>((end - begin) * bps));
        lost += end - begin;
        at = end;
    }
    if (!readUpTo(sector + static_cast<std::uint64_t>(count))) {
        std::memset(buffer, 0, bytes);
        return std::nullopt;
    }
    return lost;
}

std::optional<std::uint64_t> DMedia::readFreshSectors(Reader reader, std::uint64_t sector, std::int32_t count,
                                                      std::uint32_t groupSectors, std::uint8_t* buffer) {
    const ReadResult whole = readFromDevice(reader, sector, count, buffer);
    if (whole == ReadResult::Read) return 0;
    if (whole == ReadResult::Hopeless) return std::nullopt;
    const std::size_t bps = u32BytesInSector_;

    bool hopeless = false;
    // `n` sectors from sector `at` of the stretch; false, with zeros there,
    // when they cannot be read.
    // Single sectors are read past the page cache, so that the good sectors
    // sharing a page with a bad one are not lost with it.
    const auto piece = [&](std::int32_t at, std::int32_t n, bool uncached = false) {
        std::uint8_t* into = buffer + static_cast<std::size_t>(at) * bps;
        const ReadResult r = readFromDevice(reader, sector + static_cast<std::uint64_t>(at), n, into, uncached);
        hopeless = r == ReadResult::Hopeless;
        if (r != ReadResult::Read) std::memset(into, 0, static_cast<std::size_t>(n) * bps);
        return r == ReadResult::Read;
    };
    std::uint64_t unreadable = 0;
    const std::int32_t group = static_cast<std::int32_t>(std::max<std::uint32_t>(groupSectors, 1));
    for (std::int32_t g = 0; g < count; g += std::min(group, count - g)) {
        const std::int32_t n = std::min(group, count - g);
        if (group < count && n > 1 && piece(g, n)) continue;
        if (hopeless) return std::nullopt;
        for (std::int32_t s = g; s < g + n; ++s) {
            if (piece(s, 1, true)) continue;
            if (hopeless) return std::nullopt;
            unreadable_.add(sector + static_cast<std::uint64_t>(s));
            ++unreadable;
        }
    }
    platform::logFormat("Sectors %llu to %llu of %@ could not be read at once: %llu of them are unreadable and "
                        "taken as zeros",
                        static_cast<unsigned long long>(sector),
                        static_cast<unsigned long long>(sector + static_cast<std::uint64_t>(count) - 1), cPath_,
                        static_cast<unsigned long long>(unreadable));
    return unreadable;
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
