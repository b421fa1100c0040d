// The rows of the backup tree: their order, their nesting and their value texts.

#include "uBackupTree.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::vector<std::string> HeaderLabels = {"Backup name",
                                               "Backup description",
                                               "Backup type",
                                               "User name",
                                               "Server name",
                                               "Database name",
                                               "Database version",
                                               "Database creation date",
                                               "Backup size",
                                               "Family GUID",
                                               "Family count",
                                               "Family sequence number",
                                               "First LSN",
                                               "Last LSN",
                                               "Checkpoint LSN",
                                               "Database backup LSN",
                                               "Backup start date",
                                               "Backup end date",
                                               "Sort order",
                                               "Unicode locale ID",
                                               "Unicode comparison style",
                                               "Compatibility level",
                                               "Software vendor ID",
                                               "Software version major",
                                               "Software version minor",
                                               "Software version build",
                                               "Machine name",
                                               "Flags",
                                               "Binding ID",
                                               "Recovery fork ID",
                                               "Collation",
                                               "Has bulk-logged data",
                                               "Is snapshot",
                                               "Is read-only",
                                               "Is single user",
                                               "Has backup checksums",
                                               "Is damaged",
                                               "Begins log chain",
                                               "Has incomplete metadata",
                                               "Is force offline",
                                               "Is copy only",
                                               "Fork point LSN",
                                               "Recovery model",
                                               "Differential base LSN",
                                               "Differential base GUID",
                                               "Backup set GUID"};

const std::vector<std::string> FileLabels = {"Logical name",
                                             "Physical name",
                                             "File type",
                                             "Filegroup name",
                                             "Size",
                                             "Max size",
                                             "Create LSN",
                                             "Drop LSN",
                                             "Unique ID",
                                             "Read-only LSN",
                                             "Read-write LSN",
                                             "Backup size",
                                             "Source block size",
                                             "Filegroup ID",
                                             "Differential base LSN",
                                             "Differential base GUID",
                                             "Is read-only",
                                             "Is present"};

// 2019-05-06 07:08:09 and 2021-03-04 00:00:00 as day counts since 1899-12-30.
constexpr TDateTime May6th2019 = 43591.0 + (7 * 3600 + 8 * 60 + 9) / 86400.0;
constexpr TDateTime March4th2021 = 44259.0;

TBackupDetails SampleSet()
{
    TBackupDetails d;
    TBackupHeader& h = d.Header;
    h.BackupName = u"Sales full";
    h.BackupDescription = u"Nightly";
    h.BackupTypeDescription = "Database";
    h.UserName = "CONTOSO\\J\xC3\xBCrgen";  // UTF-8
    h.ServerName = "SQLHOST01";
    h.DatabaseName = u"Sales";
    h.DatabaseVersion = 904;
    h.DatabaseCreationDate = May6th2019;
    h.BackupSize = 5242880;
    h.FamilyGUID = {0xA1, 0xA2, 0xA3, 0xA4, 0xB1, 0xB2, 0xC1, 0xC2,
                    0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8};
    h.FamilyCount = 1;
    h.FamilySequenceNumber = 1;
    h.FirstLSN = FromInt64(37000000041600001);
    h.BackupStartDate = March4th2021;
    h.SoftwareVersionMajor = 10;
    h.SoftwareVersionMinor = 50;
    h.Flags = static_cast<int32_t>(0x80000010u);
    h.Collation = 1033;
    h.IsDamaged = true;
    h.RecoveryModel = "FULL";
    TBackupFile f;
    f.LogicalName = u"Sales_log";
    f.FileType = "L";
    f.FileID = 2;
    f.Size = 1536;
    f.MaxSize = -1;
    f.BackupSize = 4194304;
    f.IsPresent = true;
    TBackupFile unnamed;
    unnamed.FileID = 7;
    d.Files = {unnamed, f};
    return d;
}

std::vector<std::string> LabelsUnder(const std::vector<TBackupTreeRow>& rows, int parent)
{
    std::vector<std::string> labels;
    for (const TBackupTreeRow& row : rows)
        if (row.Parent == parent)
            labels.push_back(Utf16ToUtf8(row.Label));
    return labels;
}

int IndexOf(const std::vector<TBackupTreeRow>& rows, int parent, const std::u16string& label)
{
    for (size_t i = 0; i < rows.size(); ++i)
        if (rows[i].Parent == parent && rows[i].Label == label)
            return static_cast<int>(i);
    return -1;
}

class BackupTreeTest : public testing::Test {
protected:
    void SetUp() override { SetLocaleFormat(MakeIcuLocaleFormat("en_US")); }
};

