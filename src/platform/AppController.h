#pragma once

// The one way the engine reaches the user. Scans, readers and savers run on
// worker threads and never touch a window: they hand a request (an array or a
// dictionary) to the application controller, which performs it on the main
// thread and, unless a method says otherwise, returns only when the main
// thread is done with it. The desktop program implements this with the real
// windows; tests and the command-line tools use RecordingController.
//
// User-interface elements named in requests ("button", "textField",
// "progressIndicator", "sheetWindow", "parentWindow") are identifier strings;
// the program maps them to its widgets.

#include "platform/ScanMode.h"
#include "platform/Value.h"

#include <functional>
#include <string>

namespace platform {

// Answers of a dictionary-form alert, as alert panels report them.
enum AlertReturn : int {
    AlertDefaultReturn = 1,
    AlertAlternateReturn = 0,
    AlertOtherReturn = -1,
};

class AppController {
public:
    virtual ~AppController();

    // Runs fn on the main thread. With waitUntilDone the call returns once fn
    // has run; called on the main thread it runs fn directly.
    virtual void performOnMainThread(std::function<void()> fn, bool waitUntilDone) = 0;

    // --- alerts and interface requests ---
    // Array form: title, message format, default button, [alternate if the
    // array has 5+ items], [other if 6+], and last an array whose items after
    // the first fill the message's placeholders. The answer is dropped.
    virtual void runAlertPanel(const Array& request) = 0;
    // The same alert, shown without waiting for it to be answered: a worker
    // that only informs (a scan that goes on past unreadable sectors) must
    // not stand still until someone clicks OK.
    virtual void postAlertPanel(const Array& request) = 0;
    // Dictionary form: "title", "body", "defaultButton", "alternateButton",
    // "otherButton". Stores the answer in alertResultValue and returns it.
    virtual int showAlertPanelWithData(const Dict& request) = 0;
    virtual int alertResultValue() const = 0;
    virtual void updateButton(const Dict& request) = 0;
    virtual void updateTextField(const Dict& request) = 0;
    virtual void beginSheetWindow(const Dict& request) = 0;
    virtual void beginSheetWindowWithContextInfoAndOthers(const Dict& request) = 0;
    virtual void endSheetWindow(const Dict& request) = 0;
    virtual void updateProgressIndicator(const Dict& request) = 0;

    // --- progress and timers ---
    virtual void updateProgress(const Dict& progress) = 0;
    virtual void updateVolumeScanProgress(const Dict& progress) = 0;
    // Start the one-second tick that hands the selected volume's (or drive's)
    // progress dictionary to the display; invalidateTimer ends it after its
    // current sleep.
    virtual void setUpTimer() = 0;
    virtual void setUpTimerForDMedia() = 0;
    virtual void invalidateTimer() = 0;
    virtual void setStopElapsedTimeThread(bool stop) = 0;

    // --- windows and navigation ---
    virtual void selectTabViewItemWithIdentifier(const std::string& identifier) = 0;
    virtual void setZeroTableViewDrivesList(bool zero) = 0;
    // Closes a visible preview, then quits the application.
    virtual void terminateApp() = 0;
    // Performed without waiting: back to the list the volume came from, the
    // found tree freed, the scan-running flag cleared.
    virtual void destroyVolumeAndBackToPartList() = 0;
    virtual void previewClose() = 0;

    // --- state the engine reads ---
    virtual ScanMode scanMode() const = 0;
    // The drive and volume lists as last built (never rebuilt by the getter).
    virtual Array driveDictArray() const = 0;
    virtual Array volumeDictArray() const = 0;
    // NO while a data save, a session save or a session open runs.
    virtual bool scanInfoOrSavingNotProcessing() const = 0;
    virtual void setScanInfoOrSavingNotProcessing(bool notProcessing) = 0;
    // Snapshot hand-over around a signature search: rawScanStarted gets "auto"
    // for a resumed scan (else a null value); rawScanCompleted deletes the
    // snapshot files.
    virtual void rawScanStarted(const Value& argument) = 0;
    virtual void rawScanCompleted() = 0;
};

// The process-wide controller through which engine code reaches the user.
AppController* appController();
void setAppController(AppController* controller);

// Message and arguments of an array-form alert request, as they are shown.
struct AlertText {
    std::string title;
    std::string message;
    std::string defaultButton;
    std::string alternateButton;
    std::string otherButton;
};
AlertText alertTextFromRequest(const Array& request);

// Builds the usual four-item array-form request.
Array alertRequest(std::string title, std::string message, std::string button, Array arguments = {});

// "d:hh:mm:ss" for a number of seconds: whole minutes by truncation, the
// seconds from the fractional minute; days are not padded.
std::string getTimeFormStringForInterval(double seconds);

} // namespace platform
