#include "uDumpText.h"

#include "uDumpOutput.h"
#include "uTextConvert.h"

#include <algorithm>
#include <sstream>

namespace {

constexpr size_t IndentPerLevel = 2;
constexpr size_t ColumnGap = 2;

size_t Indent(int level)
{
    return IndentPerLevel * static_cast<size_t>(level);
}

// Width on a terminal, counted in code points: the labels are ASCII, and for the
// values nothing follows them on the line.
size_t Width(std::u16string_view text)
{
    size_t width = 0;
    for (char16_t c : text)
        if (c < 0xDC00 || c > 0xDFFF)  // a low surrogate belongs to the code point before it
            ++width;
    return width;
}

void AppendText(TDumpOutput& out, std::u16string_view text)
{
    out.Append(Utf16ToUtf8(text));
}

void WriteRow(TDumpOutput& out, size_t labelColumn, int level, std::u16string_view label,
              std::u16string_view value)
{
    const size_t indent = Indent(level);
    out.Append(indent, ' ');
    AppendText(out, label);
    if (!value.empty()) {
        out.Append(labelColumn + ColumnGap - indent - Width(label), ' ');
        AppendText(out, value);
    }
    out.Append('\n');
}

}  // namespace

std::string DumpText(const std::vector<TBackupTreeRow>& rows)
{
    size_t labelColumn = 0;
    for (const TBackupTreeRow& row : rows)
        if (!row.Value.empty())
            labelColumn = std::max(labelColumn, Indent(row.Level) + Width(row.Label));

    std::ostringstream text;
    {
        TDumpOutput out(text);
        for (const TBackupTreeRow& row : rows)
            WriteRow(out, labelColumn, row.Level, row.Label, row.Value);
    }
    return text.str();
}

std::string DumpText(const TBackupSets& sets)
{
    std::ostringstream text;
    WriteText(text, sets);
    return text.str();
}

void WriteText(std::ostream& stream, const TBackupSets& sets)
{
    // The column is that of the whole file, so it is known before the first row is
    // written. Only a label wider than the widest so far needs its value made to learn
    // whether it counts, which after the first few rows is almost never.
    size_t labelColumn = 0;
    ForEachBackupTreeRow(sets, [&labelColumn](const TBackupTreeRowView& row) {
        const size_t width = Indent(row.Level) + Width(row.Label);
        if (width > labelColumn && !row.Value().empty())
            labelColumn = width;
    });

    TDumpOutput out(stream);
    ForEachBackupTreeRow(sets, [&out, labelColumn](const TBackupTreeRowView& row) {
        WriteRow(out, labelColumn, row.Level, row.Label, row.Value());
    });
}
