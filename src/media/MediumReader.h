#pragma once

// The one reader every read of a medium goes through: the sweeps, the size
// calculators' windows, the recognisers' cursors, the directory, catalog and
// record reads, the maps of used blocks, the preview and the save. A reader
// says what it needs (a range, records, or all of a request or nothing) and
// who asks (a scan, a preview or a save); how each place is read it asks the
// one map of the medium (MediumMap, kept by ReadFailurePolicy):
//   - where nothing is known, through the page cache, in one request;
//   - the sectors of a page that failed through the cache, or holds an
//     unreadable sector, past the cache, each alone, and that page never
//     through the cache again: the cache fails a page whole for one bad
//     sector in it, and answers up to the page that fails, so a failure
//     through it tells where the first bad sector is looked for;
//   - a sector that failed past the cache, never again: it reads as zeros
//     and counts as lost;
//   - from a sector that fails past the cache, the bad stretch is walked as
//     the policy says, not read;
//   - a scan reads nothing inside a failed or stepped-over run, but the
//     few come-back asks the policy places in its own walks;
//   - a save reads in two passes, as a disk-rescue tool copies before it
//     scrapes: its first reads what answers and walks the bad stretches,
//     asking nothing inside a stepped-over run; its second scrapes the
//     stepped-over runs of its files (see scrapeRange), and a run the scrape
//     gave up on not again in that save;
//   - every walk, and every row of a save's scrape asks that fail, is
//     followed by the one verdict on whether the disk still answers (see
//     ReadFailurePolicy::judge); from a disk judged to have stopped, every
//     reader takes only what the page cache holds, page by page, and walks
//     nothing: a scan goes on so to its end, a save ends its reads of the
//     medium and takes from the cache the files it holds whole. A save or
//     a scan that begins asks again (see beginSave, beginScan).

#include "media/MediumDevice.h"
#include "media/ReadFailurePolicy.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class HeldSectors;

class MediumReader {
public:
    using Asker = MediumDevice::Asker;
    MediumReader(MediumDevice& device, ReadFailurePolicy& policy) : device_(device), policy_(policy) {}
    MediumReader(const MediumReader&) = delete;
    MediumReader& operator=(const MediumReader&) = delete;

