#include "media/ReadFailurePolicy.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
using Probe = ReadFailurePolicy::Probe;
using Verdict = ReadFailurePolicy::Verdict;

constexpr std::uint64_t kSectors = 1u << 20, kRead = kSectors / 2;

// A disk of kSectors sectors that a pass has read up to kRead, as the policy sees it: which sectors answer now, and
// how. A walk's probes may be answered by a cache; a judgement asks past every cache, where only the disk answers, or,
// on a disk that cannot be asked so, the medium through the caches below it.
struct Disk {
    enum class Kind {
        DiedAtTheRead,
        BadEndFromTheRead,
        BadAreaThenReadable,
        // From kRead on, in units of 64 sectors: two bad, one readable, five bad.
        RegularDamageFromTheRead,
        UnreadableButForFiles
    } kind;
    bool pastEveryCache = true;
    // Sectors the page cache holds (a probe of the medium's last page by what listed it).
    bool lastPageCached = false;
    // Where it cannot be asked past every cache: a cache below the device holds what the pass read, and answers for
    // it until it lets go of it, if it can.
    bool cachedBelow = false, letsGo = true;
    // Where nothing was read, holes of a file on the way, which answer zeros (the page cache's kind of answer) with
    // no disk.
    bool holes = false;
    bool letGo = false;
    std::uint64_t asked = 0, failed = 0, askedByJudgements = 0, letGoBeforeAsking = 0;

    bool answers(std::uint64_t s) const {
        switch (kind) {
        case Kind::DiedAtTheRead:
            return false;
        case Kind::BadEndFromTheRead:
            return s < kRead;
        case Kind::BadAreaThenReadable:
            return s < kRead || s >= kRead + 5000;
        case Kind::RegularDamageFromTheRead:
            return s < kRead || (s - kRead) % 512 / 64 == 2;
        case Kind::UnreadableButForFiles:
            return s >= 900000 && s < 900100;
        }
        return false;
    }
    // A walk's probe, past the page cache but taking what it holds.
    Probe walkProbe(std::uint64_t s) {
        ++asked;
        if (lastPageCached && s + 8 >= kSectors) return Probe::FromTheCache;
        if (answers(s)) return answered();
        ++failed;
        return Probe::Failed;
    }
    Probe answered() const { return pastEveryCache ? Probe::AnsweredPastEveryCache : Probe::Answered; }
    // A judgement's ask, past every cache, or as far down as the caches that let go of it let it reach.
    Probe judgementAsk(std::uint64_t s) {
        ++asked;
        ++askedByJudgements;
        letGoBeforeAsking += letGo ? 1 : 0;
        if (answers(s) || (cachedBelow && !letGo && s < kRead)) return answered();
        if (holes && s >= kRead) return Probe::FromTheCache;
        ++failed;
        return Probe::Failed;
    }
};

// A policy over kSectors sectors whose first kRead a pass has read (`read`), each answer told as the medium's reader
// tells it.
struct Judged {
    ReadFailurePolicy policy;
    explicit Judged(bool read = true) {
        policy.layOut(kSectors * 512, 512, 4096);
        if (read)
            for (std::uint64_t s = 0; s < kRead; s += 2048)
                policy.noteAnswer(s * 512, 2048 * 512, ReadFailurePolicy::Source::Medium);
    }
    Probe told(std::uint64_t s, Probe p) {
        if (p == Probe::AnsweredPastEveryCache)
            policy.noteAnswer(s * 512, 512, ReadFailurePolicy::Source::PastEveryCache);
        if (p == Probe::Answered) policy.noteAnswer(s * 512, 512, ReadFailurePolicy::Source::Medium);
        return p;
    }
    ReadFailurePolicy::Asking asking(Disk& disk) {
        return {[&](std::uint64_t s) { return told(s, disk.judgementAsk(s)); }, disk.pastEveryCache,
                [&](const std::vector<std::uint64_t>&) { disk.letGo = disk.letsGo; }};
    }
    // A walk from `at` and the verdict after it.
    Verdict walkAndJudge(Disk& disk, std::uint64_t at) {
        const std::uint64_t liveBefore = policy.liveAnswers();
        const auto stretch = policy.walk(at, [&](std::uint64_t s) { return told(s, disk.walkProbe(s)); });
        EXPECT_TRUE(stretch);
        return policy.judge(stretch, at, liveBefore, asking(disk));
    }
};

} // namespace

