#include "uDumpJson.h"

#include "uCommonUtils.h"
#include "uDateTime.h"
#include "uTextConvert.h"

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

namespace {

ordered_json Text(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

ordered_json HeaderToJson(const TBackupHeader& h)
{
    ordered_json j;
    j["FileName"] = Text(h.FileName);
    j["BackupName"] = Text(h.BackupName);
    j["BackupDescription"] = Text(h.BackupDescription);
    j["BackupType"] = h.BackupType;
    j["BackupTypeCode"] = h.BackupTypeCode;
    j["HasPassword"] = h.HasPassword;
    j["DataSetNumber"] = h.DataSetNumber;
    j["UserName"] = h.UserName;
    j["ServerName"] = h.ServerName;
    j["DatabaseName"] = Text(h.DatabaseName);
    j["DatabaseVersion"] = h.DatabaseVersion;
    j["DatabaseCreationDate"] = DateToJson(h.DatabaseCreationDate);
    j["BackupSize"] = h.BackupSize;
    j["FirstLSN"] = ToString(h.FirstLSN);
    j["LastLSN"] = ToString(h.LastLSN);
    j["CheckpointLSN"] = ToString(h.CheckpointLSN);
    j["DatabaseBackupLSN"] = ToString(h.DatabaseBackupLSN);
    j["BackupStartDate"] = DateToJson(h.BackupStartDate);
    j["BackupEndDate"] = DateToJson(h.BackupEndDate);
    j["SortOrder"] = h.SortOrder;
    j["UnicodeLocaleID"] = h.UnicodeLocaleID;
    j["UnicodeComparisonStyle"] = h.UnicodeComparisonStyle;
    j["CompatibilityLevel"] = h.CompatibilityLevel;
    j["SoftwareVendorID"] = h.SoftwareVendorID;
    j["SoftwareVersionMajor"] = h.SoftwareVersionMajor;
    j["SoftwareVersionMinor"] = h.SoftwareVersionMinor;
    j["SoftwareVersionBuild"] = h.SoftwareVersionBuild;
    j["MachineName"] = h.MachineName;
    j["Flags"] = h.Flags;
    j["BindingID"] = GuidText(h.BindingID);
    j["RecoveryForkID"] = GuidText(h.RecoveryForkID);
    j["Collation"] = h.Collation;
    j["FamilyGUID"] = GuidText(h.FamilyGUID);
    j["FamilyCount"] = h.FamilyCount;
    j["FamilySequenceNumber"] = h.FamilySequenceNumber;
    j["HasBulkLoggedData"] = h.HasBulkLoggedData;
    j["IsSnapshot"] = h.IsSnapshot;
    j["IsReadOnly"] = h.IsReadOnly;
    j["IsSingleUser"] = h.IsSingleUser;
    j["HasBackupChecksums"] = h.HasBackupChecksums;
    j["IsDamaged"] = h.IsDamaged;
    j["BeginsLogChain"] = h.BeginsLogChain;
    j["HasIncompleteMetadata"] = h.HasIncompleteMetadata;
    j["IsForceOffline"] = h.IsForceOffline;
    j["IsCopyOnly"] = h.IsCopyOnly;
    j["ForkPointLSN"] = ToString(h.ForkPointLSN);
    j["RecoveryModel"] = h.RecoveryModel;
    j["DifferentialBaseLSN"] = ToString(h.DifferentialBaseLSN);
    j["DifferentialBaseGUID"] = GuidText(h.DifferentialBaseGUID);
    j["BackupTypeDescription"] = h.BackupTypeDescription;
    j["BackupSetGUID"] = GuidText(h.BackupSetGUID);
    return j;
}

ordered_json FileToJson(const TBackupFile& f)
{
    ordered_json j;
    j["LogicalName"] = Text(f.LogicalName);
    j["PhysicalName"] = Text(f.PhysicalName);
    j["FileType"] = f.FileType;
    j["FilegroupName"] = Text(f.FilegroupName);
    j["Size"] = f.Size;
    j["MaxSize"] = f.MaxSize;
    j["FileID"] = f.FileID;
    j["CreateLSN"] = ToString(f.CreateLSN);
    j["DropLSN"] = ToString(f.DropLSN);
    j["UniqueID"] = GuidText(f.UniqueID);
    j["ReadOnlyLSN"] = ToString(f.ReadOnlyLSN);
    j["ReadWriteLSN"] = ToString(f.ReadWriteLSN);
    j["BackupSize"] = f.BackupSize;
    j["SourceBlockSize"] = f.SourceBlockSize;
    j["FilegroupID"] = f.FilegroupID;
    j["DifferentialBaseLSN"] = ToString(f.DifferentialBaseLSN);
    j["DifferentialBaseGUID"] = GuidText(f.DifferentialBaseGUID);
    j["IsReadOnly"] = f.IsReadOnly;
    j["IsPresent"] = f.IsPresent;
    return j;
}

}  // namespace

ordered_json BackupSetsToJson(const std::string& file, const TBackupSets& sets,
                              const std::vector<std::u16string>& errors)
{
    ordered_json document;
    document["file"] = file;
    document["sets"] = ordered_json::array();
    for (const TBackupDetails& set : sets) {
        ordered_json entry;
        entry["header"] = HeaderToJson(set.Header);
        entry["files"] = ordered_json::array();
        for (const TBackupFile& f : set.Files)
            entry["files"].push_back(FileToJson(f));
        document["sets"].push_back(std::move(entry));
    }
    document["errors"] = ordered_json::array();
    for (const std::u16string& line : errors)
        document["errors"].push_back(Utf16ToUtf8(line));
    return document;
}
