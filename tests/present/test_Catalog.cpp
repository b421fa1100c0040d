// The catalog rows: one per backup set across the files read, stripes counted once,
// texts written as the tree writes them, sort order by value, tab-separated copies.

#include "uBackupTree.h"
#include "uCatalog.h"
#include "uFixtureBuilder.h"
#include "uLocaleFormat.h"
#include "uMemoryFile.h"
#include "uTextConvert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string U8(const std::u16string& text)
{
    return Utf16ToUtf8(text);
}

// 0 gives the empty GUID.
TGUID GuidOf(uint8_t first)
{
    TGUID guid{};
    guid[0] = first;
    guid[15] = first == 0 ? 0 : 0x5A;
    return guid;
}

// One backup file as the fixture builder writes it: a media header with the family
// values, then the given sets. Read through the memory file system like the window
// reads a real file.
struct TStripeFile {
    std::string Path;
    int32_t FamilyCount = 1;
    int32_t FamilySequence = 1;
    std::vector<TBackupSetSpec> Sets;
};

TBackupSetSpec SetSpec(uint8_t guid, uint16_t position, std::u16string database = u"Sales", char type = 'D')
{
    TBackupSetSpec spec;
    spec.Sset.BackupSetGUID = GuidOf(guid);
    spec.Sset.DataSetNumber = position;
    spec.Scin.DatabaseName = std::move(database);
    spec.Scin.TypeLetter = type;
    return spec;
}

class CatalogTest : public testing::Test {
protected:
    void SetUp() override { SetLocaleFormat(MakeIcuLocaleFormat("en_US")); }

    TBackupFileReport Read(const TStripeFile& file)
    {
        TFixtureBuilder b;
        TRaidSpec raid;
        // Real files store the count with 1 in the upper 16 bits.
        raid.FamilyCount = 0x00010000 | file.FamilyCount;
        raid.FamilySequence = file.FamilySequence;
        b.MediaHeader({}, raid);
        for (const TBackupSetSpec& set : file.Sets)
            b.BackupSet(set);
        FApi->Add(file.Path, b.Data);
        TReadOptions options;
        options.Api = FApi;
        return ReadBackupFile(Utf8ToUtf16(file.Path), options);
    }

    TCatalog CatalogOf(const std::vector<TStripeFile>& files)
    {
        TCatalog catalog;
        for (const TStripeFile& file : files)
            (void)catalog.Add(Utf8ToUtf16(file.Path), Read(file));
        return catalog;
    }

    std::shared_ptr<TMemoryFileApi> FApi = std::make_shared<TMemoryFileApi>();
};

// The striped and copied layouts a DBA meets in a backup folder.
TEST_F(CatalogTest, OneRowPerSetWithItsStripesCountedOnce)
{
    const struct {
        const char* Name;
        std::vector<TStripeFile> Files;
        std::vector<std::string> Stripes;  // per row
        std::vector<std::string> FileTexts;
    } cases[] = {
        {"one plain file", {{"a.bak", 1, 1, {SetSpec(1, 1)}}}, {"1 of 1"}, {"a.bak"}},
        {"two of four stripes, read out of order",
         {{"s3.bak", 4, 3, {SetSpec(1, 1)}}, {"s1.bak", 4, 1, {SetSpec(1, 1)}}},
         {"2 of 4"},
         {"s1.bak; s3.bak"}},
        {"a copy of a stripe lists its file but counts once",
         {{"s1.bak", 2, 1, {SetSpec(1, 1)}}, {"copy/s1.bak", 2, 1, {SetSpec(1, 1)}}},
         {"1 of 2"},
         {"s1.bak; copy/s1.bak"}},
        {"the same path read twice adds nothing",
         {{"s1.bak", 2, 1, {SetSpec(1, 1)}}, {"s1.bak", 2, 1, {SetSpec(1, 1)}}},
         {"1 of 2"},
         {"s1.bak"}},
        {"appended sets of a striped media set pair up by position",
         {{"m1.bak", 2, 1, {SetSpec(1, 1), SetSpec(2, 2, u"Sales", 'L')}},
          {"m2.bak", 2, 2, {SetSpec(1, 1), SetSpec(2, 2, u"Sales", 'L')}}},
         {"2 of 2", "2 of 2"},
         {"m1.bak; m2.bak", "m1.bak; m2.bak"}},
        {"one GUID at two positions is two sets",
         {{"p.bak", 1, 1, {SetSpec(1, 1), SetSpec(1, 2)}}},
         {"1 of 1", "1 of 1"},
         {"p.bak", "p.bak"}},
        {"sets without a GUID are never merged",
         {{"x.bak", 1, 1, {SetSpec(0, 1)}}, {"y.bak", 1, 1, {SetSpec(0, 1)}}},
         {"1 of 1", "1 of 1"},
         {"x.bak", "y.bak"}},
    };
    for (const auto& c : cases) {
        const TCatalog catalog = CatalogOf(c.Files);
        std::vector<std::string> stripes, files;
        for (const TCatalogRow& row : catalog.Rows()) {
            stripes.push_back(U8(CatalogCellText(row, TCatalogColumn::Stripes)));
            files.push_back(U8(CatalogCellText(row, TCatalogColumn::Files)));
        }
        EXPECT_EQ(stripes, c.Stripes) << c.Name;
        EXPECT_EQ(files, c.FileTexts) << c.Name;
    }
}

