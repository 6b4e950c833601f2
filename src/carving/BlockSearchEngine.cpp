#include "carving/BlockSearchEngine.h"

#include "media/HeldSectors.h"
#include "media/ReadAheadWindows.h"
#include "platform/AlignedBuffer.h"
#include "platform/AppController.h"
#include "platform/CheckedMath.h"
#include "platform/SystemLog.h"
#include "volume/BTreeTableClassUInt32.h"
#include "volume/Volume.h"

#include <algorithm>
#include <chrono>
#include <memory>

using platform::Dict;

namespace {

// The furthest byte a signature key reads: offset 1024, eight bytes.
constexpr std::uint64_t kKeyReach = 1024 + 8;
// A batch (with the bytes its keys read after it) up to this long is read
// ahead; a longer one, of a volume with huge blocks, is read by itself when
// its turn comes.
constexpr std::uint64_t kLongestReadAheadBatch = 4u << 20;
// Windows read ahead of the one in hand: with a second one the reading goes
// on through a stretch slow to examine (photo after photo), and the search
// through one slow to read, which from the page cache more than makes up
// for the memory.
constexpr std::size_t kWindowsAhead = 2;

} // namespace

BlockSearchEngine::Detection::~Detection() = default;

// The batches are served from windows a reader thread fills ahead of the
// search, so that reading overlaps examining; the files the search examines
// are read from the window in hand and the next, as far as they reach.
struct BlockSearchEngine::Run final : HeldSectors {
    Run(Volume& volume, AutoRecoveryAppend& files, const Policy& policy, Detection& detect)
        : v(volume), fileDesc(files), p(policy), detection(detect) {}

    Volume& v;
    AutoRecoveryAppend& fileDesc;
    const Policy& p;
    Detection& detection;

    std::uint32_t bps = 0;
    std::uint64_t spu = 1;
    // The device sector of sector 0 of the numbering, and the first device
    // sector past the searched volume.
    std::uint64_t origin = 0;
    std::uint64_t areaEnd = 0;
    std::uint64_t range = 0;
    std::uint64_t done = 0;
    // Units a resumed run counted as done before it started: the time left
    // is reckoned from what this run does.
    std::uint64_t doneBefore = 0;
    std::uint64_t sinceCheckpoint = 0;
    std::uint64_t lastCheckpointUnit = 0;
    std::chrono::steady_clock::time_point started;

    // The sectors held for the batch being examined: a window of the
    // stream, or one read for the batch alone.
    Stretch window;
    // The windows read ahead, from the device sector streamFirst on, each
    // also holding the `carry` sectors before its own, so that every batch
    // with the bytes its keys read lies whole in one of them. None while no
    // batch has been read, or when batches are too long to be read ahead.
    std::unique_ptr<ReadAheadWindows> stream;
    std::uint64_t streamFirst = 0;
    std::uint64_t windowSectors = 0;
    std::uint64_t carry = 0;
    // A window read for its batch alone: after a window of the stream could
    // not be read, and for batches too long to read ahead.
    platform::AlignedBuffer own;

    bool stopped() const { return v.stopTreeThread(); }

    void post(const Dict& progress) {
        if (auto* c = platform::appController()) c->updateProgress(progress);
    }

    void progress() {
        if (done == 0) return;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        v.postSweepProgress(p.progressStatus, std::min(done, range), range, platform::saturatingMul(spu, bps), elapsed,
                            doneBefore);
    }

    // Counts `sectors` of `unit` towards the checkpoint. Besides every
    // stride of sectors, a checkpoint is due once the position is more than
    // a stride of units past the last one, so that a resumed search never
    // goes over more than a stride again, however many sectors skips and
    // used units passed over.
    void countCheckpoint(std::uint64_t unit, std::uint64_t sectors) {
        sinceCheckpoint += sectors;
        if (sinceCheckpoint <= p.stride && unit - lastCheckpointUnit <= p.stride) return;
        checkpoint(unit);
        sinceCheckpoint = 0;
        lastCheckpointUnit = unit;
    }

