#include "app/DriveListTableModel.h"

void DriveListTableModel::setRows(std::vector<std::optional<platform::Dict>> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

std::optional<platform::Dict> DriveListTableModel::row(int r) const {
    if (r < 0 || static_cast<std::size_t>(r) >= rows_.size()) return std::nullopt;
    return rows_[static_cast<std::size_t>(r)];
}

std::optional<platform::Dict> DriveListTableModel::rowDict(const QModelIndex& index) {
    const QVariant v = index.data(RowDictRole);
    if (!v.canConvert<platform::Dict>()) return std::nullopt;
    return v.value<platform::Dict>();
}

int DriveListTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int DriveListTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1;
}

QVariant DriveListTableModel::data(const QModelIndex& index, int role) const {
    if (role != RowDictRole || index.column() != 0) return {};
    std::optional<platform::Dict> d = row(index.row());
    return d ? QVariant::fromValue(std::move(*d)) : QVariant();
}
