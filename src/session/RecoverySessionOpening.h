#pragma once

// Opening a recovery-session file: the head is checked on the main thread
// (a file still being written, or one of another version, is refused there
// with its alert); the rest is read on a worker thread behind the loading
// sheet. Nothing read becomes the program's until the whole file has been
// read: a file cut short or damaged ends with "! Error", frees what was
// built and leaves the program on the home screen. A read tree is rebuilt
// into the tree that is shown (folder totals from the files actually there,
// paths from the names), then the drive or volume the session came from is
// looked for; when it is missing the tree can still be browsed, searched and
// marked, only preview and saving cannot read it.

#include "session/RecoverySessionFile.h"

#include <chrono>
#include <functional>
#include <string>

struct NewDir;
class Volume;

class RecoverySessionOpening {
public:
    static constexpr const char* kCanNotOpenNowTitle = "! Can not open recovery session file now";
    // As the window names the program.
    static constexpr const char* kProgramName = "Drentic Deleted File Recovery";

    // Main thread. True when the file at path is a complete session of this
    // version; otherwise the alert has said why.
    static bool checkHead(const std::string& path);
    // The alert of a session asked for while another screen than the home
    // screen is up.
    static void refuseOpeningNow();

    explicit RecoverySessionOpening(std::string path) : path_(std::move(path)) {}

    // --- what the program plugs in (each run on the main thread) ---
    // Whether the open panel is still on screen; without it nothing waits.
    void setPanelVisible(std::function<bool()> visible) { panelVisible_ = std::move(visible); }
    void setPanelSettleDelay(std::chrono::milliseconds delay) { settleDelay_ = delay; }
    // The session's modes and lists and its volume (a copy, marked as opened
    // from a session, with the rebuilt tree) become the program's.
    void setAdopt(std::function<void(const RecoverySession&)> adopt) { adopt_ = std::move(adopt); }
    // Shows the adopted volume's tree on the tree screen.
    void setShowTree(std::function<void()> show) { showTree_ = std::move(show); }
    // The file could not be read: back to the home screen.
    void setShowHome(std::function<void()> show) { showHome_ = std::move(show); }

    // The reading thread's body; true when the tree is shown.
    bool openScanInfo();

    // Looks for the medium of an opened session (its volume, with the tree
    // installed) among the drives and volumes connected now: a mounted
    // volume by its size and name, any other by its first five sectors, and
    // either only where it holds the session's found files; the volume's
    // own path is looked at first. Found under another path, the volume and
    // the session's partition lists take that path. Not found, the volume's
    // preview and save readers read nothing until a later look finds it:
    // another disk that took the old path never gives its bytes for the
    // found files. False when the medium was looked for and is not there.
    static bool checkMediumAvailability(Volume& volume, RecoverySession& session, const platform::Array& driveDictArray,
                                        const platform::Array& volumeDictArray);
    // "Drive Not Connected" or "Volume Not Mounted".
    static void mediumNotFoundAlert(const Volume& volume);

    // Rebuilds the read tree under a new root that becomes the volume's
    // (with the read root's sectors per block and mark); the read tree is
    // freed. Returns the new root. With generateViewHelpers the tree is
    // ready to be shown (its deleted-entry and direct lists built); without,
    // it is a tree as a scan builds it, for a scan that goes on (whose
    // clean-up builds those lists once, at its end).
    static NewDir* setSelectedVolumeDirRoot(Volume& volume, NewDir* readRoot, bool generateViewHelpers = true);
    // Copies the folders and files below source into destination, in list
    // order, and gives every folder the totals of the files copied below it.
    static void readFromDir(const NewDir* source, NewDir* destination);

private:
    void failed(const std::string& message);

    std::string path_;
    std::function<bool()> panelVisible_;
    std::chrono::milliseconds settleDelay_{1000};
    std::function<void(const RecoverySession&)> adopt_;
    std::function<void()> showTree_;
    std::function<void()> showHome_;
};
