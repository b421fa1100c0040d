#include "uBackupTree.h"

#include "uCommonUtils.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Hands every row to the visitor as it is made. A row's value is a function the visitor
// calls only when it needs the text, so that a caller looking at the labels alone
// formats nothing.
class TRowBuilder {
public:
    explicit TRowBuilder(const std::function<void(const TBackupTreeRowView&)>& visit) : FVisit(visit) {}

    template <class TValue> int Add(int parent, std::u16string_view label, const TValue& value)
    {
        const int level = parent < 0 ? 0 : FLevels[static_cast<size_t>(parent)] + 1;
        FLevels.push_back(level);
        TBackupTreeRowView row(level, parent, label, &value, [](const void* f) -> std::u16string {
            return (*static_cast<const TValue*>(f))();
        });
        FVisit(row);
        return static_cast<int>(FLevels.size()) - 1;
    }

    // A row without a value: the set, file list and file rows.
    int Add(int parent, std::u16string_view label)
    {
        return Add(parent, label, [] { return std::u16string(); });
    }

private:
    const std::function<void(const TBackupTreeRowView&)>& FVisit;
    // The level of every row so far, by index: all a child needs of its parent.
    std::vector<int> FLevels;
};

// The rows under one record, label and value only, each value made at once; their
// place in the tree is the caller's.
class TFieldBuilder {
public:
    explicit TFieldBuilder(std::vector<TBackupTreeField>& fields) : FFields(fields) {}

    template <class TValue> void Add(int, std::u16string_view label, const TValue& value)
    {
        FFields.push_back({label, value()});
    }

private:
    std::vector<TBackupTreeField>& FFields;
};

std::u16string Ascii(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

// The narrow record fields hold UTF-8.
std::u16string Narrow(const std::string& text)
{
    return Utf8ToUtf16(text);
}

std::u16string Integer(int64_t value)
{
    return Ascii(std::to_string(value));
}

std::u16string Date(TDateTime value)
{
    return DateValueText(value);
}

std::u16string Guid(const TGUID& guid)
{
    return Ascii(GuidText(guid));
}

std::u16string Boolean(bool value)
{
    return Ascii(BooleanText(value));
}

std::u16string Lsn(const TBigInteger& value)
{
    return LsnText(value);
}

std::u16string Collation(int32_t collation)
{
    return LocaleFormat().LanguageName(static_cast<uint32_t>(collation));
}

template <class TBuilder> void AddHeaderRows(TBuilder& b, int set, const TBackupHeader& h)
{
    b.Add(set, u"Backup name", [&] { return h.BackupName; });
    b.Add(set, u"Backup description", [&] { return h.BackupDescription; });
    b.Add(set, u"Backup type", [&] { return BackupTypeText(h); });
    b.Add(set, u"User name", [&] { return Narrow(h.UserName); });
    b.Add(set, u"Server name", [&] { return Narrow(h.ServerName); });
    b.Add(set, u"Database name", [&] { return h.DatabaseName; });
    b.Add(set, u"Database version", [&] { return Integer(h.DatabaseVersion); });
    b.Add(set, u"Database creation date", [&] { return Date(h.DatabaseCreationDate); });
    b.Add(set, u"Backup size", [&] { return SizeWithByteCountText(h.BackupSize); });
    // A file without a RAID block has no media family to show.
    if (h.FamilyCount > 0) {
        b.Add(set, u"Family GUID", [&] { return Guid(h.FamilyGUID); });
        b.Add(set, u"Family count", [&] { return Integer(h.FamilyCount); });
        b.Add(set, u"Family sequence number", [&] { return Integer(h.FamilySequenceNumber); });
    }
    b.Add(set, u"First LSN", [&] { return Lsn(h.FirstLSN); });
    b.Add(set, u"Last LSN", [&] { return Lsn(h.LastLSN); });
    b.Add(set, u"Checkpoint LSN", [&] { return Lsn(h.CheckpointLSN); });
    b.Add(set, u"Database backup LSN", [&] { return Lsn(h.DatabaseBackupLSN); });
    b.Add(set, u"Backup start date", [&] { return Date(h.BackupStartDate); });
    b.Add(set, u"Backup end date", [&] { return Date(h.BackupEndDate); });
    b.Add(set, u"Sort order", [&] { return Integer(h.SortOrder); });
    b.Add(set, u"Unicode locale ID", [&] { return Integer(h.UnicodeLocaleID); });
    b.Add(set, u"Unicode comparison style", [&] { return Integer(h.UnicodeComparisonStyle); });
    b.Add(set, u"Compatibility level", [&] { return Integer(h.CompatibilityLevel); });
    b.Add(set, u"Software vendor ID", [&] { return Integer(h.SoftwareVendorID); });
    b.Add(set, u"Software version major",
          [&] { return Ascii(ProductNameText(h.SoftwareVersionMajor, h.SoftwareVersionMinor)); });
    b.Add(set, u"Software version minor", [&] { return Integer(h.SoftwareVersionMinor); });
    b.Add(set, u"Software version build", [&] { return Integer(h.SoftwareVersionBuild); });
    b.Add(set, u"Machine name", [&] { return Narrow(h.MachineName); });
    // The flag word as a signed number, so a word with its top bit set is negative.
    b.Add(set, u"Flags", [&] { return Integer(h.Flags); });
    b.Add(set, u"Binding ID", [&] { return Guid(h.BindingID); });
    b.Add(set, u"Recovery fork ID", [&] { return Guid(h.RecoveryForkID); });
    b.Add(set, u"Collation", [&] { return Collation(h.Collation); });
    b.Add(set, u"Has bulk-logged data", [&] { return Boolean(h.HasBulkLoggedData); });
    b.Add(set, u"Is snapshot", [&] { return Boolean(h.IsSnapshot); });
    b.Add(set, u"Is read-only", [&] { return Boolean(h.IsReadOnly); });
    b.Add(set, u"Is single user", [&] { return Boolean(h.IsSingleUser); });
    b.Add(set, u"Has backup checksums", [&] { return Boolean(h.HasBackupChecksums); });
    b.Add(set, u"Is damaged", [&] { return Boolean(h.IsDamaged); });
    b.Add(set, u"Begins log chain", [&] { return Boolean(h.BeginsLogChain); });
    b.Add(set, u"Has incomplete metadata", [&] { return Boolean(h.HasIncompleteMetadata); });
    b.Add(set, u"Is force offline", [&] { return Boolean(h.IsForceOffline); });
    b.Add(set, u"Is copy only", [&] { return Boolean(h.IsCopyOnly); });
    b.Add(set, u"Fork point LSN", [&] { return Lsn(h.ForkPointLSN); });
    b.Add(set, u"Recovery model", [&] { return Narrow(h.RecoveryModel); });
    b.Add(set, u"Differential base LSN", [&] { return Lsn(h.DifferentialBaseLSN); });
    b.Add(set, u"Differential base GUID", [&] { return Guid(h.DifferentialBaseGUID); });
    b.Add(set, u"Backup set GUID", [&] { return Guid(h.BackupSetGUID); });
}

template <class TBuilder> void AddFileRows(TBuilder& b, int file, const TBackupFile& f)
{
    b.Add(file, u"Logical name", [&] { return f.LogicalName; });
    b.Add(file, u"Physical name", [&] { return f.PhysicalName; });
    b.Add(file, u"File type", [&] { return Narrow(FileTypeText(f.FileType)); });
    b.Add(file, u"Filegroup name", [&] { return f.FilegroupName; });
    b.Add(file, u"Size", [&] { return SizeWithByteCountText(f.Size); });
    b.Add(file, u"Max size", [&] { return SizeWithByteCountText(f.MaxSize); });
    b.Add(file, u"Create LSN", [&] { return Lsn(f.CreateLSN); });
    b.Add(file, u"Drop LSN", [&] { return Lsn(f.DropLSN); });
    b.Add(file, u"Unique ID", [&] { return Guid(f.UniqueID); });
    b.Add(file, u"Read-only LSN", [&] { return Lsn(f.ReadOnlyLSN); });
    b.Add(file, u"Read-write LSN", [&] { return Lsn(f.ReadWriteLSN); });
    // Unlike the set's backup size, the file's is shown as the plain number.
    b.Add(file, u"Backup size", [&] { return Integer(f.BackupSize); });
    b.Add(file, u"Source block size", [&] { return Integer(f.SourceBlockSize); });
    b.Add(file, u"Filegroup ID", [&] { return Integer(f.FilegroupID); });
    b.Add(file, u"Differential base LSN", [&] { return Lsn(f.DifferentialBaseLSN); });
    b.Add(file, u"Differential base GUID", [&] { return Guid(f.DifferentialBaseGUID); });
    b.Add(file, u"Is read-only", [&] { return Boolean(f.IsReadOnly); });
    b.Add(file, u"Is present", [&] { return Boolean(f.IsPresent); });
}

}  // namespace

