#include "app/TreeScreenController.h"

#include "app/AppImages.h"
#include "app/BusyIndicator.h"
#include "app/DrivesListScreen.h"
#include "app/MainWindow.h"
#include "app/PTListScreen.h"
#include "app/PTScanListScreen.h"
#include "app/PreviewWindow.h"
#include "app/ProgressSheet.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "app/RecoverySessionController.h"
#include "app/SavingDataSheet.h"
#include "app/ScanWizard.h"
#include "app/SignaturesScreen.h"
#include "app/TreeScreen.h"
#include "platform/Format.h"
#include "platform/ProcessFlags.h"
#include "results/CheckController.h"
#include "results/qt/ClearingSearchField.h"
#include "results/qt/OutlineCell.h"
#include "results/qt/OutlineImageCell.h"
#include "results/qt/OutlineViewHighlightingRow.h"
#include "results/qt/ResultOutlineModel.h"
#include "results/qt/Utf8Text.h"
#include "volume/Volume.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <atomic>
#include <memory>
#include <thread>

using platform::Array;
using platform::Dict;
using platform::Value;
using Toggle = TreeArrangement::Toggle;

namespace {

// The toggles' pictures by the names the designs give them, as the files
// of the resource folder are called.
std::string pictureFile(const std::string& name) {
    if (name == "data_View") return "data-view";
    if (name == "file_Types_View") return "file-types-view";
    if (name == "folder_Select") return "folder-select";
    if (name == "folder_Delete") return "folder-delete";
    return name;
}

} // namespace

TreeScreenController* TreeScreenController::install(Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    if (TreeScreenController* existing = of(delegate)) return existing;
    auto* controller = new TreeScreenController(delegate);
    delegate.setTreeDisplayHook([controller] { controller->showTree(); });
    return controller;
}

TreeScreenController* TreeScreenController::of(const Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    return delegate.findChild<TreeScreenController*>(QString(), Qt::FindDirectChildrenOnly);
}

TreeScreenController::TreeScreenController(Quelvar_Recovery_SoftwareAppDelegate& delegate)
    : QObject(&delegate), delegate_(delegate), tree_(std::make_shared<DisplayedTree>()) {
    std::weak_ptr<DisplayedTree> shown = tree_;
    find_ = std::make_shared<TreeFind>([shown] {
        auto tree = shown.lock();
        return tree ? tree->dirRootTemp() : nullptr;
    });
    find_->setDisplay({[this](const std::string& text) { setText(&TreeScreen::findTextField, text); },
                       [this](bool animate) {
                           onTreeScreen([animate](TreeScreen& s) {
                               if (animate)
                                   s.findProgress()->startAnimation();
                               else
                                   s.findProgress()->stopAnimation();
                           });
                       },
                       [this](bool any) {
                           // findThreadComplete
                           onTreeScreen([any](TreeScreen& s) {
                               s.markAllButton()->setEnabled(any);
                               s.prevButton()->setEnabled(any);
                               s.nextButton()->setEnabled(any);
                               s.unmarkAllButton()->setEnabled(false);
                           });
                       }});
    model_ = new ResultOutlineModel(this);
    model_->setMarkHandler([this](NewDirViewHelper* item, bool mark) { return editMark(item, mark); });
    model_->setPreviewState([this](const NewDirViewHelper* item) { return previewState(item); });
    previewHook_ = [this] {
        if (!sessionMediumReady()) return;
        NewDirViewHelper* item = selectedItem();
        PreviewWindow::preview(delegate_, item ? item->newDir() : nullptr);
    };
    connectControls();
}

TreeScreenController::~TreeScreenController() {
    // The delegate is mostly gone by now: only what this object holds is
    // touched. A worker still busy with the tree keeps it.
    if (treeWorkerRunning_) return;
    model_->detach();
    tree_->freeTreeNodes();
}

void TreeScreenController::onTreeScreen(const std::function<void(TreeScreen&)>& fn) {
    delegate_.performOnMainThread(
        [this, &fn] {
            if (MainWindow* window = delegate_.window()) fn(*window->treeScreen());
        },
        true);
}

void TreeScreenController::setButtonEnabled(QPushButton* (TreeScreen::*button)() const, bool enabled) {
    onTreeScreen([&](TreeScreen& s) { (s.*button)()->setEnabled(enabled); });
}

