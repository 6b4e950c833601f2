#include "app/LogicalDriveCell.h"

#include "app/DriveIcon.h"
#include "app/DriveListTableModel.h"
#include "media/ContentKind.h"
#include "results/qt/Utf8Text.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

using platform::Dict;

namespace {

constexpr int kInset = 10;    // left and right of the row
constexpr int kGap = 5;       // above, between and below the lines
constexpr int kIconGap = 10;  // between the icon and the lines
constexpr int kIconSize = 64; // the icon's side
constexpr int kVolumeIndent = 50;

QString textOf(const Dict& row, std::string_view key) {
    return Utf8Text::toQString(row.get(key).stringValue());
}

const QColor& grey() {
    static const QColor colour(128, 128, 128);
    return colour;
}

QFont boldSystemFont(int pixelSize) {
    QFont font = QApplication::font();
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

LogicalDriveCell::LogicalDriveCell(QObject* parent) : QStyledItemDelegate(parent) {}

QString LogicalDriveCell::sizeText(double b) {
    if (b < 1000000.0) return QString::asprintf("%0.2f KB", b / 1000.0);
    if (b < 1000000000.0) return QString::asprintf("%0.2f MB", b / 1000000.0);
    return QString::asprintf("%0.2f GB", b / 1000000000.0);
}

QString LogicalDriveCell::sizeLine(const Dict& row) {
    return QStringLiteral("Size: ") + sizeText(static_cast<double>(row.get("Size").uint64Value()));
}

QString LogicalDriveCell::fileSystemLine(const Dict& row, ApfsNaming apfs) {
    const ContentKind content = contentKindOf(row.get("Content").stringValue());
    const bool journaled = row.get("journaled").stringValue() == "Yes";
    switch (content) {
    case ContentKind::HFSPlus:
        return journaled ? QStringLiteral("File System: Mac OS Extended (Journaled)")
                         : QStringLiteral("File System: Mac OS Extended");
    case ContentKind::HFSX:
        return journaled ? QStringLiteral("File System: Mac OS Extended (Case Sensitive, Journaled)")
                         : QStringLiteral("File System: Mac OS Extended (Case Sensitive)");
    case ContentKind::APFSContainer:
    case ContentKind::APFS:
        if (apfs == ApfsNaming::NameOrTypeId ||
            (apfs == ApfsNaming::TypeIdOnly && content == ContentKind::APFSContainer))
            return QStringLiteral("File System: APFS");
        break;
    case ContentKind::FAT12:
    case ContentKind::FAT16:
    case ContentKind::FAT32:
        return QStringLiteral("File System: ") + QString::fromLatin1(contentString(content));
    case ContentKind::ExFAT:
        return QStringLiteral("File System: ExFAT");
    case ContentKind::None:
        break;
    }
    return QStringLiteral("File System: -");
}

QStringList LogicalDriveCell::lines(const Dict& row) {
    const bool volume = row.contains("WhetherVolume");
    QStringList out;
    if (volume)
        out << textOf(row, "Volume Name");
    else
        out << textOf(row, "device model") + QLatin1Char(' ') + textOf(row, "device serial") + QLatin1Char(' ') +
                   textOf(row, "device revision");
    out << (volume ? QStringLiteral("Type: Volume") : QStringLiteral("Type: Disk"));
    out << QStringLiteral("Mount Point: ") + textOf(row, "Path");
    out << sizeLine(row);
    if (volume)
        out << fileSystemLine(row, ApfsNaming::NameOrTypeId);
    else
        out << QStringLiteral("Volumes Contained: %1").arg(row.get("Children Volume Array").arrayValue().size());
    return out;
}

QPixmap LogicalDriveCell::iconOf(const Dict& row) {
    return DriveIcon::iconForRow(row).pixmap(QSize(kIconSize, kIconSize));
}

QFont LogicalDriveCell::titleFont() {
    return boldSystemFont(14);
}

QFont LogicalDriveCell::detailFont() {
    return boldSystemFont(11);
}

namespace {

int blockHeight(const LogicalDriveCell::RowPicture& picture) {
    const int title = QFontMetrics(LogicalDriveCell::titleFont()).height();
    const int detail = QFontMetrics(LogicalDriveCell::detailFont()).height();
    const auto n = static_cast<int>(picture.lines.size());
    int h = kGap * (n + 1) + (n > 0 ? title + (n - 1) * detail : 0);
    if (!picture.trailingImage.isNull())
        h += static_cast<int>(picture.trailingImage.height() / picture.trailingImage.devicePixelRatio());
    return h;
}

} // namespace

int LogicalDriveCell::rowHeight(const RowPicture& picture) {
    // A little air above and below what is centred in the row.
    return std::max(kIconSize, blockHeight(picture)) + 2 * kGap;
}

QRect LogicalDriveCell::paintRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                                 const RowPicture& picture) {
    // The background, the selection's included, as the style draws it.
    QStyleOptionViewItem background = option;
    background.text.clear();
    background.icon = QIcon();
    background.features &= ~QStyleOptionViewItem::HasDisplay;
    background.features &= ~QStyleOptionViewItem::HasDecoration;
    background.index = index;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const QRect inset = option.rect.adjusted(kInset, 0, -kInset, 0);
    const double middle = inset.top() + inset.height() / 2.0;
    const QSizeF iconSize = picture.icon.isNull() ? QSizeF(kIconSize, kIconSize)
                                                  : QSizeF(picture.icon.size()) / picture.icon.devicePixelRatio();
    const QRectF iconRect(inset.left() + picture.iconIndent, middle - iconSize.height() / 2, iconSize.width(),
                          iconSize.height());

    painter->save();
    if (!picture.icon.isNull()) painter->drawPixmap(iconRect, picture.icon, QRectF(picture.icon.rect()));

    const bool selected = option.state & QStyle::State_Selected;
    const double textX = iconRect.right() + kIconGap;
    const double textWidth =
        std::max(0.0, std::min(inset.width() - iconSize.width() - kIconGap, inset.right() - textX));
    double y = middle - blockHeight(picture) / 2.0 + kGap;
    for (qsizetype i = 0; i < picture.lines.size(); ++i) {
        const QFont font = i == 0 ? titleFont() : detailFont();
        const QFontMetrics metrics(font);
        painter->setFont(font);
        painter->setPen(selected ? QColor(Qt::white) : i == 0 ? QColor(Qt::black) : grey());
        const QString shown = metrics.elidedText(picture.lines[i], Qt::ElideRight, static_cast<int>(textWidth));
        painter->drawText(QRectF(textX, y, textWidth, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter, shown);
        y += metrics.height() + kGap;
    }
    if (!picture.trailingImage.isNull()) painter->drawPixmap(QPointF(textX, y), picture.trailingImage);
    painter->restore();
    return inset;
}

LogicalDriveCell::RowPicture LogicalDriveCell::pictureOf(const Dict& row) {
    return {iconOf(row), row.contains("WhetherVolume") ? kVolumeIndent : 0, lines(row), {}};
}

void LogicalDriveCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Dict row = DriveListTableModel::rowDict(index).value_or(Dict());
    const RowPicture picture = pictureOf(row);
    const QRect inset = paintRow(painter, option, index, picture);
    if (displayDrvOrVolOrBoth_ == 2) paintConnectors(painter, inset, kIconSize, row);
}

void LogicalDriveCell::paintConnectors(QPainter* painter, const QRect& inset, int iconWidth, const Dict& row) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(grey(), 4, Qt::SolidLine, Qt::RoundCap));
    const double x = inset.left();
    const double cx = x + iconWidth / 2.0;
    const double top = inset.top();
    const double height = inset.height();
    const double bottom = top + height;
    if (!row.contains("WhetherVolume")) {
        // A disk with volumes: a bar under its icon and the stem down into
        // the first volume's row.
        if (row.contains("Children Volume Array")) {
            painter->drawLine(QPointF(x, bottom - 20), QPointF(x + iconWidth, bottom - 20));
            painter->drawLine(QPointF(cx, bottom - 20), QPointF(cx, bottom + 2));
        }
        painter->restore();
        return;
    }
    const std::int64_t i = row.get("Index of child Volume").int64Value();
    const std::int64_t t = row.get("Total Volumes in a disk").int64Value();
    if (i > t - 1) {
        painter->restore();
        return;
    }
    double m = 0;
    if (i < t - 1) {
        // The stem runs on to the next volume of the disk.
        painter->drawLine(QPointF(cx, top - 1), QPointF(cx, bottom + 1));
        m = top + height / 2;
    } else {
        m = top + (height - 1) / 2;
        painter->drawLine(QPointF(cx, top - 1), QPointF(cx, m - 5));
    }
    // The rounded corner of the branch, then the branch itself.
    QPainterPath corner;
    corner.moveTo(cx + 5, m);
    corner.quadTo(QPointF(cx, m), QPointF(cx, m - 5));
    painter->drawPath(corner);
    painter->drawLine(QPointF(cx + 5, m), QPointF(cx + 15, m));
    painter->restore();
}

QSize LogicalDriveCell::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    return {option.rect.width(), rowHeight({{}, 0, lines(DriveListTableModel::rowDict(index).value_or(Dict())), {}})};
}
