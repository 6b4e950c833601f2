#include "results/qt/OutlineImageCell.h"

#include <QApplication>
#include <QPainter>

OutlineImageCell::OutlineImageCell(QObject* parent) : QStyledItemDelegate(parent) {}

void OutlineImageCell::setImages(const QPixmap& good, const QPixmap& bad, const QPixmap& notApplicable) {
    good_ = good;
    bad_ = bad;
    notApplicable_ = notApplicable;
}

QPixmap OutlineImageCell::imageFor(const QString& value) const {
    if (value == QLatin1String("Bad")) return bad_;
    if (value == QLatin1String("Good")) return good_;
    if (value == QLatin1String("N.A.")) return notApplicable_;
    return {};
}

void OutlineImageCell::drawImageOrText(QPainter* painter, const QStyleOptionViewItem& option, const QPixmap& image,
                                       const QString& text) {
    const QRect frame = option.rect.adjusted(1, 0, -1, 0);
    painter->save();
    if (!image.isNull()) {
        painter->setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter->drawPixmap(QPoint(frame.left() + 15, frame.top() + frame.height() / 2 - image.height() / 2), image);
    } else if (!text.isEmpty()) {
        QFont font = QApplication::font();
        font.setPointSize(6);
        painter->setFont(font);
        painter->setPen((option.state & QStyle::State_Selected) ? Qt::white : Qt::black);
        const QFontMetrics metrics(font);
        const int y = frame.top() + static_cast<int>(0.7 * frame.height()) - metrics.height() / 2;
        painter->drawText(QRect(frame.left(), y, frame.width(), metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                          metrics.elidedText(text, Qt::ElideRight, frame.width()));
    }
    painter->restore();
}

void OutlineImageCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    opt.text.clear();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    const QString value = index.data(Qt::DisplayRole).toString();
    drawImageOrText(painter, option, imageFor(value), value);
}
