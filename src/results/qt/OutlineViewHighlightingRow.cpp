#include "results/qt/OutlineViewHighlightingRow.h"

#include <QMouseEvent>

OutlineViewHighlightingRow::OutlineViewHighlightingRow(QWidget* parent) : QTreeView(parent) {
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
}

void OutlineViewHighlightingRow::redrawRow(const QModelIndex& index) {
    if (!index.isValid()) return;
    QRect row = visualRect(index);
    row.setLeft(0);
    row.setRight(viewport()->width());
    viewport()->update(row);
}

void OutlineViewHighlightingRow::enterEvent(QEnterEvent* event) {
    mouseOverView_ = true;
    QTreeView::enterEvent(event);
}

void OutlineViewHighlightingRow::mouseMoveEvent(QMouseEvent* event) {
    if (mouseOverView_) {
        const QModelIndex over = indexAt(event->position().toPoint()).siblingAtColumn(0);
        mouseOverRow_ = over;
        if (QModelIndex(lastOverRow_) != over) {
            redrawRow(lastOverRow_);
            lastOverRow_ = over;
            redrawRow(over);
        }
    }
    QTreeView::mouseMoveEvent(event);
}

void OutlineViewHighlightingRow::leaveEvent(QEvent* event) {
    mouseOverView_ = false;
    redrawRow(mouseOverRow_);
    mouseOverRow_ = QPersistentModelIndex();
    lastOverRow_ = QPersistentModelIndex();
    QTreeView::leaveEvent(event);
}
