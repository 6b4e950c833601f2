#include "app/LogicalDriveCellPTList.h"

#include "app/DriveListTableModel.h"
#include "app/LogicalDriveCell.h"
#include "results/qt/Utf8Text.h"

using platform::Dict;

QStringList LogicalDriveCellPTList::lines(const Dict& row) {
    // A partition table names APFS by its type identifier only.
    return {Utf8Text::toQString(row.get("Volume Name").stringValue()), QStringLiteral("Type: Volume"),
            LogicalDriveCell::sizeLine(row),
            LogicalDriveCell::fileSystemLine(row, LogicalDriveCell::ApfsNaming::TypeIdOnly)};
}

void LogicalDriveCellPTList::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const {
    const Dict row = DriveListTableModel::rowDict(index).value_or(Dict());
    LogicalDriveCell::paintRow(painter, option, index, {LogicalDriveCell::iconOf(row), 0, lines(row), {}});
}

QSize LogicalDriveCellPTList::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Dict row = DriveListTableModel::rowDict(index).value_or(Dict());
    return {option.rect.width(), LogicalDriveCell::rowHeight({{}, 0, lines(row), {}})};
}
