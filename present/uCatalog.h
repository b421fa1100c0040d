#pragma once
// The catalog: one row per backup set of every file read, the table a DBA looks at
// first when handed a pile of backups. A striped set is one row however many of its
// stripes were read; its stripe files are listed together in the row. The texts come
// from the same value-text functions as the tree's rows, so the window and the tools
// write a value the same way.

#include "uTypesMTF.h"
#include "u_MTFReader.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

enum class TCatalogColumn {
    Database,
    Server,
    BackupType,
    Start,
    Finish,
    Size,
    FirstLSN,
    LastLSN,
    Position,
    Stripes,
    Files,
    Password,
    CopyOnly,
    Damaged,
};
inline constexpr int CatalogColumnCount = 14;

// The column titles, in column order; the table's header and the first line of the
// tab-separated text.
[[nodiscard]] std::u16string CatalogColumnTitle(TCatalogColumn column);

// What the type filter offers. Full takes every data backup that is not differential
// (database, file/filegroup and partial), Differential their differential kinds; a set
// whose type the reader does not know appears only under All.
enum class TCatalogTypeFilter { All, Full, Differential, Log };
[[nodiscard]] bool BackupTypeMatches(int32_t backupType, TCatalogTypeFilter filter);

// One place where a set was found: the file and the set's index in that file's sets.
struct TCatalogSource {
    std::u16string Path;
    size_t SetIndex = 0;
    int32_t FamilySequenceNumber = 0;
};

struct TCatalogRow {
    // The header of the first stripe read; every stripe carries the same set header.
    TBackupHeader Header;
    // Every place the set was found, by family sequence number and then in the order
    // read; a second copy of a stripe is listed but not counted as a further stripe.
    std::vector<TCatalogSource> Sources;
    int32_t StripesFound = 0;
    // Any stripe that says the set is damaged makes the set damaged.
    bool Damaged = false;
    // The paths of Sources joined by "; ".
    std::u16string FilesText;
    // Case-folded database name, server name and FilesText: the filter and the sort
    // read them for every row, and folding them again each time would cost the most.
    std::u16string FoldedDatabase, FoldedServer, FoldedFiles;
    // The server name widened once, for the same reason.
    std::u16string Server;
};

// The cell text of a row, written as the tree writes the same value: dates through the
// locale layer, the size by FormatByteSize, LSNs in full, "2 of 4" for stripes found of
// the family count, "true"/"false" for the flags.
[[nodiscard]] std::u16string CatalogCellText(const TCatalogRow& row, TCatalogColumn column);

// Orders two rows by a column's value: dates, numbers and LSNs by value, texts without
// regard to case (then with it), flags false before true, stripes by how many are
// missing and then by family count. Negative, zero or positive like a three-way compare.
[[nodiscard]] int CompareCatalogRows(const TCatalogRow& a, const TCatalogRow& b, TCatalogColumn column);

// The filter box and the type filter together. A row passes when the text (empty
// matches everything) occurs, without regard to case, in its database name, its server
// name or its file paths, and its type passes the type filter.
class TCatalogFilter {
public:
    TCatalogFilter() = default;
    TCatalogFilter(std::u16string_view text, TCatalogTypeFilter type);
    [[nodiscard]] bool Matches(const TCatalogRow& row) const;
    [[nodiscard]] bool IsEmpty() const { return FFolded.empty() && FType == TCatalogTypeFilter::All; }

private:
    std::u16string FFolded;
    TCatalogTypeFilter FType = TCatalogTypeFilter::All;
};

// Unicode default case folding, for comparing and finding text without regard to case.
[[nodiscard]] std::u16string FoldCase(std::u16string_view text);

// What one addition changed: rows appended at the end, and earlier rows that gained a
// stripe or a copy.
struct TCatalogChange {
    size_t FirstNewRow = 0;
    size_t NewRowCount = 0;
    std::vector<size_t> ChangedRows;
};

class TCatalog {
public:
    // Adds the sets of one read file. The empty set a file that is not a backup gives
    // (no database name and no backup set GUID) is left out; a set whose GUID and
    // position match a row already held joins that row. Reading the same path twice
    // adds nothing the second time.
    TCatalogChange Add(const std::u16string& path, const TBackupFileReport& report);
    void Clear();

    [[nodiscard]] const std::vector<TCatalogRow>& Rows() const { return FRows; }
    [[nodiscard]] size_t size() const { return FRows.size(); }
    [[nodiscard]] const TCatalogRow& operator[](size_t i) const { return FRows[i]; }

private:
    struct TKey {
        TGUID Guid{};
        int32_t Position = 0;
        friend bool operator==(const TKey&, const TKey&) = default;
    };
    struct TKeyHash {
        size_t operator()(const TKey& key) const noexcept;
    };

    std::vector<TCatalogRow> FRows;
    // Sets without a GUID have nothing that ties two files together and are never merged.
    std::unordered_map<TKey, size_t, TKeyHash> FIndex;
    std::unordered_set<std::u16string> FPaths;
};

// The rows in the order given as tab-separated text for a spreadsheet: a header line of
// the column titles, then one line per row; every line ends in "\n", and a tab or line
// break inside a cell becomes a blank.
[[nodiscard]] std::u16string CatalogTsv(const TCatalog& catalog, std::span<const size_t> rows);
