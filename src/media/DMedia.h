#pragma once

// One drive, or a device node opened like one: its identity, size and sector
// size, its archiving, the working state of the partition readers and the
// lost-volume search, a progress dictionary with its hand-over flag, and the
// device under the one reader every scan, preview and save goes through
// (MediumReader, which asks the medium's map, ReadFailurePolicy's). The
// medium is only ever opened read-only.

#include "formats/Extent.h"
#include "formats/HFSPlusStructures.h"
#include "media/MediumDevice.h"
#include "media/MediumReader.h"
#include "media/ReadFailurePolicy.h"
#include "media/SweepProgress.h"
#include "platform/Archivable.h"
#include "platform/PageCache.h"
#include "platform/Value.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class HeldSectors;

class DMedia : public platform::Archivable, private MediumDevice {
public:
    // Builds a DMedia from a drive dictionary; nullptr when the dictionary
    // has no usable "Preferred Block Size" (sizes in sectors could not be
    // computed and every reader would divide by zero).
    static std::shared_ptr<DMedia> initWithDictionary(const platform::Dict& dictionary);
    DMedia();
    ~DMedia() override;
    DMedia(const DMedia&) = delete;
    DMedia& operator=(const DMedia&) = delete;

    // Archiving keeps only the identity: path, model, serial, revision and
    // the size in sectors.
    std::string className() const override { return "DMedia"; }
    void encodeWithCoder(platform::KeyedArchiver& coder) const override;
    static std::shared_ptr<DMedia> initWithCoder(platform::KeyedUnarchiver& coder);
    static void registerArchiveClass();
    std::shared_ptr<DMedia> mutableCopy() const;