// Selecting a row must lead to a set that exists: the file and its index in that file.
TEST_F(CatalogTest, SourcesNameTheFileAndTheSetIndexInIt)
{
    const TCatalog catalog =
        CatalogOf({{"m2.bak", 2, 2, {SetSpec(1, 1), SetSpec(2, 2)}}, {"m1.bak", 2, 1, {SetSpec(2, 2)}}});
    ASSERT_EQ(catalog.size(), 2u);
    const std::vector<TCatalogSource>& second = catalog[1].Sources;
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(U8(second[0].Path), "m1.bak");
    EXPECT_EQ(second[0].SetIndex, 0u);
    EXPECT_EQ(second[0].FamilySequenceNumber, 1);
    EXPECT_EQ(U8(second[1].Path), "m2.bak");
    EXPECT_EQ(second[1].SetIndex, 1u);
}

TEST_F(CatalogTest, LeavesOutTheEmptySetOfAFileThatIsNotABackup)
{
    FApi->Add("notes.txt", std::vector<uint8_t>(200, 'x'));
    TFixtureBuilder header;
    header.Ascii("ABCD").Zeros(200);
    FApi->Add("abcd.bin", header.Data);
    TReadOptions options;
    options.Api = FApi;

    TCatalog catalog;
    for (const char16_t* path : {u"notes.txt", u"abcd.bin", u"missing.bak"}) {
        const TBackupFileReport report = ReadBackupFile(path, options);
        const TCatalogChange change = catalog.Add(path, report);
        EXPECT_EQ(change.NewRowCount, 0u) << U8(path);
    }
    EXPECT_EQ(catalog.size(), 0u);

    // A set with a database name but no GUID is still a set the user wants to see.
    const TCatalogChange change =
        catalog.Add(u"old.bak", Read({"old.bak", 1, 1, {SetSpec(0, 1, u"Legacy")}}));
    EXPECT_EQ(change.NewRowCount, 1u);
    ASSERT_EQ(catalog.size(), 1u);
    EXPECT_EQ(U8(CatalogCellText(catalog[0], TCatalogColumn::Database)), "Legacy");
}

// Rows appear while files are read: a later stripe changes a row shown already.
TEST_F(CatalogTest, AnAdditionSaysWhichRowsAreNewAndWhichChanged)
{
    TCatalog catalog;
    TCatalogChange first = catalog.Add(u"s1.bak", Read({"s1.bak", 2, 1, {SetSpec(1, 1), SetSpec(2, 2)}}));
    EXPECT_EQ(first.FirstNewRow, 0u);
    EXPECT_EQ(first.NewRowCount, 2u);
    EXPECT_TRUE(first.ChangedRows.empty());

    TCatalogChange second =
        catalog.Add(u"s2.bak", Read({"s2.bak", 2, 2, {SetSpec(2, 2), SetSpec(3, 3), SetSpec(2, 2)}}));
    EXPECT_EQ(second.FirstNewRow, 2u);
    EXPECT_EQ(second.NewRowCount, 1u);
    EXPECT_EQ(second.ChangedRows, std::vector<size_t>{1});
    EXPECT_EQ(U8(CatalogCellText(catalog[1], TCatalogColumn::Stripes)), "2 of 2");

    catalog.Clear();
    EXPECT_EQ(catalog.size(), 0u);
    EXPECT_EQ(catalog.Add(u"s1.bak", Read({"s1.bak", 2, 1, {SetSpec(1, 1)}})).NewRowCount, 1u);
}

