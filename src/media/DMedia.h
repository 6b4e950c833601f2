#pragma once

// One drive, or a device node opened like one: its identity, size and sector
// size, the working state of the partition readers and the lost-volume
// search, a progress dictionary with its hand-over flag, and the raw sector
// readers every scan, preview and save goes through. The medium is only ever
// opened read-only.

#include "formats/Extent.h"
#include "formats/HFSPlusStructures.h"
#include "media/ReadFailurePolicy.h"
#include "media/UnreadableSectors.h"
#include "platform/Archivable.h"
#include "platform/Value.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

class HeldSectors;

class DMedia : public platform::Archivable {
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
    // Sector numbers are 64-bit; the count is a signed 32-bit number of
    // sectors of the medium's own size, and the buffer holds at least
    // count x bytes-per-sector bytes. A read that reaches past the end of the
    // medium succeeds with the unread tail of the buffer zero-filled.
    // readSector serves the scans: when the device has gone it tells the
    // user and quits the program. A read that fails on a device still there
    // is read again as the range reader reads it, so that its unreadable
    // sectors are counted and a bad stretch is passed over; it still answers
    // false unless every sector came in.
    bool readSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // The partition readers' reader of the records they need (a table's
    // sectors, a volume's header, a catalog node): readSector, except that a
    // read that fails is read again sector by sector past the page cache
    // where the device allows it, each sector once, and no bad stretch is
    // walked, as these readers need their own few sectors and nothing beyond
    // them. A sector that fails is counted as unreadable, reads as zeros and
    // is not asked for again; one that a walk only stepped over is asked for.
    // False unless every sector came in.
    bool readRecordSectors(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // The preview's and the save's readers: a vanished device closes the
    // preview and ends only that preview or save. Bytes the medium does not
    // return (a short read, as past the end of a cut image) are no data:
    // the read fails, the buffer's tail zeroed.
    bool readPreviewSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    bool readSaveSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // The size calculators' reader. It tells the user nothing itself (the
    // carving run reports a failure once): Gone when the device cannot be
    // opened or has left the drive lists, Failed when only this read failed.
    // `pastTheCache`: past the page cache where the device allows it, as the
    // checks of a medium's identity read its sectors one by one, so that one
    // bad sector does not fail the good ones of its page with it.
    enum class CarvingRead { Read, Failed, Gone };
    CarvingRead readCarvingSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer,
                                  bool pastTheCache = false);
    // A sweep's batch through the scan reader. A dying disk fails a whole
    // request for one bad sector, so a batch that cannot be read is read
    // again in groups of `groupSectors`, and a group that fails sector by
    // sector up to its first bad sector, from which the bad stretch is walked
    // as ReadFailurePolicy says: only the stretch reads as zeros, and the
    // rest of the batch is used. Like every reader of a scan it reads round
    // every sector known to be unreadable, also those a walk only stepped
    // over, which the walk came back over instead (see
    // ReadFailurePolicy::walk). Answers how many sectors could not be read
    // (all of them when the device cannot be opened or has gone).
    std::uint64_t readSweepSectors(std::uint64_t sector, std::int32_t count, std::uint32_t groupSectors,
                                   std::uint8_t* buffer);
    // What every reader of a range goes through (the searches' batches, the
    // size calculators' windows, the recognisers' cursors, the directory
    // reads, the save): readSweepSectors in groups of kRetryGroupSectors,
    // single sectors (and those sharing a memory page with a bad one) read
    // past the page cache where the device allows it, as the cache fails a
    // whole page for one bad sector; a sector counts as failed only once
    // asked for past the cache. Unreadable sectors are remembered: later
    // ranges that hold sectors that failed read around them and never ask
    // the device for them again, as a dying disk spends seconds on each
    // failed read. The scans' readers read round those a walk only stepped
    // over too (see ReadFailurePolicy::asksInside); the save asks for them,
    // first alone, as it needs those places, and then inside what it still
    // lacks of them, so that a readable run of 64 sectors or more there is
    // read, until some asks in a row fail in one bad stretch (see
    // scrapeSkipped).
    // Nothing (the buffer zeroed) when the request is out of range or the
    // medium has gone (see mediumGone), else how many of its sectors could
    // not be read. The carving reader shows no alert of its own. The save's
    // reader belongs to no scan: a device that has gone (left the drive
    // lists, cannot be opened, answers ENODEV or ENXIO, or returns nothing
    // at its first sector) gives the save's own alert, as readSaveSector
    // does, and nothing; the program goes on. So does a medium that has
    // stopped answering (see ReadFailurePolicy::stillAnswers). What a save
    // asks for past the medium's end is unreadable too: never data.
    enum class RangeReader { Scan, Carving, Save, Sweep };
    static constexpr std::uint32_t kRetryGroupSectors = 63;
    std::optional<std::uint64_t> readSectorRange(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                                 RangeReader reader = RangeReader::Scan);
    // A search that holds sectors in memory lends them, for as long as it
    // runs, to the readers of the files it examines (nullptr: none). Only
    // the search's own thread reads through them.
    void setHeldSectors(HeldSectors* held) { held_ = held; }
    // A save tells the readers where it still has to read, for as long as it
    // runs (nullptr: nowhere): before the save's reader gives up a medium
    // that answers nowhere else, it asks there (see
    // ReadFailurePolicy::stillAnswers).
    void setStillToRead(ReadFailurePolicy::StillToRead stillToRead) { policy_.setStillToRead(std::move(stillToRead)); }
    // readSectorRange, with what the search holds taken from memory and only
    // the rest read: the same bytes, and its unreadable sectors (zeros
    // there) counted as the range reader counts those it knows.
    std::optional<std::uint64_t> readExaminedRange(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                                   RangeReader reader = RangeReader::Scan);
    // The sectors whose bytes the readers could not give since the scan
    // began, in all and from `first` on: those that failed and those a walk
    // stepped over that no read has got since.
    std::uint64_t unreadableSectorCount() const { return unreadable_.count(); }
    std::uint64_t unreadableSectorsIn(std::uint64_t first, std::uint64_t count) const {
        return unreadable_.countIn(first, count);
    }
    void forgetUnreadableSectors() {
        unreadable_.clear();
        unansweredFrom_.store(UINT64_MAX, std::memory_order_release);
        std::lock_guard lock(scrapeMutex_);
        scrapeStops_.clear();
        scrapeRow_ = {};
    }
    // Sectors [first, end) that a reader knows the medium cannot give
    // without asking it: those past its end where a volume's own structures
    // say more of the volume lies. They count as unreadable from then on.
    void noteUnreadableSectors(std::uint64_t first, std::uint64_t end) {
        if (first < end) unreadable_.addFailed(first, end);
    }
    // The medium has gone during a scan: it failed with ENODEV or ENXIO,
    // left the drive lists, or could no longer be opened after it had been
    // read. The user was told once ("no longer available") and every later
    // read of the scan's readers fails at once. Failed reads of a medium that
    // is still there never make it gone: they only cost their sectors (see
    // ReadFailurePolicy).
    bool mediumGone() const { return mediumGone_.load(std::memory_order_acquire); }

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
    using RawRead = std::function<std::int64_t(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset)>;
    void setRawRead(RawRead read, RawRead cachedRead = {}) {
        rawRead_ = std::move(read);
        cachedRead_ = std::move(cachedRead);
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
    // CarvingRange: the size calculators' range reads, which, unlike the
    // carving reader's single reads (made of other media too), belong to the
    // scan and may find that its medium has gone.
    // SaveRange: the save's range reads.
    // Sweep: a scan's reads of a whole area in order, which need no sector in
    // particular.
    enum class Reader { Scan, Sweep, Preview, Save, SaveRange, Carving, CarvingRange };
    static bool scans(Reader reader) {
        return reader == Reader::Scan || reader == Reader::Sweep || reader == Reader::CarvingRange;
    }
    bool readWith(Reader reader, std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // Failed: the device answered with an error, and parts of the request may
    // still be readable. Hopeless: asking again cannot help (the request was
    // refused, or the device could not be opened or has gone).
    enum class ReadResult { Read, Failed, Hopeless };
    // `uncached`: past the page cache where the device allows it.
    ReadResult readFromDevice(Reader reader, std::uint64_t sector, std::int32_t size, std::uint8_t* buffer,
                              bool uncached = false);
    // True when the device is still in the drive or volume list as last built.
    bool devicePresent() const;
    // Called once, on the reading thread, when the medium has stopped
    // answering, after the user was told.
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

private:
    struct Device;
    // One read-only descriptor shared by the readers (pread keeps no file
    // position) and a read-ahead window for the scan reader's sequential
    // batches. A failed read drops the descriptor; the next read reopens.
    std::shared_ptr<Device> device();
    void dropDevice(const std::shared_ptr<Device>& failed);
    // The device's descriptor past the page cache, opened at its first use;
    // -1 where the device or its file system refuses one.
    int uncachedDescriptor(Device& dev);
    // Whether reads past the page cache can be made at all.
    bool pastTheCacheOpens();
    // Whether the page cache holds all of `length` bytes at `offset` of what
    // `fd` is open on, then read into `buffer` without asking the medium
    // (see readCachedSectors).
    bool cachedBytes(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) const;
    // Up to `length` bytes at `offset`, retrying interrupted and partial
    // reads: the bytes read (fewer only at the end of the medium) or -1.
    // What it reads is noted in the failure policy's map of read regions.
    std::int64_t readFully(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset);
    // Whether a read-ahead window from this offset is paused, and pausing
    // every window that would reach the range from `offset` on after a failed
    // window read there.
    bool readAheadPausedAt(std::uint64_t offset);
    void pauseReadAheadFrom(std::uint64_t offset);
    // The range readers' steps. readRange reads around the sectors known to
    // have failed, and a scan's readers around those stepped over too
    // (`wholeFailed`: the request itself has just failed whole).
    // readFreshSectors reads sectors none of which is known to have failed,
    // whole, else in groups, else sector by sector past the page cache up to
    // the first that fails, whose stretch it walks: how many it lost and
    // where reading goes on (nothing when the medium is gone or cannot be
    // opened).
    struct Progress {
        std::uint64_t lost = 0;
        std::uint64_t next = 0;
    };
    std::optional<std::uint64_t> readRange(Reader reader, std::uint64_t sector, std::int32_t count,
                                           std::uint32_t groupSectors, std::uint8_t* buffer, bool wholeFailed = false);
    std::optional<Progress> readFreshSectors(Reader reader, std::uint64_t sector, std::int32_t count,
                                             std::uint32_t groupSectors, std::uint8_t* buffer, bool wholeFailed,
                                             ReadFailurePolicy::NeededRange* needed = nullptr);
    // The stretch from `failed` on (a sector of the request from `sector` up
    // to `end` read into `buffer`) passed over: its sectors zeros, how many
    // and where reading goes on.
    // `judge`: a save's walk that may tell whether the disk still answers
    // (see ReadFailurePolicy::stillAnswers). `needed`: the save's read of a
    // file, whose walks ask into what other walks only stepped over in it;
    // the stretch walked joins what it has asked into.
    std::optional<Progress> passStretch(Reader reader, std::uint64_t failed, std::uint64_t sector, std::uint64_t end,
                                        std::uint8_t* buffer, bool judge = true,
                                        ReadFailurePolicy::NeededRange* needed = nullptr);
    // The stretch from `failed` on; `endRead` when the bytes of the sector
    // that ends it are in `endSector` (one sector).
    std::optional<ReadFailurePolicy::Stretch> walkStretch(Reader reader, std::uint64_t failed, std::uint8_t* endSector,
                                                          bool& endRead, bool judge,
                                                          const ReadFailurePolicy::NeededRange* needed);
    // One sector at `sector` past the page cache into `into`, as the failure
    // policy's probes ask.
    ReadFailurePolicy::Probe probeSector(Reader reader, std::uint64_t sector, std::uint8_t* into);
    // A save's judgement after `stretch` (see ReadFailurePolicy::stillAnswers):
    // false, the user told, when the medium no longer answers.
    bool saveStillAnswers(const ReadFailurePolicy::Stretch& stretch, std::uint64_t liveBefore);
    // A save's read of [sector, end) into `buffer`, once readRange has read
    // what it could: inside each run of it that walks only stepped over, it
    // asks every 64th sector of the medium, so a readable run of 64 sectors
    // or more there answers once asked, and reads each run that answered to
    // its edges, found in halving steps between an answer and a failure (see
    // readRange). In one bad stretch, once some of its asks in a row have
    // failed, nothing in it answering since, it asks there no more, in this
    // read or a later one, as a walk stops: a file wholly in a bad area
    // costs a few asks, not one for each 64 sectors of it. How many sectors
    // it read, or nothing when the medium has gone or stopped answering.
    std::optional<std::uint64_t> scrapeSkipped(std::uint64_t sector, std::uint64_t end, std::uint8_t* buffer);
    // readSector's way for a read that failed whole (`failedWhole`) or holds
    // sectors known to be unreadable: through the range reader.
    bool readSectorAgain(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer, bool failedWhole);
    // The reader's own word that the medium has gone: the scans' alert and
    // quit (once), or the preview's or the save's alert.
    void tellGone(Reader reader);
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
    // A descriptor of the medium kept from its first open on: the kernel
    // drops a block device's page cache when the last descriptor of it is
    // closed, as a failed read closes the readers' own, and what the readers
    // read is then lost to a save that finds the disk gone. Closed with the
    // path, or when the medium is no longer known to be the one.
    int cacheKeeper_ = -1;
    UnreadableSectors unreadable_;
    // The first sector of the walks that ran to the medium's end with nothing
    // answering: a dying disk or a bad end, which a save does not scrape.
    std::atomic<std::uint64_t> unansweredFrom_{UINT64_MAX};
    // Where the save's scrape stopped asking inside a bad stretch, and the
    // last of its asks that failed, with how many failed in a row in that
    // stretch (see scrapeSkipped).
    struct ScrapeRow {
        std::uint64_t last = 0;
        std::uint32_t failed = 0;
    };
    std::mutex scrapeMutex_;
    std::set<std::uint64_t> scrapeStops_;
    ScrapeRow scrapeRow_;
    HeldSectors* held_ = nullptr;
    std::atomic<bool> mediumGone_{false};
    std::atomic<bool> mediumUnconfirmed_{false};
    // Some read of a scan's reader has succeeded: a device that can no
    // longer be opened after that has gone with its disk.
    std::atomic<bool> answered_{false};
    ReadFailurePolicy policy_;
};