void TreeScreenController::setText(QLabel* (TreeScreen::*field)() const, const std::string& text) {
    onTreeScreen([&](TreeScreen& s) { (s.*field)()->setText(Utf8Text::toQString(text)); });
}

void TreeScreenController::setReturningText(const char* text) {
    delegate_.performOnMainThread(
        [this, text] {
            if (MainWindow* window = delegate_.window())
                window->windowReturningTree()->messageLabel()->setText(QString::fromLatin1(text));
        },
        true);
}

void TreeScreenController::clearSavedData() {
    delegate_.performOnMainThread(
        [this] {
            if (MainWindow* window = delegate_.window())
                window->windowSavingData()->textFieldSavedData()->setText(QStringLiteral(" "));
        },
        true);
}

void TreeScreenController::clearFindField() {
    onTreeScreen([](TreeScreen& s) { s.findField()->setText(QString()); });
}

void TreeScreenController::connectControls() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    const TreeScreen* screen = window->treeScreen();
    outline_ = screen->outlineViewData();
    if (outline_) {
        outline_->setModel(model_);
        nameCell_ = new OutlineCell(this);
        nameCell_->setDeleteOverlay(AppImages::imageNamed(QStringLiteral("DeleteOverlay_6")));
        verdictCell_ = new OutlineImageCell(this);
        verdictCell_->setImages(AppImages::imageNamed(QStringLiteral("green")),
                                AppImages::imageNamed(QStringLiteral("red")),
                                AppImages::imageNamed(QStringLiteral("grey")));
        outline_->setItemDelegateForColumn(ResultOutlineModel::FilesColumn, nameCell_);
        outline_->setItemDelegateForColumn(ResultOutlineModel::CompleteColumn, verdictCell_);
        outline_->setSelectionMode(QAbstractItemView::SingleSelection);
        outline_->setSelectionBehavior(QAbstractItemView::SelectRows);
        outline_->setExpandsOnDoubleClick(false);
        QHeaderView* header = outline_->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(ResultOutlineModel::FilesColumn, QHeaderView::Stretch);
        for (int c = 1; c < ResultOutlineModel::ColumnCount; ++c)
            header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
        connect(outline_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                &TreeScreenController::outlineViewSelectionDidChange);
        connect(outline_, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
            if (index.isValid() && !model_->isPlaceholder(index) && previewHook_) previewHook_();
        });
    }
    auto onClick = [this](QAbstractButton* b, void (TreeScreenController::*action)()) {
        connect(b, &QAbstractButton::clicked, this, action);
    };
    onClick(screen->buttonTreeFileTypesToggle(), &TreeScreenController::toggleTreeFileTypes);
    onClick(screen->buttonTreeShowDeleted(), &TreeScreenController::toggleTreeDeleted);
    onClick(screen->prevButton(), &TreeScreenController::findPrev);
    onClick(screen->nextButton(), &TreeScreenController::findNext);
    onClick(screen->markAllButton(), &TreeScreenController::markAllFound);
    onClick(screen->unmarkAllButton(), &TreeScreenController::unmarkAllFound);
    onClick(screen->buttonTreeBackToPartitions(), &TreeScreenController::treeBackButtonClicked);
    onClick(screen->saveButton(), &TreeScreenController::saveMarkedFiles);
    connect(screen->previewButton(), &QAbstractButton::clicked, this, [this] {
        if (previewHook_) previewHook_();
    });
    onClick(window->windowSavingData()->stopSaveButton(), &TreeScreenController::abortSaving);
    // The returning and saving sheets' message lines, by the names requests give them.
    delegate_.registerElement(QStringLiteral("textFieldReturningTree"), window->windowReturningTree()->messageLabel());
    delegate_.registerElement(QStringLiteral("textFieldSavingMessage"), window->windowSavingData()->messageLabel());
    ClearingSearchField* field = screen->findField();
    field->setTitleString(field->property("title").toString());
    connect(field, &QLineEdit::returnPressed, this, &TreeScreenController::find);
}

void TreeScreenController::detachOutline() {
    tree_->setDirRootTemp(nullptr);
    delegate_.setDirRootTemp(nullptr);
    model_->detach();
}

void TreeScreenController::attachOutline() {
    NewDir* root = tree_->dirRootTemp();
    delegate_.setDirRootTemp(root);
    model_->attach(NewDirViewHelper::of(root));
    if (outline_ && root) outline_->expand(model_->index(0, 0));
}

