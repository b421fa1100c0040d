#pragma once
// The item model of the backup tree.

#include "uBackupTree.h"

#include <QAbstractItemModel>
#include <QBrush>

#include <vector>

// The rows of grdBAK: label and value columns over the rows RowsForBackupSets builds.
// Children hang under the label column only.
class TBackupTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    using QAbstractItemModel::QAbstractItemModel;

    void Clear();
    // Appends the rows (whose Parent indexes count within `rows`) after those held.
    void Append(const std::vector<TBackupTreeRow>& rows);
    [[nodiscard]] const std::vector<TBackupTreeRow>& Rows() const { return FRows; }
    void SetValueBackground(const QBrush& brush) { FValueBackground = brush; }

    [[nodiscard]] QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    [[nodiscard]] QModelIndex parent(const QModelIndex& child) const override;
    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    [[nodiscard]] const std::vector<int>& ChildrenOf(const QModelIndex& parent) const;

    std::vector<TBackupTreeRow> FRows;
    std::vector<std::vector<int>> FChildren;  // per row: its children's row numbers
    std::vector<int> FTopLevel;
    std::vector<int> FPosition;  // per row: its place among its siblings
    QBrush FValueBackground;
};
