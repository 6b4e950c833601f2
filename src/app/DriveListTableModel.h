#pragma once

#include "platform/Value.h"

#include <QAbstractTableModel>
#include <optional>
#include <vector>

// The rows of one of the wizard's list tables (drives, partitions, volumes
// found): one column, one dictionary per row, kept as a copy taken when the
// list was last rebuilt so that drawing never reads a list while another
// thread replaces it. A row may have no dictionary (a number no row of the
// list carries); its cell draws it empty.
class DriveListTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The role under which a row's platform::Dict is handed out.
    static constexpr int RowDictRole = Qt::UserRole;

    using QAbstractTableModel::QAbstractTableModel;

    void setRows(std::vector<std::optional<platform::Dict>> rows);
    std::optional<platform::Dict> row(int r) const;
    const std::vector<std::optional<platform::Dict>>& rows() const { return rows_; }
    // The dictionary of an index of such a model.
    static std::optional<platform::Dict> rowDict(const QModelIndex& index);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    std::vector<std::optional<platform::Dict>> rows_;
};
