#pragma once

// Saving the marked files and folders: what the program is run for. Every
// marked node of the displayed tree is written, with the tree's folder
// structure under a folder "Root", into a folder the user chose on another
// drive. File contents are read straight from the medium through the
// saving reader; nothing on the medium is ever written.
//
// The main thread runs the Save action and the checks of the chosen folder;
// the save thread writes, shows its progress in the saving sheet through the
// application controller and ends with an alert; a small thread shows the
// elapsed time. Nothing is written outside the destination, nothing there
// is overwritten, and every failed write, flush, read or folder is counted
// and reported.
//
// A save runs in two passes, as a disk-rescue tool copies before it
// scrapes, so that a dying disk gives up what reads before its worst areas
// are tried. The first writes every marked file from what answers, crossing
// a bad area in a few dozen failed reads and stepping over what lies between
// its asks. The second comes back to the stepped-over runs of those files,
// asks them at least every 128 KiB (denser around what answers), and writes
// each readable island into its file at its place; the saving sheet's bar
// then shows the places asked of those to ask. The stop button ends either
// pass with everything written kept; its end counts every marked file it
// did not write, as a whole save's end does. A sector the medium does not
// give is written as zeros and the rest of its file is saved; the end of the
// save says how many files hold such sectors, and the log which of them
// could not be read (a read asked for them) and which were not asked for. A
// file not one of whose sectors asked for could be read in either pass is
// not written: zeros are no recovered file; the end counts such files and
// the log names them. Nor is a file the
// destination could not hold left under its name. A medium found gone, or
// judged to answer no more, is asked nothing more: each file left is saved
// from what the system's cache holds of it when it holds all of it, and
// counted as not saved otherwise. Only a save that wrote every marked file
// whole says "Saving Completed".

#include "platform/Value.h"
#include "results/DestinationFileSystem.h"
#include "results/FileExtentsCopier.h"
#include "results/FileSyncQueue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <unordered_map>
#include <vector>

class DestinationFolder;
struct NewDir;
class Volume;

class DataSaving : public std::enable_shared_from_this<DataSaving> {
public:
    // What the saving sheet's line says in the second pass; the sheet keeps
    // room for it from the first, so that its stop button does not move.
    static constexpr const char* kSecondPassMessage =
        "Every marked file is saved from what the drive gave. Now the sectors stepped over in its bad areas are "
        "asked for; Stop Saving keeps all that is saved.";

    // The shown name of a node and whether the child count goes with it
    // (the extension folders of the file-types view), as the outline item
    // of the node has them.
    struct DisplayName {
        std::string fileName;
        bool appendChildrenArrayCount = false;
    };
    using DisplayNameSource = std::function<DisplayName(const NewDir*)>;

    // What the marked part of a tree holds, as the save walks it.
    struct MarkedCount {
        std::uint64_t files = 0;
        std::uint64_t bytes = 0;
    };

    // selectedVolume: the scanned volume (reader, geometry, its own root);
    // dirRootTemp: the root of the tree as displayed, which is what is
    // saved; selectedDrvOrVolDict: the row the scan was started from.
    // Without a destination file system the running system answers.
    static std::shared_ptr<DataSaving> create(std::shared_ptr<Volume> selectedVolume, NewDir* dirRootTemp,
                                              platform::Dict selectedDrvOrVolDict,
                                              std::shared_ptr<const DestinationFileSystem> destination = nullptr);
    ~DataSaving();
    DataSaving(const DataSaving&) = delete;
    DataSaving& operator=(const DataSaving&) = delete;

    // Marked files (and their bytes) reached through marked folders, the
    // way saveDir reaches them.
    static MarkedCount countMarkedToSave(const NewDir* root);

    // --- main thread ---
    // The Save button: closes a visible preview and asks the user to make
    // sure the destination is on another drive. True when the destination
    // panel is to be shown.
    bool saveData();
    // The end of the destination panel: with the OK result (1), the checks
    // of the chosen folder, then the save thread. True when it started.
    bool destinationPanelDidEnd(int panelResult, const std::string& path);
    // The checks of the chosen folder: room for markedData, writable, not
    // on the medium being recovered; sets canSaveSlashes. Each refusal has
    // told the user why.
    bool checkDestination(const std::string& path);
    // Starts saveFilesAndFolders on a detached thread for the destination.
    void startSaveThread(const std::string& path);
    // The sheet's stop button.
    void abortDataSaving();

