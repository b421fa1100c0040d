#pragma once
// The backup tree as readable text: the rows the window shows, each level indented by
// two blanks, labels and values in two aligned columns.

#include "uBackupTree.h"

#include <ostream>
#include <string>
#include <vector>

// UTF-8 text, one row a line, each line ending in "\n". The value column starts two
// blanks after the widest indented label that has a value; rows without a value
// (backup set, file list, file) are their label alone.
[[nodiscard]] std::string DumpText(const std::vector<TBackupTreeRow>& rows);
[[nodiscard]] std::string DumpText(const TBackupSets& sets);

// The text of DumpText(sets), written to `out` as the rows are made, without holding
// the rows or the whole text. Write failures show in the stream's state.
void WriteText(std::ostream& out, const TBackupSets& sets);
