#pragma once

// The recognisers of the record files of the mail database and the page-structured databases of layout documents. Each
// reads the candidate from the sector `block` of the search's numbering through a RecogniserMedium and answers as
// RecogniserDispatch describes.

#include <cstdint>
#include <string_view>

class FileStartProbe;
class Sig;
class SignatureSearchState;
class Volume;

class DatabaseRecordRecognisers {
public:
    DatabaseRecordRecognisers(Volume& volume, SignatureSearchState& search) noexcept
        : volume_(volume), search_(search) {}

    // The search's lookup, offered the sectors of a found file that its walk
    // did not vouch for; none: nothing is offered.
    void setFileStartProbe(FileStartProbe* probe) { probe_ = probe; }

    bool checkOlk14CategoryFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14ContactFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14DBHeaderFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14FoldFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14FolderFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14MailAccountFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14MsgSourceFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14MessageFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14PrefFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14RecentFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14RuleFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14SearchFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14ScheduleFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14SignatureFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkOlk14UIDFileAtBlock(std::uint64_t block, Sig& sig);
    bool checkInddAndOtherSuchFileAtBlock(std::uint64_t block, Sig& sig);

private:
    // What tells the record kinds apart: the prefix of the names the database
    // gives such records, and the folder it keeps them in.
    struct Olk14RecordKind {
        std::string_view namePrefix;
        std::string_view folder;
    };
    // The one check of every record kind: its two length fields agree. Names
    // the record and its folder as the database does.
    bool checkOlk14RecordAtBlock(std::uint64_t block, Sig& sig, const Olk14RecordKind& kind);

    Volume& volume_;
    SignatureSearchState& search_;
    FileStartProbe* probe_ = nullptr;
};