    // --- save thread ---
    // One save from start to end; argument: {"path": destination folder}.
    void saveFilesAndFolders(const platform::Dict& argument);
    // On the main thread: the warning for a destination whose file system
    // does not take every name. The alert's answer (default: go on).
    int showAlert();
    // Writes the marked folder node, and everything marked below it, under
    // the destination folder atPath, in the save's two passes, and returns
    // once all of it is synced.
    // False when the walk could not finish (stopped, destination or folder
    // unusable, source gone).
    bool saveDir(NewDir* node, const std::string& atPath);
    // On the main thread: the bytes saved so far in the sheet, and, in the
    // second pass, the places asked so far on its bar.
    void updateTreeProgress(std::uint64_t bytes, std::optional<std::uint64_t> placesAsked = std::nullopt);
    // Every byte written so far, in the sheet unless it shows them already:
    // from the save thread at its first write and its end, and from the
    // once-a-second tick in between, also while the save waits on a slow
    // read or an alert. One at a time, so an older figure never follows a
    // newer one.
    void showSavedData();
    void startElapsedTimeThreadSavingData();
    void elapsedTimeThreadSavingData();

    // Blocks until a save started here has ended (true) or the time is up.
    bool waitUntilFinished(std::chrono::milliseconds timeout);
    // Whether the save has written all it will and only its last alert
    // (and giving the window back) is left: nothing of it runs any more.
    bool atItsLastAlert() const;

    // --- state ---
    std::uint64_t markedData() const { return markedData_.load(); }
    void setMarkedData(std::uint64_t bytes) { markedData_ = bytes; }
    std::uint64_t savedData() const { return savedData_.load(); }
    bool canSaveSlashes() const { return canSaveSlashes_.load(); }
    bool abortSaving() const { return abortSaving_.load(); }
    bool showSavingProgress() const { return showSavingProgress_.load(); }
    bool stopElapsedTimeThread() const { return stopElapsedTimeThread_.load(); }
    // Marked files and folders that could not be saved by the last save.
    std::uint64_t savingErrors() const { return errors_.load(); }
    // Files the last save put on the destination in full (an empty file is
    // not made, so it is not counted).
    std::uint64_t savedFiles() const { return savedFiles_.load(); }
    // Of those, the files that hold zeros for sectors that could not be read.
    std::uint64_t savedWithUnreadableSectors() const { return savedWithUnreadableSectors_.load(); }
    // Marked files not saved as not one of their sectors asked for could be
    // read (they count among savingErrors()).
    std::uint64_t notOneSectorRead() const { return notOneSectorRead_.load(); }
    // Whether the save is in its second pass, and the places it has asked
    // there of those it has to ask (sectors).
    bool inSecondPass() const { return secondPass_.load(); }
    std::uint64_t placesAsked() const { return placesAsked_.load(); }
    std::uint64_t placesToAsk() const { return placesToAsk_.load(); }
    // How the last save ended, as its final alert says.
    enum class Ending {
        None,                // no save has ended (or it was cancelled)
        Completed,           // every marked file saved
        CompletedWithErrors, // some marked files or folders saved, some not
        NothingMarked,       // no marked file with data: only folders were made
        Failed,              // not one marked file could be saved
        DestinationFull,     // stopped when the destination had no room left
        Aborted,             // stopped by the user
        // every marked file saved, some holding sectors that could not be
        // read (as zeros)
        CompletedWithUnreadableSectors,
    };
    Ending ending() const;
    // The final alert of the last save ("" before one ended).
    std::string endTitle() const;
    std::string endBody() const;

