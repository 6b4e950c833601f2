#pragma once

// The program's side of the auto-recovery pair: before a signature search
// starts, the scan is held while its snapshot is written (with the sheet
// that says so), then the helper is started; at the end of a scan the pair
// goes; and an interrupted scan is resumed: the pair is read behind the
// loading sheet, the wizard's choices come back and the same search goes on
// from its checkpoint. The files themselves are src/session's.

#include "platform/Value.h"
#include "session/SessionMediumCheck.h"

#include <QObject>
#include <memory>
#include <optional>
#include <string>

class Quelvar_Recovery_SoftwareAppDelegate;
class Volume;
struct AutoRecoveryState;

class AutoRecoveryController : public QObject {
    Q_OBJECT
public:
    static AutoRecoveryController* install(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    static AutoRecoveryController* of(const Quelvar_Recovery_SoftwareAppDelegate& delegate);

    // Called by the scan thread just before its search, which then waits
    // while the volume's pause flag is set: the flag is set here, before the
    // snapshot thread starts, and that thread clears it whatever happens.
    void rawScanStarted(const platform::Value& argument);
    // The scan has ended: the pair is no longer needed.
    void rawScanCompleted();

    // Reads the pair on a worker thread; the resumed scan then starts on
    // the main thread. A pair that cannot be read is deleted and the program
    // stays on the home screen (the log says why).
    void openScanInfoAutoRecoveryAndScanThread();

    // How the question and the alerts name a snapshot's medium: its volume
    // name, else the drive's model and serial, with its path.
    static std::string describeMedium(const Volume& volume);

signals:
    // On the main thread once the resume has started its scan (true) or
    // given up (false).
    void resumeFinished(bool resumed);

private:
    explicit AutoRecoveryController(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    // The snapshot thread's body.
    void rawScanStartedThread(AutoRecoveryState state);
    // Main thread: the read state becomes the program's, then the wizard
    // starts the resumed search.
    void scanAutoRecovery(AutoRecoveryState& state);
    // Main thread: the snapshot's medium is not among the drives; the user
    // hears which it is and the pair stays for a later start.
    void mediumNotConnected(AutoRecoveryState& state);
    // The medium came back under another path: the scan goes on there.
    static void adoptMediumPath(AutoRecoveryState& state, const SessionMediumCheck::Found& medium);

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    // The identity the resumed scan's medium was found by at this start, for
    // the resumed search's snapshot: read once, a failing disk's samples cost
    // one failed read each, not two.
    struct ResumedMedium {
        std::weak_ptr<Volume> volume;
        std::string device;
        MediumIdentity identity;
    };
    std::optional<ResumedMedium> resumedMedium_;
};
