#pragma once

// The found-file outline: a tree view that knows which row the pointer is
// over, so the row can be drawn accordingly while the pointer moves over it.

#include <QPersistentModelIndex>
#include <QTreeView>

class OutlineViewHighlightingRow : public QTreeView {
    Q_OBJECT
public:
    explicit OutlineViewHighlightingRow(QWidget* parent = nullptr);

    bool mouseOverView() const { return mouseOverView_; }
    // The row under the pointer (its first column); invalid for none.
    QModelIndex mouseOverRow() const { return mouseOverRow_; }

protected:
    void enterEvent(QEnterEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void redrawRow(const QModelIndex& index);

    bool mouseOverView_ = false;
    QPersistentModelIndex mouseOverRow_;
    QPersistentModelIndex lastOverRow_;
};