    // --- what the program plugs in ---
    // Names on the destination come from the nodes' outline items when they
    // have them, else from the nodes; a source replaces both.
    void setDisplayNameSource(DisplayNameSource source) { displayNameSource_ = std::move(source); }
    // Whether the destination panel is still on screen (asked from the
    // save thread, which waits for it to go).
    void setOpenPanelVisible(std::function<bool()> visible) { openPanelVisible_ = std::move(visible); }
    // How long the save thread lets the closed panel settle (1 s).
    void setPanelSettleDelay(std::chrono::milliseconds delay) { panelSettleDelay_ = delay; }
    // Whether the outline's selected row is a file (asked on the main
    // thread at the end, for the preview button).
    void setSelectedRowIsFile(std::function<bool()> isFile) { selectedRowIsFile_ = std::move(isFile); }
    // Replaces the volume's range reader (tests observe and fail reads).
    void setSectorReader(FileExtentsCopier::SectorReader reader) { reader_ = std::move(reader); }

private:
    DataSaving(std::shared_ptr<Volume> selectedVolume, NewDir* dirRootTemp, platform::Dict selectedDrvOrVolDict,
               std::shared_ptr<const DestinationFileSystem> destination);

    struct Frame;
    // A file the first pass met whose own sectors a walk stepped over: what
    // the second pass comes back to.
    struct LeftForLater {
        NewDir* node = nullptr;
        // The names of its folder and those above it, from the destination
        // down, as they were made; the folder's path for the log, with a
        // trailing "/"; the file's own name.
        std::vector<std::string> folders;
        std::string where, name;
        // The name it was made under, and its device and inode; empty when
        // the first pass read nothing of it, so made nothing.
        std::string made;
        dev_t device = 0;
        ino_t inode = 0;
        // Its sectors lost by the first pass; whether any that were read
        // (all zeros, or it would have been made).
        std::uint64_t unreadable = 0;
        bool zerosRead = false;
        // The runs [first, end) of its sectors stepped over, each with the
        // number of its first sector among the file's.
        struct Run {
            std::uint64_t first = 0, end = 0, inFile = 0;
        };
        std::vector<Run> runs;
        // The first pass's sync of it failed: it may not be there.
        bool syncFailed = false;
        // Every run of it asked again by the second pass; counted by it.
        bool askedAgain = false;
        bool settled = false;
    };
    // A file or folder handed over for its sync: a file counts as saved
    // once it is synced.
    struct Unsynced {
        std::string path; // from the destination, for the log
        bool countsWhenSynced = false;
        // Saved with zeros for sectors that could not be read.
        bool unreadableSectors = false;
        // The file the second pass comes back to, by its place in left_.
        std::size_t left = SIZE_MAX;
    };
    std::string displayNameOf(const NewDir* node) const;
    FileExtentsCopier::Geometry geometry() const;
    // First pass over a folder's children: marked folders are created,
    // marked files written; the folders to enter next are remembered.
    void saveChildren(Frame& frame);
    // Opens again the folder of the top frame, closed while the walk was
    // deeper down, by name from the nearest open folder above it.
    bool reopenTopFolder(std::vector<Frame>& stack);
    // where: the folder's path from the destination, with a trailing "/".
    void writeFile(NewDir* node, const DestinationFolder& folder, const std::string& where, const std::string& name);
    // The runs of the file's own sectors that walks stepped over, each with
    // its place in the file.
    std::vector<LeftForLater::Run> steppedOverRunsOf(const NewDir& node) const;
    // The second pass, over left_: the files' stepped-over runs asked again,
    // what answers written into them. `destination`: the chosen folder.
    void comeBackToTheBadRuns(const DestinationFolder& destination);
    void comeBackTo(LeftForLater& file, const DestinationFolder& destination);
    // Counts and logs each file of left_ the second pass did not finish, as
    // the first pass left it.
    void settleLeft();
    // A file not saved as not one of its sectors asked for could be read, or
    // none that holds anything but zeros (`zerosRead`): counted and logged,
    // the sectors no read asked for told apart.
    void notOneSectorRead(const NewDir& node, const std::string& path, bool zerosRead);
    // The file's sectors that a read asked for and that failed; its other
    // unreadable ones were not read (stepped over, or not asked of a disk
    // that had stopped).
    std::uint64_t failedSectorsOf(const NewDir& node) const;
    // `lost` sectors of the file written as zeros, told to the log as those
    // that could not be read and those no read asked for.
    void logZeros(const NewDir& node, std::uint64_t lost, const std::string& path) const;
    // path: the folder as the log names it.
    void folderFailed(const std::string& path, int error);
    // Hands a finished file (`bytes` written) over to be synced and closed;
    // counts and logs the syncs that have ended.
    void syncAndClose(int fd, Unsynced what, std::uint64_t bytes);
    void settle(const std::vector<FileSyncQueue::Synced>& ended);
    // Whether the medium is still in the drive lists; a save whose source
    // has gone asks it for nothing more.
    bool sourcePresent() const;
    bool stopped() const { return abortSaving_.load() || destinationFull_; }
    // Whether the system's cache holds every sector of the file: what a save
    // whose source has gone can still save of it, whole.
    bool cacheHoldsWhole(const NewDir& node);
    // The sectors of the marked files the walk reaches after the one it is
    // saving, in the walk's order, each file's as its copier reads them:
    // where the save still has to read, which the reader asks before it
    // gives up a failing medium.
    std::vector<FileExtentsCopier::SectorRuns> stillToRead() const;
    int alert(const std::string& title, const std::string& body, const std::string& defaultButton,
              const std::string& alternateButton = {});
    void button(const char* name, bool enabled);
    void finishSave();

