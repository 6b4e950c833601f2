#pragma once

// One drive, or a device node opened like one: its identity, size and sector
// size, the working state of the partition readers and the lost-volume
// search, a progress dictionary with its hand-over flag, and the raw sector
// readers every scan, preview and save goes through. The medium is only ever
// opened read-only.

#include "formats/Extent.h"
#include "formats/HFSPlusStructures.h"
#include "platform/Archivable.h"
#include "platform/Value.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
    // user and quits the program.
    bool readSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // The preview's and the save's readers: a vanished device closes the
    // preview and ends only that preview or save.
    bool readPreviewSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    bool readSaveSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // The size calculators' reader. It tells the user nothing itself (the
    // carving run reports a failure once): Gone when the device cannot be
    // opened or has left the drive lists, Failed when only this read failed.
    enum class CarvingRead { Read, Failed, Gone };
    CarvingRead readCarvingSector(std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // A sweep's batch through the scan reader. A dying disk fails a whole
    // request for one bad sector, so a batch that cannot be read is read
    // again in groups of `groupSectors`, and a group that fails sector by
    // sector: only the sectors that fail by themselves read as zeros, and the
    // rest of the batch is used. Answers how many sectors could not be read
    // (all of them when the device cannot be opened or has gone).
    std::uint64_t readSweepSectors(std::uint64_t sector, std::int32_t count, std::uint32_t groupSectors,
                                   std::uint8_t* buffer);

    // The one call through which every byte of the medium is read, as
    // pread(2) on the open descriptor: the bytes read, or -1 with errno set.
    // Tests put a reader of their own in between to make chosen sectors fail;
    // set it before the first read.
    using RawRead = std::function<std::int64_t(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset)>;
    void setRawRead(RawRead read) { rawRead_ = std::move(read); }

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
    virtual void setCPath() { cPath_ = path_; }
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
    enum class Reader { Scan, Preview, Save, Carving };
    bool readWith(Reader reader, std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // Failed: the device answered with an error, and parts of the request may
    // still be readable. Hopeless: asking again cannot help (the request was
    // refused, or the device could not be opened or has gone).
    enum class ReadResult { Read, Failed, Hopeless };
    ReadResult readFromDevice(Reader reader, std::uint64_t sector, std::int32_t size, std::uint8_t* buffer);
    // True when the device is still in the drive or volume list as last built.
    bool devicePresent() const;

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
    // Up to `length` bytes at `offset`, retrying interrupted and partial
    // reads: the bytes read (fewer only at the end of the medium) or -1.
    std::int64_t readFully(int fd, std::uint8_t* buffer, std::size_t length, std::uint64_t offset) const;
    // Whether a read-ahead window from this offset is paused, and pausing
    // every window that would reach the range from `offset` on after a failed
    // window read there.
    bool readAheadPausedAt(std::uint64_t offset);
    void pauseReadAheadFrom(std::uint64_t offset);
    std::mutex deviceMutex_;
    std::shared_ptr<Device> device_;
    // Outlives a dropped descriptor: a failed window read drops none, but a
    // failed read of a bad sector near it does.
    std::uint64_t readAheadPausedFrom_ = 0;
    std::uint64_t readAheadPausedUntil_ = 0;
    RawRead rawRead_;
};
