#include "app/SigListModel.h"

#include "results/qt/Utf8Text.h"

#include <QBrush>
#include <QColor>
#include <algorithm>
#include <climits>

SigListModel::SigListModel(QObject* parent) : QAbstractItemModel(parent) {}

void SigListModel::setList(const std::optional<SigRootArray>* list, std::shared_ptr<SigNode> placeholder) {
    beginResetModel();
    list_ = list;
    placeholder_ = std::move(placeholder);
    placeholderRows_ = {placeholder_};
    endResetModel();
}

void SigListModel::reload() {
    beginResetModel();
    endResetModel();
}

void SigListModel::emitMarksChanged(const QModelIndex& parent) {
    const int rows = rowCount(parent);
    if (rows == 0) return;
    emit dataChanged(index(0, MarkColumn, parent), index(rows - 1, MarkColumn, parent), {Qt::CheckStateRole});
    for (int r = 0; r < rows; ++r)
        emitMarksChanged(index(r, 0, parent));
}

void SigListModel::marksChanged() {
    emitMarksChanged(QModelIndex());
}

const std::vector<std::shared_ptr<SigNode>>& SigListModel::rowsBelow(const SigNode* node) const {
    if (node) return node->children();
    return hasRows() ? **list_ : placeholderRows_;
}

std::shared_ptr<SigNode> SigListModel::nodeAt(const QModelIndex& index) const {
    if (!index.isValid()) return nullptr;
    const auto* parentNode = static_cast<const SigNode*>(index.internalPointer());
    const auto& rows = rowsBelow(parentNode);
    return index.row() < static_cast<int>(rows.size()) ? rows[static_cast<std::size_t>(index.row())] : nullptr;
}

bool SigListModel::isPlaceholder(const QModelIndex& index) const {
    return index.isValid() && nodeAt(index) == placeholder_;
}

QModelIndex SigListModel::indexOf(const SigNode* node) const {
    if (!node) return {};
    const auto parentNode = node->parent();
    const auto& rows = rowsBelow(parentNode.get());
    const auto it = std::find_if(rows.begin(), rows.end(), [node](const auto& n) { return n.get() == node; });
    if (it == rows.end()) return {};
    // The node's parent must itself be a row of the list.
    if (parentNode && !indexOf(parentNode.get()).isValid()) return {};
    return createIndex(static_cast<int>(it - rows.begin()), 0, parentNode.get());
}

// An index carries the node above its row (null at the top level), so that
// a row is found again by its position below that node.
QModelIndex SigListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= ColumnCount) return {};
    const std::shared_ptr<SigNode> parentNode = nodeAt(parent);
    if (parent.isValid() && !parentNode) return {};
    if (row >= static_cast<int>(rowsBelow(parentNode.get()).size())) return {};
    return createIndex(row, column, parentNode.get());
}

QModelIndex SigListModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || !child.internalPointer()) return {};
    const auto* parentNode = static_cast<const SigNode*>(child.internalPointer());
    return indexOf(parentNode);
}

int SigListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() && parent.column() != 0) return 0;
    if (!parent.isValid()) return static_cast<int>(rowsBelow(nullptr).size());
    const auto node = nodeAt(parent);
    return node ? static_cast<int>(node->children().size()) : 0;
}

int SigListModel::columnCount(const QModelIndex&) const {
    return ColumnCount;
}

QVariant SigListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
    case FileTypesColumn:
        return tr("File Types");
    case MarkColumn:
        return tr("Mark");
    case SizeColumn:
        return tr("Maximum File Size to recover");
    default:
        return {};
    }
}

namespace {

Qt::CheckState markState(const SigNode& node) {
    const std::uint32_t count = node.childrenCount();
    if (count == 0)
        return node.fileTypeSigNode == SigNode::FileType && node.selected == 1 ? Qt::Checked : Qt::Unchecked;
    const std::uint32_t marked = node.childrenSelected();
    if (marked >= count) return Qt::Checked;
    return marked == 0 ? Qt::Unchecked : Qt::PartiallyChecked;
}

// A colour blended with white: (1 - f) x c + f x white.
QColor blendedWithWhite(QColor c, double f) {
    return QColor::fromRgbF(static_cast<float>((1 - f) * c.redF() + f), static_cast<float>((1 - f) * c.greenF() + f),
                            static_cast<float>((1 - f) * c.blueF() + f));
}

QVariant rowColour(const SigNode& node) {
    if (node.fileTypeSigNode == SigNode::Category)
        return QBrush(node.containsPreInstalledChildren ? blendedWithWhite(QColor(255, 127, 0), 0.5)
                                                        : blendedWithWhite(Qt::blue, 0.75));
    if (node.sig() && !node.sig()->preInstalled) return QBrush(blendedWithWhite(Qt::green, 0.75));
    return {};
}

} // namespace

QVariant SigListModel::data(const QModelIndex& index, int role) const {
    const auto node = nodeAt(index);
    if (!node) return {};
    const Sig* sig = node->sig().get();
    const bool placeholder = node == placeholder_;
    if (role == Qt::BackgroundRole) return placeholder ? QVariant() : rowColour(*node);
    switch (index.column()) {
    case FileTypesColumn:
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return Utf8Text::toQString(sig ? sig->software : node->category);
        case KindRole:
            return static_cast<int>(node->fileTypeSigNode);
        case ExtensionRole:
            return sig ? Utf8Text::toQString(sig->extension) : QString();
        default:
            return {};
        }
    case MarkColumn:
        if (role == Qt::CheckStateRole && !placeholder) return markState(*node);
        return {};
    case SizeColumn:
        if ((role != Qt::DisplayRole && role != Qt::EditRole) || placeholder) return {};
        if (!sig) return 0;
        {
            const std::uint64_t size = sig->userSize != 0 ? sig->userSize : sig->defaultSize;
            // Edited as a 32-bit number, in a box that takes digits only.
            if (role == Qt::EditRole) return static_cast<uint>(std::min<std::uint64_t>(size, UINT_MAX));
            return static_cast<qulonglong>(size);
        }
    default:
        return {};
    }
}

bool SigListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    const auto node = nodeAt(index);
    if (!node || node == placeholder_) return false;
    if (index.column() == MarkColumn && role == Qt::CheckStateRole) {
        // A mixed box, clicked, becomes marked.
        if (markHandler_) markHandler_(node, value.value<Qt::CheckState>() != Qt::Unchecked);
        return true;
    }
    if (index.column() == SizeColumn && role == Qt::EditRole && node->sig()) {
        bool ok = false;
        const uint size = value.toUInt(&ok);
        if (!ok) return false;
        node->sig()->userSize = size;
        emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
        if (sizeHandler_) sizeHandler_();
        return true;
    }
    return false;
}

Qt::ItemFlags SigListModel::flags(const QModelIndex& index) const {
    const auto node = nodeAt(index);
    if (!node) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (node == placeholder_) return f;
    if (index.column() == MarkColumn) f |= Qt::ItemIsUserCheckable;
    if (index.column() == SizeColumn && node->sig()) f |= Qt::ItemIsEditable;
    if (!node->children().empty()) return f;
    return f | Qt::ItemNeverHasChildren;
}
