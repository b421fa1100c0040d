#pragma once
// The catalog page: every backup set of the files read as one table row, a filter box,
// a type filter and copying of rows for a spreadsheet.

#include "uCatalogModel.h"

#include <QString>
#include <QWidget>

#include <span>

class QComboBox;
class QLineEdit;
class QTableView;

class TCatalogPage : public QWidget {
    Q_OBJECT
public:
    explicit TCatalogPage(QWidget* parent = nullptr);

    // Adds the sets of a batch of files read; the table keeps its sort order and filter.
    void AppendFiles(std::span<const TCatalogInput> files);
    void Clear();

    [[nodiscard]] TCatalogModel* Model() const { return FModel; }
    [[nodiscard]] TCatalogFilterModel* Filter() const { return FFilter; }
    [[nodiscard]] QTableView* View() const { return FView; }
    [[nodiscard]] QLineEdit* FilterEdit() const { return FFilterEdit; }
    [[nodiscard]] QComboBox* TypeBox() const { return FTypeBox; }

    // The selected rows in the order shown, as tab-separated text with a header line;
    // Ctrl+C in the table puts it on the clipboard.
    [[nodiscard]] QString SelectedRowsText() const;
    void CopySelectedRows() const;

signals:
    // The user made a row current: the first file that holds its set and the set's
    // index among that file's sets, so that the tree can show that set.
    void SetSelected(const QString& path, int setIndex);

private:
    void CurrentRowChanged(const QModelIndex& current);

    TCatalogModel* FModel;
    TCatalogFilterModel* FFilter;
    QLineEdit* FFilterEdit;
    QComboBox* FTypeBox;
    QTableView* FView;
};