    // A resumed search reads from the unit's first sector on: what was lost
    // below it goes with the checkpoint.
    void checkpoint(std::uint64_t unit) {
        const auto sectorOf = [&](std::uint64_t u) {
            return u > p.unitBase ? platform::saturatingMulAdd(origin, u - p.unitBase, spu) : origin;
        };
        std::uint64_t sector = sectorOf(unit);
        // Inside a stretch this scan found unreadable, where nothing can be
        // found (it reads as zeros), a resumed search, knowing nothing of it,
        // would walk the rest of it again at a dying disk's cost: it goes on
        // from the first unit past the stretch. Not so on a disk judged to
        // have stopped, whose stretches not asked since may read again.
        if (!v.stoppedAnswering()) {
            const std::optional<std::uint64_t> stretchEnd = v.unreadableStretchEnd(sector);
            if (stretchEnd && *stretchEnd > origin) {
                const std::uint64_t past = platform::saturatingAdd(p.unitBase, (*stretchEnd - origin + spu - 1) / spu);
                if (past > unit && sectorOf(past) < areaEnd) {
                    unit = past;
                    sector = sectorOf(past);
                }
            }
        }
        const std::optional<std::uint64_t> held = detection.checkpointAt(sector - origin);
        fileDesc.checkpoint(unit, sector, v.scanUnreadableSectorsBelow(sector), held);
    }

    // Sizes the stream's windows for batches of `batchSectors`: at least
    // kWindowBytes, and twice what a batch and its key bytes span, so that
    // the sectors carried from window to window stay a small part of it.
    void planWindows(std::uint64_t batchSectors) {
        if (batchSectors > kLongestReadAheadBatch / bps) return;
        const std::uint64_t span = batchSectors + (kKeyReach + bps - 1) / bps;
        if (span * bps > kLongestReadAheadBatch) return;
        carry = span;
        windowSectors = std::max<std::uint64_t>(kWindowBytes / bps, 2 * span);
    }

    static bool holds(const Stretch& s, std::uint64_t first, std::uint64_t end) {
        return s.count != 0 && first >= s.first && end <= s.first + s.count;
    }

    // The device sectors window `index` of the stream holds.
    Stretch placeOf(std::uint64_t index) const {
        const ReadAheadWindows::Window w = stream->placeOf(index);
        return {streamFirst + w.first, w.count, nullptr};
    }

    // Sectors that cannot be read come in as zeros, which hold no file: the
    // rest of the window is searched, and the files around them are still
    // found and measured. False only when the medium has gone.
    bool readOwn(std::uint64_t first, std::uint64_t count) {
        window = {};
        if (count == 0 || count > std::uint64_t(INT32_MAX)) return false;
        own.resize(static_cast<std::size_t>(count * bps));
        if (!v.readSectorRange(first, static_cast<std::int32_t>(count), own.data(), DMedia::RangeReader::Sweep))
            return false;
        window = {first, count, own.data()};
        return true;
    }

    // The stream's windows from the batch at `first` on.
    void startStream(std::uint64_t first) {
        stream.reset();
        streamFirst = first;
        stream = std::make_unique<ReadAheadWindows>(
            [this](std::uint64_t at, std::uint64_t count, std::uint8_t* into) {
                return v
                    .readSectorRange(streamFirst + at, static_cast<std::int32_t>(count), into,
                                     DMedia::RangeReader::Sweep)
                    .has_value();
            },
            bps, windowSectors, areaEnd - first, carry, kWindowsAhead);
    }

    // Takes the stream's next window when it holds [first, end); false,
    // the stream left as it was, when it does not.
    bool takeNext(std::uint64_t first, std::uint64_t end) {
        if (!stream || !holds(placeOf(stream->handedOut()), first, end)) return false;
        const ReadAheadWindows::Window w = stream->next();
        window = {};
        if (w.read) window = {streamFirst + w.first, w.count, w.bytes};
        return true;
    }

