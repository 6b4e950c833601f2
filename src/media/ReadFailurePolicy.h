#pragma once

// What a failing medium may cost and when it counts as gone, for every
// reader of a range (the scans' and the save's alike).
//
// A dying disk spends seconds on each failed read, so a bad stretch is never
// read sector by sector: from its first failing sector the readers skip
// ahead with a step that doubles at each failure, and once a sector answers
// they step back in halving steps to where the stretch ends. The sectors
// between are taken as unreadable without being asked for: a stretch costs
// the logarithm of its length, one bad sector only itself, and a disk that
// dies part-way a few dozen reads to reach its end.
//
// A medium is gone when the device says so (ENODEV, ENXIO) or has left the
// drive lists; failed reads alone never make a scan give up a medium that
// is still there. Only a save asks more: a run that fails up to the medium's
// end is either a bad end of a live disk or a disk that has stopped, and
// sectors far from any read (which no cache can answer for) tell which.

#include "media/UnreadableSectors.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

class ReadFailurePolicy {
public:
    // What the device said to one probe of a single sector.
    enum class Probe { Answered, Failed, Gone };
    using ProbeSector = std::function<Probe(std::uint64_t sector)>;

    static bool errorMeansGone(int error);

    // The medium's extent, from the device's own size, taken once.
    void layOut(std::uint64_t mediumBytes, std::uint32_t sectorBytes);
    std::uint64_t endSector() const { return endSector_.load(std::memory_order_acquire); }

    // The stretch that begins with `failed`, which has just failed: its
    // end (the first sector after it that answers, or the medium's end), and
    // whether a sector after it answered at all. Sectors known to be
    // unreadable are passed over without being asked for, and every sector
    // of the stretch is added to `known`. Nothing when a probe found the
    // medium gone.
    struct Stretch {
        std::uint64_t end = 0;
        bool answeredAfter = false;
    };
    std::optional<Stretch> walk(std::uint64_t failed, UnreadableSectors& known, const ProbeSector& probe) const;

    // A save's judgement after each stretch it walked: whether the medium
    // still answers. A stretch that ran to the medium's end with nothing
    // answering after it, or the third in a row with no read answering far
    // from every read before it (where a cache cannot answer), makes it ask
    // at a few such places. Answered there: it lives. Failed there: it has
    // stopped. No such place left: after a stretch to its end nothing of the
    // medium but what was read before answers, so it has stopped; otherwise
    // nothing tells, and a live disk is not given up. `freshBefore` is
    // freshAnswers() as the walk began; sectors that fail here join `known`.
    bool stillAnswers(const Stretch& stretch, std::uint64_t freshBefore, UnreadableSectors& known,
                      const ProbeSector& probe);

    // What a read brought in: a cache below the device (the page cache of a
    // loop device's file) answers for those sectors, and for what its own
    // read-ahead took in next to them, however long after.
    void noteRead(std::uint64_t offset, std::uint64_t length);
    // Reads so far that answered far from every read before them.
    std::uint64_t freshAnswers() const { return freshAnswers_.load(std::memory_order_acquire); }

private:
    // Whether a sector answers far from every read, away from sectors known
    // to be unreadable; nothing when no such place is left.
    std::optional<bool> answersElsewhere(UnreadableSectors& known, const ProbeSector& probe);

    std::atomic<std::uint64_t> endSector_{0};
    std::atomic<std::uint32_t> sectorBytes_{0};
    // The sectors reads have reached, each widened by the reach of a cache's
    // read-ahead (margin_), as runs of first sector to the sector after;
    // runs that come closer than `joinGap_` become one, which grows when
    // the runs grow too many, so the map stays small on any medium.
    std::mutex touchedMutex_;
    std::map<std::uint64_t, std::uint64_t> touched_;
    std::uint64_t margin_ = 0;
    std::uint64_t joinGap_ = 0;
    std::atomic<std::uint64_t> freshAnswers_{0};
    // The save's count of stretches walked since a read last answered far
    // from the reads before it, and that count of answers then.
    std::mutex judging_;
    std::uint32_t walksUnanswered_ = 0;
    std::uint64_t freshAtLastWalk_ = 0;
};