NewDirViewHelper* TreeScreenController::selectedItem() const {
    if (!outline_ || !outline_->selectionModel()) return nullptr;
    const QModelIndexList rows = outline_->selectionModel()->selectedRows();
    if (rows.isEmpty() || model_->isPlaceholder(rows.first())) return nullptr;
    return model_->itemAt(rows.first());
}

int TreeScreenController::previewState(const NewDirViewHelper* item) const {
    const PreviewWindow* preview = PreviewWindow::made(delegate_.window());
    if (!preview || !preview->isVisible()) return 0;
    const NewDirViewHelper* selected = selectedItem();
    return selected && selected->newDir() == item->newDir() ? 1 : 2;
}

// ---------------------------------------------------------------------------
// Showing

void TreeScreenController::generateViewHelperFor(NewDir* node, NewDir* parent) {
    tree_->generateViewHelperFor(node, parent);
}

void TreeScreenController::reloadOutlineViewData() {
    // Anything below the root may have changed: the outline starts again
    // from the root shown.
    model_->attach(model_->attachedRoot());
    if (outline_ && model_->attachedRoot()) outline_->expand(model_->index(0, 0));
}

void TreeScreenController::showTree() {
    // A tree being freed is not shown again: the scan that was refused
    // posts its end after the program has gone back.
    if (treeWorkerRunning_) return;
    // A fresh tree starts in the folder view with all entries.
    showToggle(Toggle::FileTypes, DisplayedTree::View{});
    showToggle(Toggle::Deleted, DisplayedTree::View{});
    delegate_.endSheetWindow(Dict{{"sheetWindow", "alertWindowForAbort"}});
    delegate_.setStopElapsedTimeThread(true);

    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (volume && volume->dirRoot) {
        setText(&TreeScreen::textFieldTreeStatus, " ");
        clearFindField();
        setText(&TreeScreen::findTextFieldSelectedIndex, " ");
        delegate_.endSheetWindow(Dict{{"sheetWindow", "windowPreparingTree"}});
        delegate_.beginSheetWindow(Dict{{"sheetWindow", "windowPreparingTree"}, {"parentWindow", "window"}});
        delegate_.updateProgressIndicator(
            Dict{{"progressIndicator", "progressIndicatorPreparingTree"}, {"animation", true}});
        tree_->setVolume(volume);
        tree_->showVolumeRoot();
        tree_->generateViewHelperFor(tree_->dirRootTemp(), nullptr);
        delegate_.updateProgressIndicator(
            Dict{{"progressIndicator", "progressIndicatorPreparingTree"}, {"animation", false}});
        delegate_.endSheetWindow(Dict{{"sheetWindow", "windowPreparingTree"}});

        attachOutline();
        delegate_.selectTabViewItemWithIdentifier("Tree");
        setText(&TreeScreen::textFieldTotalData, tree_->totalDataText());
        countMarkedDataAndFiles();
        clearSavedData();

        if (!volume->openedScanInfo) {
            // A tree built over sectors that read as zeros is never shown as
            // the whole result without saying so: a line of the scan's own
            // alert, or an alert of its own where the scan has none. A
            // resumed scan counts what it lost before it was interrupted.
            const std::uint64_t lost = volume->scanUnreadableSectorCount();
            std::string lostLine =
                lost == 0 ? std::string()
                          : platform::format(
                                "Sectors of the drive that could not be read, or lay in a bad area and were not "
                                "read: %llu. The scan took them as zeros: entries and files that lay on them may be "
                                "missing or damaged.",
                                static_cast<unsigned long long>(lost));
            // A disk that stopped answering is no disk with a few bad
            // sectors: the end says so, and how far the scan had come. The
            // alert takes its message as a format too: its percent sign is
            // written doubled.
            const std::optional<std::uint32_t> stoppedAt = volume->stoppedAnsweringAtPercent();
            if (stoppedAt)
                lostLine =
                    platform::format("The drive stopped answering %u%%%% of the way into the scan. From there on "
                                     "only what the system still held of it in memory was read: entries and "
                                     "files that lay on the rest may be missing or damaged.",
                                     static_cast<unsigned>(*stoppedAt)) +
                    (lostLine.empty() ? std::string() : "\n\n" + lostLine);
            const auto withLostLine = [&](std::string message) {
                return lostLine.empty() ? message : message + "\n\n" + lostLine;
            };
            bool told = false;
            const int chosenFrom = delegate_.isPTListOrPTScanListChosen();
            if (chosenFrom != 0 && chosenFrom != 1) {
                // The wizard's search mode, whether it chose it or a
                // session or snapshot gave it back: after a whole-disk or a
                // formatted-volume scan there is no such alert.
                const ScanWizard* wizard = ScanWizard::of(delegate_);
                if ((!wizard || wizard->rawSearchMode() != platform::RawSearchMode::WholeDisk) &&
                    delegate_.scanMode() != platform::ScanMode::Formatted) {
                    delegate_.runAlertPanel(
                        platform::alertRequest("Deleted file scan completed",
                                               withLostLine("Recovered data tree may contain regular "
                                                            "files(which may show in finder) and the deleted "
                                                            "files. Select \"Show deleted\" to view only "
                                                            "deleted files, then select the files which you "
                                                            "want to recover and click \"Save\""),
                                               "OK"));
                    told = true;
                }
            } else if (delegate_.treeScanMode() == platform::TreeScanMode::Standard) {
                // What lay in catalog nodes the medium would not give is
                // missing from this tree; the advanced scan searches the
                // whole volume for catalog records and may find it.
                if (!lostLine.empty() && volume->catalogNodesUnread)
                    lostLine += " Please try Advance Scan for tree on the desired volume.";
                delegate_.runAlertPanel(
                    platform::alertRequest("Standard scan completed",
                                           withLostLine("Check for lost data in the recovered tree. If you are "
                                                        "unable to find the desired data, click "
                                                        "the back button and select advanced scan option."),
                                           "OK"));
                told = true;
            }
            if (!told && !lostLine.empty())
                delegate_.runAlertPanel(platform::alertRequest(
                    stoppedAt ? "! The drive stopped answering" : "! Sectors could not be read", lostLine, "OK"));
        }
    }
    if (MainWindow* window = delegate_.window()) {
        const TreeScreen* screen = window->treeScreen();
        for (QPushButton* b :
             {screen->markAllButton(), screen->unmarkAllButton(), screen->prevButton(), screen->nextButton(),
              screen->previewButton(), screen->saveButton(), window->windowSavingData()->stopSaveButton()})
            b->setEnabled(false);
        screen->saveScanButton()->setEnabled(!(volume && volume->openedScanInfo));
    }
    find_->setFindThreadAbort(false);
    emit treeShown();
}

