#pragma once

#include "platform/ScanMode.h"
#include "platform/Value.h"

#include <QObject>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

class DriveListTableModel;
class LogicalDriveCell;
class QTableView;
class Quelvar_Recovery_SoftwareAppDelegate;

// Feeds the wizard's three list tables (the drives, the partitions and the
// lost volumes found: "tableViewDrives", "tableViewPTList",
// "tableViewScanPTList") from the delegate's lists, gives
// each its cell, and enables each screen's Next button while a row is
// chosen. The tables reload whenever the delegate says its lists were
// rebuilt; a reload clears the choice. The drives table also follows the
// machine's devices without clearing it (reloadDrivesKeepingChoice).
class DrivesTableDataSource : public QObject {
    Q_OBJECT
public:
    // Makes the data source of the delegate's window (a child of the
    // delegate) and puts a model and a cell on each table it finds there.
    static DrivesTableDataSource* install(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    // The installed data source, or nullptr.
    static DrivesTableDataSource* of(const Quelvar_Recovery_SoftwareAppDelegate& delegate);

    enum class Table { Drives, Partitions, FoundVolumes };
    // The dictionary of the chosen row of a table; nothing when no row is
    // chosen (or the row has no dictionary).
    std::optional<platform::Dict> selectedRow(Table table) const;
    // Chooses the first drives-table row whose "Path" is path; false when
    // there is none.
    bool selectRowWithPath(const std::string& path);
    int rowCount(Table table) const;
    // The drives table's rows again from the delegate's lists, for a device
    // attached, detached or resized rather than for the user's asking: the
    // chosen drive or volume stays chosen, found by its device, while it is
    // still listed (else nothing is), and the list stays scrolled where it
    // was, or scrolls just far enough to show the chosen row in full. Lists
    // that give the rows shown leave the table untouched. Whether the rows
    // changed.
    bool reloadDrivesKeepingChoice();
    // What names a row's device from one listing to the next: its node,
    // whether it is the disk or a volume on it, and what tells the medium
    // there from another attached since (a card swapped, an image attached
    // anew); "" for a row without a dictionary.
    static std::string deviceOf(const std::optional<platform::Dict>& row);
    // How long after the drives table's rows moved by themselves a press on
    // a place that now shows another device chooses nothing: the user aimed
    // at what was there (see eventFilter).
    void setRowsSettleTime(std::chrono::milliseconds time) { rowsSettleTime_ = time; }
    // The drives table's display mode from the scan mode: volumes for the
    // file and photo modes and formatted recovery, disks for partition
    // recovery, disks with their volumes for advanced photo recovery; -1
    // while there is nothing to show.
    void assignDisplayAttribsToCellArrayCells();

    // The rows of the drives table in a scan mode. In the disks-and-volumes
    // view the rows go by "Volume and Drive Index"; a volume that no disk
    // claims follows them as a row of its own.
    static std::vector<std::optional<platform::Dict>> driveRows(platform::ScanMode scanMode,
                                                                const platform::Array& driveDictArray,
                                                                const platform::Array& volumeDictArray,
                                                                const platform::Array& volumeDictArrayHFSOnly);

protected:
    // A press or double click on the drives table that lands, within the
    // settle time after its rows moved by themselves, on a place that now
    // shows another device than before chooses nothing and clears the
    // choice: the user aimed at the row that was there, and Next must not
    // scan the one that took its place. Its release goes with it.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit DrivesTableDataSource(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    void attach(Table table, DriveListTableModel* model, QObject* cell);
    DriveListTableModel* model(Table table) const;
    // The table's view on its screen; null without a window.
    QTableView* view(Table table) const;
    void reloadDrives();
    // The drives table's rows the delegate's lists give in its scan mode.
    std::vector<std::optional<platform::Dict>> currentDriveRows() const;
    void reloadPartitions();
    // The Next button of a table's screen, from its choice (and on the
    // partition list, the search-the-whole-disk box).
    void updateNextButton(Table table);

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    DriveListTableModel* drives_;
    DriveListTableModel* partitions_;
    DriveListTableModel* foundVolumes_;
    LogicalDriveCell* driveCell_;

    // The last time the drives table's rows moved by themselves: the device
    // each row showed before, how far the table was scrolled then (pixels),
    // and when.
    std::vector<std::string> devicesShownBefore_;
    int offsetBefore_ = 0;
    std::chrono::steady_clock::time_point rowsMovedAt_{};
    // A human's reaction to what the screen shows, with the frames it takes
    // to show it.
    std::chrono::milliseconds rowsSettleTime_{500};
    bool pressSwallowed_ = false;
};