    std::shared_ptr<Volume> selectedVolume_;
    NewDir* dirRootTemp_ = nullptr;
    platform::Dict selectedDrvOrVolDict_;
    std::shared_ptr<const DestinationFileSystem> destination_;

    std::atomic<std::uint64_t> markedData_{0};
    // Bytes written to the destination, counted as each write ends.
    std::atomic<std::uint64_t> savedData_{0};
    std::mutex shownMutex_;
    std::uint64_t shownData_ = 0;
    std::atomic<bool> canSaveSlashes_{true};
    std::atomic<bool> abortSaving_{false};
    std::atomic<bool> showSavingProgress_{false};
    std::atomic<bool> stopElapsedTimeThread_{true};
    std::chrono::steady_clock::time_point scanStartDate_{};

    // Bookkeeping of the save thread.
    std::atomic<std::uint64_t> errors_{0};
    std::atomic<std::uint64_t> savedFiles_{0};
    std::atomic<std::uint64_t> savedWithUnreadableSectors_{0};
    std::atomic<std::uint64_t> notOneSectorRead_{0};
    std::uint64_t filesReached_ = 0;
    // The files the first pass met with runs a walk stepped over, in the
    // order it met them, and the one the second pass is at.
    std::vector<LeftForLater> left_;
    std::size_t comingBackTo_ = 0;
    std::atomic<bool> secondPass_{false};
    std::atomic<std::uint64_t> placesToAsk_{0};
    std::atomic<std::uint64_t> placesAsked_{0};
    std::uint64_t shownAsked_ = 0;
    bool sourceGone_ = false;
    bool goneInTheSecondPass_ = false;
    // A write found no room: every file after it would fail as well.
    bool destinationFull_ = false;
    // Set up by saveDir for its walk: the folders it is in, and the child of
    // the innermost whose turn it is.
    std::vector<Frame>* walk_ = nullptr;
    std::uint32_t childAt_ = 0;
    static constexpr std::uint32_t kBeforeTheFirstChild = UINT32_MAX;
    std::optional<FileExtentsCopier> copier_;
    std::optional<FileSyncQueue> syncs_;
    std::unordered_map<std::uint64_t, Unsynced> unsynced_;
    std::uint64_t nextTicket_ = 0;
    std::string sourcePath_;

    DisplayNameSource displayNameSource_;
    std::function<bool()> openPanelVisible_;
    std::function<bool()> selectedRowIsFile_;
    FileExtentsCopier::SectorReader reader_;
    // What the system's cache holds of the medium, read without asking it
    // (DMedia::readCachedSectors), and room for what it gives.
    FileExtentsCopier::SectorReader cachedReader_;
    std::vector<std::uint8_t> cacheCheck_;
    std::chrono::milliseconds panelSettleDelay_{1000};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread elapsedThread_;
    bool running_ = false;
    bool atLastAlert_ = false;
    Ending ending_ = Ending::None;
    std::string endTitle_, endBody_;
};