// The catalog and the tree must never disagree on a value both show.
TEST_F(CatalogTest, CellTextsAreTheTreeTexts)
{
    TBackupSetSpec log = SetSpec(7, 3, u"Sales", 'L');
    log.Scin.ServerName = u"SQLHOST01\\PROD";
    log.Scin.BackupSize = 1536;
    log.Scin.FirstLSN = {37, 448, 1};
    log.Scin.LastLSN = {1037, 16, 12};
    log.Scin.Flags = 0x10 | 0x20 | 0x400;  // checksums, damaged, copy-only
    log.Sset.WriteDate = {2021, 3, 4, 0, 0, 0};
    const TBackupFileReport report = Read({"log.bak", 1, 1, {log}});
    TCatalog catalog;
    (void)catalog.Add(u"log.bak", report);
    ASSERT_EQ(catalog.size(), 1u);
    const TCatalogRow& row = catalog[0];

    const std::vector<TBackupTreeRow> tree = RowsForBackupSets(report.Sets);
    auto treeValue = [&tree](const char16_t* label) {
        for (const TBackupTreeRow& r : tree)
            if (r.Level == 1 && r.Label == label)
                return U8(r.Value);
        return std::string("(no row)");
    };

    const struct {
        TCatalogColumn Column;
        std::string Expected;
        const char16_t* TreeLabel;  // the tree row with the same text, if any
    } cases[] = {
        {TCatalogColumn::Database, "Sales", u"Database name"},
        {TCatalogColumn::Server, "SQLHOST01\\PROD", u"Server name"},
        {TCatalogColumn::BackupType, "Transaction log", u"Backup type"},
        {TCatalogColumn::Start, "3/4/2021", u"Backup start date"},
        {TCatalogColumn::Finish, "3/4/2021 10:25:00 AM", u"Backup end date"},
        {TCatalogColumn::Size, "1.500 KB", nullptr},
        {TCatalogColumn::FirstLSN, "37000000044800001", u"First LSN"},
        {TCatalogColumn::LastLSN, "1037000000001600012", u"Last LSN"},
        {TCatalogColumn::Position, "3", nullptr},
        {TCatalogColumn::Stripes, "1 of 1", nullptr},
        {TCatalogColumn::Files, "log.bak", nullptr},
        {TCatalogColumn::Password, "false", nullptr},
        {TCatalogColumn::CopyOnly, "true", u"Is copy only"},
        {TCatalogColumn::Damaged, "true", u"Is damaged"},
    };
    for (const auto& c : cases) {
        const std::string text = U8(CatalogCellText(row, c.Column));
        EXPECT_EQ(text, c.Expected) << U8(CatalogColumnTitle(c.Column));
        if (c.TreeLabel) {
            EXPECT_EQ(text, treeValue(c.TreeLabel)) << U8(CatalogColumnTitle(c.Column));
        }
    }
    // The tree's size row begins with the same text the catalog shows.
    EXPECT_TRUE(treeValue(u"Backup size").starts_with(U8(CatalogCellText(row, TCatalogColumn::Size))));
}

// Hand-built records for the sort order: each pair is written so that the order of the
// texts is the opposite of the order of the values.
TBackupFileReport ReportOf(std::vector<TBackupHeader> headers)
{
    TBackupFileReport report;
    report.Opened = true;
    for (TBackupHeader& h : headers) {
        TBackupDetails d;
        d.Header = std::move(h);
        report.Sets.push_back(std::move(d));
    }
    return report;
}

