#pragma once

#include "platform/ScanMode.h"
#include "platform/Value.h"

#include <QObject>
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
// rebuilt; a reload clears the choice.
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

private:
    explicit DrivesTableDataSource(Quelvar_Recovery_SoftwareAppDelegate& delegate);
    void attach(Table table, DriveListTableModel* model, QObject* cell);
    DriveListTableModel* model(Table table) const;
    // The table's view on its screen; null without a window.
    QTableView* view(Table table) const;
    void reloadDrives();
    void reloadPartitions();
    // The Next button of a table's screen, from its choice (and on the
    // partition list, the search-the-whole-disk box).
    void updateNextButton(Table table);

    Quelvar_Recovery_SoftwareAppDelegate& delegate_;
    DriveListTableModel* drives_;
    DriveListTableModel* partitions_;
    DriveListTableModel* foundVolumes_;
    LogicalDriveCell* driveCell_;
};