std::vector<TBackupTreeField> HeaderFields(const TBackupHeader& header)
{
    std::vector<TBackupTreeField> fields;
    fields.reserve(46);
    TFieldBuilder b(fields);
    AddHeaderRows(b, 0, header);
    return fields;
}

std::vector<TBackupTreeField> FileFields(const TBackupFile& file)
{
    std::vector<TBackupTreeField> fields;
    fields.reserve(18);
    TFieldBuilder b(fields);
    AddFileRows(b, 0, file);
    return fields;
}

std::u16string SetRowLabel(size_t index)
{
    return u"Backup set " + Integer(static_cast<int64_t>(index) + 1);
}

std::u16string FileListRowLabel(size_t fileCount)
{
    return u"Files: " + Integer(static_cast<int64_t>(fileCount));
}

std::u16string FileRowLabel(const TBackupFile& file)
{
    return u"File ID: " + Integer(file.FileID);
}

void ForEachBackupTreeRow(const TBackupSets& sets,
                          const std::function<void(const TBackupTreeRowView&)>& visit)
{
    TRowBuilder b(visit);
    for (size_t i = 0; i < sets.size(); ++i) {
        const TBackupDetails& details = sets[i];
        const int set = b.Add(-1, SetRowLabel(i));
        AddHeaderRows(b, set, details.Header);
        const int fileList = b.Add(set, FileListRowLabel(details.Files.size()));
        for (const TBackupFile& f : details.Files) {
            const int file = b.Add(fileList, FileRowLabel(f));
            AddFileRows(b, file, f);
        }
    }
}

std::vector<TBackupTreeRow> RowsForBackupSets(const TBackupSets& sets)
{
    std::vector<TBackupTreeRow> rows;
    ForEachBackupTreeRow(sets, [&rows](const TBackupTreeRowView& row) {
        rows.push_back({row.Level, row.Parent, std::u16string(row.Label), row.Value()});
    });
    return rows;
}

bool AnySetHasPassword(const TBackupSets& sets)
{
    for (const TBackupDetails& details : sets)
        if (details.Header.HasPassword)
            return true;
    return false;
}
