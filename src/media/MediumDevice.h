#pragma once

// The device under a medium's reader (MediumReader): one request to it, made
// in the way the reader chooses, and what the device said. The device knows
// who asks, as that decides who tells the user that the medium has gone and
// what a short answer means; what to ask, and what an answer proves, it
// leaves to the reader and the failure policy.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

class MediumDevice {
public:
    // Who asks: a scan (its sweeps, recognisers, directory, catalog and
    // record reads, maps of used blocks); a size calculator of the carving
    // (a scan's reader without the alerts of opening); an identity check of
    // a medium (no alert at all); a preview; a save's single read; a save's
    // read of a range.
    enum class Asker { Scan, SizeCalculator, IdentityCheck, Preview, SaveSector, Save };
    static bool scans(Asker a) { return a == Asker::Scan || a == Asker::SizeCalculator; }
    static bool saves(Asker a) { return a == Asker::Preview || a == Asker::SaveSector || a == Asker::Save; }
    // How: through the page cache (a save's read takes what the cache holds
    // whole from it first); past the cache where the device allows it,
    // taking what the cache holds from it first, and past the caches below
    // the device too where a way reaches past them all; or to the medium
    // itself, past every cache where the device has a way (else as past the
    // cache), never from a cache.
    enum class Way { ThroughTheCache, PastTheCache, ToTheMedium };
    // Failed: the device answered with an error, and parts of the request may
    // still be readable. Hopeless: asking again cannot help (the request was
    // refused, or the device could not be opened or has gone). Answered from
    // the page cache, by the medium, or by the medium past every cache.
    enum class Answer { Failed, Hopeless, FromTheCache, Read, ReadPastEveryCache };
    static bool answered(Answer a) { return a >= Answer::FromTheCache; }
    struct Outcome {
        Answer answer = Answer::Failed;
        // Of a failed request: the sectors it got before the failure, as the
        // page cache answers up to the page that fails.
        std::uint64_t sectorsBefore = 0;
    };
    // `count` sectors from `sector` into `buffer`, which holds them; what
    // was not read is zeros.
    virtual Outcome readSectors(Asker asker, std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                Way way) = 0;
    // Whether reads past the page cache can be made at all, and whether the
    // medium itself can be read past every cache (a disk or an image file
    // read with O_DIRECT, a loop device by the file it serves read so).
    virtual bool readsPastTheCache() = 0;
    virtual bool readsPastEveryCache() = 0;
    // Whether that way ends on a file system the program cannot look below
    // (FUSE, NFS, overlay, btrfs: no block device under it to follow), whose
    // own O_DIRECT is all there is to go by.
    virtual bool unseenBelow() = 0;
    // Lets go of what the caches the program can let go of hold, where no
    // page of theirs waits to be written: the page cache's pages of the
    // `sectors`, and every cache below the device, whole; the next ask there
    // reaches as far down as the program can make it.
    virtual void letCachesGo(const std::vector<std::uint64_t>& sectors) = 0;
    // `count` sectors from `sector` into `buffer` as far as the page cache
    // holds them, asking the medium for nothing: the runs [first, end) it
    // does not hold, zeros in the buffer (all of it where the request
    // cannot be answered so).
    using Runs = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
    virtual Runs readFromTheCache(std::uint64_t sector, std::uint64_t count, std::uint8_t* buffer) = 0;
    // Opens the device, which lays the medium out in the failure policy:
    // false when it cannot be opened.
    virtual bool opens() = 0;
    // The medium has been judged to answer no more: a save's alert, once a
    // save; a scan's word at its end.
    virtual void tellStopped(Asker asker) = 0;
    virtual std::uint32_t sectorBytes() const = 0;
    // The path read, for the log.
    virtual const std::string& name() const = 0;

protected:
    ~MediumDevice() = default;
};
