#include "app/OutlineCellSig.h"

#include "app/SigListModel.h"
#include "signatures/SigNode.h"

void OutlineCellSig::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    drawBackground(painter, option, index);
    const int kind = index.data(SigListModel::KindRole).toInt();
    QPixmap icon;
    if (kind == SigNode::Category)
        icon = iconFor(1, QString(), false);
    else if (kind == SigNode::FileType)
        icon = iconFor(2, QStringLiteral("x.") + index.data(SigListModel::ExtensionRole).toString(), false);
    drawIconAndText(painter, option, icon, index.data(Qt::DisplayRole).toString());
}
