#pragma once
// The item models of the catalog table: the rows of every set read, and the view of
// them the filter box and the type filter leave.

#include "uCatalog.h"

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QString>

#include <span>
#include <string>

// One file read, as the catalog takes it.
struct TCatalogInput {
    std::u16string Path;
    TBackupFileReport Report;
};

// One row per backup set, the columns of TCatalogColumn. Rows are appended a batch of
// files at a time, so that a folder read in the background fills the table as it goes;
// a row already shown changes in place when a further stripe of its set comes in.
class TCatalogModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Roles {
        // The value the column sorts by: a number, a date as days, a Boolean, a
        // case-folded text; an LSN as a text that sorts as its value does.
        SortKeyRole = Qt::UserRole,
        // The first file that holds the set, and the set's index in that file's sets.
        PathRole,
        SetIndexRole,
    };

    using QAbstractTableModel::QAbstractTableModel;

    void appendRows(std::span<const TCatalogInput> files);
    void appendRows(const std::u16string& path, const TBackupFileReport& report);
    void Clear();

    [[nodiscard]] const TCatalog& Catalog() const { return FCatalog; }
    [[nodiscard]] const TCatalogRow& Row(int row) const { return FCatalog[static_cast<size_t>(row)]; }

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role = Qt::DisplayRole) const override;

private:
    void Announce(const TCatalogChange& change, size_t firstNew);

    TCatalog FCatalog;
    // The rows the views know of. The catalog grows first, and the rows are announced
    // after, so the count seen between the two stays the one the views were told.
    int FShown = 0;
};

// The rows the filter box and the type filter leave, sorted by the catalog's own order
// of each column (by value, not by text) when its source is a TCatalogModel.
class TCatalogFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void SetFilterText(const QString& text);
    void SetTypeFilter(TCatalogTypeFilter type);
    [[nodiscard]] QString FilterText() const { return FText; }
    [[nodiscard]] TCatalogTypeFilter TypeFilter() const { return FType; }

protected:
    [[nodiscard]] bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    [[nodiscard]] bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    [[nodiscard]] const TCatalogModel* Catalog() const;

    QString FText;
    TCatalogTypeFilter FType = TCatalogTypeFilter::All;
    TCatalogFilter FFilter;
};
