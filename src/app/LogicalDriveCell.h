#pragma once

#include "platform/Value.h"

#include <QFont>
#include <QPixmap>
#include <QStringList>
#include <QStyledItemDelegate>

// Draws one row of the drive list: a volume, a disk, or (in the
// disks-and-volumes view) a disk with its volumes hung beneath it by grey
// connectors. The row's dictionary comes from the model (DriveListTableModel);
// a row without one draws as an empty disk row.
//
// The two partition lists draw their rows the same way (icon on the left, a
// block of lines centred beside it) with other lines; the shared pieces are
// the public statics below.
class LogicalDriveCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit LogicalDriveCell(QObject* parent = nullptr);

    // 0 volumes, 1 disks, 2 disks each followed by its volumes; only 2
    // changes the drawing (the connectors).
    void setDisplayDrvOrVolOrBoth(int mode) { displayDrvOrVolOrBoth_ = mode; }
    int displayDrvOrVolOrBoth() const { return displayDrvOrVolOrBoth_; }

    // The lines of a drive-list row, title first.
    static QStringList lines(const platform::Dict& row);

    // --- shared with the partition cells ---
    // "1.05 MB": decimal units, two decimals.
    static QString sizeText(double bytes);
    static QString sizeLine(const platform::Dict& row);
    // Which "Content" values a list names APFS: the drive list takes the
    // name and the partition-type identifier, the partition list only the
    // identifier, the list of found volumes neither.
    enum class ApfsNaming { NameOrTypeId, TypeIdOnly, Neither };
    static QString fileSystemLine(const platform::Dict& row, ApfsNaming apfs);

    // What a row shows, in drawing order: the icon (moved right by
    // iconIndent), the lines (the first as the title) and, below them, an
    // optional picture.
    struct RowPicture {
        QPixmap icon;
        int iconIndent = 0;
        QStringList lines;
        QPixmap trailingImage;
    };
    static QPixmap iconOf(const platform::Dict& row);
    static QFont titleFont();
    static QFont detailFont();
    // The height the icon and the block of lines need.
    static int rowHeight(const RowPicture& picture);
    // Draws the row's background (selection included), icon and lines; the
    // return value is the inset frame the row was laid out in.
    static QRect paintRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                          const RowPicture& picture);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    static RowPicture pictureOf(const platform::Dict& row);
    static void paintConnectors(QPainter* painter, const QRect& inset, int iconWidth, const platform::Dict& row);

    int displayDrvOrVolOrBoth_ = -1;
};