// The one verdict after a walk rests on evidence only: a disk has stopped when the places the pass read no longer
// answer past every cache, and one answer past every cache anywhere keeps it. A walk that found the disk answering
// further on costs no ask; a live disk with a bad end or wide regular damage answers at the first place read before;
// a dead one costs a few asks. Without places read before there is no evidence, and the disk is read on as a live
// one. Without a way past every cache, the medium's answer where nothing had read keeps it; places read before are
// asked once the caches below have let go of them, their answer keeping it (a live disk with a bad end, whose
// places never read all fail), and only their failing stops it, whatever holes of a file on the way answer where
// nothing was read; a cache below that cannot let go answers for a dead disk, which tells nothing, and the pass goes
// on. A disk judged stopped is asked again as a pass begins, and found
// answering when it has come back: what it failed since it last answered is given back, to be read again.
TEST(ReadFailurePolicy, OneVerdictOnWhetherTheDiskStillAnswersRestsOnEvidenceOnly) {
    using Kind = Disk::Kind;
    const struct {
        const char* what;
        Disk disk;
        bool readBefore;
        bool saving; // where the save still has to read: the files at 900000
        Verdict verdict;
    } cases[] = {
        {"a disk that died as the pass reached it", {Kind::DiedAtTheRead}, true, false, Verdict::Stopped},
        {"a disk that died behind a cache holding its last page",
         {Kind::DiedAtTheRead, true, true},
         true,
         false,
         Verdict::Stopped},
        {"a live disk with a bad end", {Kind::BadEndFromTheRead}, true, false, Verdict::Answers},
        {"a live disk with a bad area, readable after it", {Kind::BadAreaThenReadable}, true, false, Verdict::Answers},
        {"a live disk with wide regular damage", {Kind::RegularDamageFromTheRead}, true, false, Verdict::Answers},
        {"a disk unreadable but where the save still has to read",
         {Kind::UnreadableButForFiles},
         true,
         true,
         Verdict::Answers},
        {"a dead disk that the save still had to read", {Kind::DiedAtTheRead}, true, true, Verdict::Stopped},
        {"a dead disk of which nothing was read", {Kind::DiedAtTheRead}, false, false, Verdict::Answers},
        {"a dead disk that cannot be asked past every cache",
         {Kind::DiedAtTheRead, false},
         true,
         false,
         Verdict::Stopped},
        {"a live disk with a bad area, readable after it, that cannot be asked past every cache",
         {Kind::BadAreaThenReadable, false},
         true,
         false,
         Verdict::Answers},
        {"a live disk with a bad end that cannot be asked past every cache",
         {Kind::BadEndFromTheRead, false},
         true,
         false,
         Verdict::Answers},
        {"a live disk with wide regular damage that cannot be asked past every cache, the save still to read there",
         {Kind::RegularDamageFromTheRead, false},
         true,
         true,
         Verdict::Answers},
        {"a dead disk that cannot be asked past every cache, behind a cache that lets go",
         {Kind::DiedAtTheRead, false, false, true, true},
         true,
         false,
         Verdict::Stopped},
        {"a dead disk that cannot be asked past every cache, its places never read holes",
         {Kind::DiedAtTheRead, false, false, true, true, true},
         true,
         true,
         Verdict::Stopped},
        {"a dead disk that cannot be asked past every cache, behind a cache that cannot let go",
         {Kind::DiedAtTheRead, false, false, true, false},
         true,
         false,
         Verdict::Answers},
    };
    for (auto row : cases) {
        SCOPED_TRACE(row.what);
        Judged judged(row.readBefore);
        ReadFailurePolicy& policy = judged.policy;
        if (row.saving)
            policy.setStillToRead([] {
                return std::vector<ReadFailurePolicy::SectorRuns>{{{900000, 900100}}, {{950000, 950100}}};
            });
        Disk& disk = row.disk;
        EXPECT_EQ(judged.walkAndJudge(disk, kRead), row.verdict);
        EXPECT_EQ(policy.stopped(), row.verdict == Verdict::Stopped);
        // A stretch that ended where the disk answered needs no ask, nor a medium with no evidence to be had; a
        // live disk answers at the first place read before (so does a cache that cannot let go); any other, a few
        // asks. Without a way past every cache, every ask follows the caches' letting go.
        if (row.disk.kind == Kind::BadAreaThenReadable || !row.readBefore)
            EXPECT_EQ(disk.askedByJudgements, 0u);
        else if (row.verdict == Verdict::Answers && row.disk.kind != Kind::UnreadableButForFiles)
            EXPECT_EQ(disk.askedByJudgements, 1u);
        else
            EXPECT_LE(disk.askedByJudgements, 8u);
        if (!disk.pastEveryCache && disk.letsGo) {
            EXPECT_EQ(disk.letGoBeforeAsking, disk.askedByJudgements);
        }
        EXPECT_LE(disk.failed, 40u);
        if (row.verdict != Verdict::Stopped) continue;
        EXPECT_EQ(policy.stoppedAt(), kRead);
        // Stopped, it stays so until it answers again: asked anew, a disk still dead is still stopped; one that
        // came back answers, and what it failed as it stopped is no longer known to be unreadable.
        EXPECT_EQ(policy.askAgain(judged.asking(disk)), Verdict::Stopped);
        EXPECT_TRUE(policy.stopped());
        EXPECT_NE(policy.map().count(), 0u);
        // Come back: it answers where it read before.
        disk.kind = Kind::BadEndFromTheRead;
        EXPECT_EQ(policy.askAgain(judged.asking(disk)), Verdict::Answers);
        EXPECT_FALSE(policy.stopped());
        EXPECT_EQ(policy.map().count(), 0u);
    }
}

