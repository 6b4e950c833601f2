#include "app/DrivesTableDataSource.h"

#include "app/DriveListTableModel.h"
#include "app/DrivesListScreen.h"
#include "app/LogicalDriveCell.h"
#include "app/LogicalDriveCellPTList.h"
#include "app/LogicalDriveCellScanPTList.h"
#include "app/MainWindow.h"
#include "app/PTListScreen.h"
#include "app/PTScanListScreen.h"
#include "app/Quelvar_Recovery_SoftwareAppDelegate.h"
#include "media/DriveListRows.h"
#include "platform/SystemLog.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <utility>

using platform::Array;
using platform::Dict;
using platform::ScanMode;
using platform::Value;

namespace {

std::vector<std::optional<Dict>> rowsOf(const Array& list) {
    std::vector<std::optional<Dict>> rows;
    rows.reserve(list.size());
    for (const Value& v : list)
        rows.push_back(v.isDict() ? std::optional<Dict>(v.dictValue()) : std::nullopt);
    return rows;
}

} // namespace

DrivesTableDataSource::DrivesTableDataSource(Quelvar_Recovery_SoftwareAppDelegate& delegate)
    : QObject(&delegate), delegate_(delegate), drives_(new DriveListTableModel(this)),
      partitions_(new DriveListTableModel(this)), foundVolumes_(new DriveListTableModel(this)),
      driveCell_(new LogicalDriveCell(this)) {}

DrivesTableDataSource* DrivesTableDataSource::install(Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    if (DrivesTableDataSource* existing = of(delegate)) return existing;
    auto* source = new DrivesTableDataSource(delegate);
    source->attach(Table::Drives, source->drives_, source->driveCell_);
    source->attach(Table::Partitions, source->partitions_, new LogicalDriveCellPTList(source));
    source->attach(Table::FoundVolumes, source->foundVolumes_, new LogicalDriveCellScanPTList(source));
    if (MainWindow* window = delegate.window())
        connect(window->ptListScreen()->buttonPTListCheckBoxScanForVolumes(), &QAbstractButton::toggled, source,
                [source] { source->updateNextButton(Table::Partitions); });
    connect(&delegate, &Quelvar_Recovery_SoftwareAppDelegate::driveListChanged, source,
            &DrivesTableDataSource::reloadDrives);
    connect(&delegate, &Quelvar_Recovery_SoftwareAppDelegate::partitionListsChanged, source,
            &DrivesTableDataSource::reloadPartitions);
    source->reloadDrives();
    source->reloadPartitions();
    return source;
}

DrivesTableDataSource* DrivesTableDataSource::of(const Quelvar_Recovery_SoftwareAppDelegate& delegate) {
    return delegate.findChild<DrivesTableDataSource*>(QString(), Qt::FindDirectChildrenOnly);
}

void DrivesTableDataSource::attach(Table table, DriveListTableModel* model, QObject* cell) {
    QTableView* view = this->view(table);
    if (!view) return;
    view->setModel(model);
    view->setItemDelegate(static_cast<QAbstractItemDelegate*>(cell));
    // Rows tall enough for the icon and every line of the cell: the cell's
    // own measure of a row with all its lines.
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, view->viewport()->width(), 0);
    Dict sample{{"WhetherVolume", 1}};
    DriveListTableModel probe;
    probe.setRows({sample});
    const int needed = view->itemDelegate()->sizeHint(option, probe.index(0, 0)).height();
    view->verticalHeader()->setDefaultSectionSize(std::max(view->verticalHeader()->defaultSectionSize(), needed));
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this, table] { updateNextButton(table); });
    if (table == Table::Drives) view->viewport()->installEventFilter(this);
}

DriveListTableModel* DrivesTableDataSource::model(Table table) const {
    switch (table) {
    case Table::Drives:
        return drives_;
    case Table::Partitions:
        return partitions_;
    case Table::FoundVolumes:
        return foundVolumes_;
    }
    return nullptr;
}

QTableView* DrivesTableDataSource::view(Table table) const {
    MainWindow* window = delegate_.window();
    if (!window) return nullptr;
    switch (table) {
    case Table::Drives:
        return window->drivesListScreen()->tableViewDrives();
    case Table::Partitions:
        return window->ptListScreen()->tableViewPTList();
    case Table::FoundVolumes:
        return window->ptScanListScreen()->tableViewScanPTList();
    }
    return nullptr;
}