void TreeScreenController::endTreeWork() {
    delegate_.performOnMainThread(
        [this] {
            treeWorkerRunning_ = false;
            showTreeModified();
        },
        true);
}

void TreeScreenController::showTreeModified() {
    std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    if (volume && volume->dirRoot) {
        // A tree read from a session comes without a shown root.
        if (!tree_->dirRootTemp() && !tree_->volume()) {
            tree_->setVolume(volume);
            tree_->showVolumeRoot();
        }
        attachOutline();
        // Emptied rather than blanked: an empty find field shows its title.
        clearFindField();
        setText(&TreeScreen::findTextFieldSelectedIndex, " ");
        setText(&TreeScreen::textFieldTotalData, tree_->totalDataText());
        countMarkedDataAndFiles();
        clearSavedData();
    }
    emit treeShown();
}

void TreeScreenController::countMarkedDataAndFiles() {
    tree_->countMarkedDataAndFiles();
    setText(&TreeScreen::textFieldMarkedData, tree_->markedDataText());
    NewDir* root = tree_->dirRootTemp();
    if (root && root->selected == 1) setButtonEnabled(&TreeScreen::saveButton, true);
}

void TreeScreenController::returnTree() {
    tree_->returnTree();
}

bool TreeScreenController::showWholeTree() {
    bool deletedOnly = false;
    delegate_.performOnMainThread(
        [&] {
            deletedOnly = tree_->view().deletedOnly && !treeWorkerRunning_;
            if (!deletedOnly) return;
            detachOutline();
            treeWorkerRunning_ = true;
        },
        true);
    if (!deletedOnly) return false;
    auto self = std::make_shared<TreeFind::Worker>();
    find_->stopFindAndStandAsFindThread(self);
    delegate_.performOnMainThread([this] { find_->clearResults(); }, true);
    // The volume's own tree goes back whole, whichever view the deleted-only
    // arrangement was made in; then the view on display lists everything.
    tree_->returnTree();
    TreeArrangement(*tree_).prepareTree(Toggle::Deleted);
    showToggle(Toggle::Deleted, tree_->view());
    endTreeWork();
    self->finished = true;
    return true;
}

