#pragma once

// The name cell of the found-file outline's "Files" column: the entry's icon
// (by its extension, from the desktop's icon theme; folders get the folder
// icon), the deleted-entry overlay on the icon of a deleted entry, and the
// name, with the child count right after it for the extension folders of the
// file-types view.

#include <QHash>
#include <QIcon>
#include <QPixmap>
#include <QStyledItemDelegate>

class OutlineCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit OutlineCell(QObject* parent = nullptr);

    // The picture put over a deleted entry's icon ("DeleteOverlay_6").
    void setDeleteOverlay(const QPixmap& overlay) { overlay_ = overlay; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // The 16-point icon of an entry of that kind (1 folder, 2 file) and name;
    // a deleted entry's carries the overlay.
    QPixmap iconFor(int kind, const QString& name, bool deleted) const;

protected:
    // The style's row background and selection, without text or icon.
    void drawBackground(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // The icon (none when null) and the text, left to right in the row.
    void drawIconAndText(QPainter* painter, const QStyleOptionViewItem& option, const QPixmap& icon,
                         const QString& text) const;

private:
    QIcon baseIcon(int kind, const QString& extension) const;

    QPixmap overlay_;
    mutable QHash<QString, QIcon> icons_;
};