    // Holds `sectors` from `first` and the bytes a key may read after them.
    bool loadBatch(std::uint64_t first, std::uint64_t sectors) {
        const std::uint64_t tail = (kKeyReach + bps - 1) / bps;
        const std::uint64_t wantEnd = std::min(platform::saturatingAdd(first + sectors, tail), areaEnd);
        if (holds(window, first, wantEnd)) return true;
        if (carry != 0) {
            // A skip past the next window starts the stream anew where the
            // search goes on.
            if (!takeNext(first, wantEnd)) {
                startStream(first);
                takeNext(first, wantEnd);
            }
            if (window.count != 0) return true;
            // The medium has gone, or cannot be opened: from here on every
            // batch is read by itself, as without windows read ahead.
            stream.reset();
            carry = 0;
        }
        const std::uint64_t large = std::max<std::uint64_t>(kWindowBytes / bps, sectors + tail);
        return readOwn(first, std::min(large, areaEnd - first));
    }

    Stretch holding(std::uint64_t sector) override {
        if (holds(window, sector, sector + 1)) return window;
        if (!stream) return {};
        // The next window, once it is in.
        const std::uint64_t next = stream->handedOut();
        if (!holds(placeOf(next), sector, sector + 1)) return {};
        const ReadAheadWindows::Window w = stream->peek();
        if (!w.read) return {};
        return {streamFirst + w.first, w.count, w.bytes};
    }

    platform::ByteView bytesAt(std::uint64_t sector) const {
        const std::size_t at = static_cast<std::size_t>((sector - window.first) * bps);
        return platform::ByteView(window.bytes + at, static_cast<std::size_t>(window.count * bps) - at);
    }

    bool knownFile(std::uint64_t unit) const {
        if (!p.knownFileKey || !v.btreeFirstFileBlock) return false;
        const std::optional<std::uint64_t> key = p.knownFileKey(unit);
        return key && v.btreeFirstFileBlock->retrieveKeyField(*key) != nullptr;
    }

    void search(std::uint64_t start, std::uint64_t end) {
        const std::uint64_t batchUnits = p.unitsPerBatch;
        UsedBlockMaps::Flags flags;
        for (std::uint64_t current = start; current < end; current += batchUnits) {
            if (stopped()) return;
            if (p.progressPerBatch) progress();
            if (p.skipBatchAtZero && current == 0) continue;
            const auto first = platform::checkedMulAdd(origin, current - p.unitBase, spu);
            if (!first || *first >= areaEnd) return;
            const std::uint64_t units = std::min(batchUnits, end - current);
            const std::uint64_t sectors = std::min(units * spu, areaEnd - *first);
            if (!loadBatch(*first, sectors)) {
                if (v.mediumGone()) return;
                done += batchUnits;
                sinceCheckpoint += batchUnits;
                continue;
            }
            flags.fill(1);
            if (p.usedFlags)
                p.usedFlags(current, flags);
            else
                flags.fill(0);
            const std::uint64_t examinedUnits = (sectors + spu - 1) / spu;
            std::uint64_t i = 0;
            while (i < examinedUnits) {
                const std::uint64_t unit = current + i;
                ++done;
                if (stopped()) return;
                if (!p.progressPerBatch) progress();
                const bool used = i < flags.size() && flags[i] != 0;
                if (used || knownFile(unit)) {
                    if (p.checkpointEverySector) countCheckpoint(unit, spu);
                    ++i;
                    continue;
                }
                std::uint64_t next = i + 1;
                bool leave = false;
                for (std::uint64_t s = 0; s < spu; ++s) {
                    const std::uint64_t sector = (unit - p.unitBase) * spu + s;
                    if (origin + sector >= areaEnd) break;
                    if (s != 0) {
                        if (stopped()) return;
                        if (!p.progressPerBatch) progress();
                    }
                    countCheckpoint(unit, 1);
                    const Skip skip = detection.examineSector(sector, bytesAt(origin + sector));
                    if (stopped()) return;
                    // A file shorter than a unit: on with the sector after it.
                    const std::uint64_t n = skip.coveredFromHere ? (s + skip.sectors) / spu : skip.sectors / spu;
                    if (n == 0) continue;
                    done += n;
                    if (n > batchUnits - i) {
                        current = current + i + n - batchUnits;
                        leave = true;
                    } else {
                        next = i + n;
                    }
                    break;
                }
                if (leave) break;
                i = next;
            }
        }
    }
};

