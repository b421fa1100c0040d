#include "uDumpText.h"

#include "uTextConvert.h"

#include <algorithm>

namespace {

constexpr size_t IndentPerLevel = 2;
constexpr size_t ColumnGap = 2;

// Width on a terminal, counted in code points: the labels are ASCII, and for the
// values nothing follows them on the line.
size_t Width(const std::u16string& text)
{
    size_t width = 0;
    for (char16_t c : text)
        if (c < 0xDC00 || c > 0xDFFF)  // a low surrogate belongs to the code point before it
            ++width;
    return width;
}

}  // namespace

std::string DumpText(const std::vector<TBackupTreeRow>& rows)
{
    size_t labelColumn = 0;
    for (const TBackupTreeRow& row : rows)
        if (!row.Value.empty())
            labelColumn =
                std::max(labelColumn, IndentPerLevel * static_cast<size_t>(row.Level) + Width(row.Label));

    std::string text;
    for (const TBackupTreeRow& row : rows) {
        const size_t indent = IndentPerLevel * static_cast<size_t>(row.Level);
        text.append(indent, ' ');
        text += Utf16ToUtf8(row.Label);
        if (!row.Value.empty()) {
            text.append(labelColumn + ColumnGap - indent - Width(row.Label), ' ');
            text += Utf16ToUtf8(row.Value);
        }
        text += '\n';
    }
    return text;
}

std::string DumpText(const TBackupSets& sets)
{
    return DumpText(RowsForBackupSets(sets));
}
