#include "media/ReadFailurePolicy.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {
using Probe = ReadFailurePolicy::Probe;
using Verdict = ReadFailurePolicy::Verdict;

constexpr std::uint64_t kSectors = 1u << 20, kRead = kSectors / 2;

// A disk of kSectors sectors that a pass has read up to kRead, as the policy sees it: which sectors answer now, and
// how. Places read before may answer from a cache whatever the disk does; past every cache only the disk answers.
struct Disk {
    enum class Kind { DiedAtTheRead, BadEndFromTheRead, BadAreaThenReadable, UnreadableButForFiles } kind;
    bool pastEveryCache = false;
    // Sectors the page cache holds (a probe of the medium's last page by what listed it).
    bool lastPageCached = false;
    std::uint64_t asked = 0, failed = 0;

    bool answers(std::uint64_t s) const {
        switch (kind) {
        case Kind::DiedAtTheRead:
            return false;
        case Kind::BadEndFromTheRead:
            return s < kRead;
        case Kind::BadAreaThenReadable:
            return s < kRead || s >= kRead + 5000;
        case Kind::UnreadableButForFiles:
            return s >= 900000 && s < 900100;
        }
        return false;
    }
    // A walk's probe, past the page cache but taking what it holds.
    Probe walkProbe(std::uint64_t s) {
        ++asked;
        if (lastPageCached && s + 8 >= kSectors) return Probe::FromTheCache;
        if (answers(s)) return s < kRead ? Probe::Answered : Probe::AnsweredPastEveryCache;
        ++failed;
        return Probe::Failed;
    }
    // A judgement's ask, of the medium itself.
    Probe judgementAsk(std::uint64_t s) {
        ++asked;
        if (answers(s)) return pastEveryCache ? Probe::AnsweredPastEveryCache : Probe::Answered;
        ++failed;
        return Probe::Failed;
    }
};

} // namespace

// The one verdict after a walk: a walk that met nothing but a cache up to the medium's end is judged at once, by asks
// the disk alone can answer (places read before, where the device reads past every cache; places no read has
// reached; where a save still has to read); a walk that found the disk answering further on costs no ask. A disk
// judged stopped is asked again as a pass begins, and found answering when it has come back.
TEST(ReadFailurePolicy, OneVerdictOnWhetherTheDiskStillAnswers) {
    using Kind = Disk::Kind;
    const struct {
        const char* what;
        Disk disk;
        bool saving; // where the save still has to read: the files at 900000
        Verdict verdict;
    } cases[] = {
        {"a disk that died as the pass reached it", {Kind::DiedAtTheRead, true}, false, Verdict::Stopped},
        {"a disk that died behind a cache holding its last page",
         {Kind::DiedAtTheRead, false, true},
         false,
         Verdict::Stopped},
        {"a live disk with a bad end, read past every cache", {Kind::BadEndFromTheRead, true}, false, Verdict::Answers},
        {"a live disk with a bad area, readable after it", {Kind::BadAreaThenReadable, false}, false, Verdict::Answers},
        {"a disk unreadable but where the save still has to read",
         {Kind::UnreadableButForFiles, false},
         true,
         Verdict::Answers},
        {"a dead disk that the save still had to read", {Kind::DiedAtTheRead, false}, true, Verdict::Stopped},
    };
    for (auto row : cases) {
        SCOPED_TRACE(row.what);
        ReadFailurePolicy policy;
        policy.layOut(kSectors * 512, 512, 4096);
        // The pass read everything before kRead.
        for (std::uint64_t s = 0; s < kRead; s += 2048)
            policy.noteAnswer(s * 512, 2048 * 512, ReadFailurePolicy::Source::Medium);
        if (row.saving)
            policy.setStillToRead([] {
                return std::vector<ReadFailurePolicy::SectorRuns>{{{900000, 900100}}, {{950000, 950100}}};
            });
        Disk& disk = row.disk;
        // What the device tells the policy of each answer, as the medium's reader does.
        const auto told = [&](std::uint64_t s, Probe p) {
            if (p == Probe::Answered || p == Probe::AnsweredPastEveryCache)
                policy.noteAnswer(s * 512, 512,
                                  p == Probe::Answered ? ReadFailurePolicy::Source::Medium
                                                       : ReadFailurePolicy::Source::PastEveryCache);
            return p;
        };
        const std::uint64_t liveBefore = policy.liveAnswers();
        const auto stretch = policy.walk(kRead, [&](std::uint64_t s) { return told(s, disk.walkProbe(s)); });
        ASSERT_TRUE(stretch);
        const std::uint64_t walked = disk.asked;
        const ReadFailurePolicy::Asking asking{[&](std::uint64_t s) { return told(s, disk.judgementAsk(s)); },
                                               disk.pastEveryCache};
        EXPECT_EQ(policy.judge(stretch, kRead, liveBefore, asking), row.verdict);
        EXPECT_EQ(policy.stopped(), row.verdict == Verdict::Stopped);
        // A stretch that ended where the disk answered afresh needs no ask; any other, a dozen at the most.
        if (row.disk.kind == Kind::BadAreaThenReadable)
            EXPECT_EQ(disk.asked, walked);
        else
            EXPECT_LE(disk.asked - walked, 12u);
        EXPECT_LE(disk.failed, 40u);
        if (row.verdict != Verdict::Stopped) continue;
        EXPECT_EQ(policy.stoppedAt(), kRead);
        // Stopped, it stays so until it answers again: asked anew, a disk still dead is still stopped; one that
        // came back answers.
        EXPECT_EQ(policy.askAgain(asking), Verdict::Stopped);
        EXPECT_TRUE(policy.stopped());
        disk.kind = Kind::BadEndFromTheRead;
        disk.pastEveryCache = true;
        EXPECT_EQ(policy.askAgain({asking.ask, true}), Verdict::Answers);
        EXPECT_FALSE(policy.stopped());
    }
}

