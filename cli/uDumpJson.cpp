#include "uDumpJson.h"

#include "uCommonUtils.h"
#include "uDateTime.h"
#include "uTextConvert.h"

#include <charconv>
#include <cstdio>

using nlohmann::ordered_json;

ordered_json DateToJson(TDateTime value)
{
    if (value == 0)
        return nullptr;
    const TDateTimeParts p = DecodeDateTime(value);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", p.Year, p.Month, p.Day, p.Hour,
                  p.Minute, p.Second);
    return text;
}

void TJsonWriter::BeginObject()
{
    BeforeValue();
    FOut.Append('{');
    FCounts.push_back(0);
}

void TJsonWriter::EndObject()
{
    End('}');
}

void TJsonWriter::BeginArray()
{
    BeforeValue();
    FOut.Append('[');
    FCounts.push_back(0);
}

void TJsonWriter::EndArray()
{
    End(']');
}

void TJsonWriter::Key(std::string_view name)
{
    NextMember();
    Quoted(name);
    FOut.Append(": ");
    FAfterKey = true;
}

void TJsonWriter::String(std::string_view text)
{
    BeforeValue();
    Quoted(text);
}

void TJsonWriter::Integer(int64_t value)
{
    BeforeValue();
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    FOut.Append(std::string_view(digits, static_cast<size_t>(end - digits)));
}

void TJsonWriter::Boolean(bool value)
{
    BeforeValue();
    FOut.Append(value ? "true" : "false");
}

void TJsonWriter::Null()
{
    BeforeValue();
    FOut.Append("null");
}

void TJsonWriter::EndDocument()
{
    FOut.Append('\n');
    FOut.Flush();
}

void TJsonWriter::BeforeValue()
{
    // A member's value follows its key on the same line; an element of an array
    // begins a line of its own.
    if (FAfterKey)
        FAfterKey = false;
    else if (!FCounts.empty())
        NextMember();
}

void TJsonWriter::NextMember()
{
    if (FCounts.back()++ > 0)
        FOut.Append(',');
    FOut.Append('\n');
    FOut.Append(2 * FCounts.size(), ' ');
}

void TJsonWriter::End(char bracket)
{
    // An empty object or array closes on its own line: "{}", "[]".
    const bool any = FCounts.back() > 0;
    FCounts.pop_back();
    if (any) {
        FOut.Append('\n');
        FOut.Append(2 * FCounts.size(), ' ');
    }
    FOut.Append(bracket);
}

void TJsonWriter::Quoted(std::string_view text)
{
    bool plain = true, ascii = true;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80)
            ascii = false;
        if (u < 0x20 || u >= 0x80 || c == '"' || c == '\\')
            plain = false;
    }
    if (plain) {
        FOut.Append('"');
        FOut.Append(text);
        FOut.Append('"');
        return;
    }
    if (!ascii) {
        // Text beyond ASCII may be ill-formed UTF-8 (a name from the command line); the
        // library's own escaping decides how much of it each U+FFFD replaces.
        FOut.Append(
            ordered_json(std::string(text)).dump(-1, ' ', false, ordered_json::error_handler_t::replace));
        return;
    }
    FOut.Append('"');
    for (char c : text) {
        switch (c) {
        case '"':
            FOut.Append("\\\"");
            break;
        case '\\':
            FOut.Append("\\\\");
            break;
        case '\b':
            FOut.Append("\\b");
            break;
        case '\t':
            FOut.Append("\\t");
            break;
        case '\n':
            FOut.Append("\\n");
            break;
        case '\f':
            FOut.Append("\\f");
            break;
        case '\r':
            FOut.Append("\\r");
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
                FOut.Append(escape);
            } else {
                FOut.Append(c);
            }
        }
    }
    FOut.Append('"');
}

