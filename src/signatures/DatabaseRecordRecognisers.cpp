#include "signatures/DatabaseRecordRecognisers.h"

#include "signatures/RecogniserMedium.h"
#include "signatures/Sig.h"
#include "volume/Volume.h"

bool DatabaseRecordRecognisers::checkOlk14CategoryFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14ContactFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14DBHeaderFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14FoldFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14FolderFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14MailAccountFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14MsgSourceFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14MessageFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14PrefFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14RecentFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14RuleFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14SearchFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14ScheduleFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14SignatureFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkOlk14UIDFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}

bool DatabaseRecordRecognisers::checkInddAndOtherSuchFileAtBlock(std::uint64_t block, Sig& sig) {
    (void)block, (void)sig, (void)volume_;
    return false;
}
