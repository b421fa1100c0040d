#include "uBackupTree.h"

#include "uCommonUtils.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <cstdint>
#include <string>

namespace {

class TRowBuilder {
public:
    explicit TRowBuilder(std::vector<TBackupTreeRow>& rows) : FRows(rows) {}

    int Add(int parent, std::u16string label, std::u16string value = {})
    {
        const int level = parent < 0 ? 0 : FRows[static_cast<size_t>(parent)].Level + 1;
        FRows.push_back({level, parent, std::move(label), std::move(value)});
        return static_cast<int>(FRows.size()) - 1;
    }

private:
    std::vector<TBackupTreeRow>& FRows;
};

// The rows under one record, label and value only; their place in the tree is the
// caller's.
class TFieldBuilder {
public:
    explicit TFieldBuilder(std::vector<TBackupTreeField>& fields) : FFields(fields) {}

    void Add(int, std::u16string_view label, std::u16string value)
    {
        FFields.push_back({label, std::move(value)});
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
    return LocaleFormat().DateTimeText(value, true);
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
    return Ascii(ToString(value));
}

std::u16string Collation(int32_t collation)
{
    return LocaleFormat().LanguageName(static_cast<uint32_t>(collation));
}

void AddHeaderRows(TFieldBuilder& b, int set, const TBackupHeader& h)
{
    b.Add(set, u"Backup name", h.BackupName);
    b.Add(set, u"Backup description", h.BackupDescription);
    b.Add(set, u"Backup type", Narrow(h.BackupTypeDescription));
    b.Add(set, u"User name", Narrow(h.UserName));
    b.Add(set, u"Server name", Narrow(h.ServerName));
    b.Add(set, u"Database name", h.DatabaseName);
    b.Add(set, u"Database version", Integer(h.DatabaseVersion));
    b.Add(set, u"Database creation date", Date(h.DatabaseCreationDate));
    b.Add(set, u"Backup size", SizeWithByteCountText(h.BackupSize));
    // A file without a RAID block has no media family to show.
    if (h.FamilyCount > 0) {
        b.Add(set, u"Family GUID", Guid(h.FamilyGUID));
        b.Add(set, u"Family count", Integer(h.FamilyCount));
        b.Add(set, u"Family sequence number", Integer(h.FamilySequenceNumber));
    }
    b.Add(set, u"First LSN", Lsn(h.FirstLSN));
    b.Add(set, u"Last LSN", Lsn(h.LastLSN));
    b.Add(set, u"Checkpoint LSN", Lsn(h.CheckpointLSN));
    b.Add(set, u"Database backup LSN", Lsn(h.DatabaseBackupLSN));
    b.Add(set, u"Backup start date", Date(h.BackupStartDate));
    b.Add(set, u"Backup end date", Date(h.BackupEndDate));
    b.Add(set, u"Sort order", Integer(h.SortOrder));
    b.Add(set, u"Unicode locale ID", Integer(h.UnicodeLocaleID));
    b.Add(set, u"Unicode comparison style", Integer(h.UnicodeComparisonStyle));
    b.Add(set, u"Compatibility level", Integer(h.CompatibilityLevel));
    b.Add(set, u"Software vendor ID", Integer(h.SoftwareVendorID));
    b.Add(set, u"Software version major",
          Ascii(ProductNameText(h.SoftwareVersionMajor, h.SoftwareVersionMinor)));
    b.Add(set, u"Software version minor", Integer(h.SoftwareVersionMinor));
    b.Add(set, u"Software version build", Integer(h.SoftwareVersionBuild));
    b.Add(set, u"Machine name", Narrow(h.MachineName));
    // The flag word as a signed number, so a word with its top bit set is negative.
    b.Add(set, u"Flags", Integer(h.Flags));
    b.Add(set, u"Binding ID", Guid(h.BindingID));
    b.Add(set, u"Recovery fork ID", Guid(h.RecoveryForkID));
    b.Add(set, u"Collation", Collation(h.Collation));
    b.Add(set, u"Has bulk-logged data", Boolean(h.HasBulkLoggedData));
    b.Add(set, u"Is snapshot", Boolean(h.IsSnapshot));
    b.Add(set, u"Is read-only", Boolean(h.IsReadOnly));
    b.Add(set, u"Is single user", Boolean(h.IsSingleUser));
    b.Add(set, u"Has backup checksums", Boolean(h.HasBackupChecksums));
    b.Add(set, u"Is damaged", Boolean(h.IsDamaged));
    b.Add(set, u"Begins log chain", Boolean(h.BeginsLogChain));
    b.Add(set, u"Has incomplete metadata", Boolean(h.HasIncompleteMetadata));
    b.Add(set, u"Is force offline", Boolean(h.IsForceOffline));
    b.Add(set, u"Is copy only", Boolean(h.IsCopyOnly));
    b.Add(set, u"Fork point LSN", Lsn(h.ForkPointLSN));
    b.Add(set, u"Recovery model", Narrow(h.RecoveryModel));
    b.Add(set, u"Differential base LSN", Lsn(h.DifferentialBaseLSN));
    b.Add(set, u"Differential base GUID", Guid(h.DifferentialBaseGUID));
    b.Add(set, u"Backup set GUID", Guid(h.BackupSetGUID));
}

void AddFileRows(TFieldBuilder& b, int file, const TBackupFile& f)
{
    b.Add(file, u"Logical name", f.LogicalName);
    b.Add(file, u"Physical name", f.PhysicalName);
    b.Add(file, u"File type", Narrow(FileTypeText(f.FileType)));
    b.Add(file, u"Filegroup name", f.FilegroupName);
    b.Add(file, u"Size", SizeWithByteCountText(f.Size));
    b.Add(file, u"Max size", SizeWithByteCountText(f.MaxSize));
    b.Add(file, u"Create LSN", Lsn(f.CreateLSN));
    b.Add(file, u"Drop LSN", Lsn(f.DropLSN));
    b.Add(file, u"Unique ID", Guid(f.UniqueID));
    b.Add(file, u"Read-only LSN", Lsn(f.ReadOnlyLSN));
    b.Add(file, u"Read-write LSN", Lsn(f.ReadWriteLSN));
    // Unlike the set's backup size, the file's is shown as the plain number.
    b.Add(file, u"Backup size", Integer(f.BackupSize));
    b.Add(file, u"Source block size", Integer(f.SourceBlockSize));
    b.Add(file, u"Filegroup ID", Integer(f.FilegroupID));
    b.Add(file, u"Differential base LSN", Lsn(f.DifferentialBaseLSN));
    b.Add(file, u"Differential base GUID", Guid(f.DifferentialBaseGUID));
    b.Add(file, u"Is read-only", Boolean(f.IsReadOnly));
    b.Add(file, u"Is present", Boolean(f.IsPresent));
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

std::vector<TBackupTreeRow> RowsForBackupSets(const TBackupSets& sets)
{
    std::vector<TBackupTreeRow> rows;
    TRowBuilder b(rows);
    auto addFields = [&b](int parent, const std::vector<TBackupTreeField>& fields) {
        for (const TBackupTreeField& field : fields)
            b.Add(parent, std::u16string(field.Label), field.Value);
    };
    for (size_t i = 0; i < sets.size(); ++i) {
        const TBackupDetails& details = sets[i];
        const int set = b.Add(-1, SetRowLabel(i));
        addFields(set, HeaderFields(details.Header));
        const int fileList = b.Add(set, FileListRowLabel(details.Files.size()));
        for (const TBackupFile& f : details.Files) {
            const int file = b.Add(fileList, FileRowLabel(f));
            addFields(file, FileFields(f));
        }
    }
    return rows;
}

bool AnySetHasPassword(const TBackupSets& sets)
{
    for (const TBackupDetails& details : sets)
        if (details.Header.HasPassword)
            return true;
    return false;
}