TBackupHeader Header(uint8_t guid)
{
    TBackupHeader h;
    h.DatabaseName = u"Sales";
    h.BackupSetGUID = GuidOf(guid);
    h.DataSetNumber = 1;
    h.FamilyCount = 1;
    h.FamilySequenceNumber = 1;
    return h;
}

TEST_F(CatalogTest, SortsNumbersDatesAndLsnsByValueAndTextsWithoutCase)
{
    struct TCase {
        TCatalogColumn Column;
        void (*Smaller)(TBackupHeader&);
        void (*Larger)(TBackupHeader&);
    };
    const TCase cases[] = {
        {TCatalogColumn::Database, [](TBackupHeader& h) { h.DatabaseName = u"alpha"; },
         [](TBackupHeader& h) { h.DatabaseName = u"Beta"; }},
        {TCatalogColumn::Server, [](TBackupHeader& h) { h.ServerName = "host\xC3\xA9"; },  // "hosté"
         [](TBackupHeader& h) { h.ServerName = "HOST\xC3\x89Z"; }},                        // "HOSTÉZ"
        // 9/3/2021 is before 10/2/2021, although "9" sorts after "1".
        {TCatalogColumn::Start, [](TBackupHeader& h) { h.BackupStartDate = 44442.0; },
         [](TBackupHeader& h) { h.BackupStartDate = 44471.0; }},
        {TCatalogColumn::Finish, [](TBackupHeader& h) { h.BackupEndDate = 44442.5; },
         [](TBackupHeader& h) { h.BackupEndDate = 44471.25; }},
        // "900 bytes" against "1.500 KB".
        {TCatalogColumn::Size, [](TBackupHeader& h) { h.BackupSize = 900; },
         [](TBackupHeader& h) { h.BackupSize = 1536; }},
        {TCatalogColumn::FirstLSN, [](TBackupHeader& h) { h.FirstLSN = FromInt64(999); },
         [](TBackupHeader& h) { h.FirstLSN = FromInt64(1000); }},
        // Beyond 64 bits, and a negative value from a damaged block below zero.
        {TCatalogColumn::LastLSN, [](TBackupHeader& h) { h.LastLSN = FromMagnitude(false, 1, 5); },
         [](TBackupHeader& h) { h.LastLSN = FromMagnitude(false, 2, 0); }},
        {TCatalogColumn::LastLSN, [](TBackupHeader& h) { h.LastLSN = FromInt64(-7); },
         [](TBackupHeader& h) { h.LastLSN = FromInt64(0); }},
        {TCatalogColumn::Position, [](TBackupHeader& h) { h.DataSetNumber = 9; },
         [](TBackupHeader& h) { h.DataSetNumber = 10; }},
        // All of one stripe found before one of two.
        {TCatalogColumn::Stripes, [](TBackupHeader& h) { h.FamilyCount = 1; },
         [](TBackupHeader& h) { h.FamilyCount = 2; }},
        {TCatalogColumn::Password, [](TBackupHeader& h) { h.HasPassword = false; },
         [](TBackupHeader& h) { h.HasPassword = true; }},
        {TCatalogColumn::CopyOnly, [](TBackupHeader& h) { h.IsCopyOnly = false; },
         [](TBackupHeader& h) { h.IsCopyOnly = true; }},
        {TCatalogColumn::Damaged, [](TBackupHeader& h) { h.IsDamaged = false; },
         [](TBackupHeader& h) { h.IsDamaged = true; }},
    };
    for (const TCase& c : cases) {
        TBackupHeader small = Header(1), large = Header(2);
        c.Smaller(small);
        c.Larger(large);
        TCatalog catalog;
        (void)catalog.Add(u"large.bak", ReportOf({large}));
        (void)catalog.Add(u"small.bak", ReportOf({small}));
        const std::string title = U8(CatalogColumnTitle(c.Column));
        EXPECT_GT(CompareCatalogRows(catalog[0], catalog[1], c.Column), 0) << title;
        EXPECT_LT(CompareCatalogRows(catalog[1], catalog[0], c.Column), 0) << title;
        EXPECT_EQ(CompareCatalogRows(catalog[0], catalog[0], c.Column), 0) << title;
    }

    // The file column sorts by the paths, again without regard to case.
    TCatalog files;
    (void)files.Add(u"B/x.bak", ReportOf({Header(1)}));
    (void)files.Add(u"a/x.bak", ReportOf({Header(2)}));
    EXPECT_GT(CompareCatalogRows(files[0], files[1], TCatalogColumn::Files), 0);
}