namespace {

std::string Text(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

void Value(TJsonWriter& w, const std::string& text)
{
    w.String(text);
}

void Value(TJsonWriter& w, int32_t value)
{
    w.Integer(value);
}

void Value(TJsonWriter& w, int64_t value)
{
    w.Integer(value);
}

void Value(TJsonWriter& w, bool value)
{
    w.Boolean(value);
}

// A date: its text, or null when not set.
void Value(TJsonWriter& w, const ordered_json& date)
{
    if (date.is_string())
        w.String(date.get_ref<const std::string&>());
    else
        w.Null();
}

template <class T> void Field(TJsonWriter& w, std::string_view name, const T& value)
{
    w.Key(name);
    Value(w, value);
}

void WriteHeader(TJsonWriter& w, const TBackupHeader& h)
{
    w.BeginObject();
    Field(w, "FileName", Text(h.FileName));
    Field(w, "BackupName", Text(h.BackupName));
    Field(w, "BackupDescription", Text(h.BackupDescription));
    Field(w, "BackupType", h.BackupType);
    Field(w, "BackupTypeCode", h.BackupTypeCode);
    Field(w, "HasPassword", h.HasPassword);
    Field(w, "DataSetNumber", h.DataSetNumber);
    Field(w, "UserName", h.UserName);
    Field(w, "ServerName", h.ServerName);
    Field(w, "DatabaseName", Text(h.DatabaseName));
    Field(w, "DatabaseVersion", h.DatabaseVersion);
    Field(w, "DatabaseCreationDate", DateToJson(h.DatabaseCreationDate));
    Field(w, "BackupSize", h.BackupSize);
    Field(w, "FirstLSN", ToString(h.FirstLSN));
    Field(w, "LastLSN", ToString(h.LastLSN));
    Field(w, "CheckpointLSN", ToString(h.CheckpointLSN));
    Field(w, "DatabaseBackupLSN", ToString(h.DatabaseBackupLSN));
    Field(w, "BackupStartDate", DateToJson(h.BackupStartDate));
    Field(w, "BackupEndDate", DateToJson(h.BackupEndDate));
    Field(w, "SortOrder", h.SortOrder);
    Field(w, "UnicodeLocaleID", h.UnicodeLocaleID);
    Field(w, "UnicodeComparisonStyle", h.UnicodeComparisonStyle);
    Field(w, "CompatibilityLevel", h.CompatibilityLevel);
    Field(w, "SoftwareVendorID", h.SoftwareVendorID);
    Field(w, "SoftwareVersionMajor", h.SoftwareVersionMajor);
    Field(w, "SoftwareVersionMinor", h.SoftwareVersionMinor);
    Field(w, "SoftwareVersionBuild", h.SoftwareVersionBuild);
    Field(w, "MachineName", h.MachineName);
    Field(w, "Flags", h.Flags);
    Field(w, "BindingID", GuidText(h.BindingID));
    Field(w, "RecoveryForkID", GuidText(h.RecoveryForkID));
    Field(w, "Collation", h.Collation);
    Field(w, "FamilyGUID", GuidText(h.FamilyGUID));
    Field(w, "FamilyCount", h.FamilyCount);
    Field(w, "FamilySequenceNumber", h.FamilySequenceNumber);
    Field(w, "HasBulkLoggedData", h.HasBulkLoggedData);
    Field(w, "IsSnapshot", h.IsSnapshot);
    Field(w, "IsReadOnly", h.IsReadOnly);
    Field(w, "IsSingleUser", h.IsSingleUser);
    Field(w, "HasBackupChecksums", h.HasBackupChecksums);
    Field(w, "IsDamaged", h.IsDamaged);
    Field(w, "BeginsLogChain", h.BeginsLogChain);
    Field(w, "HasIncompleteMetadata", h.HasIncompleteMetadata);
    Field(w, "IsForceOffline", h.IsForceOffline);
    Field(w, "IsCopyOnly", h.IsCopyOnly);
    Field(w, "ForkPointLSN", ToString(h.ForkPointLSN));
    Field(w, "RecoveryModel", h.RecoveryModel);
    Field(w, "DifferentialBaseLSN", ToString(h.DifferentialBaseLSN));
    Field(w, "DifferentialBaseGUID", GuidText(h.DifferentialBaseGUID));
    Field(w, "BackupTypeDescription", h.BackupTypeDescription);
    Field(w, "BackupSetGUID", GuidText(h.BackupSetGUID));
    w.EndObject();
}

void WriteFile(TJsonWriter& w, const TBackupFile& f)
{
    w.BeginObject();
    Field(w, "LogicalName", Text(f.LogicalName));
    Field(w, "PhysicalName", Text(f.PhysicalName));
    Field(w, "FileType", f.FileType);
    Field(w, "FilegroupName", Text(f.FilegroupName));
    Field(w, "Size", f.Size);
    Field(w, "MaxSize", f.MaxSize);
    Field(w, "FileID", f.FileID);
    Field(w, "CreateLSN", ToString(f.CreateLSN));
    Field(w, "DropLSN", ToString(f.DropLSN));
    Field(w, "UniqueID", GuidText(f.UniqueID));
    Field(w, "ReadOnlyLSN", ToString(f.ReadOnlyLSN));
    Field(w, "ReadWriteLSN", ToString(f.ReadWriteLSN));
    Field(w, "BackupSize", f.BackupSize);
    Field(w, "SourceBlockSize", f.SourceBlockSize);
    Field(w, "FilegroupID", f.FilegroupID);
    Field(w, "DifferentialBaseLSN", ToString(f.DifferentialBaseLSN));
    Field(w, "DifferentialBaseGUID", GuidText(f.DifferentialBaseGUID));
    Field(w, "IsReadOnly", f.IsReadOnly);
    Field(w, "IsPresent", f.IsPresent);
    w.EndObject();
}

}  // namespace

void WriteBackupFileJson(TJsonWriter& w, const std::string& file, const TBackupFileReport& report)
{
    w.BeginObject();
    w.Key("file");
    w.String(file);
    w.Key("sets");
    w.BeginArray();
    for (const TBackupDetails& set : report.Sets) {
        w.BeginObject();
        w.Key("header");
        WriteHeader(w, set.Header);
        w.Key("files");
        w.BeginArray();
        for (const TBackupFile& f : set.Files)
            WriteFile(w, f);
        w.EndArray();
        w.EndObject();
    }
    w.EndArray();
    w.Key("errors");
    w.BeginArray();
    for (const std::u16string& line : report.ErrorLines)
        w.String(Utf16ToUtf8(line));
    w.EndArray();
    w.Key("warnings");
    w.BeginArray();
    for (const std::u16string& line : report.Warnings)
        w.String(Utf16ToUtf8(line));
    w.EndArray();
    w.EndObject();
}
