#pragma once

#include "platform/Value.h"

#include <QStringList>
#include <QStyledItemDelegate>

// Draws one volume found by the search of the whole disk for lost volumes:
// where it starts on the disk, and how intact it looks as a rating picture.
class LogicalDriveCellScanPTList : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Title, type, start sector, size and file system.
    static QStringList lines(const platform::Dict& row);
    // "Start Sector: 2048 (1.05 MB in disk)".
    static QString startSectorLine(const platform::Dict& row);
    // The rating picture of a validity percentage, a half star per band of
    // ten ("0_5" up to 10, "1_" up to 20, ... "5_" up to 100); "" above 100.
    static QString ratingImageName(int validity);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