    // --- raw sector readers ---
    // Every read of the medium goes through its one reader (MediumReader),
    // which asks the medium's map how to read each place; these say what
    // their reader needs and who asks. Sector numbers are 64-bit; the count
    // is a signed 32-bit number of sectors of the medium's own size, and the
    // buffer holds at least count x bytes-per-sector bytes. A scan's read
    // that reaches past the end of the medium succeeds with the unread tail
    // of the buffer zero-filled.
    // readSector serves the scans: when the device has gone it tells the
    // user and quits the program. Its unreadable sectors are counted and a
    // bad stretch is passed over as the range reader does; it answers false
    // unless every sector came in.
    bool readSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
        const std::optional<std::uint64_t> lost = reader_.readRange(MediumDevice::Asker::Scan, sector, size, buffer);
        return lost && *lost == 0;
    }
    // The partition readers' reader of the records they need (a table's
    // sectors, a volume's header): each sector asked for once, and no bad
    // stretch walked beyond them (see MediumReader::readRecords). False
    // unless every sector came in.
    bool readRecordSectors(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
        return reader_.readRecords(sector, size, buffer);
    }
    // The preview's and the save's single readers, all or nothing: a
    // vanished device closes the preview and ends only that preview or save.
    // Bytes the medium does not return (a short read, as past the end of a
    // cut image) are no data: the read fails, the buffer's tail zeroed.
    bool readPreviewSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
        return MediumDevice::answered(reader_.readWhole(MediumDevice::Asker::Preview, sector, size, buffer, false));
    }
    bool readSaveSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer) {
        return MediumDevice::answered(reader_.readWhole(MediumDevice::Asker::SaveSector, sector, size, buffer, false));
    }
    // The checks of a medium's identity, all or nothing, which tell the user
    // nothing themselves: Gone when the device cannot be opened or has left
    // the drive lists, Failed when only this read failed. `pastTheCache`:
    // past the page cache where the device allows it, so that one bad sector
    // does not fail the good ones of its page with it.
    enum class CarvingRead { Read, Failed, Gone };
    CarvingRead readCarvingSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer,
                                  bool pastTheCache = false);
    // A sweep's batch: the scan's range reader. How many sectors could not be
    // read (all of them when the device cannot be opened or has gone).
    std::uint64_t readSweepSectors(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer) {
        const std::optional<std::uint64_t> lost = reader_.readRange(MediumDevice::Asker::Scan, sector, count, buffer);
        return lost ? *lost : static_cast<std::uint64_t>(std::max(count, 0));
    }
    // What every reader of a range goes through (the searches' batches, the
    // size calculators' windows, the recognisers' cursors, the directory
    // reads, the save): see MediumReader::readRange. Nothing (the buffer
    // zeroed) when the request is out of range or the medium has gone, else
    // how many of its sectors could not be read. Scan and Sweep read alike.
    // The size calculators' reader shows no alert of opening of its own. The
    // save's reader belongs to no scan: a device that has gone (left the
    // drive lists, cannot be opened, answers ENODEV or ENXIO, or returns
    // nothing at its first sector) gives the save's own alert, as
    // readSaveSector does, and nothing; the program goes on. So does a
    // medium that has stopped answering (see ReadFailurePolicy::stillAnswers).
    enum class RangeReader { Scan, Carving, Save, Sweep };
    std::optional<std::uint64_t> readSectorRange(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                                 RangeReader reader = RangeReader::Scan) {
        return reader_.readRange(askerOf(reader), sector, count, buffer);
    }
    // A save's second pass over `count` sectors from `sector`: their
    // stepped-over runs scraped, what answers handed to `take` as it is read
    // (see MediumReader::scrapeRange); false, after the save's alert, when
    // the medium has gone or stopped answering.
    bool scrapeSectorRange(std::uint64_t sector, std::uint64_t count, const MediumReader::Take& take,
                           const MediumReader::Asked& asked = {}, const MediumReader::Stop& stop = {}) {
        return reader_.scrapeRange(sector, count, take, asked, stop);
    }
    // The stretches [first, end) of `count` sectors from `first` that hold
    // sectors a walk stepped over and no read has got since, and nothing
    // readable: what only a save's second pass asks (see
    // MediumMap::steppedOverIn).
    MediumReader::Runs steppedOverIn(std::uint64_t first, std::uint64_t count) const {
        return policy_.map().steppedOverIn(first, count);
    }
    // A search that holds sectors in memory lends them, for as long as it
    // runs, to the readers of the files it examines (nullptr: none). Only
    // the search's own thread reads through them.
    void setHeldSectors(HeldSectors* held) { reader_.setHeldSectors(held); }
    // A save tells the readers where it still has to read, for as long as it
    // runs (nullptr: nowhere, and the save has ended): before the save's
    // reader gives up a medium that answers nowhere else, it asks there (see
    // ReadFailurePolicy::stillAnswers).
    // Set as a save begins, it asks again whether a disk judged to have
    // stopped answers (see MediumReader::beginSave).
    void setStillToRead(ReadFailurePolicy::StillToRead stillToRead) {
        const bool begins = stillToRead != nullptr;
        if (!begins) reader_.endSave();
        policy_.setStillToRead(std::move(stillToRead));
        if (begins) reader_.beginSave();
    }
    // A save begins to read the next file, or to scrape it: its scrape asks
    // densely again wherever the file's own bad runs begin.
    void beginSavingFile() { reader_.beginFile(); }
    // readSectorRange, with what the search holds taken from memory and only
    // the rest read: the same bytes, and its unreadable sectors (zeros
    // there) counted as the range reader counts those it knows.
    std::optional<std::uint64_t> readExaminedRange(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                                   RangeReader reader = RangeReader::Scan) {
        return reader_.readExamined(askerOf(reader), sector, count, buffer);
    }
    // The sectors whose bytes the readers could not give since the scan
    // began, in all and from `first` on: those that failed and those a walk
    // stepped over that no read has got since.
    std::uint64_t unreadableSectorCount() const { return policy_.map().count(); }
    std::uint64_t unreadableSectorsIn(std::uint64_t first, std::uint64_t count) const {
        return policy_.map().countIn(first, count);
    }
    // Of those, the sectors a read asked for and that failed: the others were
    // not read (stepped over, or not asked of a disk that had stopped).
    std::uint64_t failedSectorsIn(std::uint64_t first, std::uint64_t count) const {
        return policy_.map().failedIn(first, count);
    }
    // Where the unbroken stretch of such sectors that holds `sector` ends;
    // nothing when none holds it.
    std::optional<std::uint64_t> unreadableStretchEnd(std::uint64_t sector) const {
        return policy_.map().runEndAt(sector);
    }
    // A scan begins afresh: what its readers could not read, and how far its
    // sweeps had come, are forgotten, and a disk judged to have stopped is
    // asked again whether it answers.
    void forgetUnreadableSectors();
    // Whether the disk has been judged to answer no more (see
    // ReadFailurePolicy::judge): its readers take only what the page cache
    // holds until a save or a scan that begins finds it answering again.
    // The sector where it was so judged.
    bool stoppedAnswering() const { return policy_.stopped(); }
    std::uint64_t stoppedAnsweringAt() const { return policy_.stoppedAt(); }
    // How far the scan had come, in per cent, when its disk was judged to
    // answer no more (its sweep's progress, or else where the disk stopped
    // within the volume); nothing while the disk answers.
    std::optional<std::uint32_t> stoppedAnsweringAtPercent() const;
    // Sectors [first, end) that a reader knows the medium cannot give
    // without asking it: those past its end where a volume's own structures
    // say more of the volume lies. They count as unreadable from then on.
    void noteUnreadableSectors(std::uint64_t first, std::uint64_t end) { policy_.map().addFailed(first, end); }
    // The medium has gone during a scan: it failed with ENODEV or ENXIO,
    // left the drive lists, or could no longer be opened after it had been
    // read. The user was told once ("no longer available") and every later
    // read of the scan's readers fails at once. Failed reads of a medium that
    // is still there never make it gone: they only cost their sectors (see
    // ReadFailurePolicy).
    bool mediumGone() const { return mediumGone_.load(std::memory_order_acquire); }
    // The read requests the device failed: each request the readers made of
    // it that came back with an error, or stopped short before the device's
    // end, counted once, however many reads of its pages the caches below
    // made of the disk for it. What this medium's readers cost a dying disk.
    std::uint64_t failedReads() const { return failedReads_.load(std::memory_order_relaxed); }

    // A medium not known to be the one the found files were found on (a
    // recovery session whose drive was not found: another disk may have
    // taken its path): the preview's and the save's readers read nothing
    // from it until it is confirmed.
    // Unconfirmed, the medium's open descriptor goes too: whatever now sits
    // at its path is opened afresh once it is confirmed.
    void setMediumUnconfirmed(bool unconfirmed);
    bool mediumUnconfirmed() const { return mediumUnconfirmed_.load(std::memory_order_acquire); }

    // The one call through which every byte of the medium is read, as
    // pread(2) on the open descriptor: the bytes read, or -1 with errno set.
    // Tests put a reader of their own in between to make chosen sectors fail;
    // set it before the first read. Such a reader stands for the disk and
    // the system's cache above it alike: what that cache holds is then what
    // `cachedRead` gives (all the bytes asked for, or -1), and with none,
    // nothing (see readCachedSectors).
    // `pastEveryCacheRead` is how the medium is read past every cache, on
    // the descriptor opened with O_DIRECT; with none, `read` is, as of an
    // image file.
    using RawRead = std::function<std::int64_t(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset)>;
    void setRawRead(RawRead read, RawRead cachedRead = {}, RawRead pastEveryCacheRead = {}) {
        rawRead_ = std::move(read);
        cachedRead_ = std::move(cachedRead);
        pastEveryCacheRead_ = std::move(pastEveryCacheRead);
    }
    // Sectors [sector, sector + count) as far as the system's page cache
    // holds them, read from memory without asking the medium for anything:
    // what a save still gets of a medium it has found gone. How many of them
    // the cache does not hold (zeros in the buffer; all of them for a request
    // out of range or past the medium's end, and from a medium not confirmed
    // to be the one the files were found on).
    std::uint64_t readCachedSectors(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer);

    // --- partition table ---
    // Reads the drive's partition table (GUID, MBR with extended partitions
    // or Apple map) and appends a volume dictionary per HFS-family partition
    // to `array`; see PartitionTables.
    void initialize(platform::Array& array);

    // --- progress hand-over ---
    // A worker fills dataUpdate only while the flag is off and then turns it
    // on; the once-a-second tick hands it to the display and turns it off.
    virtual void myTimerFireMethod();
    bool timerFireMethodCanRun() const { return timerFireMethodCanRun_.load(std::memory_order_acquire); }
    void setTimerFireMethodCanRun(bool v) { timerFireMethodCanRun_.store(v, std::memory_order_release); }
    void setTimerFireMethodCanRunAlt(const platform::Value& v) { setTimerFireMethodCanRun(v.boolValue()); }
    std::string getTimeFormStringForInterval(double seconds) const;
    // A sweep of the scan has done `done` of its `total` units.
    void noteSweepProgress(std::uint64_t done, std::uint64_t total) { sweepProgress_.note(done, total); }

    // --- accessors ---
    const std::string& path() const { return path_; }
    void setPath(const std::string& p) { path_ = p; }
    const std::string& cPath() const { return cPath_; }
    // The path the readers open; a descriptor open on the old one is dropped,
    // as another device may sit there now.
    void setCPath();
    const std::string& model() const { return model_; }
    void setModel(const std::string& m) { model_ = m; }
    const std::string& serial() const { return serial_; }
    void setSerial(const std::string& s) { serial_ = s; }
    const std::string& revision() const { return revision_; }
    void setRevision(const std::string& r) { revision_ = r; }
    std::uint64_t sizeInBytes() const { return sizeInBytes_; }
    std::uint64_t sizeInSect() const { return sizeInSect_; }
    void setSizeInSect(std::uint64_t s) { sizeInSect_ = s; }
    std::uint32_t u32BytesInSector() const { return u32BytesInSector_; }
    void setU32BytesInSector(std::uint32_t b) { u32BytesInSector_ = b; }
    std::uint32_t blockSize() const { return blockSize_; }
    void setBlockSize(std::uint32_t b) { blockSize_ = b; }
    std::uint64_t HPlusVolStart() const { return HPlusVolStart_; }
    void setHPlusVolStart(std::uint64_t s) { HPlusVolStart_ = s; }
    bool abortVolumeScan() const { return abortVolumeScan_.load(std::memory_order_relaxed); }
    void setAbortVolumeScan(bool v) { abortVolumeScan_.store(v, std::memory_order_relaxed); }

    // Working state of the partition readers, the lost-volume search and the
    // HFS+ volume examined last.
    platform::Array volumePMArray;
    // Partitions of other kinds the table held, which are not listed.
    std::uint32_t otherPartitionsPassedOver = 0;
    platform::Array volumeScanArray;
    MasterDirectoryBlock mdb{};
    VolumeInformationBlock vib{};
    std::vector<Extent> catalogExt;
    std::vector<Extent> extentsExt;
    std::int32_t extNodeSize = 0;
    std::int32_t catNodeSize = 0;
    std::uint32_t extRootNode = 0;
    std::uint32_t catRootNode = 0;
    std::uint32_t firstLeafNode = 0;
    platform::Array volFoundAtSectorArray;
    // Filled by a worker while timerFireMethodCanRun is off.
    platform::Dict dataUpdate;