TEST_F(CatalogTest, FiltersByTextInDatabaseServerOrFileAndByType)
{
    TBackupHeader full = Header(1), diff = Header(2), log = Header(3), filegroup = Header(4),
                  unknown = Header(5);
    full.BackupType = 1;
    full.ServerName = "PRODHOST";
    diff.BackupType = 5;
    diff.DatabaseName = u"Stra\u00DFe";
    log.BackupType = 2;
    filegroup.BackupType = 4;
    unknown.BackupType = 0;
    TCatalog catalog;
    (void)catalog.Add(u"/backups/Nightly/full.bak", ReportOf({full}));
    (void)catalog.Add(u"/backups/diff.bak", ReportOf({diff}));
    (void)catalog.Add(u"/backups/log.trn", ReportOf({log, filegroup, unknown}));

    const struct {
        const char16_t* Text;
        TCatalogTypeFilter Type;
        std::vector<size_t> Expected;
    } cases[] = {
        {u"", TCatalogTypeFilter::All, {0, 1, 2, 3, 4}}, {u"", TCatalogTypeFilter::Full, {0, 3}},
        {u"", TCatalogTypeFilter::Differential, {1}},    {u"", TCatalogTypeFilter::Log, {2}},
        {u"prodhost", TCatalogTypeFilter::All, {0}},    // server, other case
        {u"STRASSE", TCatalogTypeFilter::All, {1}},     // database, full case folding
        {u"nightly", TCatalogTypeFilter::All, {0}},     // folder in the path
        {u".TRN", TCatalogTypeFilter::All, {2, 3, 4}},  // file name
        {u"sales", TCatalogTypeFilter::Log, {2}},        {u"sales", TCatalogTypeFilter::Differential, {}},
        {u"nowhere", TCatalogTypeFilter::All, {}},
    };
    for (const auto& c : cases) {
        const TCatalogFilter filter(c.Text, c.Type);
        std::vector<size_t> passed;
        for (size_t i = 0; i < catalog.size(); ++i)
            if (filter.Matches(catalog[i]))
                passed.push_back(i);
        EXPECT_EQ(passed, c.Expected) << U8(c.Text) << " " << static_cast<int>(c.Type);
    }
}

TEST_F(CatalogTest, TabSeparatedTextHasAHeaderLineAndTheChosenRows)
{
    TBackupHeader a = Header(1), b = Header(2);
    a.DatabaseName = u"Sales";
    b.DatabaseName = u"Odd\tname\nhere";
    b.DataSetNumber = 4;
    TCatalog catalog;
    (void)catalog.Add(u"a.bak", ReportOf({a}));
    (void)catalog.Add(u"b.bak", ReportOf({b}));

    const std::vector<size_t> chosen = {1, 0};
    const std::string text = U8(CatalogTsv(catalog, chosen));
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    ASSERT_TRUE(text.ends_with('\n'));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Database\tServer\tBackup type\tStart\tFinish\tSize\tFirst LSN\tLast LSN\tPosition\t"
                        "Stripes\tFile(s)\tPassword\tCopy-only\tDamaged");
    for (const std::string& line : lines)
        EXPECT_EQ(std::count(line.begin(), line.end(), '\t'), CatalogColumnCount - 1) << line;
    EXPECT_TRUE(lines[1].starts_with("Odd name here\t")) << lines[1];
    EXPECT_NE(lines[1].find("\t4\t1 of 1\tb.bak\t"), std::string::npos) << lines[1];
    EXPECT_TRUE(lines[2].starts_with("Sales\t")) << lines[2];

    EXPECT_EQ(U8(CatalogTsv(catalog, {})), lines[0] + "\n");
}

}  // namespace
