#pragma once

// A dying disk for the readers: put between a medium and its reader
// (DMedia::setRawRead), it fails every read that touches one of the chosen
// sectors with EIO, as a disk fails a whole request for one bad sector,
// optionally after a delay, and counts the failed reads, also those the
// device below fails by itself. Copies share their sectors and count; choose
// the sectors before the reads begin.
//
// Exactly the chosen sectors fail unless failWholePagesThroughTheCache() is
// called: then, as under a block device's page cache, a read through a
// descriptor opened without O_DIRECT fails when it touches a 4096-byte page
// holding a bad sector, and only a descriptor opened with O_DIRECT gets the
// good sectors of that page. After failWholePages() no descriptor gets them,
// as from a loop device that reads its file through the page cache.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace testsupport {

class FailingReads {
public:
    // Sectors [first, first + count) of 512 bytes fail.
    void failSectors(std::uint64_t first, std::uint64_t count = 1);
    // Each failed read takes this long first.
    void setDelay(std::chrono::milliseconds delay) { state_->delay = delay; }
    // Every read after the first `reads` fails too: a disk that dies, or is
    // pulled out, during the scan.
    void failEveryReadAfter(std::uint64_t reads) { state_->deadAfter = reads; }
    // The disk dies at the first read that reaches `sector`, under a page
    // cache: from then on only the 4096-byte pages read before still answer,
    // as a loop device's file keeps them in memory after its disk has died.
    void dieUnderThePageCacheAt(std::uint64_t sector) { state_->diesAtByte = sector * 512; }
    // The same, from the read after the first `reads` on.
    void dieUnderThePageCacheAfter(std::uint64_t reads) { state_->diesAfterReads = reads; }
    // Sectors [first, first + count) that other readers of the disk read
    // before it dies (the drive list, the identity check): their pages still
    // answer from the page cache after it has died.
    void holdInTheCache(std::uint64_t first, std::uint64_t count);
    // The kernel lets go of the pages of sectors [first, first + count): once
    // the disk has died, they answer no more.
    void letGo(std::uint64_t first, std::uint64_t count);
    // A disk that died under the page cache comes back, to die again at the
    // first read that reaches `diesAgainAt`, if given.
    void answerAgain(std::optional<std::uint64_t> diesAgainAt = std::nullopt);
    // A read through the page cache fails the whole page of a bad sector.
    void failWholePagesThroughTheCache() { state_->wholePagesThroughTheCache = true; }
    // Once dead under the page cache, a read past the cache (a descriptor
    // opened with O_DIRECT) fails also where the cache holds the pages, as
    // it asks the disk itself.
    void failPastTheCacheOnceDead() { state_->deadPastTheCache = true; }
    // Every read does, past the cache or not.
    void failWholePages() { state_->wholePagesPastTheCache = state_->wholePagesThroughTheCache = true; }
    // The errno of a failed read (EIO unless set).
    void setError(int error) { state_->error = error; }

    // The reader to hand to DMedia::setRawRead.
    std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> reader() const;
    // How the disk is read past every cache, to hand to DMedia::setRawRead
    // with reader(): its bad sectors fail, and once it has died every read
    // does, whatever a cache holds.
    std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> pastEveryCacheReader() const;
    // What the page cache above this disk holds, to hand to DMedia::setRawRead
    // with reader(): the pages read before it died under the cache and those
    // held there (holdInTheCache), whole, or -1 (EAGAIN). It asks the disk
    // nothing, so it never fails a read.
    std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> cachedReader() const;

