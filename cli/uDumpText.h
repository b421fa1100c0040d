#pragma once
// The backup tree as readable text: the rows the window shows, each level indented by
// two blanks, labels and values in two aligned columns.

#include "uBackupTree.h"
#include "u_MTFReader.h"

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// Text as it may reach a terminal, with every control character written as an escape:
// "\n", "\r", "\t", "\x1b" for the C0 controls and DEL, "\u009b" for the C1 controls,
// and the same form for the invisible line and direction controls (U+200E, U+200F,
// U+2028, U+2029, U+202A to U+202E, U+2066 to U+2069). A name stored in a backup can
// then neither move the cursor, retitle the terminal, begin a line of its own nor turn
// a line around. Backslashes stay as they are: Windows paths are full of them.
[[nodiscard]] std::string VisibleText(std::string_view utf8);

// UTF-8 text, one row a line, each line ending in "\n". The value column starts two
// blanks after the widest indented label that has a value; rows without a value
// (backup set, file list, file) are their label alone. Labels and values are written
// as VisibleText.
[[nodiscard]] std::string DumpText(const std::vector<TBackupTreeRow>& rows);
[[nodiscard]] std::string DumpText(const TBackupSets& sets);

// The text of DumpText(sets), written to `out` as the rows are made, without holding
// the rows or the whole text. Write failures show in the stream's state.
void WriteText(std::ostream& out, const TBackupSets& sets);

// What the text dump says about one file on standard error, one line each as
// "tarnwick-dump: <file>: <text>" in VisibleText: the reader's error lines, then the
// explanation of a file that is not a tape-format backup, then the warnings.
void WriteProblems(std::ostream& out, const std::string& file, const TBackupFileReport& report);