protected:
    // Called once, on the reading thread, when the medium has gone, after
    // the user was told.
    virtual void mediumStoppedAnswering() {}

    std::string path_;
    std::string cPath_;
    std::string model_, serial_, revision_;
    std::uint64_t sizeInBytes_ = 0;
    std::uint64_t sizeInSect_ = 0;
    std::uint32_t u32BytesInSector_ = 0;
    std::uint32_t blockSize_ = 0;
    std::uint64_t HPlusVolStart_ = 0;
    std::atomic<bool> abortVolumeScan_{false};
    std::atomic<bool> timerFireMethodCanRun_{false};
    // Where the scan had come when its disk was judged to answer no more.
    SweepProgress sweepProgress_;

private:
    using Asker = MediumDevice::Asker;
    static Asker askerOf(RangeReader reader) {
        if (reader == RangeReader::Carving) return Asker::SizeCalculator;
        return reader == RangeReader::Save ? Asker::Save : Asker::Scan;
    }
    // --- the device under the reader (MediumDevice) ---
    // One request, as the reader asks it: through the page cache (a scan's
    // small sequential reads served from a read-ahead window), past it, or
    // to the medium itself. It tells the failure policy where each answer
    // came from, and the user when the medium has gone.
    Outcome readSectors(Asker asker, std::uint64_t sector, std::int32_t count, std::uint8_t* buffer, Way way) override;
    bool readsPastTheCache() override;
    bool readsPastEveryCache() override;
    bool unseenBelow() override;
    void letCachesGo(const std::vector<std::uint64_t>& sectors) override;
    Runs readFromTheCache(std::uint64_t sector, std::uint64_t count, std::uint8_t* buffer) override;
    bool opens() override { return device() != nullptr; }
    void tellStopped(Asker asker) override;
    std::uint32_t sectorBytes() const override { return u32BytesInSector_; }
    const std::string& name() const override { return cPath_; }
    // True when the device is still in the drive or volume list as last built.
    bool devicePresent() const;

    struct Device;
    // One read-only descriptor shared by the readers (pread keeps no file
    // position) and a read-ahead window for the scan reader's sequential
    // batches. A failed read drops the descriptor; the next read reopens.
    std::shared_ptr<Device> device();
    void dropDevice(const std::shared_ptr<Device>& failed);
    // The device's descriptor past the page cache, opened at its first use;
    // -1 where the device or its file system refuses one.
    int uncachedDescriptor(Device& dev);
    // Where a read past every cache goes (see Device), opened at its first
    // use; -1 where there is no such way.
    int pastEveryCacheDescriptor(Device& dev);
    // Whether the page cache holds all of `length` bytes at `offset` of what
    // `fd` is open on, then read into `buffer` without asking the medium
    // (see readCachedSectors); the same of the descriptor `asking` names,
    // asked as it says, errno telling why not when it does not (EAGAIN: some
    // page is not held).
    bool cachedBytes(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) const;
    bool cachedBytes(const platform::CacheAsking& asking, std::uint8_t* buffer, std::size_t length,
                     std::uint64_t offset) const;
    // Up to `length` bytes at `offset`, retrying interrupted reads: the bytes
    // read (fewer only at the end of the medium), and whether a read then
    // failed (errno set), as one that stops short before `deviceBytes` does.
    // What each read brings is told to the failure policy as coming from
    // `source`.
    struct Got {
        std::size_t bytes = 0;
        bool failed = false;
    };
    Got readFully(Device& dev, int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset,
                  ReadFailurePolicy::Source source, std::uint64_t deviceBytes = 0);
    // An answer of `length` bytes at `offset` told to the failure policy as
    // coming from `source`, but what lies in holes of a file the way past
    // every cache passes through, which comes from no disk.
    void noteAnswer(Device& dev, std::uint64_t offset, std::uint64_t length, ReadFailurePolicy::Source source);
    // `length` bytes at the device's `offset`, read past every cache; failed
    // with EINVAL where the way refuses the request however aligned, or has
    // no place for it (a hole of a file the way passes through).
    Got readPastEveryCache(Device& dev, std::uint8_t* buffer, std::size_t length, std::uint64_t offset);
    // Where the device's `offset` lies at the bottom of its way past every
    // cache, and how many of `length` bytes from there lie there in one run;
    // nothing where no place holds it.
    std::optional<std::pair<std::uint64_t, std::size_t>> bottomOf(const Device& dev, std::uint64_t offset,
                                                                  std::size_t length) const;
    // `length` bytes at `at` of the bottom, open as `fd` with O_DIRECT.
    Got readAtTheBottom(Device& dev, int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t at);
    // The extents of the file open as `fd` that hold its bytes as they lie
    // on its file system's device, in order; nothing where the file system
    // will not tell.
    struct FileExtent {
        std::uint64_t logical = 0, length = 0, physical = 0;
    };
    static std::optional<std::vector<FileExtent>> extentsOf(int fd);
    // Whether a read-ahead window from this offset is paused, and pausing
    // every window that would reach the range from `offset` on after a failed
    // window read there.
    bool readAheadPausedAt(std::uint64_t offset);
    void pauseReadAheadFrom(std::uint64_t offset);
    // Lets every cache below the device go of what it holds, where none of
    // its pages waits to be written (see SysfsBlockDevice::cachesBelow).
    static void letCachesBelowGo(const Device& dev);
    // The reader's own word that the medium has gone: the scans' alert and
    // quit (once), or the preview's or the save's alert.
    void tellGone(Asker asker);
    void markGone();
    // Whether the device still returns bytes at its first sector: one that
    // returns none has gone (a detached loop device reads as empty).
    bool returnsSectorZero(const std::shared_ptr<Device>& dev);
    std::mutex deviceMutex_;
    std::shared_ptr<Device> device_;
    // Outlives a dropped descriptor: a failed window read drops none, but a
    // failed read of a bad sector near it does.
    std::uint64_t readAheadPausedFrom_ = 0;
    std::uint64_t readAheadPausedUntil_ = 0;
    RawRead rawRead_;
    RawRead cachedRead_;
    RawRead pastEveryCacheRead_;
    // A descriptor of the medium kept from its first open on: the kernel
    // drops a block device's page cache when the last descriptor of it is
    // closed, as a failed read closes the readers' own, and what the readers
    // read is then lost to a save that finds the disk gone. Closed with the
    // path, or when the medium is no longer known to be the one.
    int cacheKeeper_ = -1;
    // How the page cache of cacheKeeper_ is asked (see readFromTheCache).
    platform::CacheAsking keeperAsking_;
    std::atomic<bool> mediumGone_{false};
    std::atomic<std::uint64_t> failedReads_{0};
    // A read has failed since the caches below the device were last let go
    // of (see readSectors).
    std::atomic<bool> cachesBelowFailed_{false};
    std::atomic<bool> mediumUnconfirmed_{false};
    // Some read of a scan's reader has succeeded: a device that can no
    // longer be opened after that has gone with its disk.
    std::atomic<bool> answered_{false};
    ReadFailurePolicy policy_;
    MediumReader reader_{*this, policy_};
};
