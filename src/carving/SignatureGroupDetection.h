#pragma once

// What the plain signature search does with one examined sector: for each
// signature group in turn, the group's key from the sector's bytes is looked
// up in its tree, the type found there (and the types chained on it) is put
// to the recogniser dispatch, and the first one confirmed is recorded, as a
// picture of the pending RTF package when it is one, else as a carved file.
// The answer is how far the search may jump over the recorded file.

#include "carving/BlockSearchEngine.h"
#include "carving/CarvedFileRecorder.h"
#include "signatures/FileStartProbe.h"
#include "signatures/RecogniserDispatch.h"
#include "signatures/SignatureGroups.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class Sig;
class SignatureSearchState;
class Volume;

class SignatureGroupDetection final : public BlockSearchEngine::Detection, private FileStartProbe {
public:
    // The groups are the search's btreeSigArray as it is now.
    SignatureGroupDetection(Volume& volume, SignatureSearchState& search, CarvedFileRecorder& recorder,
                            AutoRecoveryAppend& fileDesc);
    // The dispatch's recognisers ask this detection for lookups.
    SignatureGroupDetection(const SignatureGroupDetection&) = delete;
    SignatureGroupDetection& operator=(const SignatureGroupDetection&) = delete;

    BlockSearchEngine::Skip examineSector(std::uint64_t sector, platform::ByteView bytes) override;

    // Whether the search jumps over a file confirmed by the type a group's
    // tree holds for the key (those chained on it always allow it).
    void setSkipsAfterPrimaryHits(bool on) { skipsAfterPrimaryHits_ = on; }

    // Whether the last sector examined recorded a file known to begin there
    // (RecogniserDispatch::vouchesForStart): only such a file cuts another
    // whose data holds that sector.
    bool recordedAKnownStart() const { return recordedAKnownStart_; }

    // The lookup the recognisers are offered a found file's sectors to: the
    // search's own, of these groups (as at first), or one that asks what
    // else the search finds at a sector as well (the carving's size
    // calculators), which must outlast this detection.
    void setLookup(FileStartProbe* lookup) {
        lookup_ = lookup ? lookup : this;
        dispatch_.setFileStartProbe(lookup_);
    }
    // Whether these groups would record a file known to begin at `sector`,
    // whose bytes from the sector's start on are `bytes`; nothing the search
    // keeps changes.
    bool startsKnownFile(std::uint64_t sector, platform::ByteView bytes) { return startsFile(sector, bytes); }

    // The sectors where parts of the file recorded at `fileSector` begin
    // that its own metadata places (a thumbnail, counted from its first
    // sector): the search lists no file at them. passesOver: whether
    // `sector`, asked in the order the search goes, is one.
    void passOver(std::uint64_t fileSector, const std::vector<std::uint64_t>& parts);
    bool passesOver(std::uint64_t sector) { return sector >= nextPassedOver_ && reachedPassedOver(sector); }

private:
    struct Group {
        SignatureGroups::Group group;
        // The item under the two-byte key "ID" when the group holds it at
        // offset 0: every sector is first offered to its type (an MP3 file's
        // ID3 tag).
        ItemTypeSig* idItem = nullptr;
        // The first bytes of the group's headers: most sectors begin with
        // none of them, and need no lookup.
        std::array<bool, 256> firstBytes{};
    };
    // The first bytes of all the groups' headers at one offset.
    struct FirstBytesAt {
        std::size_t offset = 0;
        std::array<bool, 256> firstBytes{};
    };

