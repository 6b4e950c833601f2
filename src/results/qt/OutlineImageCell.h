#pragma once

// The verdict cell of the "Complete" column: "Good", "Bad" and "N.A." as the
// pictures "green", "red" and "grey"; any other value as small text.

#include <QPixmap>
#include <QStyledItemDelegate>

class OutlineImageCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit OutlineImageCell(QObject* parent = nullptr);

    void setImages(const QPixmap& good, const QPixmap& bad, const QPixmap& notApplicable);
    // The picture a value is drawn as; null for text.
    QPixmap imageFor(const QString& value) const;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Shared with the rating cell: the picture, 15 points in and centred, or
    // the value as 6-point text.
    static void drawImageOrText(QPainter* painter, const QStyleOptionViewItem& option, const QPixmap& image,
                                const QString& text);

private:
    QPixmap good_, bad_, notApplicable_;
};