    std::uint64_t failedReads() const { return state_->failed; }
    // The most reads that failed at any one place (the same bytes of the same
    // device or file asked for again): 1 when no place was asked for twice.
    std::uint64_t mostFailedReadsOfOnePlace() const;

private:
    struct State {
        std::vector<std::pair<std::uint64_t, std::uint64_t>> badBytes; // [begin, end)
        std::chrono::milliseconds delay{0};
        std::uint64_t deadAfter = UINT64_MAX;
        int error = 0;
        std::uint64_t diesAtByte = UINT64_MAX;
        std::uint64_t diesAfterReads = UINT64_MAX;
        bool wholePagesThroughTheCache = false;
        bool wholePagesPastTheCache = false;
        bool deadPastTheCache = false;
        std::mutex cacheMutex;
        bool dead = false;
        std::vector<bool> cachedPages;
        // By the disk, whose pages are then cached, or from the cache.
        bool answers(std::uint64_t offset, std::size_t length, bool pastEveryCache = false);
        bool cached(std::uint64_t offset, std::size_t length);
        std::atomic<std::uint64_t> reads{0};
        std::atomic<std::uint64_t> failed{0};
        std::mutex placesMutex;
        // By device, inode, offset and length.
        std::map<std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::size_t>, std::uint64_t> failedPlaces;
    };
    std::function<std::int64_t(int, std::uint8_t*, std::size_t, std::uint64_t)> reader(bool pastEveryCache) const;
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// A dying disk as a block device: the bad-sector FUSE tool of bench/ serving
// `image` with the runs of the file `map` failing ("first count" a line), and
// a read-only loop device over what it serves, read as `loop` says. From
// `dieAtSector` on, once a read runs into it, every read fails but what the
// cache holds. Served while the object lives; `device` is empty when it
// could not be. Only root with /dev/fuse and losetup can serve one.
struct ServedByTheFuseTool {
    enum class Loop {
        // In direct I/O, the tool keeping the kernel from caching what it
        // serves: the bad sectors fail alone.
        DirectIo,
        // Through the page cache of the file the tool serves, which it lets
        // the kernel keep: the pages of the bad sectors fail whole, for every
        // reader, past the loop device's own cache too.
        ThroughTheFilesCache,
        // Through the page cache of the file, which the tool keeps the kernel
        // from caching: the loop device's own cache fails a bad sector's page
        // whole, and a read past it gets each sector alone, as on a disk.
        OverAnUncachedFile,
        // No loop device: the file the tool serves is the medium, read as an
        // image file is, the tool keeping the kernel from caching it.
        TheFileItself,
        // Stacks of devices over the file the tool serves. A loop device
        // through its own page cache over one in direct I/O (the tool keeping
        // the kernel from caching the file); one over another, both through
        // the page cache of the file the tool lets the kernel keep; one in
        // direct I/O over such a one.
        CachedOverDirectIo,
        CachedOverCached,
        DirectIoOverCached,
        // The image lies on an ext4 file system the tool serves (made once
        // beside the image, as ext4.img), mounted from a loop device through
        // the page cache: the medium is the image file there, or a loop
        // device through the page cache over it. The map's runs ("FIRST
        // COUNT" lines) and the sector the disk dies at are the image's,
        // where the file system holds them.
        FileOnExt4OverCached,
        CachedOverFileOnExt4OverCached,
        // Two file systems deep: the image on an ext4 file system mounted
        // from a loop device through the page cache over the file
        // inner.img, itself on the ext4 file system the tool serves (made
        // once beside the image, as ext4-ext4.img), mounted from a loop
        // device through the page cache. The medium is the image file, or
        // a loop device through the page cache over it; the map's runs and
        // the sector the disk dies at are the image's.
        FileOnExt4OnExt4OverCached,
        CachedOverFileOnExt4OnExt4OverCached,
        // A device-mapper linear device over a loop device through the page
        // cache: only where the kernel has device-mapper (see
        // deviceMapperPossible).
        LinearOverCached,
    };
    static bool possible();
    // Whether device-mapper devices can be made here: its module loaded and
    // dmsetup naming the linear target.
    static bool deviceMapperPossible();
    // `diesOnce`: a disk that died and answers again does so for good.
    ServedByTheFuseTool(const std::filesystem::path& image, const std::filesystem::path& map, Loop loop,
                        std::optional<std::uint64_t> dieAtSector = std::nullopt, bool diesOnce = false);
    ~ServedByTheFuseTool();
    ServedByTheFuseTool(const ServedByTheFuseTool&) = delete;
    ServedByTheFuseTool& operator=(const ServedByTheFuseTool&) = delete;
    // The reads the tool has failed so far: those of the device below the
    // loop device, as a disk counts them (a read through a page cache that
    // fails may cost it more than one).
    std::uint64_t failedReads() const;
    // A disk that died comes back: it answers again until a read runs into
    // the sector it dies at once more.
    void answerAgain() const;
    std::string device;
    // What takes the stack down again, in order.
    std::vector<std::function<void()>> undo;
    std::string mountPoint;
    std::string countFile;
    std::string deadFile;
};

} // namespace testsupport
