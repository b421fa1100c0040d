#include "uDumpText.h"

#include "uDumpOutput.h"
#include "uFileKind.h"
#include "uTextConvert.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace {

constexpr size_t IndentPerLevel = 2;
constexpr size_t ColumnGap = 2;

size_t Indent(int level)
{
    return IndentPerLevel * static_cast<size_t>(level);
}

// The code point of the control that begins at text[i] and the length of its UTF-8
// form, or a length of 0 when none begins there.
std::pair<unsigned, size_t> ControlAt(std::string_view text, size_t i)
{
    const auto byte = [&text](size_t at) {
        return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
    };
    const unsigned b0 = byte(i);
    if (b0 < 0x20 || b0 == 0x7F)
        return {b0, 1};
    if (b0 == 0xC2 && byte(i + 1) >= 0x80 && byte(i + 1) <= 0x9F)
        return {byte(i + 1), 2};
    if (b0 == 0xE2) {
        const unsigned b1 = byte(i + 1), b2 = byte(i + 2);
        const unsigned cp = 0x2000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
        const bool continuation = (b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80;
        if (continuation && (cp == 0x200E || cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) ||
                             (cp >= 0x2066 && cp <= 0x2069)))
            return {cp, 3};
    }
    return {0, 0};
}

void AppendEscape(std::string& out, unsigned cp)
{
    char escape[8];
    if (cp == '\n' || cp == '\r' || cp == '\t')
        std::snprintf(escape, sizeof escape, "\\%c", cp == '\n' ? 'n' : cp == '\r' ? 'r' : 't');
    else
        std::snprintf(escape, sizeof escape, cp < 0x80 ? "\\x%02x" : "\\u%04x", cp);
    out += escape;
}

void AppendVisible(std::string& out, std::string_view text)
{
    size_t done = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7F && c != 0xC2 && c != 0xE2)
            continue;
        const auto [cp, length] = ControlAt(text, i);
        if (length == 0)
            continue;
        out.append(text, done, i - done);
        AppendEscape(out, cp);
        i += length - 1;
        done = i + 1;
    }
    out.append(text, done);
}

bool IsControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F ||
           (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// The UTF-8 of VisibleText(Utf16ToUtf8(text)) in one pass: the tree has some 600,000
// labels and values for the largest databases, and two conversions each were most of
// the dump's time. Text with surrogates, rare in names, takes the general road, so
// that it is converted exactly as everywhere else.
void AppendVisible(std::string& out, std::u16string_view text)
{
    for (char16_t c : text)
        if (c >= 0xD800 && c <= 0xDFFF) {
            AppendVisible(out, Utf16ToUtf8(text));
            return;
        }
    // At most three bytes a unit, or an escape of six: room once, then plain stores.
    const size_t start = out.size();
    out.resize(start + 6 * text.size());
    char* p = out.data() + start;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            *p++ = static_cast<char>(c);
        } else if (IsControl(c)) {
            std::string escape;
            AppendEscape(escape, c);
            p = std::copy(escape.begin(), escape.end(), p);
        } else if (c < 0x800) {
            *p++ = static_cast<char>(0xC0 | (c >> 6));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *p++ = static_cast<char>(0xE0 | (c >> 12));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(static_cast<size_t>(p - out.data()));
}

// Width on a terminal, counted in code points of the visible text: the labels are
// ASCII, and for the values nothing follows them on the line.
size_t Width(std::string_view utf8)
{
    return static_cast<size_t>(std::count_if(
        utf8.begin(), utf8.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string Visible(std::u16string_view text)
{
    std::string out;
    AppendVisible(out, text);
    return out;
}

size_t Width(std::u16string_view text)
{
    // Printable ASCII, as every label the tree makes, is its own width.
    if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x20 && c < 0x7F; }))
        return text.size();
    return Width(Visible(text));
}

// One row into `line`, which the caller reuses so that a row costs no allocation of
// its own.
void WriteRow(TDumpOutput& out, std::string& line, size_t labelColumn, int level, std::u16string_view label,
              std::u16string_view value)
{
    const size_t indent = Indent(level);
    line.assign(indent, ' ');
    AppendVisible(line, label);
    if (!value.empty()) {
        const size_t labelWidth = Width(std::string_view(line).substr(indent));
        line.append(labelColumn + ColumnGap - indent - labelWidth, ' ');
        AppendVisible(line, value);
    }
    line += '\n';
    out.Append(line);
}

}  // namespace

std::string VisibleText(std::string_view utf8)
{
    std::string out;
    AppendVisible(out, utf8);
    return out;
}

std::string DumpText(const std::vector<TBackupTreeRow>& rows)
{
    size_t labelColumn = 0;
    for (const TBackupTreeRow& row : rows)
        if (!row.Value.empty())
            labelColumn = std::max(labelColumn, Indent(row.Level) + Width(row.Label));

    std::ostringstream text;
    {
        TDumpOutput out(text);
        std::string line;
        for (const TBackupTreeRow& row : rows)
            WriteRow(out, line, labelColumn, row.Level, row.Label, row.Value);
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
    std::string line;
    ForEachBackupTreeRow(sets, [&out, &line, labelColumn](const TBackupTreeRowView& row) {
        WriteRow(out, line, labelColumn, row.Level, row.Label, row.Value());
    });
}

void WriteProblems(std::ostream& out, const std::string& file, const TBackupFileReport& report)
{
    const std::string prefix = "tarnwick-dump: " + VisibleText(file) + ": ";
    const auto line = [&](const std::u16string& text) { out << prefix << Visible(text) << '\n'; };
    for (const std::u16string& error : report.ErrorLines)
        line(error);
    if (const std::u16string explanation = NotABackupExplanation(report); !explanation.empty())
        line(explanation);
    for (const std::u16string& warning : report.Warnings)
        line(warning);
}
