#pragma once
// The rows of the backup tree: one node per backup set, its header fields as label and
// value rows, a "Files: %d" node with one node per database file and that file's
// fields. Built once here from the records, so the window and tarnwick-dump show the
// same rows with the same texts.

#include "uTypesMTF.h"

#include <string>
#include <vector>

struct TBackupTreeRow {
    int Level = 0;    // 0 backup set, 1 header field or file list, 2 file, 3 file field
    int Parent = -1;  // index of the parent row in the same vector; -1 for a backup set
    std::u16string Label;
    std::u16string Value;  // empty for the set, file list and file rows

    friend bool operator==(const TBackupTreeRow&, const TBackupTreeRow&) = default;
};

// Every row for the sets, in display order: a parent always comes before its children,
// and children keep the order of the records. Dates, grouped numbers and the collation
// language come from LocaleFormat().
[[nodiscard]] std::vector<TBackupTreeRow> RowsForBackupSets(const TBackupSets& sets);

// True when any set is password-protected; the window then shows its other banner.
[[nodiscard]] bool AnySetHasPassword(const TBackupSets& sets);
