#pragma once

// The found-file outline as a Qt model: one row at the top (the root shown,
// or "Loading..." while no tree is attached), then each node's children as
// currently arranged. Items are the nodes' outline items (NewDirViewHelper),
// reached through each node's viewHelper, so an index stays valid as long
// as the tree it shows is attached.
//
// The model reads the tree only on the main thread and only while it is
// attached: whoever rearranges or frees the tree on a worker detaches the
// model first and attaches it again afterwards.

#include "results/NewDirViewHelper.h"

#include <QAbstractItemModel>
#include <QHash>
#include <functional>
#include <memory>

class ResultOutlineModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column {
        FilesColumn,
        CompleteColumn,
        MarkColumn,
        FilesCountColumn,
        SizeColumn,
        ModificationDateColumn,
        CreateDateColumn,
        ColumnCount
    };
    // What the name cell draws, beside the shown text (DisplayRole).
    enum Role {
        KindRole = Qt::UserRole + 1, // 1 folder, 2 file
        DeletedRole,                 // bool
        AppendCountRole,             // bool: the name shows the child count
        ChildCountRole,              // direct children
        FileNameRole,                // the name without the count
    };

    explicit ResultOutlineModel(QObject* parent = nullptr);
    ~ResultOutlineModel() override;

    // Shows the tree whose root has this item; nullptr shows "Loading...".
    void attach(NewDirViewHelper* root);
    void detach() { attach(nullptr); }
    NewDirViewHelper* attachedRoot() const { return root_; }
    // The item of an index, or nullptr.
    NewDirViewHelper* itemAt(const QModelIndex& index) const;
    bool isPlaceholder(const QModelIndex& index) const { return itemAt(index) == placeholder_.get(); }
    // The index of a node of the attached tree (column 0); invalid when the
    // node is not in it.
    QModelIndex indexOfNode(const NewDir* node) const;

    // A click on a "Mark" check box: the new mark (any value but unchecked
    // marks, the mixed one too). The handler decides whether it applies.
    void setMarkHandler(std::function<bool(NewDirViewHelper*, bool)> handler) { markHandler_ = std::move(handler); }
    // 0 no preview window, 1 it shows this item, 2 it shows another item.
    void setPreviewState(std::function<int(const NewDirViewHelper*)> state) { previewState_ = std::move(state); }

    // Redisplays an item, with everything below it when asked, after its
    // marks changed; then each ancestor (without their other children).
    void reloadItem(const QModelIndex& item, bool reloadChildren);
    void reloadItemAndAncestors(const QModelIndex& item);

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The texts of the cells, as the outline and its tool tips show them.
    static QString cellName(const NewDirViewHelper* item);
    static QString completeText(std::uint8_t complete);

private:
    NewDirViewHelper* top() const { return root_ ? root_ : placeholder_.get(); }
    int rowOf(const NewDir* node) const;
    QVariant toolTip(const NewDirViewHelper* item, int column) const;

    NewDir* placeholderNode_ = nullptr;
    std::unique_ptr<NewDirViewHelper> placeholder_;
    NewDirViewHelper* root_ = nullptr;
    // Where each node was last seen among its parent's children; checked
    // before use, so a stale hint only costs a search.
    mutable QHash<const NewDir*, int> rowHints_;
    std::function<bool(NewDirViewHelper*, bool)> markHandler_;
    std::function<int(const NewDirViewHelper*)> previewState_;
};