void BlockSearchEngine::run(const Policy& policy, Detection& detection, std::uint64_t resumeUnit,
                            std::optional<std::uint64_t> lastRecordedSector) {
    Volume& v = volume_;
    Run r(v, fileDesc_, policy, detection);
    r.bps = v.u32BytesInSector();
    r.spu = std::max<std::uint32_t>(policy.sectorsPerUnit, 1);
    if (r.bps == 0) {
        platform::logFormat("Signature search of %@ skipped: the volume has no sector size", v.path());
        return;
    }
    const auto origin = platform::checkedAdd(v.HPlusVolStart(), v.blocksStartsAtSector);
    if (!origin) return;
    r.origin = *origin;
    const std::uint64_t unitsEnd = platform::saturatingMulAdd(
        r.origin, policy.totalUnits > policy.unitBase ? policy.totalUnits - policy.unitBase : 0, r.spu);
    r.areaEnd =
        v.sizeInSect() != 0 ? std::min(platform::saturatingAdd(v.HPlusVolStart(), v.sizeInSect()), unitsEnd) : unitsEnd;

    // The range in whole units, never past the volume's.
    const double total = double(policy.totalUnits);
    const double from = std::clamp(double(v.startPos), 0.0, 100.0), to = std::clamp(double(v.endPos), 0.0, 100.0);
    r.range = std::min<std::uint64_t>(policy.totalUnits, to > from ? std::uint64_t(total * (to - from) / 100) : 0);
    std::uint64_t start = std::min<std::uint64_t>(policy.totalUnits, std::uint64_t(total * from / 100));
    const std::uint64_t end = std::min(start + r.range, policy.totalUnits);
    start = std::max(start, policy.firstUnit);
    const bool resumed = v.autoCrashRecovery;
    if (resumed) {
        std::uint64_t at = resumeUnit;
        if (at >= end) {
            // The unit holding the last recorded file's first sector.
            at = lastRecordedSector ? platform::saturatingAdd(*lastRecordedSector / r.spu, policy.unitBase) : start;
            platform::logFormat("The resume point %@ of %@ lies past the searched range; the search goes on from %@, "
                                "where its records end",
                                static_cast<unsigned long long>(resumeUnit), v.path(),
                                static_cast<unsigned long long>(at));
        }
        at = std::min(std::max(at, start), end);
        r.done = r.doneBefore = at - start;
        start = at;
    }
    r.lastCheckpointUnit = start;
    r.planWindows(platform::saturatingMul(policy.unitsPerBatch, r.spu));

    r.post(Dict{{"Progress Status", policy.progressStatus},
                {"Progress Type", 1},
                {"BarMaxValue", static_cast<unsigned long long>(r.range)}});
    r.post(Dict{{"TimeRemaining", ""}});
    if (auto* c = platform::appController()) c->setUpTimer();
    r.started = std::chrono::steady_clock::now();
    // The pair the resume wrote anew starts from the point checked here,
    // with the file the interrupted search held open across it open again.
    if (resumed) {
        detection.resumeAt(start > policy.unitBase ? platform::saturatingMul(start - policy.unitBase, r.spu) : 0);
        r.checkpoint(start);
    }
    // The files the search examines are read from its windows meanwhile.
    struct Lent {
        Volume& v;
        ~Lent() { v.setHeldSectors(nullptr); }
    } lent{v};
    v.setHeldSectors(&r);
    r.search(start, end);
    detection.settle();
}
