#pragma once

// The name cell of the file-type list: a folder icon for a category, the
// desktop's icon for the extension of a file type, and the row's name.

#include "results/qt/OutlineCell.h"

class OutlineCellSig : public OutlineCell {
    Q_OBJECT
public:
    explicit OutlineCellSig(QObject* parent = nullptr) : OutlineCell(parent) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
