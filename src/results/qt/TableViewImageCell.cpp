#include "results/qt/TableViewImageCell.h"

#include "results/qt/OutlineImageCell.h"

#include <QApplication>
#include <QPainter>

TableViewImageCell::TableViewImageCell(QObject* parent) : QStyledItemDelegate(parent) {}

QString TableViewImageCell::imageNameFor(int value) {
    static const char* const names[] = {"0_5", "1_", "1_5", "2_", "2_5", "3_", "3_5", "4_", "4_5", "5_"};
    if (value > 100) return {};
    if (value <= 10) return QString::fromLatin1(names[0]);
    return QString::fromLatin1(names[(value - 1) / 10]);
}

void TableViewImageCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    opt.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    const QVariant value = index.data(Qt::UserRole).isValid() ? index.data(Qt::UserRole) : index.data(Qt::DisplayRole);
    const QString name = imageNameFor(value.toInt());
    const QPixmap image = (!name.isEmpty() && source_) ? source_(name) : QPixmap();
    // A missing picture shows the number, as a value above 100 does.
    OutlineImageCell::drawImageOrText(painter, option, image, value.toString());
}
