#include "results/qt/OutlineCell.h"

#include "results/qt/ResultOutlineModel.h"

#include <QApplication>
#include <QFileIconProvider>
#include <QMimeDatabase>
#include <QPainter>

namespace {
constexpr int kInset = 10;
constexpr int kIconSize = 16;
constexpr int kGap = 10;

// The part after the last "." ("" when there is none), as a path's
// extension is read.
QString extensionOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}
} // namespace

OutlineCell::OutlineCell(QObject* parent) : QStyledItemDelegate(parent) {}

QIcon OutlineCell::baseIcon(int kind, const QString& extension) const {
    // A folder is a document only when it is a bundle of rich text.
    const bool documentFolder =
        extension == QLatin1String("rtfd") || extension == QLatin1String("RTFD") || extension == QLatin1String("Rtfd");
    const QString key = (kind == 1 && !documentFolder) ? QStringLiteral("/folder")
                        : extension.isEmpty()          ? QStringLiteral("/text")
                                                       : QStringLiteral(".") + extension;
    if (auto it = icons_.constFind(key); it != icons_.constEnd()) return *it;
    static QFileIconProvider provider;
    QIcon icon;
    if (key == QLatin1String("/folder")) {
        icon = QIcon::fromTheme(QStringLiteral("folder"), provider.icon(QFileIconProvider::Folder));
    } else if (key == QLatin1String("/text")) {
        icon = QIcon::fromTheme(QStringLiteral("text-x-generic"), provider.icon(QFileIconProvider::File));
    } else {
        static QMimeDatabase mimes;
        const QMimeType type = mimes.mimeTypeForFile(QStringLiteral("x.") + extension, QMimeDatabase::MatchExtension);
        icon = QIcon::fromTheme(type.iconName());
        if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
        if (icon.isNull()) icon = provider.icon(QFileIconProvider::File);
    }
    icons_.insert(key, icon);
    return icon;
}

QPixmap OutlineCell::iconFor(int kind, const QString& name, bool deleted) const {
    QPixmap icon = baseIcon(kind, extensionOf(name)).pixmap(kIconSize, kIconSize);
    if (icon.isNull()) {
        icon = QPixmap(kIconSize, kIconSize);
        icon.fill(Qt::transparent);
    } else if (icon.width() != kIconSize || icon.height() != kIconSize) {
        icon = icon.scaled(kIconSize, kIconSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (deleted && !overlay_.isNull()) {
        QPainter p(&icon);
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.drawPixmap(QPoint(10, 0), overlay_);
    }
    return icon;
}

void OutlineCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    drawBackground(painter, option, index);
    const int kind = index.data(ResultOutlineModel::KindRole).toInt();
    const bool deleted = index.data(ResultOutlineModel::DeletedRole).toBool();
    const QString text = index.data(Qt::DisplayRole).toString();
    drawIconAndText(painter, option, iconFor(kind, index.data(ResultOutlineModel::FileNameRole).toString(), deleted),
                    text);
}

void OutlineCell::drawBackground(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    // The row's background and selection as the style draws them; the icon
    // and the text are ours.
    opt.text.clear();
    opt.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
}

void OutlineCell::drawIconAndText(QPainter* painter, const QStyleOptionViewItem& option, const QPixmap& icon,
                                  const QString& text) const {
    const QRect frame = option.rect.adjusted(kInset, 0, -kInset, 0);
    painter->save();
    if (!icon.isNull()) {
        const QPoint iconAt(frame.left(), frame.top() + frame.height() / 2 - icon.height() / 2);
        painter->drawPixmap(iconAt, icon);
    }

    QFont font = QApplication::font();
    font.setPointSize(11);
    painter->setFont(font);
    const bool highlighted = option.state & QStyle::State_Selected;
    painter->setPen(highlighted ? Qt::white : Qt::black);
    const QFontMetrics metrics(font);
    const int textHeight = metrics.height();
    const int textLeft = frame.left() + icon.width() + kGap;
    const QRect textBox(textLeft, frame.top() + static_cast<int>(0.7 * frame.height()) - (textHeight + 5) / 2,
                        qMax(0, frame.width() - icon.width() - kGap), textHeight + 5);
    painter->drawText(textBox, Qt::AlignLeft | Qt::AlignTop, metrics.elidedText(text, Qt::ElideRight, textBox.width()));
    painter->restore();
}

QSize OutlineCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QFont font = QApplication::font();
    font.setPointSize(11);
    const QFontMetrics metrics(font);
    const QString text = index.data(Qt::DisplayRole).toString();
    return {2 * kInset + kIconSize + kGap + metrics.horizontalAdvance(text), qMax(20, metrics.height() + 6)};
}