// ---------------------------------------------------------------------------
// Marks

bool TreeScreenController::editMark(NewDirViewHelper* item, bool mark) {
    if (!delegate_.scanInfoOrSavingNotProcessing()) {
        delegate_.runAlertPanel(
            platform::alertRequest("Process Running",
                                   "Can not check/uncheck while current process (Data Saving/Recovery Session "
                                   "Saving/Recovery Session "
                                   "Opening) is running. Please wait for the process to finish first.",
                                   "OK"));
        return false;
    }
    if (!item || !item->newDir()) return false;
    CheckController(item->newDir(), mark ? 1 : 0).run();
    followMarksWithSaveButton();
    countMarkedDataAndFiles();
    return true;
}

void TreeScreenController::outlineViewSelectionDidChange() {
    const NewDirViewHelper* item = selectedItem();
    setButtonEnabled(&TreeScreen::previewButton, item && item->fileType() == NewDir::File);
    const PreviewWindow* preview = PreviewWindow::made(delegate_.window());
    if (preview && preview->isVisible() && previewHook_) previewHook_();
}

// ---------------------------------------------------------------------------
// Find

void TreeScreenController::find() {
    MainWindow* window = delegate_.window();
    if (!window) return;
    if (find_->find(Utf8Text::fromQString(window->treeScreen()->findField()->text())))
        setText(&TreeScreen::findTextFieldSelectedIndex, " ");
}

