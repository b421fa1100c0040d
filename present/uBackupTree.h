#pragma once
// The rows of the backup tree: one node per backup set, its header fields as label and
// value rows, a "Files: %d" node with one node per database file and that file's
// fields. Built once here from the records, so the window and tarnwick-dump show the
// same rows with the same texts.

#include "uTypesMTF.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct TBackupTreeRow {
    int Level = 0;    // 0 backup set, 1 header field or file list, 2 file, 3 file field
    int Parent = -1;  // index of the parent row in the same vector; -1 for a backup set
    std::u16string Label;
    std::u16string Value;  // empty for the set, file list and file rows

    friend bool operator==(const TBackupTreeRow&, const TBackupTreeRow&) = default;
};

// One row as ForEachBackupTreeRow hands it over: valid only during the call. The value
// text is made when Value() is asked for, so a caller that needs it for some rows only
// (the width of a label column) does not pay for the others.
class TBackupTreeRowView {
public:
    int Level = 0;
    int Parent = -1;
    std::u16string_view Label;

    [[nodiscard]] std::u16string Value() const { return FMake(FSource); }

    TBackupTreeRowView(int level, int parent, std::u16string_view label, const void* source,
                       std::u16string (*make)(const void*))
        : Level(level), Parent(parent), Label(label), FSource(source), FMake(make)
    {
    }

private:
    const void* FSource;
    std::u16string (*FMake)(const void*);
};

// The rows of RowsForBackupSets one by one, in the same order with the same texts,
// without keeping them: for output that is written as it is made.
void ForEachBackupTreeRow(const TBackupSets& sets,
                          const std::function<void(const TBackupTreeRowView&)>& visit);

// Every row for the sets, in display order: a parent always comes before its children,
// and children keep the order of the records. Dates, grouped numbers and the collation
// language come from LocaleFormat().
[[nodiscard]] std::vector<TBackupTreeRow> RowsForBackupSets(const TBackupSets& sets);

// The same rows in pieces, for a view that makes the texts of a row only when it shows
// it: a set's label (index counted from 0), the label and value rows under a set before
// its file list, the file list's label, a file's label and the rows under a file.
// RowsForBackupSets is made of these. The labels are fixed texts that live as long as
// the program.
struct TBackupTreeField {
    std::u16string_view Label;
    std::u16string Value;
};
[[nodiscard]] std::u16string SetRowLabel(size_t index);
[[nodiscard]] std::vector<TBackupTreeField> HeaderFields(const TBackupHeader& header);
[[nodiscard]] std::u16string FileListRowLabel(size_t fileCount);
[[nodiscard]] std::u16string FileRowLabel(const TBackupFile& file);
[[nodiscard]] std::vector<TBackupTreeField> FileFields(const TBackupFile& file);

// True when any set is password-protected; the window then shows its other banner.
[[nodiscard]] bool AnySetHasPassword(const TBackupSets& sets);
