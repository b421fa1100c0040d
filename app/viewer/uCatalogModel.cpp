#include "uCatalogModel.h"

#include <algorithm>

namespace {

QString Q(const std::u16string& text)
{
    return QString::fromStdU16String(text);
}

// A text key for an LSN that sorts as the number does: a sign digit, then thirty
// digits, those of a negative value turned about so that a larger magnitude comes first.
QString LsnSortKey(const TBigInteger& value)
{
    std::string digits = ToString(value);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (negative)
        digits.erase(0, 1);
    QString key(31, QLatin1Char('0'));
    key[0] = negative ? QLatin1Char('0') : QLatin1Char('1');
    const qsizetype start = 31 - static_cast<qsizetype>(digits.size());
    for (qsizetype i = 1; i < 31; ++i) {
        const char d = i >= start ? digits[static_cast<size_t>(i - start)] : '0';
        key[i] = QLatin1Char(negative ? static_cast<char>('9' - (d - '0')) : d);
    }
    return key;
}

// The case-folded text, then the text itself after a character that sorts first.
QString TextSortKey(const std::u16string& folded, const std::u16string& text)
{
    return Q(folded) + QChar(u'\0') + Q(text);
}

QVariant SortKey(const TCatalogRow& row, TCatalogColumn column)
{
    const TBackupHeader& h = row.Header;
    switch (column) {
    case TCatalogColumn::Database:
        return TextSortKey(row.FoldedDatabase, h.DatabaseName);
    case TCatalogColumn::Server:
        return TextSortKey(row.FoldedServer, row.Server);
    case TCatalogColumn::BackupType:
        return QString::fromStdString(h.BackupTypeDescription);
    case TCatalogColumn::Start:
        return h.BackupStartDate;
    case TCatalogColumn::Finish:
        return h.BackupEndDate;
    case TCatalogColumn::Size:
        return qlonglong{h.BackupSize};
    case TCatalogColumn::FirstLSN:
        return LsnSortKey(h.FirstLSN);
    case TCatalogColumn::LastLSN:
        return LsnSortKey(h.LastLSN);
    case TCatalogColumn::Position:
        return h.DataSetNumber;
    case TCatalogColumn::Stripes: {
        // The stripes missing first, then the family count.
        const qlonglong missing = qlonglong{h.FamilyCount} - row.StripesFound;
        return missing * (qlonglong{1} << 33) + (qlonglong{h.FamilyCount} + (qlonglong{1} << 31));
    }
    case TCatalogColumn::Files:
        return TextSortKey(row.FoldedFiles, row.FilesText);
    case TCatalogColumn::Password:
        return h.HasPassword;
    case TCatalogColumn::CopyOnly:
        return h.IsCopyOnly;
    case TCatalogColumn::Damaged:
        return row.Damaged;
    }
    return {};
}

bool IsNumeric(TCatalogColumn column)
{
    return column == TCatalogColumn::Size || column == TCatalogColumn::FirstLSN ||
           column == TCatalogColumn::LastLSN || column == TCatalogColumn::Position;
}

}  // namespace

void TCatalogModel::appendRows(std::span<const TCatalogInput> files)
{
    TCatalogChange all;
    all.FirstNewRow = FCatalog.size();
    for (const TCatalogInput& file : files) {
        TCatalogChange change = FCatalog.Add(file.Path, file.Report);
        all.ChangedRows.insert(all.ChangedRows.end(), change.ChangedRows.begin(), change.ChangedRows.end());
    }
    Announce(all, all.FirstNewRow);
}

void TCatalogModel::appendRows(const std::u16string& path, const TBackupFileReport& report)
{
    const size_t firstNew = FCatalog.size();
    Announce(FCatalog.Add(path, report), firstNew);
}

void TCatalogModel::Announce(const TCatalogChange& change, size_t firstNew)
{
    const int total = static_cast<int>(FCatalog.size());
    if (total > FShown) {
        beginInsertRows({}, FShown, total - 1);
        FShown = total;
        endInsertRows();
    }
    // Rows new in this batch were announced whole; only the older ones changed.
    std::vector<size_t> changed;
    for (size_t row : change.ChangedRows)
        if (row < firstNew)
            changed.push_back(row);
    std::sort(changed.begin(), changed.end());
    changed.erase(std::unique(changed.begin(), changed.end()), changed.end());
    for (size_t row : changed)
        emit dataChanged(index(static_cast<int>(row), 0),
                         index(static_cast<int>(row), CatalogColumnCount - 1));
}

void TCatalogModel::Clear()
{
    beginResetModel();
    FCatalog.Clear();
    FShown = 0;
    endResetModel();
}

int TCatalogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : FShown;
}

int TCatalogModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : CatalogColumnCount;
}

QVariant TCatalogModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TCatalogRow& row = Row(index.row());
    const auto column = static_cast<TCatalogColumn>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return Q(CatalogCellText(row, column));
    case Qt::ToolTipRole:
        return column == TCatalogColumn::Files ? Q(row.FilesText) : QVariant();
    case Qt::TextAlignmentRole:
        return IsNumeric(column) ? QVariant(int{Qt::AlignRight | Qt::AlignVCenter}) : QVariant();
    case SortKeyRole:
        return SortKey(row, column);
    case PathRole:
        return row.Sources.empty() ? QVariant() : QVariant(Q(row.Sources.front().Path));
    case SetIndexRole:
        return row.Sources.empty() ? QVariant() : QVariant(static_cast<int>(row.Sources.front().SetIndex));
    default:
        return {};
    }
}

QVariant TCatalogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= CatalogColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return Q(CatalogColumnTitle(static_cast<TCatalogColumn>(section)));
}

void TCatalogFilterModel::SetFilterText(const QString& text)
{
    if (text == FText)
        return;
    FText = text;
    FFilter = TCatalogFilter(text.toStdU16String(), FType);
    invalidateRowsFilter();
}

void TCatalogFilterModel::SetTypeFilter(TCatalogTypeFilter type)
{
    if (type == FType)
        return;
    FType = type;
    FFilter = TCatalogFilter(FText.toStdU16String(), FType);
    invalidateRowsFilter();
}

const TCatalogModel* TCatalogFilterModel::Catalog() const
{
    return qobject_cast<const TCatalogModel*>(sourceModel());
}

bool TCatalogFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const TCatalogModel* catalog = Catalog();
    if (!catalog || sourceParent.isValid() || FFilter.IsEmpty())
        return true;
    return FFilter.Matches(catalog->Row(sourceRow));
}

bool TCatalogFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const TCatalogModel* catalog = Catalog();
    if (!catalog)
        return QSortFilterProxyModel::lessThan(left, right);
    return CompareCatalogRows(catalog->Row(left.row()), catalog->Row(right.row()),
                              static_cast<TCatalogColumn>(left.column())) < 0;
}
