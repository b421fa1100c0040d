#include "uCatalogPage.h"

#include "uCommonUtils.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {

// A text as wide as the usual value of each column, in column order: the columns are
// fitted to these instead of to the rows, which would mean a pass over 35,000 rows.
QString SampleText(TCatalogColumn column)
{
    switch (column) {
    case TCatalogColumn::Database:
        return QStringLiteral("AdventureWorks20");
    case TCatalogColumn::Server:
        return QStringLiteral("SQLHOST01\\PRODUCTION");
    case TCatalogColumn::BackupType:
        return QStringLiteral("Database differential");
    case TCatalogColumn::Start:
    case TCatalogColumn::Finish:
        // A date with two-digit month, day and hour in the locale's own form.
        return QString::fromStdU16String(DateValueText(44558.0 + 12.0 / 24 + 59.0 / 1440 + 58.0 / 86400));
    case TCatalogColumn::Size:
        return QStringLiteral("888.888 MB");
    case TCatalogColumn::FirstLSN:
    case TCatalogColumn::LastLSN:
        return QStringLiteral("88888000000888880000088");
    case TCatalogColumn::Position:
    case TCatalogColumn::Stripes:
        return QStringLiteral("88 of 88");
    case TCatalogColumn::Files:
        return QString(48, QLatin1Char('x'));
    case TCatalogColumn::Password:
    case TCatalogColumn::CopyOnly:
    case TCatalogColumn::Damaged:
        return QStringLiteral("false");
    }
    return {};
}

}  // namespace

TCatalogPage::TCatalogPage(QWidget* parent)
    : QWidget(parent), FModel(new TCatalogModel(this)), FFilter(new TCatalogFilterModel(this)),
      FFilterEdit(new QLineEdit(this)), FTypeBox(new QComboBox(this)), FView(new QTableView(this))
{
    FFilter->setSourceModel(FModel);

    FFilterEdit->setPlaceholderText(tr("Filter by database, server or file"));
    FFilterEdit->setClearButtonEnabled(true);
    FTypeBox->addItem(tr("All types"), static_cast<int>(TCatalogTypeFilter::All));
    FTypeBox->addItem(tr("Full"), static_cast<int>(TCatalogTypeFilter::Full));
    FTypeBox->addItem(tr("Differential"), static_cast<int>(TCatalogTypeFilter::Differential));
    FTypeBox->addItem(tr("Log"), static_cast<int>(TCatalogTypeFilter::Log));
    auto* filterLabel = new QLabel(tr("&Filter:"), this);
    filterLabel->setBuddy(FFilterEdit);

    auto* bar = new QHBoxLayout;
    bar->addWidget(filterLabel);
    bar->addWidget(FFilterEdit, 1);
    bar->addWidget(FTypeBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(FView, 1);

    FView->setModel(FFilter);
    FView->setSelectionBehavior(QAbstractItemView::SelectRows);
    FView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    FView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FView->setAlternatingRowColors(true);
    FView->setWordWrap(false);
    FView->verticalHeader()->hide();
    // Fixed row heights: the view then never measures rows it does not show.
    FView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    FView->verticalHeader()->setDefaultSectionSize(FView->fontMetrics().height() + 6);
    FView->horizontalHeader()->setHighlightSections(false);
    FView->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics cells = FView->fontMetrics();
    const QFontMetrics titles = FView->horizontalHeader()->fontMetrics();
    for (int c = 0; c < CatalogColumnCount; ++c) {
        const auto column = static_cast<TCatalogColumn>(c);
        const int title = titles.horizontalAdvance(QString::fromStdU16String(CatalogColumnTitle(column)));
        // Room for the sort indicator beside the title, and for the cell margins.
        FView->setColumnWidth(c, std::max(cells.horizontalAdvance(SampleText(column)) + 12, title + 28));
    }
    // The order a DBA reads backups in: oldest first.
    FView->setSortingEnabled(true);
    FView->sortByColumn(static_cast<int>(TCatalogColumn::Start), Qt::AscendingOrder);

    auto* copy = new QAction(tr("Copy rows"), FView);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    FView->addAction(copy);
    connect(copy, &QAction::triggered, this, &TCatalogPage::CopySelectedRows);

    connect(FFilterEdit, &QLineEdit::textChanged, FFilter, &TCatalogFilterModel::SetFilterText);
    connect(FTypeBox, &QComboBox::currentIndexChanged, this, [this](int) {
        FFilter->SetTypeFilter(static_cast<TCatalogTypeFilter>(FTypeBox->currentData().toInt()));
    });
    connect(FView->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { CurrentRowChanged(current); });
}

void TCatalogPage::AppendFiles(std::span<const TCatalogInput> files)
{
    FModel->appendRows(files);
}

void TCatalogPage::Clear()
{
    FModel->Clear();
}

QString TCatalogPage::SelectedRowsText() const
{
    std::vector<int> shown;
    for (const QModelIndex& index : FView->selectionModel()->selectedRows())
        shown.push_back(index.row());
    std::sort(shown.begin(), shown.end());
    std::vector<size_t> rows;
    rows.reserve(shown.size());
    for (int row : shown)
        rows.push_back(static_cast<size_t>(FFilter->mapToSource(FFilter->index(row, 0)).row()));
    return QString::fromStdU16String(CatalogTsv(FModel->Catalog(), rows));
}

void TCatalogPage::CopySelectedRows() const
{
    if (!FView->selectionModel()->hasSelection())
        return;
    QGuiApplication::clipboard()->setText(SelectedRowsText());
}

void TCatalogPage::CurrentRowChanged(const QModelIndex& current)
{
    if (!current.isValid())
        return;
    const QModelIndex source = FFilter->mapToSource(current);
    const QVariant path = FModel->data(source, TCatalogModel::PathRole);
    if (path.isValid())
        emit SetSelected(path.toString(), FModel->data(source, TCatalogModel::SetIndexRole).toInt());
}