    // Whether one of the groups' first bytes stands at its offset in the
    // sector: most sectors hold none, and only the "ID" probe is made of
    // them.
    bool firstByteStands(platform::ByteView bytes) const;
    // The type that confirms a file at the sector: the first one a group's
    // lookup offers that its recogniser accepts; nullptr when none does, or
    // the search was stopped. `anyFirstByte`: firstByteStands. `primary`:
    // the type is the one the group's tree holds for the key, not one
    // chained on it.
    Sig* recognised(std::uint64_t sector, platform::ByteView bytes, bool anyFirstByte, bool& primary);
    // Whether the search would record a file known to begin at the sector;
    // asked by a recogniser whose walk reads the sector as its own file's.
    bool startsFile(std::uint64_t sector, platform::ByteView bytes) override;
    // Resets the record's per-hit fields and the names a recogniser may
    // leave, then asks the dispatch.
    bool confirmed(Sig& sig, std::uint16_t firstTwoBytes, bool& mp3Tried, std::uint64_t sector);
    // Records the confirmed file, whose first sector's bytes are `bytes`;
    // the sectors the search may jump when `skips`.
    BlockSearchEngine::Skip record(Sig& sig, std::uint64_t sector, platform::ByteView bytes, bool skips);
    // record() of the hit recognised() confirmed last, then the record takes
    // back the extension of its row. Kept out of line: the search asks
    // examineSector of every sector, most of which hold nothing, and its own
    // frame stays small.
    [[gnu::noinline]] BlockSearchEngine::Skip recordConfirmed(Sig& sig, std::uint64_t sector, bool skips);
    // Whether the hit at `sector` of a type taken unchecked repeats, inside
    // the span listed for the last file of the type, that file's header:
    // the first kHeaderCopyBytes of its sector are those of the file's
    // first, and the rest of the sector is not. Distinct files of a type
    // differ there (their names, sizes and offsets), while a format that
    // repeats its header inside a file (a partition pack, a frame header)
    // repeats it byte for byte before data of its own; a first sector the
    // same throughout is a copy of the whole file (a photo saved twice),
    // which is a file. A hit past the span is always a file.
    bool repeatsListedHeader(const Sig& sig, std::uint64_t sector, platform::ByteView bytes) const;
    // Notes the file just listed of a type taken unchecked.
    void noteListed(const Sig& sig, std::uint64_t sector, platform::ByteView bytes);
    // The checksum of the first sector of `bytes`.
    std::uint32_t firstSectorCrc(platform::ByteView bytes) const;
    // Files the hit under the first picture the pending RTF package expects
    // that it matches; false when it matches none.
    bool recordRtfGraphic(Sig& sig, std::uint64_t sector);
    // Whether `sector` is the nearest sector passed over, once those the
    // search has gone past are dropped.
    bool reachedPassedOver(std::uint64_t sector);

    Volume& volume_;
    SignatureSearchState& search_;
    CarvedFileRecorder& recorder_;
    AutoRecoveryAppend& fileDesc_;
    RecogniserDispatch dispatch_;
    std::vector<Group> groups_;
    std::vector<FirstBytesAt> firstBytesAt_;
    // The group that probes "ID"; groups_.size() when none does.
    std::size_t idGroup_ = 0;
    bool skipsAfterPrimaryHits_ = true;
    bool recordedAKnownStart_ = false;
    // A recogniser's walk asked for the lookup of a sector: the recognisers
    // that lookup runs ask for none, and what they leave in the search's
    // state is undone.
    bool probing_ = false;
    FileStartProbe* lookup_ = this;
    // The extension the record confirmed last had in its list: a
    // recogniser may name in it the kind it found (an archive's document, a
    // PostScript file's kind), which the record keeps until the file is
    // recorded, and no longer.
    std::string listedExtension_;
    // The bytes of the sector whose hit recognised() confirmed last.
    platform::ByteView confirmedBytes_;
    // The last file listed of each type taken unchecked, by its record: its
    // first sector, the sector past the span listed, and the first bytes of
    // its first sector. A resumed search knows only the files it finds
    // again, and lists the others' repeats as the search did before.
    static constexpr std::size_t kHeaderCopyBytes = 64;
    struct ListedSpan {
        std::uint64_t first = 0;
        std::uint64_t end = 0;
        std::array<std::uint8_t, kHeaderCopyBytes> head{};
        std::uint32_t sectorCrc = 0;
    };
    std::unordered_map<const Sig*, ListedSpan> listedSpans_;
    // The sectors passed over that the search has yet to reach, the nearest
    // last, and that nearest one (none: the largest number).
    std::vector<std::uint64_t> passedOver_;
    std::uint64_t nextPassedOver_ = UINT64_MAX;
};
