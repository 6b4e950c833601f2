#include "results/qt/ResultOutlineModel.h"

#include "results/DisplayedTree.h"
#include "results/ResultText.h"
#include "results/qt/Utf8Text.h"

#include <vector>

namespace {

const char* const kColumnTitles[ResultOutlineModel::ColumnCount] = {
    "Files", "Complete", "Mark", "Files Count", "Size", "Modification date", "Create date",
};

} // namespace

ResultOutlineModel::ResultOutlineModel(QObject* parent) : QAbstractItemModel(parent) {
    // Shown while no tree is: a folder without entries that cannot open.
    placeholderNode_ = newdir::allocate();
    placeholderNode_->fileType = NewDir::Folder;
    newdir::setFileName(placeholderNode_, u"Loading...");
    placeholder_ = NewDirViewHelper::initWithNewDir(placeholderNode_);
}

ResultOutlineModel::~ResultOutlineModel() {
    placeholder_.reset();
    delete placeholderNode_;
}

void ResultOutlineModel::attach(NewDirViewHelper* root) {
    beginResetModel();
    root_ = root;
    rowHints_.clear();
    endResetModel();
}

NewDirViewHelper* ResultOutlineModel::itemAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return nullptr;
    return static_cast<NewDirViewHelper*>(index.internalPointer());
}

QModelIndex ResultOutlineModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= ColumnCount) return {};
    if (!parent.isValid()) return row == 0 ? createIndex(0, column, top()) : QModelIndex();
    if (parent.column() != 0) return {};
    const NewDirViewHelper* p = itemAt(parent);
    if (!p || !p->newDir() || p == placeholder_.get()) return {};
    NewDir* child = p->childAtIndex_(static_cast<std::uint32_t>(row));
    NewDirViewHelper* item = NewDirViewHelper::of(child);
    if (!item) return {};
    rowHints_.insert(child, row);
    return createIndex(row, column, item);
}

int ResultOutlineModel::rowOf(const NewDir* node) const {
    const NewDir* parent = node ? node->pndirPointer : nullptr;
    if (!parent) return -1;
    const NodeList& list = parent->childList;
    if (auto it = rowHints_.constFind(node); it != rowHints_.constEnd()) {
        const int hint = *it;
        if (hint >= 0 && static_cast<std::size_t>(hint) < list.size() && list[static_cast<std::size_t>(hint)] == node)
            return hint;
    }
    for (std::size_t i = 0; i < list.size(); ++i)
        if (list[i] == node) {
            rowHints_.insert(node, static_cast<int>(i));
            return static_cast<int>(i);
        }
    return -1;
}

QModelIndex ResultOutlineModel::parent(const QModelIndex& child) const {
    const NewDirViewHelper* item = itemAt(child);
    if (!item || item == top() || !root_) return {};
    const NewDir* parentNode = item->newDir() ? item->newDir()->pndirPointer : nullptr;
    NewDirViewHelper* parentItem = NewDirViewHelper::of(parentNode);
    if (!parentItem) return {};
    if (parentItem == root_) return createIndex(0, 0, root_);
    const int row = rowOf(parentNode);
    return row < 0 ? QModelIndex() : createIndex(row, 0, parentItem);
}

QModelIndex ResultOutlineModel::indexOfNode(const NewDir* node) const {
    if (!root_ || !node) return {};
    if (node == root_->newDir()) return createIndex(0, 0, root_);
    NewDirViewHelper* item = NewDirViewHelper::of(node);
    const int row = rowOf(node);
    if (!item || row < 0) return {};
    return createIndex(row, 0, item);
}

int ResultOutlineModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return 1;
    if (parent.column() != 0) return 0;
    const NewDirViewHelper* item = itemAt(parent);
    if (!item || !item->newDir() || item == placeholder_.get()) return 0;
    return static_cast<int>(item->childrenArrayCount());
}

int ResultOutlineModel::columnCount(const QModelIndex&) const {
    return ColumnCount;
}

bool ResultOutlineModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QString ResultOutlineModel::cellName(const NewDirViewHelper* item) {
    QString name = Utf8Text::toQString(item->fileName());
    // A carriage return in a name from the medium would break the row.
    name.replace(QLatin1Char('\r'), QLatin1Char('_'));
    if (item->appendChildrenArrayCount() && item->newDir())
        name += QStringLiteral("[%1]").arg(item->newDir()->childrenArrayCount());
    return name;
}

QString ResultOutlineModel::completeText(std::uint8_t complete) {
    switch (complete) {
    case 2:
        return QStringLiteral("Bad");
    case 1:
        return QStringLiteral("Good");
    case 0:
        return QStringLiteral("N.A.");
    default:
        return {};
    }
}

