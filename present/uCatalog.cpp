#include "uCatalog.h"

#include "uCommonUtils.h"
#include "uTextConvert.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <compare>

namespace {

std::u16string Ascii(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::u16string Integer(int64_t value)
{
    return Ascii(std::to_string(value));
}

bool IsEmptyGuid(const TGUID& guid)
{
    return std::all_of(guid.begin(), guid.end(), [](uint8_t b) { return b == 0; });
}

int Sign(std::strong_ordering order)
{
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

template <typename T> int Three(const T& a, const T& b)
{
    return a < b ? -1 : b < a ? 1 : 0;
}

int CompareText(const std::u16string& foldedA, const std::u16string& foldedB, const std::u16string& a,
                const std::u16string& b)
{
    if (const int folded = foldedA.compare(foldedB))
        return folded < 0 ? -1 : 1;
    const int exact = a.compare(b);
    return exact < 0 ? -1 : exact > 0 ? 1 : 0;
}

// Zero is the empty digit array whatever its sign flag says.
int CompareBig(const TBigInteger& a, const TBigInteger& b)
{
    const bool negA = a.Negative && !a.Digits.empty();
    const bool negB = b.Negative && !b.Digits.empty();
    if (negA != negB)
        return negA ? -1 : 1;
    int magnitude = Three(a.Digits.size(), b.Digits.size());
    for (size_t i = a.Digits.size(); magnitude == 0 && i-- > 0;)
        magnitude = Three(a.Digits[i], b.Digits[i]);
    return negA ? -magnitude : magnitude;
}

void Clean(std::u16string& text)
{
    std::replace_if(
        text.begin(), text.end(), [](char16_t c) { return c == u'\t' || c == u'\n' || c == u'\r'; }, u' ');
}

void RefreshFiles(TCatalogRow& row)
{
    row.FilesText.clear();
    for (const TCatalogSource& source : row.Sources) {
        if (!row.FilesText.empty())
            row.FilesText += u"; ";
        row.FilesText += source.Path;
    }
    row.FoldedFiles = FoldCase(row.FilesText);

    std::vector<int32_t> sequences;
    for (const TCatalogSource& source : row.Sources)
        sequences.push_back(source.FamilySequenceNumber);
    std::sort(sequences.begin(), sequences.end());
    row.StripesFound =
        static_cast<int32_t>(std::unique(sequences.begin(), sequences.end()) - sequences.begin());
}

}  // namespace

std::u16string FoldCase(std::u16string_view text)
{
    if (text.empty())
        return {};
    // Full folding can lengthen a text (U+00DF folds to "ss"), at most threefold.
    std::u16string folded(text.size() * 3, u'\0');
    UErrorCode status = U_ZERO_ERROR;
    const int32_t length = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), text.data(),
                                         static_cast<int32_t>(text.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return std::u16string(text);
    folded.resize(static_cast<size_t>(length));
    return folded;
}

std::u16string CatalogColumnTitle(TCatalogColumn column)
{
    switch (column) {
    case TCatalogColumn::Database:
        return u"Database";
    case TCatalogColumn::Server:
        return u"Server";
    case TCatalogColumn::BackupType:
        return u"Backup type";
    case TCatalogColumn::Start:
        return u"Start";
    case TCatalogColumn::Finish:
        return u"Finish";
    case TCatalogColumn::Size:
        return u"Size";
    case TCatalogColumn::FirstLSN:
        return u"First LSN";
    case TCatalogColumn::LastLSN:
        return u"Last LSN";
    case TCatalogColumn::Position:
        return u"Position";
    case TCatalogColumn::Stripes:
        return u"Stripes";
    case TCatalogColumn::Files:
        return u"File(s)";
    case TCatalogColumn::Password:
        return u"Password";
    case TCatalogColumn::CopyOnly:
        return u"Copy-only";
    case TCatalogColumn::Damaged:
        return u"Damaged";
    }
    return {};
}

bool BackupTypeMatches(int32_t backupType, TCatalogTypeFilter filter)
{
    switch (filter) {
    case TCatalogTypeFilter::All:
        return true;
    case TCatalogTypeFilter::Full:
        return backupType == 1 || backupType == 4 || backupType == 7;
    case TCatalogTypeFilter::Differential:
        return backupType == 5 || backupType == 6 || backupType == 8;
    case TCatalogTypeFilter::Log:
        return backupType == 2;
    }
    return false;
}

std::u16string CatalogCellText(const TCatalogRow& row, TCatalogColumn column)
{
    const TBackupHeader& h = row.Header;
    switch (column) {
    case TCatalogColumn::Database:
        return h.DatabaseName;
    case TCatalogColumn::Server:
        return row.Server;
    case TCatalogColumn::BackupType:
        return BackupTypeText(h);
    case TCatalogColumn::Start:
        return DateValueText(h.BackupStartDate);
    case TCatalogColumn::Finish:
        return DateValueText(h.BackupEndDate);
    case TCatalogColumn::Size:
        return FormatByteSize(h.BackupSize);
    case TCatalogColumn::FirstLSN:
        return LsnText(h.FirstLSN);
    case TCatalogColumn::LastLSN:
        return LsnText(h.LastLSN);
    case TCatalogColumn::Position:
        return Integer(h.DataSetNumber);
    case TCatalogColumn::Stripes:
        return Integer(row.StripesFound) + u" of " + Integer(h.FamilyCount);
    case TCatalogColumn::Files:
        return row.FilesText;
    case TCatalogColumn::Password:
        return Ascii(BooleanText(h.HasPassword));
    case TCatalogColumn::CopyOnly:
        return Ascii(BooleanText(h.IsCopyOnly));
    case TCatalogColumn::Damaged:
        return Ascii(BooleanText(row.Damaged));
    }
    return {};
}

int CompareCatalogRows(const TCatalogRow& a, const TCatalogRow& b, TCatalogColumn column)
{
    const TBackupHeader& x = a.Header;
    const TBackupHeader& y = b.Header;
    switch (column) {
    case TCatalogColumn::Database:
        return CompareText(a.FoldedDatabase, b.FoldedDatabase, x.DatabaseName, y.DatabaseName);
    case TCatalogColumn::Server:
        return CompareText(a.FoldedServer, b.FoldedServer, a.Server, b.Server);
    case TCatalogColumn::BackupType:
        return Three(x.BackupTypeDescription, y.BackupTypeDescription);
    case TCatalogColumn::Start:
        return Three(x.BackupStartDate, y.BackupStartDate);
    case TCatalogColumn::Finish:
        return Three(x.BackupEndDate, y.BackupEndDate);
    case TCatalogColumn::Size:
        return Sign(x.BackupSize <=> y.BackupSize);
    case TCatalogColumn::FirstLSN:
        return CompareBig(x.FirstLSN, y.FirstLSN);
    case TCatalogColumn::LastLSN:
        return CompareBig(x.LastLSN, y.LastLSN);
    case TCatalogColumn::Position:
        return Sign(x.DataSetNumber <=> y.DataSetNumber);
    case TCatalogColumn::Stripes: {
        const int64_t missingA = int64_t{x.FamilyCount} - a.StripesFound;
        const int64_t missingB = int64_t{y.FamilyCount} - b.StripesFound;
        if (missingA != missingB)
            return missingA < missingB ? -1 : 1;
        return Sign(x.FamilyCount <=> y.FamilyCount);
    }
    case TCatalogColumn::Files:
        return CompareText(a.FoldedFiles, b.FoldedFiles, a.FilesText, b.FilesText);
    case TCatalogColumn::Password:
        return Three(x.HasPassword, y.HasPassword);
    case TCatalogColumn::CopyOnly:
        return Three(x.IsCopyOnly, y.IsCopyOnly);
    case TCatalogColumn::Damaged:
        return Three(a.Damaged, b.Damaged);
    }
    return 0;
}

TCatalogFilter::TCatalogFilter(std::u16string_view text, TCatalogTypeFilter type)
    : FFolded(FoldCase(text)), FType(type)
{
}

bool TCatalogFilter::Matches(const TCatalogRow& row) const
{
    if (!BackupTypeMatches(row.Header.BackupType, FType))
        return false;
    if (FFolded.empty())
        return true;
    return row.FoldedDatabase.find(FFolded) != std::u16string::npos ||
           row.FoldedServer.find(FFolded) != std::u16string::npos ||
           row.FoldedFiles.find(FFolded) != std::u16string::npos;
}

size_t TCatalog::TKeyHash::operator()(const TKey& key) const noexcept
{
    // FNV-1a over the GUID bytes and the position.
    uint64_t hash = 14695981039346656037ull;
    auto mix = [&hash](uint8_t byte) {
        hash ^= byte;
        hash *= 1099511628211ull;
    };
    for (uint8_t byte : key.Guid)
        mix(byte);
    for (int shift = 0; shift < 32; shift += 8)
        mix(static_cast<uint8_t>(static_cast<uint32_t>(key.Position) >> shift));
    return static_cast<size_t>(hash);
}

TCatalogChange TCatalog::Add(const std::u16string& path, const TBackupFileReport& report)
{
    TCatalogChange change;
    change.FirstNewRow = FRows.size();
    if (!FPaths.insert(path).second)
        return change;

    for (size_t i = 0; i < report.Sets.size(); ++i) {
        const TBackupHeader& header = report.Sets[i].Header;
        const bool noGuid = IsEmptyGuid(header.BackupSetGUID);
        if (noGuid && header.DatabaseName.empty())
            continue;
        TCatalogSource source{path, i, header.FamilySequenceNumber};

        const TKey key{header.BackupSetGUID, header.DataSetNumber};
        const auto known = noGuid ? FIndex.end() : FIndex.find(key);
        if (known != FIndex.end()) {
            TCatalogRow& row = FRows[known->second];
            // After the sources of lower or equal sequence number: stripes in their order,
            // copies of one stripe in the order read.
            const auto at = std::upper_bound(
                row.Sources.begin(), row.Sources.end(), source.FamilySequenceNumber,
                [](int32_t sequence, const TCatalogSource& s) { return sequence < s.FamilySequenceNumber; });
            row.Sources.insert(at, std::move(source));
            row.Damaged = row.Damaged || header.IsDamaged;
            RefreshFiles(row);
            if (known->second < change.FirstNewRow &&
                std::find(change.ChangedRows.begin(), change.ChangedRows.end(), known->second) ==
                    change.ChangedRows.end())
                change.ChangedRows.push_back(known->second);
            continue;
        }

        TCatalogRow row;
        row.Header = header;
        row.Sources.push_back(std::move(source));
        row.Damaged = header.IsDamaged;
        row.FoldedDatabase = FoldCase(header.DatabaseName);
        row.Server = Utf8ToUtf16(header.ServerName);
        row.FoldedServer = FoldCase(row.Server);
        RefreshFiles(row);
        if (!noGuid)
            FIndex.emplace(key, FRows.size());
        FRows.push_back(std::move(row));
    }
    change.NewRowCount = FRows.size() - change.FirstNewRow;
    return change;
}

void TCatalog::Clear()
{
    FRows.clear();
    FIndex.clear();
    FPaths.clear();
}

std::u16string CatalogTsv(const TCatalog& catalog, std::span<const size_t> rows)
{
    std::u16string text;
    auto addLine = [&text](auto cellOf) {
        for (int c = 0; c < CatalogColumnCount; ++c) {
            if (c > 0)
                text += u'\t';
            std::u16string cell = cellOf(static_cast<TCatalogColumn>(c));
            Clean(cell);
            text += cell;
        }
        text += u'\n';
    };
    addLine([](TCatalogColumn column) { return CatalogColumnTitle(column); });
    for (size_t r : rows)
        if (r < catalog.size())
            addLine([&](TCatalogColumn column) { return CatalogCellText(catalog[r], column); });
    return text;
}
