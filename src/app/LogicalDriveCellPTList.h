#pragma once

#include "platform/Value.h"

#include <QStringList>
#include <QStyledItemDelegate>

// Draws one partition of the chosen disk's partition table: its icon and
// the lines of a volume, without a mount point (a partition of the table is
// not mounted as such).
class LogicalDriveCellPTList : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Title, type, size and file system.
    static QStringList lines(const platform::Dict& row);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