// Failures at places never read, or inside an area known bad, however many, never make a live disk stopped: walk after
// walk over wide regular damage, each judged by one ask of a place read before, which answers. A disk that then dies
// is stopped by the first walk after its death, and what was unreadable before it died stays so when it comes back.
TEST(ReadFailurePolicy, FailuresWhereNothingWasReadNeverMakeALiveDiskStopped) {
    Judged judged;
    Disk disk{Disk::Kind::RegularDamageFromTheRead};
    std::uint64_t walks = 0;
    for (std::uint64_t at = kRead; at < kSectors; at += 512 * 97) {
        ++walks;
        EXPECT_EQ(judged.walkAndJudge(disk, at), Verdict::Answers) << at;
    }
    EXPECT_GE(walks, 10u);
    EXPECT_LE(disk.askedByJudgements, walks);
    const std::uint64_t unreadableWhileLive = judged.policy.map().count();
    EXPECT_NE(unreadableWhileLive, 0u);
    disk.kind = Disk::Kind::DiedAtTheRead;
    const std::uint64_t askedBefore = disk.asked, judgedBefore = disk.askedByJudgements;
    EXPECT_EQ(judged.walkAndJudge(disk, 1000), Verdict::Stopped)
        << disk.asked - askedBefore << " asks, " << disk.askedByJudgements - judgedBefore << " by the judgement";
    disk.kind = Disk::Kind::RegularDamageFromTheRead;
    EXPECT_EQ(judged.policy.askAgain(judged.asking(disk)), Verdict::Answers);
    // But for the few places the walk after the death asked, which are read again as any place.
    EXPECT_LE(judged.policy.map().count(), unreadableWhileLive);
    EXPECT_GE(judged.policy.map().count() + 64, unreadableWhileLive);
}
