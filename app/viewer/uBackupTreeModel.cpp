#include "uBackupTreeModel.h"

void TBackupTreeModel::Clear()
{
    beginResetModel();
    FRows.clear();
    FChildren.clear();
    FTopLevel.clear();
    FPosition.clear();
    endResetModel();
}

void TBackupTreeModel::Append(const std::vector<TBackupTreeRow>& rows)
{
    const int base = static_cast<int>(FRows.size());
    int newTopLevel = 0;
    for (const TBackupTreeRow& row : rows)
        newTopLevel += row.Parent < 0 ? 1 : 0;
    const int first = static_cast<int>(FTopLevel.size());
    // The new top-level rows arrive with all their children in one insertion, so a
    // view lays the whole fill out once.
    if (newTopLevel > 0)
        beginInsertRows(QModelIndex(), first, first + newTopLevel - 1);
    for (const TBackupTreeRow& row : rows) {
        TBackupTreeRow added = row;
        const int self = static_cast<int>(FRows.size());
        std::vector<int>& siblings =
            row.Parent < 0 ? FTopLevel : FChildren[static_cast<size_t>(base + row.Parent)];
        if (row.Parent >= 0)
            added.Parent = base + row.Parent;
        FPosition.push_back(static_cast<int>(siblings.size()));
        siblings.push_back(self);
        FRows.push_back(std::move(added));
        FChildren.emplace_back();
    }
    if (newTopLevel > 0)
        endInsertRows();
}

const std::vector<int>& TBackupTreeModel::ChildrenOf(const QModelIndex& parent) const
{
    return parent.isValid() ? FChildren[parent.internalId()] : FTopLevel;
}

QModelIndex TBackupTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= 2 || row < 0 || (parent.isValid() && parent.column() != 0))
        return {};
    const std::vector<int>& children = ChildrenOf(parent);
    if (row >= static_cast<int>(children.size()))
        return {};
    return createIndex(row, column, static_cast<quintptr>(children[static_cast<size_t>(row)]));
}

QModelIndex TBackupTreeModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const int parentRow = FRows[child.internalId()].Parent;
    if (parentRow < 0)
        return {};
    return createIndex(FPosition[static_cast<size_t>(parentRow)], 0, static_cast<quintptr>(parentRow));
}

int TBackupTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return static_cast<int>(ChildrenOf(parent).size());
}

int TBackupTreeModel::columnCount(const QModelIndex&) const
{
    return 2;
}

QVariant TBackupTreeModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const TBackupTreeRow& row = FRows[index.internalId()];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdU16String(index.column() == 0 ? row.Label : row.Value);
    case Qt::BackgroundRole:
        return index.column() == 1 ? QVariant(FValueBackground) : QVariant();
    default:
        return {};
    }
}

Qt::ItemFlags TBackupTreeModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
