#pragma once

// The rating cell of the "Validity" column of the volumes found on a disk:
// a share of 0 to 100 as half stars, one step per ten points ("0_5" up to
// 10, "1_" up to 20, ... "5_" up to 100); above 100 the number as text.

#include <QHash>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <functional>

class TableViewImageCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TableViewImageCell(QObject* parent = nullptr);

    // Where the rating pictures come from, by name.
    void setImageSource(std::function<QPixmap(const QString&)> source) { source_ = std::move(source); }
    // The picture name of a value; empty above 100.
    static QString imageNameFor(int value);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    std::function<QPixmap(const QString&)> source_;
};