std::vector<std::optional<Dict>> DrivesTableDataSource::driveRows(ScanMode scanMode, const Array& driveDictArray,
                                                                  const Array& volumeDictArray,
                                                                  const Array& volumeDictArrayHFSOnly) {
    const std::size_t count =
        DriveListRows::numberOfRows(scanMode, driveDictArray, volumeDictArray, volumeDictArrayHFSOnly);
    std::vector<std::optional<Dict>> rows;
    rows.reserve(count);
    const std::size_t numbered = scanMode == ScanMode::AdvancedPhotos
                                     ? DriveListRows::cellCount(scanMode, driveDictArray, volumeDictArray)
                                     : count;
    for (std::size_t r = 0; r < std::min(count, numbered); ++r)
        rows.push_back(DriveListRows::rowObject(scanMode, r, driveDictArray, volumeDictArray, volumeDictArrayHFSOnly));
    // The disks-and-volumes view counts every listed volume, but only the
    // volumes of a disk are numbered: the others come last, as they are
    // listed, rather than as rows that show nothing.
    for (const Value& v : volumeDictArray) {
        if (rows.size() >= count) break;
        if (!v.isDict()) continue;
        const Dict& volume = v.dictValue();
        const bool claimed = std::any_of(driveDictArray.begin(), driveDictArray.end(), [&](const Value& d) {
            return DriveListRows::belongsTo(volume, d.dictValue());
        });
        if (!claimed) rows.emplace_back(volume);
    }
    rows.resize(count);
    return rows;
}

std::vector<std::optional<Dict>> DrivesTableDataSource::currentDriveRows() const {
    if (delegate_.zeroTableViewDrivesList()) return {};
    return driveRows(delegate_.scanMode(), delegate_.driveDictArray(), delegate_.volumeDictArray(),
                     delegate_.volumeDictArrayHFSOnly());
}

void DrivesTableDataSource::reloadDrives() {
    drives_->setRows(currentDriveRows());
    updateNextButton(Table::Drives);
}

std::string DrivesTableDataSource::deviceOf(const std::optional<Dict>& row) {
    if (!row) return {};
    // The node alone is no identity: another image attached at a freed loop
    // device, or another card in the same reader, comes at the same path.
    std::string device = row->get("Path").description() + (row->contains("WhetherVolume") ? "\nvolume" : "\ndisk");
    for (const char* key : {"Medium Identity", "device model", "device serial", "device revision"})
        device += "\n" + row->get(key).description();
    return device;
}

bool DrivesTableDataSource::reloadDrivesKeepingChoice() {
    std::vector<std::optional<Dict>> rows = currentDriveRows();
    if (rows == drives_->rows()) return false;
    QTableView* view = this->view(Table::Drives);
    const std::optional<Dict> chosen = selectedRow(Table::Drives);
    devicesShownBefore_.clear();
    for (const std::optional<Dict>& row : drives_->rows())
        devicesShownBefore_.push_back(deviceOf(row));
    offsetBefore_ = view ? view->verticalHeader()->offset() : 0;
    rowsMovedAt_ = std::chrono::steady_clock::now();
    const int scrolled = view ? view->verticalScrollBar()->value() : 0;
    drives_->setRows(std::move(rows));
    if (view) {
        // The scroll bar's range for the new rows, before it is set back.
        view->doItemsLayout();
        const std::string device = chosen ? deviceOf(chosen) : std::string();
        QModelIndex kept;
        for (int r = 0; chosen && r < drives_->rowCount(); ++r) {
            if (deviceOf(drives_->row(r)) != device) continue;
            kept = drives_->index(r, 0);
            view->selectionModel()->setCurrentIndex(kept,
                                                    QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            break;
        }
        // Making a row current scrolls to it: the list stays where the user
        // left it, unless that hides the chosen row. Rows come and go one
        // device at a time, and a shorter list pulls the scroll back that a
        // longer one does not give again: the rows added later push the
        // chosen one out of sight, with Next enabled and nothing on the page
        // saying what it scans.
        view->verticalScrollBar()->setValue(scrolled);
        if (kept.isValid()) view->scrollTo(kept, QAbstractItemView::EnsureVisible);
    }
    updateNextButton(Table::Drives);
    return true;
}

bool DrivesTableDataSource::eventFilter(QObject* watched, QEvent* event) {
    // Only the buttons are looked at: the viewport's last events come as the
    // window is taken down, when it is no window to ask for its table.
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonDblClick && type != QEvent::MouseButtonRelease)
        return false;
    QTableView* view = this->view(Table::Drives);
    if (!view || watched != view->viewport()) return false;
    if (type == QEvent::MouseButtonRelease) return std::exchange(pressSwallowed_, false);
    if (std::chrono::steady_clock::now() - rowsMovedAt_ >= rowsSettleTime_) return false;
    // The rows are all one height: the place pressed showed the row at that
    // height of the list as it was scrolled before the rows moved.
    const int y = static_cast<QMouseEvent*>(event)->position().toPoint().y();
    const int height = view->verticalHeader()->defaultSectionSize();
    const std::size_t before =
        height > 0 ? static_cast<std::size_t>(std::max(0, y + offsetBefore_) / height) : devicesShownBefore_.size();
    const std::string shown = before < devicesShownBefore_.size() ? devicesShownBefore_[before] : std::string();
    const int now = view->rowAt(y);
    if (deviceOf(now >= 0 ? drives_->row(now) : std::nullopt) == shown) return false;
    view->clearSelection();
    pressSwallowed_ = true;
    platform::logLine("A click on the drives list as its rows moved chose nothing: the row under it had just "
                      "changed to another device");
    return true;
}