    // A range of `count` sectors (a scan's or a size calculator's, or a
    // save's first pass): every sector that can be got, those lost as zeros,
    // counted. How many were lost, or nothing (the buffer zeroed) when the
    // request is out of range or the medium has gone or, to a save, stopped
    // answering. What a save asks for past the medium's end is lost, never
    // data.
    std::optional<std::uint64_t> readRange(Asker asker, std::uint64_t sector, std::int32_t count, std::uint8_t* buffer);
    // A save's second pass over `count` sectors from `sector`, none of them
    // read before: the stepped-over runs in them scraped, each run of sectors
    // that answers handed to `take` as it is read (its first sector, its
    // sector count and its bytes), a piece at a time, and any other sector
    // of them not known to be unreadable by now (read since) read as the
    // first pass reads it, and handed over so. `asked` is told each place
    // asked. False when the request is out of range or the medium has gone
    // or stopped answering. Once `stop` answers true no more asks are made.
    using Runs = MediumDevice::Runs;
    using Take = std::function<void(std::uint64_t first, std::uint64_t count, const std::uint8_t* bytes)>;
    using Asked = std::function<void(std::uint64_t at)>;
    using Stop = std::function<bool()>;
    bool scrapeRange(std::uint64_t sector, std::uint64_t count, const Take& take, const Asked& asked, const Stop& stop);
    // readRange, with what a search holds in memory taken from there and only
    // the rest read: the same bytes, and the unreadable sectors of what it
    // holds counted as the map knows them.
    std::optional<std::uint64_t> readExamined(Asker asker, std::uint64_t sector, std::int32_t count,
                                              std::uint8_t* buffer);
    // A search lends the sectors it holds, for as long as it runs (nullptr:
    // none). Only the search's own thread reads through them.
    void setHeldSectors(HeldSectors* held) { held_ = held; }
    // A scan's records (a partition table's sectors, a volume's header): each
    // sector asked for once, through the cache with the others where nothing
    // is known, else alone past it; no stretch walked beyond them, as these
    // readers need their own few sectors. False unless every sector came in.
    bool readRecords(std::uint64_t sector, std::int32_t count, std::uint8_t* buffer);
    // All of a request or nothing (a preview, a save's single read, a check
    // of a medium's identity), `pastTheCache` where the device allows it:
    // nothing known to fail is asked for, and a page that failed through the
    // cache is read past it. What the device answered.
    MediumDevice::Answer readWhole(Asker asker, std::uint64_t sector, std::int32_t count, std::uint8_t* buffer,
                                   bool pastTheCache);
    // A save, or a scan, begins: on a disk judged to have stopped it asks
    // again whether the disk answers, as it may have come back, and tells
    // the user when it does not.
    void beginSave();
    void beginScan();
    // The save has ended: its row of failed asks with it.
    void endSave();
    // The save begins to read another file.
    void beginFile();

private:
    // A range being read: who asks, its first sector and buffer.
    struct Request {
        Asker asker;
        std::uint64_t sector;
        std::uint8_t* buffer;
        std::uint64_t bps;
        std::uint8_t* at(std::uint64_t s) const { return buffer + (s - sector) * bps; }
        void zero(std::uint64_t from, std::uint64_t to) const;
    };
    // How many sectors of a piece were lost, and where reading goes on.
    struct Progress {
        std::uint64_t lost = 0;
        std::uint64_t next = 0;
    };
    // The next piece from `at` up to `to`, read as the map says; nothing when
    // the medium has gone.
    std::optional<Progress> readOn(const Request& r, std::uint64_t at, std::uint64_t to);
    // Sectors [at, to), none of them known, through the cache; a failure goes
    // on past the cache from where the cache stopped.
    std::optional<Progress> readThroughTheCache(const Request& r, std::uint64_t at, std::uint64_t to);
    // Sectors [at, to), none of them known, past the cache each alone, up to
    // the first that fails, whose stretch is walked; `failedThroughTheCache`:
    // a read of them through the cache has just failed, and the page of that
    // sector is the one that failed there.
    std::optional<Progress> readPastTheCache(const Request& r, std::uint64_t at, std::uint64_t to,
                                             bool failedThroughTheCache = false);
    // The stretch from `failed`, which has just failed past the cache, passed
    // over up to `to` at the most: its sectors zeros, how many, and where
    // reading goes on.
    std::optional<Progress> passStretch(const Request& r, std::uint64_t failed, std::uint64_t to);
    // The policy's walk from `failed`; `endSector` holds the bytes of its last
    // answer, which are those of the stretch's end when `endRead`. Every
    // walk is followed by the verdict: nothing when the medium has gone or,
    // to a save, stopped answering.
    std::optional<ReadFailurePolicy::Stretch> walkStretch(Asker asker, std::uint64_t failed, std::uint8_t* endSector,
                                                          bool& endRead);
    // One sector into `into`, as the policy's probes ask.
    ReadFailurePolicy::Probe probe(Asker asker, std::uint64_t sector, std::uint8_t* into, MediumDevice::Way way);
    // How a judgement of the verdict asks the medium, for `asker`.
    ReadFailurePolicy::Asking asking(Asker asker);
    // The verdict found the disk stopped: the user told, once a save or a
    // scan.
    void tellStopped(Asker asker);
    // Sectors [at, end) of the request from the page cache alone: how many
    // of them it did not hold (zeros, stepped over in the map).
    std::uint64_t readFromTheCache(const Request& r, std::uint64_t at, std::uint64_t end);
    // The save's scrape of what [sector, end) holds of stepped-over runs,
    // as scrapeRange asks it: false when the medium has gone or stopped
    // answering.
    bool scrape(std::uint64_t sector, std::uint64_t end, const Take& take, const Asked& asked, const Stop& stop);
    // A scrape ask at `at` has failed, or one has answered: every
    // kScrapeFailuresJudged-th in a row of the save is followed by the
    // verdict. False, the user told, when the medium no longer answers.
    bool scrapeAskFailed(std::uint64_t at, std::uint64_t liveBefore);
    void scrapeAskAnswered();

    MediumDevice& device_;
    ReadFailurePolicy& policy_;
    HeldSectors* held_ = nullptr;
    std::mutex scrapeMutex_;
    // The scrape's asks that failed in a row, across the files of a save,
    // and across the stretches of one file.
    std::uint32_t scrapeFailedInARow_ = 0;
    std::uint32_t denseRowFailed_ = 0;
    // Whether the save, or the scan, was told the disk stopped answering.
    std::atomic<bool> toldTheSave_{false};
    std::atomic<bool> toldTheScan_{false};
    // Whether the log was told which evidence the verdict takes on this
    // medium.
    std::atomic<bool> toldTheEvidence_{false};
};