QVariant ResultOutlineModel::data(const QModelIndex& index, int role) const {
    const NewDirViewHelper* item = itemAt(index);
    if (!item || !item->newDir()) return {};
    const NewDir* node = item->newDir();
    if (role == Qt::ToolTipRole) return toolTip(item, index.column());
    switch (index.column()) {
    case FilesColumn:
        switch (role) {
        case Qt::DisplayRole:
            return cellName(item);
        case KindRole:
            return static_cast<int>(node->fileType);
        case DeletedRole:
            return node->deleted == 1;
        case AppendCountRole:
            return item->appendChildrenArrayCount();
        case ChildCountRole:
            return static_cast<uint>(node->childrenArrayCount());
        case FileNameRole:
            return Utf8Text::toQString(item->fileName());
        default:
            return {};
        }
    case CompleteColumn:
        if (role == Qt::DisplayRole) {
            const QString text = completeText(node->complete);
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        return {};
    case MarkColumn:
        if (role == Qt::CheckStateRole) {
            switch (DisplayedTree::markState(node)) {
            case 1:
                return Qt::Checked;
            case 0:
                return Qt::Unchecked;
            case -1:
                return Qt::PartiallyChecked;
            default:
                return {};
            }
        }
        return {};
    case FilesCountColumn:
        return role == Qt::DisplayRole ? QVariant(static_cast<uint>(node->fileCount)) : QVariant();
    case SizeColumn:
        return role == Qt::DisplayRole ? QVariant(Utf8Text::toQString(ResultText::sizeString(node->fileSize)))
                                       : QVariant();
    case ModificationDateColumn:
        return role == Qt::DisplayRole
                   ? QVariant(Utf8Text::toQString(ResultText::dateString(node->modDate, node->isFATEntry)))
                   : QVariant();
    case CreateDateColumn:
        return role == Qt::DisplayRole
                   ? QVariant(Utf8Text::toQString(ResultText::dateString(node->createDate, node->isFATEntry)))
                   : QVariant();
    default:
        return {};
    }
}

QVariant ResultOutlineModel::toolTip(const NewDirViewHelper* item, int column) const {
    const NewDir* node = item->newDir();
    switch (column) {
    case MarkColumn:
        return QString();
    case FilesColumn: {
        const QString shown = Utf8Text::toQString(item->shownName());
        if (node->fileType != NewDir::File) return shown;
        switch (previewState_ ? previewState_(item) : 0) {
        case 1:
            return shown + QStringLiteral("\nPreview showing");
        case 2:
            return shown + QStringLiteral("\nSingle click to preview");
        default:
            return shown + QStringLiteral("\nDouble click to preview");
        }
    }
    case CompleteColumn:
        switch (node->complete) {
        case 0:
            return QStringLiteral("Not Applicable");
        case 1:
            return QStringLiteral("Good");
        case 2:
            return QStringLiteral("Bad");
        default:
            return QStringLiteral("-");
        }
    case SizeColumn:
        return Utf8Text::toQString(ResultText::sizeString(node->fileSize));
    case FilesCountColumn:
        return QString::number(node->fileCount);
    case ModificationDateColumn:
        return Utf8Text::toQString(ResultText::dateString(node->modDate, node->isFATEntry));
    case CreateDateColumn:
        return Utf8Text::toQString(ResultText::dateString(node->createDate, node->isFATEntry));
    default:
        return QStringLiteral("-");
    }
}

Qt::ItemFlags ResultOutlineModel::flags(const QModelIndex& index) const {
    const NewDirViewHelper* item = itemAt(index);
    if (!item) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    // "Loading..." stands for no tree: nothing to mark there.
    if (index.column() == MarkColumn && item != placeholder_.get() && DisplayedTree::hasMarkState(item->newDir()))
        f |= Qt::ItemIsUserCheckable;
    if (!hasChildren(index)) f |= Qt::ItemNeverHasChildren;
    return f;
}

bool ResultOutlineModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    NewDirViewHelper* item = itemAt(index);
    if (!item || role != Qt::CheckStateRole || item == placeholder_.get() || !markHandler_) return false;
    const bool mark = value.toInt() != Qt::Unchecked;
    if (!markHandler_(item, mark)) return false;
    reloadItemAndAncestors(index);
    return true;
}

void ResultOutlineModel::reloadItem(const QModelIndex& item, bool reloadChildren) {
    if (!item.isValid()) return;
    const QModelIndex first = item.siblingAtColumn(0);
    emit dataChanged(first, item.siblingAtColumn(ColumnCount - 1));
    if (!reloadChildren) return;
    std::vector<QModelIndex> pending{first};
    while (!pending.empty()) {
        const QModelIndex folder = pending.back();
        pending.pop_back();
        const int rows = rowCount(folder);
        if (rows == 0) continue;
        emit dataChanged(index(0, 0, folder), index(rows - 1, ColumnCount - 1, folder));
        for (int r = 0; r < rows; ++r) {
            const QModelIndex child = index(r, 0, folder);
            if (rowCount(child) > 0) pending.push_back(child);
        }
    }
}

void ResultOutlineModel::reloadItemAndAncestors(const QModelIndex& item) {
    reloadItem(item, true);
    for (QModelIndex a = parent(item); a.isValid(); a = parent(a))
        reloadItem(a, false);
}

QVariant ResultOutlineModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount) return {};
    return QString::fromLatin1(kColumnTitles[section]);
}
