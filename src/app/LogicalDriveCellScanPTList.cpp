#include "app/LogicalDriveCellScanPTList.h"

#include "app/AppImages.h"
#include "app/DriveListTableModel.h"
#include "app/LogicalDriveCell.h"
#include "results/qt/Utf8Text.h"

using platform::Dict;

namespace {

QPixmap ratingOf(const Dict& row) {
    const QString name = LogicalDriveCellScanPTList::ratingImageName(row.get("Volume Validity").intValue());
    return name.isEmpty() ? QPixmap() : AppImages::imageNamed(name);
}

} // namespace

QString LogicalDriveCellScanPTList::startSectorLine(const Dict& row) {
    const std::uint64_t start = row.get("Volume Start").uint64Value();
    const std::uint64_t sectorSize = row.get("Preferred Block Size").uint64Value();
    // In floating point: the product only has to be shown, and cannot wrap.
    const double offset = static_cast<double>(start) * static_cast<double>(sectorSize);
    return QStringLiteral("Start Sector: %1 (%2 in disk)").arg(start).arg(LogicalDriveCell::sizeText(offset));
}

QString LogicalDriveCellScanPTList::ratingImageName(int validity) {
    static const char* const names[] = {"0_5", "1_", "1_5", "2_", "2_5", "3_", "3_5", "4_", "4_5", "5_"};
    if (validity > 100) return {};
    return QString::fromLatin1(names[validity <= 10 ? 0 : (validity - 1) / 10]);
}

QStringList LogicalDriveCellScanPTList::lines(const Dict& row) {
    // The search tells volumes apart by their own records, not by a
    // partition type: no "Content" it writes names APFS.
    return {Utf8Text::toQString(row.get("Volume Name").stringValue()), QStringLiteral("Type: Volume"),
            startSectorLine(row), LogicalDriveCell::sizeLine(row),
            LogicalDriveCell::fileSystemLine(row, LogicalDriveCell::ApfsNaming::Neither)};
}

void LogicalDriveCellScanPTList::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                       const QModelIndex& index) const {
    const Dict row = DriveListTableModel::rowDict(index).value_or(Dict());
    LogicalDriveCell::paintRow(painter, option, index, {LogicalDriveCell::iconOf(row), 0, lines(row), ratingOf(row)});
}

QSize LogicalDriveCellScanPTList::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Dict row = DriveListTableModel::rowDict(index).value_or(Dict());
    return {option.rect.width(), LogicalDriveCell::rowHeight({{}, 0, lines(row), ratingOf(row)})};
}