void TreeScreenController::selectFound(int index) {
    if (index < 0 || !outline_) return;
    NewDir* node = find_->foundNode(static_cast<std::size_t>(index));
    if (!node) return;
    // The ancestors open from the root down, then the row alone is selected.
    std::vector<NewDir*> ancestors;
    for (NewDir* a = node->pndirPointer; a; a = a->pndirPointer)
        ancestors.push_back(a);
    for (auto it = ancestors.rbegin(); it != ancestors.rend(); ++it) {
        const QModelIndex a = model_->indexOfNode(*it);
        if (a.isValid()) outline_->expand(a);
    }
    const QModelIndex row = model_->indexOfNode(node);
    if (row.isValid()) {
        outline_->selectionModel()->select(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        outline_->selectionModel()->setCurrentIndex(row, QItemSelectionModel::NoUpdate);
        outline_->scrollTo(row);
    }
    setText(&TreeScreen::findTextFieldSelectedIndex, find_->selectedIndexText());
}

void TreeScreenController::findNext() {
    selectFound(find_->findNext());
}

void TreeScreenController::findPrev() {
    selectFound(find_->findPrev());
}

void TreeScreenController::markAllFound() {
    if (find_->findArrayCount() == 0) return;
    for (NewDir* node : find_->markAllFound(1))
        model_->reloadItemAndAncestors(model_->indexOfNode(node));
    setButtonEnabled(&TreeScreen::markAllButton, false);
    setButtonEnabled(&TreeScreen::unmarkAllButton, true);
    countMarkedDataAndFiles();
}

void TreeScreenController::unmarkAllFound() {
    if (find_->findArrayCount() == 0) return;
    for (NewDir* node : find_->markAllFound(0))
        model_->reloadItemAndAncestors(model_->indexOfNode(node));
    setButtonEnabled(&TreeScreen::unmarkAllButton, false);
    setButtonEnabled(&TreeScreen::markAllButton, true);
    // The count only ever enables saving; with the last mark gone there is
    // nothing to save.
    followMarksWithSaveButton();
    countMarkedDataAndFiles();
}

void TreeScreenController::followMarksWithSaveButton() {
    NewDir* root = tree_->dirRootTemp();
    setButtonEnabled(&TreeScreen::saveButton, root && root->selected == 1);
}

// ---------------------------------------------------------------------------
// The view toggles

void TreeScreenController::toggleTreeFileTypes() {
    startPreparingTree(Toggle::FileTypes);
}

void TreeScreenController::toggleTreeDeleted() {
    startPreparingTree(Toggle::Deleted);
}

void TreeScreenController::startPreparingTree(Toggle sender) {
    // A save of files or of the session walks the tree on its own thread
    // from the moment its dialog closes: the tree keeps its arrangement.
    if (treeWorkerRunning_ || !delegate_.scanInfoOrSavingNotProcessing()) return;
    detachOutline();
    treeWorkerRunning_ = true;
    std::thread([this, sender] { runSheetForPreparingTree(sender); }).detach();
}

void TreeScreenController::showToggle(Toggle toggle, DisplayedTree::View view) {
    onTreeScreen([&](TreeScreen& s) {
        QPushButton* b = toggle == Toggle::FileTypes ? s.buttonTreeFileTypesToggle() : s.buttonTreeShowDeleted();
        b->setText(Utf8Text::toQString(TreeArrangement::title(toggle, view)));
        b->setIcon(
            QIcon(AppImages::imageNamed(Utf8Text::toQString(pictureFile(TreeArrangement::image(toggle, view))))));
    });
}

void TreeScreenController::runSheetForPreparingTree(Toggle sender) {
    auto self = std::make_shared<TreeFind::Worker>();
    setButtonEnabled(&TreeScreen::buttonTreeFileTypesToggle, false);
    setButtonEnabled(&TreeScreen::buttonTreeShowDeleted, false);
    clearFindField();
    find_->stopFindAndStandAsFindThread(self);
    setText(&TreeScreen::findTextField, " ");
    setText(&TreeScreen::findTextFieldSelectedIndex, " ");
    delegate_.performOnMainThread([this] { find_->clearResults(); }, true);
    delegate_.beginSheetWindow(Dict{{"sheetWindow", "windowPreparingTree"}, {"parentWindow", "window"}});
    delegate_.updateProgressIndicator(
        Dict{{"progressIndicator", "progressIndicatorPreparingTree"}, {"animation", true}});

    TreeArrangement(*tree_).prepareTree(sender);

    delegate_.updateProgressIndicator(
        Dict{{"progressIndicator", "progressIndicatorPreparingTree"}, {"animation", false}});
    delegate_.endSheetWindow(Dict{{"sheetWindow", "windowPreparingTree"}});
    showToggle(sender, tree_->view());
    setButtonEnabled(&TreeScreen::buttonTreeFileTypesToggle, true);
    setButtonEnabled(&TreeScreen::buttonTreeShowDeleted, true);
    endTreeWork();
    self->finished = true;
}

// ---------------------------------------------------------------------------
// Going back

void TreeScreenController::treeBackButtonClicked() {
    const int answer = delegate_.showAlertPanelWithData(
        Dict{{"title", "Important Tip"},
             {"body", "You can save on scanning time when you want to use the software again by saving current "
                      "recovery session file.\nClick \"Cancel\" to return and click on \"Save Recovery "
                      "Session\" "
                      "button to save the recovery session file, or click \"OK\" to leave this option and "
                      "proceed."},
             {"defaultButton", "Cancel"},
             {"alternateButton", "OK"}});
    if (answer != platform::AlertAlternateReturn) return;
    platform::autoResumeFlag() = false;
    delegate_.previewClose();
    delegate_.restoreInitialWindowFrame();
    delegate_.fillCellArray();
    delegate_.fillCellArrayPTList();
    MainWindow* window = delegate_.window();
    switch (delegate_.isPTListOrPTScanListChosen()) {
    case 0:
        freeTree(false);
        if (window) window->ptListScreen()->clearChoice();
        delegate_.selectTabViewItemWithIdentifier("PT list");
        break;
    case 1: {
        freeTree(false);
        const platform::Array& found =
            delegate_.volumeScanArgument().empty() ? platform::Array() : delegate_.volumeScanArgument()[0].arrayValue();
        if (window) window->ptScanListScreen()->showAgain(found.size());
        delegate_.selectTabViewItemWithIdentifier("PT scan list");
        break;
    }
    default:
        delegate_.setZeroTableViewDrivesList(true);
        freeTree(true);
        break;
    }
}

void TreeScreenController::freeTree(bool backToDrivesList) {
    if (treeWorkerRunning_) return;
    detachOutline();
    // Ends at once; the main thread never waits for a sheet to go.
    delegate_.endSheetWindow(Dict{{"sheetWindow", "windowReturningTree"}});
    treeWorkerRunning_ = true;
    std::thread([this, backToDrivesList] { freeTreeThread(backToDrivesList); }).detach();
}

void TreeScreenController::freeTreeThread(bool backToDrivesList) {
    auto self = std::make_shared<TreeFind::Worker>();
    // A find still walking the tree stops before anything is freed, and its
    // results, which name the nodes, go with the tree.
    find_->stopFindAndStandAsFindThread(self);
    delegate_.performOnMainThread([this] { find_->clearResults(); }, true);

    const Dict sheet{{"sheetWindow", "windowReturningTree"}, {"parentWindow", "window"}};
    if (backToDrivesList)
        delegate_.beginSheetWindowWithContextInfoAndOthers(sheet);
    else
        delegate_.beginSheetWindow(sheet);
    delegate_.updateProgressIndicator(
        Dict{{"progressIndicator", "progressIndicatorReturningTree"}, {"animation", true}});
    if (tree_->view().deletedOnly) {
        setReturningText("Returning Tree to Original State. Please wait ...");
        tree_->returnTree();
    }
    tree_->freeTreeNodes();
    delegate_.performOnMainThread([this] { delegate_.setSelectedVolume(nullptr); }, true);

    if (backToDrivesList) {
        setReturningText("Loading Drives. Please wait ...");
        delegate_.setZeroTableViewDrivesList(true);
        if (!platform::autoResumeFlag()) delegate_.rebuildDriveListOnMainThread();
    }
    delegate_.updateProgressIndicator(
        Dict{{"progressIndicator", "progressIndicatorReturningTree"}, {"animation", false}});
    delegate_.endSheetWindow(Dict{{"sheetWindow", "windowReturningTree"}});

    if (backToDrivesList) {
        const platform::ScanMode mode = delegate_.scanMode();
        if (mode != platform::ScanMode::None) delegate_.selectTabViewItemWithIdentifier("Drives List");
        // The heading of the list the scan mode shows: disks, disks and
        // volumes, or volumes.
        const int heading = mode == platform::ScanMode::Partitions       ? 1
                            : mode == platform::ScanMode::AdvancedPhotos ? 2
                                                                         : 0;
        delegate_.performOnMainThread(
            [this, heading, mode] {
                if (MainWindow* window = delegate_.window()) {
                    window->drivesListScreen()->showHeading(heading);
                    window->signaturesScreen()->setFileTypeEditingShown(platform::isPartitionScan(mode));
                }
            },
            true);
    }
    delegate_.performOnMainThread(
        [this] {
            treeWorkerRunning_ = false;
            delegate_.setDirRootTemp(nullptr);
            emit treeFreed();
        },
        true);
    self->finished = true;
}

void TreeScreenController::saveMarkedFiles() {
    if (!tree_ || !tree_->volume() || !tree_->dirRootTemp()) return;
    if (saving_ && !saving_->waitUntilFinished(std::chrono::milliseconds(0))) return; // one save at a time
    if (!sessionMediumReady()) return;
    auto volume = tree_->volume();
    saving_ = DataSaving::create(volume, tree_->dirRootTemp(),
                                 platform::Dict{{"Content", volume->volumeContent}, {"Path", volume->path()}});
    saving_->setMarkedData(tree_->markedData);
    saving_->setSelectedRowIsFile([this] {
        NewDirViewHelper* item = selectedItem();
        return item && item->newDir() && !item->newDir()->isFolder();
    });
    if (!saving_->saveData()) return;
    auto* dialog = new QFileDialog(delegate_.window(), QStringLiteral("Choose where to save the marked files"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The save's thread waits for the panel to go; the panel is the main
    // thread's, which may be deleting it as the thread asks, so the thread
    // asks a flag the main thread clears as the panel ends or goes.
    auto panelUp = std::make_shared<std::atomic<bool>>(true);
    saving_->setOpenPanelVisible([panelUp] { return panelUp->load(); });
    connect(dialog, &QObject::destroyed, this, [panelUp] { panelUp->store(false); });
    std::weak_ptr<DataSaving> weak = saving_;
    connect(dialog, &QFileDialog::finished, this, [weak, dialog, panelUp](int result) {
        panelUp->store(false);
        auto saving = weak.lock();
        if (!saving) return;
        const QStringList chosen = dialog->selectedFiles();
        const std::string path = chosen.isEmpty() ? std::string() : Utf8Text::fromQString(chosen.first());
        saving->destinationPanelDidEnd(result == QDialog::Accepted ? 1 : 0, path);
    });
    dialog->open();
}

bool TreeScreenController::sessionMediumReady() {
    if (RecoverySessionController* sessions = RecoverySessionController::of(delegate_))
        return sessions->sessionMediumReady();
    const std::shared_ptr<Volume> volume = delegate_.selectedVolume();
    return !volume || !volume->mediumUnconfirmed();
}

void TreeScreenController::abortSaving() {
    if (saving_) saving_->abortDataSaving();
}