TEST_F(BackupTreeTest, LaysOutSetsHeaderRowsFileListAndFilesInOrder)
{
    TBackupSets sets = {SampleSet(), SampleSet()};
    sets[1].Files.clear();
    const std::vector<TBackupTreeRow> rows = RowsForBackupSets(sets);

    EXPECT_EQ(LabelsUnder(rows, -1), (std::vector<std::string>{"Backup set 1", "Backup set 2"}));
    const int set1 = IndexOf(rows, -1, u"Backup set 1");
    const int set2 = IndexOf(rows, -1, u"Backup set 2");
    std::vector<std::string> expected = HeaderLabels;
    expected.push_back("Files: 2");
    EXPECT_EQ(LabelsUnder(rows, set1), expected);
    expected.back() = "Files: 0";
    EXPECT_EQ(LabelsUnder(rows, set2), expected);

    const int files = IndexOf(rows, set1, u"Files: 2");
    EXPECT_EQ(LabelsUnder(rows, files), (std::vector<std::string>{"File ID: 7", "File ID: 2"}));
    EXPECT_EQ(LabelsUnder(rows, IndexOf(rows, files, u"File ID: 2")), FileLabels);
    EXPECT_TRUE(LabelsUnder(rows, IndexOf(rows, set2, u"Files: 0")).empty());

    // 45 or 48 rows a set and 19 a file; every parent comes first, one level up.
    EXPECT_EQ(rows.size(), 48u + 2 * 19u + 48u);
    for (size_t i = 0; i < rows.size(); ++i) {
        const TBackupTreeRow& row = rows[i];
        if (row.Parent < 0) {
            EXPECT_EQ(row.Level, 0);
            EXPECT_TRUE(row.Value.empty());
            continue;
        }
        ASSERT_LT(row.Parent, static_cast<int>(i));
        EXPECT_EQ(row.Level, rows[static_cast<size_t>(row.Parent)].Level + 1);
    }
}

TEST_F(BackupTreeTest, LeavesOutTheFamilyRowsUnlessTheCountIsPositive)
{
    std::vector<std::string> withoutFamily = HeaderLabels;
    std::erase_if(withoutFamily, [](const std::string& l) { return l.starts_with("Family"); });
    withoutFamily.push_back("Files: 0");
    std::vector<std::string> withFamily = HeaderLabels;
    withFamily.push_back("Files: 0");
    const struct {
        int32_t Count;
        const std::vector<std::string>& Expected;
    } cases[] = {{-1, withoutFamily}, {0, withoutFamily}, {1, withFamily}, {0x00010001, withFamily}};
    for (const auto& c : cases) {
        TBackupDetails d;
        d.Header.FamilyCount = c.Count;
        EXPECT_EQ(LabelsUnder(RowsForBackupSets({d}), 0), c.Expected) << c.Count;
    }
}

TEST_F(BackupTreeTest, FormatsEveryKindOfValue)
{
    TBackupDetails unknownCollation;
    unknownCollation.Header.Collation = 0x7F7F;
    const std::vector<TBackupTreeRow> rows = RowsForBackupSets({SampleSet(), unknownCollation});
    const int set1 = 0;
    const int set2 = IndexOf(rows, -1, u"Backup set 2");
    const int file7 = IndexOf(rows, IndexOf(rows, set1, u"Files: 2"), u"File ID: 7");
    const int file2Row = IndexOf(rows, IndexOf(rows, set1, u"Files: 2"), u"File ID: 2");

    const struct {
        int Parent;
        const char16_t* Label;
        const char16_t* Expected;
    } cases[] = {
        {set1, u"Backup name", u"Sales full"},
        {set1, u"Backup type", u"Database"},
        {set1, u"User name", u"CONTOSO\\J\u00FCrgen"},
        {set1, u"Database version", u"904"},
        {set1, u"Database creation date", u"5/6/2019 7:08:09 AM"},
        {set1, u"Backup start date", u"3/4/2021"},
        {set1, u"Backup end date", u"12/30/1899"},
        {set1, u"Backup size", u"5 MB (5242880 bytes)"},
        {set1, u"Family GUID", u"{A4A3A2A1-B2B1-C2C1-D1D2-D3D4D5D6D7D8}"},
        {set1, u"Family count", u"1"},
        {set1, u"First LSN", u"37000000041600001"},
        {set1, u"Last LSN", u"0"},
        {set1, u"Software version major", u"SQL Server 2008 R2 (10)"},
        {set1, u"Software version minor", u"50"},
        {set1, u"Flags", u"-2147483632"},
        {set1, u"Collation", u"English (United States)"},
        {set1, u"Is damaged", u"true"},
        {set1, u"Is snapshot", u"false"},
        {set1, u"Recovery model", u"FULL"},
        {set1, u"Backup set GUID", u"{00000000-0000-0000-0000-000000000000}"},
        {set2, u"Collation", u""},
        {set2, u"Software version major", u"0"},
        {file2Row, u"Logical name", u"Sales_log"},
        {file2Row, u"File type", u"L (transaction log file)"},
        {file2Row, u"Size", u"1.500 KB (1536 bytes)"},
        {file2Row, u"Max size", u"-1 bytes (-1 bytes)"},
        {file2Row, u"Drop LSN", u"0"},
        {file2Row, u"Backup size", u"4194304"},
        {file2Row, u"Is present", u"true"},
        {file7, u"File type", u" ()"},
        {file7, u"Size", u"0 bytes (0 bytes)"},
    };
    for (const auto& c : cases) {
        const int at = IndexOf(rows, c.Parent, c.Label);
        ASSERT_GE(at, 0) << Utf16ToUtf8(c.Label);
        EXPECT_EQ(Utf16ToUtf8(rows[static_cast<size_t>(at)].Value), Utf16ToUtf8(c.Expected))
            << Utf16ToUtf8(c.Label);
    }
}

TEST_F(BackupTreeTest, NoSetsGiveNoRows)
{
    EXPECT_TRUE(RowsForBackupSets({}).empty());
}

TEST(AnySetHasPassword, IsTrueWhenAnySetIsProtected)
{
    TBackupDetails open, locked;
    locked.Header.HasPassword = true;
    EXPECT_FALSE(AnySetHasPassword({}));
    EXPECT_FALSE(AnySetHasPassword({open, open}));
    EXPECT_TRUE(AnySetHasPassword({open, locked}));
    EXPECT_TRUE(AnySetHasPassword({locked}));
}

}  // namespace