// Walks that find nothing fresh but do not run to the medium's end (a cache answering a few sectors on) are judged
// only in a row: the third without a sign of the disk asks, and a sign of it between them keeps it unasked.
TEST(ReadFailurePolicy, WalksAnsweredOnlyByACacheAreJudgedAfterThreeInARow) {
    for (const bool freshBetween : {false, true}) {
        SCOPED_TRACE(freshBetween ? "fresh reads between" : "nothing fresh between");
        ReadFailurePolicy policy;
        policy.layOut(kSectors * 512, 512, 4096);
        policy.noteAnswer(0, kRead * 512, ReadFailurePolicy::Source::Medium);
        std::uint64_t asks = 0;
        const ReadFailurePolicy::Asking asking{[&](std::uint64_t) {
                                                   ++asks;
                                                   return Probe::Failed;
                                               },
                                               false};
        std::vector<Verdict> verdicts;
        for (std::uint64_t k = 0; k < 3; ++k) {
            const std::uint64_t at = 1000 + k * 100000, liveBefore = policy.liveAnswers();
            // The sector after the failed one answers from the cache: the stretch ends there.
            const auto stretch =
                policy.walk(at, [&](std::uint64_t s) { return s == at + 1 ? Probe::FromTheCache : Probe::Failed; });
            ASSERT_TRUE(stretch && stretch->answeredAfter && !stretch->unansweredToTheEnd);
            verdicts.push_back(policy.judge(stretch, at, liveBefore, asking));
            if (freshBetween)
                policy.noteAnswer((kRead + k * 4096) * 512, 4096 * 512, ReadFailurePolicy::Source::Medium);
        }
        EXPECT_EQ(verdicts, freshBetween
                                ? std::vector<Verdict>(3, Verdict::Answers)
                                : (std::vector<Verdict>{Verdict::Answers, Verdict::Answers, Verdict::Stopped}));
        EXPECT_EQ(asks != 0, !freshBetween);
    }
}
