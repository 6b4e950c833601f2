// scan-image session FILE
//
// Prints the found tree a recovery-session file holds, in the form of
// `scan-image tree`: the stored records themselves (their IDs, sizes and
// extents as written), so that a session written with `tree --session-out`
// prints what the scan printed. The file is read through the window's own
// reader: a file that is incomplete, of another version, cut short or
// damaged (its found files' print included) is refused with the program's
// message on standard error and exit status 1.

#include "ScanImageCommands.h"
#include "ScanImageScan.h"
#include "platform/ScanMode.h"
#include "platform/SystemLog.h"
#include "session/RecoverySessionFile.h"
#include "session/RecoverySessionSaving.h"
#include "volume/Volume.h"

#include <cstdio>

int sessionCommand(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: scan-image session FILE\n");
        return 2;
    }
    std::string why;
    std::unique_ptr<SessionFileInput> in = SessionFileInput::open(args[0], &why);
    if (!in) {
        std::fprintf(stderr, "scan-image: cannot open %s: %s\n", platform::escapedText(args[0]).c_str(), why.c_str());
        return 1;
    }
    std::string version;
    switch (RecoverySessionFile::readHead(*in, &version)) {
    case RecoverySessionFile::Head::Complete:
        break;
    case RecoverySessionFile::Head::Incomplete:
        std::fprintf(stderr, "scan-image: This recovery session file is incomplete.\n");
        return 1;
    case RecoverySessionFile::Head::OtherVersion:
        std::fprintf(stderr, "scan-image: This recovery session file belongs to %s. Can not process.\n",
                     platform::escapedText(version).c_str());
        return 1;
    case RecoverySessionFile::Head::Damaged:
        std::fprintf(stderr, "scan-image: %s\n", RecoverySessionFile::kDamaged);
        return 1;
    }
    // Read as the window reads it, print included: a file the window
    // refuses is refused here too.
    RecoverySession session;
    NewDir* root = RecoverySessionFile::readBody(*in, session);
    if (!root) {
        if (in->failed())
            std::fprintf(stderr, "scan-image: This recovery session file can not be read: %s.\n", in->reason().c_str());
        else
            std::fprintf(stderr, "scan-image: %s\n", RecoverySessionFile::kDamaged);
        return 1;
    }
    session.volume->dirRoot = root;
    printTree(*session.volume);
    session.volume->freeTree();
    return 0;
}

bool saveScanSession(const ScannedImage& scanned, const ScanImageOptions& o, const std::string& path,
                     platform::RecordingController& controller) {
    // As the wizard leaves things for this scan: a volume from the partition
    // search's list, or the drives list for the deleted-file scan.
    RecoverySession session;
    session.volume = scanned.volume;
    if ((o.mode.empty() ? defaultScanMode(scanned.row.get("Content").stringValue()) : o.mode) == "deleted") {
        session.scanMode = platform::storedMode(platform::ScanMode::FastFiles);
        session.rawSearchMode = platform::storedMode(platform::RawSearchMode::DeletedFiles);
    } else {
        session.scanMode = platform::storedMode(platform::ScanMode::Partitions);
        session.rawSearchMode = platform::storedMode(platform::RawSearchMode::Tree);
        session.isPTListOrPTScanListChosen = 1;
        session.partitionScanListDictArray = platform::Array{scanned.row};
    }
    const std::size_t alertsBefore = controller.alerts().size();
    RecoverySessionSaving saving(session, path);
    saving.setPanelSettleDelay(std::chrono::milliseconds(0));
    const bool saved = saving.saveScanInfo();
    const auto alerts = controller.alerts();
    for (std::size_t i = alertsBefore; i < alerts.size(); ++i)
        if (!saved)
            std::fprintf(stderr, "alert: %s: %s\n", platform::escapedText(alerts[i].title).c_str(),
                         platform::escapedText(alerts[i].message).c_str());
    return saved;
}
