#pragma once

// The file-type list as the outline shows it: the category nodes at the top
// level with their file types below, or the one placeholder row while no
// list (or an empty one) is loaded. Three columns: the name (drawn by
// OutlineCellSig from KindRole, the text and ExtensionRole), the mark as a
// check box with a mixed state for categories, and a file type's maximum
// size in MB, which the user can edit. Mark and size edits go to the
// handlers; the model only shows the nodes.

#include "signatures/SigLists.h"

#include <QAbstractItemModel>
#include <functional>
#include <memory>
#include <optional>

class SigListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { FileTypesColumn, MarkColumn, SizeColumn, ColumnCount };
    enum Role { KindRole = Qt::UserRole + 1, ExtensionRole };

    explicit SigListModel(QObject* parent = nullptr);

    // The list and the placeholder live with the controller; the model
    // reads them until they are replaced (reload()).
    void setList(const std::optional<SigRootArray>* list, std::shared_ptr<SigNode> placeholder);
    // After the list was loaded, added to or cut.
    void reload();
    // After marks changed anywhere: every mark box is read again.
    void marksChanged();

    // A click on a mark box: the node and the new mark.
    void setMarkHandler(std::function<void(const std::shared_ptr<SigNode>&, bool)> handler) {
        markHandler_ = std::move(handler);
    }
    // After a size edit was stored in the node's record.
    void setSizeHandler(std::function<void()> handler) { sizeHandler_ = std::move(handler); }

    // The node of a row; null for an invalid index.
    std::shared_ptr<SigNode> nodeAt(const QModelIndex& index) const;
    bool isPlaceholder(const QModelIndex& index) const;
    // The index of a node of the list (column 0), or invalid.
    QModelIndex indexOf(const SigNode* node) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    bool hasRows() const { return list_ && *list_ && !(*list_)->empty(); }
    const std::vector<std::shared_ptr<SigNode>>& rowsBelow(const SigNode* node) const;
    void emitMarksChanged(const QModelIndex& parent);

    const std::optional<SigRootArray>* list_ = nullptr;
    std::shared_ptr<SigNode> placeholder_;
    std::vector<std::shared_ptr<SigNode>> placeholderRows_;
    std::function<void(const std::shared_ptr<SigNode>&, bool)> markHandler_;
    std::function<void()> sizeHandler_;
};
