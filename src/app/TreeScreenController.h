#pragma once

#include "results/DataSaving.h"

// What makes the "Tree" screen work: showing a finished scan's tree in the
// found-file outline, the marks and their totals, the file-types and
// deleted-files views, the find with its Previous, Next, Mark All and Unmark
// All, and going back, which frees the tree. The work itself is done by the
// headless classes of src/results/; this class connects them to the
// screen's controls and runs the long steps (rearranging, freeing) on worker
// threads behind a sheet, with the outline detached from the tree while a
// worker changes it.
//
// Saving and preview reach the shown tree through displayedTree(),
// selectedItem() and the hooks below.

#include "results/DisplayedTree.h"
#include "results/TreeArrangement.h"
#include "results/TreeFind.h"

#include <QObject>
#include <QPointer>
#include <QTreeView>
#include <functional>
#include <memory>
#include <string>

class NewDirViewHelper;
class OutlineCell;
class OutlineImageCell;
class QAbstractButton;
class QLabel;
class QPushButton;
class QModelIndex;
class Quelvar_Recovery_SoftwareAppDelegate;
class ResultOutlineModel;
class TreeScreen;

class TreeScreenController : public QObject {
    Q_OBJECT
public:
    // Makes the controller of the delegate's window (a child of the
    // delegate), connects the screen's controls and has the end of a scan
    // show its tree here.
    static TreeScreenController* install(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    // The installed controller, or nullptr.
    static TreeScreenController* of(const Quelvar_Recovery_SoftwareAppDelegate& delegate);
    // A tree still shown when the program ends is freed with the screen.
    ~TreeScreenController() override;

    // --- showing (main thread) ---
    // A freshly scanned tree: outline items, the "Tree" screen, totals and,
    // after a scan of the disk, the completion alert.
    void showTree();
    // A tree rearranged by a view change, or read from a session file.
    void showTreeModified();
    // A tree worker's last step: on the main thread, the worker is done and
    // the rearranged tree is shown.
    void endTreeWork();
    void generateViewHelperFor(NewDir* node, NewDir* parent);
    void countMarkedDataAndFiles();
    void reloadOutlineViewData();
    // Undoes the deleted-only arrangement while deleted entries only are on
    // display.
    void returnTree();
    // From a worker (the session save): while deleted entries only are on
    // display, the whole tree again, with the outline detached meanwhile and
    // the toggle showing "Show Deleted" afterwards. False when it already was.
    bool showWholeTree();

    // --- the screen's actions (main thread) ---
    void toggleTreeFileTypes();
    void toggleTreeDeleted();
    void find();
    // The Save button: the designed checks, a folder chooser that does not
    // block the window, then the save thread; the saving sheet's Stop button
    // aborts it.
    void saveMarkedFiles();
    void abortSaving();
    void findNext();
    void findPrev();
    void markAllFound();
    void unmarkAllFound();
    void treeBackButtonClicked();
    // Frees the tree on a worker; true goes back to the drives list, false
    // to a partition list.
    void freeTree(bool backToDrivesList);
    void outlineViewSelectionDidChange();

    // --- state ---
    std::shared_ptr<DisplayedTree> displayedTree() const { return tree_; }
    std::shared_ptr<TreeFind> treeFind() const { return find_; }
    ResultOutlineModel* model() const { return model_; }
    QTreeView* outline() const { return outline_; }
    // The outline item of the selected row, or nullptr ("Loading..." too).
    NewDirViewHelper* selectedItem() const;
    // The preview's action: the Preview button, a double click on a row,
    // and a new selection while the preview window is up. The preview
    // window's own unless replaced.
    void setPreviewHook(std::function<void()> hook) { previewHook_ = std::move(hook); }
    // True while a worker rearranges or frees the tree.
    bool treeWorkerRunning() const { return treeWorkerRunning_; }
    // Whether a save started here is still running.
    bool savingRunning() { return saving_ && !saving_->waitUntilFinished(std::chrono::milliseconds(0)); }
    // Whether that save has ended and only its last alert is left.
    bool savingAtItsLastAlert() const { return saving_ && saving_->atItsLastAlert(); }

signals:
    // After showTree, showTreeModified, and the end of freeTree's worker.
    void treeShown();
    void treeFreed();

private:
    // Preview and saving read the found files only from their own medium
    // (see RecoverySessionController::sessionMediumReady).
    bool sessionMediumReady();

    explicit TreeScreenController(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    void connectControls();
    // The result screen's widgets, on the main thread from any thread;
    // nothing without a window.
    void onTreeScreen(const std::function<void(TreeScreen&)>& fn);
    void setButtonEnabled(QPushButton* (TreeScreen::*button)() const, bool enabled);
    void setText(QLabel* (TreeScreen::*field)() const, const std::string& text);
    // Emptied, so that it shows its title.
    void clearFindField();
    // The message of the sheet shown while the tree is freed.
    void setReturningText(const char* text);
    // The saving sheet's count of what it saved, blanked.
    void clearSavedData();
    // The outline shows the placeholder and no longer reads the tree.
    void detachOutline();
    void attachOutline();
    bool editMark(NewDirViewHelper* item, bool mark);
    // Saving is offered while anything of the shown tree is marked.
    void followMarksWithSaveButton();
    void selectFound(int index);
    void startPreparingTree(TreeArrangement::Toggle sender);
    void runSheetForPreparingTree(TreeArrangement::Toggle sender);
    // The toggle's title and picture for the view on display.
    void showToggle(TreeArrangement::Toggle toggle, DisplayedTree::View view);
    void freeTreeThread(bool backToDrivesList);
    int previewState(const NewDirViewHelper* item) const;

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    std::shared_ptr<DisplayedTree> tree_;
    std::shared_ptr<TreeFind> find_;
    ResultOutlineModel* model_ = nullptr;
    QPointer<QTreeView> outline_;
    OutlineCell* nameCell_ = nullptr;
    OutlineImageCell* verdictCell_ = nullptr;
    bool treeWorkerRunning_ = false;
    std::function<void()> previewHook_;
    std::shared_ptr<DataSaving> saving_;
};