void DrivesTableDataSource::reloadPartitions() {
    partitions_->setRows(rowsOf(delegate_.partitionListDictArray()));
    foundVolumes_->setRows(rowsOf(delegate_.partitionScanListDictArray()));
    updateNextButton(Table::Partitions);
    updateNextButton(Table::FoundVolumes);
}

void DrivesTableDataSource::updateNextButton(Table table) {
    QTableView* view = this->view(table);
    MainWindow* window = delegate_.window();
    if (!view || !window) return;
    const bool chosen = view->selectionModel() && view->selectionModel()->hasSelection();
    switch (table) {
    case Table::Drives:
        window->drivesListScreen()->nextButtonInDrivesList()->setEnabled(chosen);
        break;
    case Table::Partitions: {
        const PTListScreen* screen = window->ptListScreen();
        screen->buttonPTListNext()->setEnabled(chosen || screen->buttonPTListCheckBoxScanForVolumes()->isChecked());
        break;
    }
    case Table::FoundVolumes:
        window->ptScanListScreen()->buttonPTScanListNext()->setEnabled(chosen);
        break;
    }
}

std::optional<Dict> DrivesTableDataSource::selectedRow(Table table) const {
    QTableView* view = this->view(table);
    DriveListTableModel* rows = model(table);
    if (!view || !rows || !view->selectionModel()) return std::nullopt;
    const QModelIndexList chosen = view->selectionModel()->selectedRows();
    if (chosen.isEmpty()) return std::nullopt;
    return rows->row(chosen.first().row());
}

bool DrivesTableDataSource::selectRowWithPath(const std::string& path) {
    for (int r = 0; r < drives_->rowCount(); ++r) {
        const std::optional<Dict> row = drives_->row(r);
        if (!row || !row->get("Path").isString() || row->get("Path").stringValue() != path) continue;
        if (QTableView* view = this->view(Table::Drives)) view->selectRow(r);
        return true;
    }
    return false;
}

int DrivesTableDataSource::rowCount(Table table) const {
    return model(table)->rowCount();
}

void DrivesTableDataSource::assignDisplayAttribsToCellArrayCells() {
    const ScanMode scanMode = delegate_.scanMode();
    const Array drives = delegate_.driveDictArray();
    const Array volumes = delegate_.volumeDictArray();
    const bool anyRow = DriveListRows::cellCount(scanMode, drives, volumes) > 0 ||
                        !driveRows(scanMode, drives, volumes, delegate_.volumeDictArrayHFSOnly()).empty();
    int mode = -1;
    if (anyRow) {
        if (scanMode == ScanMode::AdvancedPhotos)
            mode = 2;
        else if (scanMode == ScanMode::Partitions)
            mode = 1;
        else if (scanMode != ScanMode::None)
            mode = 0;
    }
    delegate_.setDisplayDrvOrVolOrBoth(mode);
    driveCell_->setDisplayDrvOrVolOrBoth(mode);
    if (QTableView* view = this->view(Table::Drives)) view->viewport()->update();
}
