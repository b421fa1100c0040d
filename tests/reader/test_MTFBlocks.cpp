// What the descriptor blocks and the SQL Server metadata blocks put into the records.

#include "uReaderTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TGUID Guid(uint8_t first)
{
    TGUID g{};
    for (size_t i = 0; i < g.size(); ++i)
        g[i] = static_cast<uint8_t>(first + i);
    return g;
}

// A sample backup with one set, as a real file lays it out, read back field by field.
TEST(Blocks, SampleSetFillsEveryField)
{
    TFixtureBuilder b;
    TRaidSpec raid;
    raid.FamilyCount = 0x00010002;  // a two-way stripe as real files store it
    raid.FamilySequence = 2;
    b.MediaHeader({}, raid);
    TBackupSetSpec spec;
    spec.Sset.Password = {u"secret"};
    spec.Scin.TypeLetter = 'I';
    spec.Scin.RecoveryModelCode = 9;
    spec.Scin.Flags = 0x4D1;
    b.BackupSet(spec);
    const TReadResult r = ReadBuilt(b);
    EXPECT_TRUE(r.Errors().empty());
    ASSERT_EQ(r.Sets().size(), 1u);
    const TBackupHeader& h = r.Header();

    EXPECT_EQ(h.FileName, u"backup.bak");
    EXPECT_EQ(h.BackupName, u"Full backup");
    EXPECT_EQ(h.BackupDescription, u"Nightly");
    EXPECT_EQ(h.BackupType, 5);
    EXPECT_EQ(h.BackupTypeCode, "I");
    EXPECT_EQ(h.BackupTypeDescription, "Database differential");
    EXPECT_TRUE(h.HasPassword);
    EXPECT_EQ(h.DataSetNumber, 1);
    EXPECT_EQ(h.UserName, "CONTOSO\\dba");
    EXPECT_EQ(h.ServerName, "SQLHOST01\\PROD");
    EXPECT_EQ(h.DatabaseName, u"Sales");
    EXPECT_EQ(h.DatabaseVersion, 904);
    EXPECT_EQ(h.DatabaseCreationDate, ExpectedDate({2019, 5, 6, 7, 8, 9}));
    EXPECT_EQ(h.BackupSize, 3403776);
    EXPECT_EQ(ToString(h.FirstLSN), "37000000041600001");
    EXPECT_EQ(ToString(h.LastLSN), "37000000044800001");
    EXPECT_EQ(ToString(h.CheckpointLSN), "37000000041600001");
    EXPECT_EQ(ToString(h.DatabaseBackupLSN), "0");
    EXPECT_EQ(h.BackupStartDate, ExpectedDate({2021, 3, 4, 10, 20, 30}));
    EXPECT_EQ(h.BackupEndDate, ExpectedDate({2021, 3, 4, 10, 25, 0}));
    EXPECT_EQ(h.SortOrder, 52);
    EXPECT_EQ(h.UnicodeLocaleID, 1033);
    EXPECT_EQ(h.UnicodeComparisonStyle, 196609);
    EXPECT_EQ(h.CompatibilityLevel, 150);
    EXPECT_EQ(h.SoftwareVendorID, 0x1200);
    EXPECT_EQ(h.SoftwareVersionMajor, 15);
    EXPECT_EQ(h.SoftwareVersionMinor, 0);
    EXPECT_EQ(h.SoftwareVersionBuild, 4236);
    EXPECT_EQ(h.MachineName, "SQLHOST01");
    EXPECT_EQ(h.Flags, 0x4D1);
    EXPECT_EQ(h.BindingID, spec.Scin.BindingID);
    EXPECT_EQ(h.RecoveryForkID, spec.Scin.RecoveryForkID);
    EXPECT_EQ(h.Collation, 1033);
    EXPECT_EQ(h.FamilyGUID, raid.FamilyGUID);
    EXPECT_EQ(h.FamilyCount, 2);
    EXPECT_EQ(h.FamilySequenceNumber, 2);
    EXPECT_TRUE(h.HasBulkLoggedData);
    EXPECT_FALSE(h.IsSnapshot);
    EXPECT_FALSE(h.IsReadOnly);
    EXPECT_FALSE(h.IsSingleUser);
    EXPECT_TRUE(h.HasBackupChecksums);
    EXPECT_FALSE(h.IsDamaged);
    EXPECT_TRUE(h.BeginsLogChain);
    EXPECT_TRUE(h.HasIncompleteMetadata);
    EXPECT_FALSE(h.IsForceOffline);
    EXPECT_TRUE(h.IsCopyOnly);
    EXPECT_EQ(ToString(h.ForkPointLSN), "0");
    EXPECT_EQ(h.RecoveryModel, "SIMPLE");
    EXPECT_EQ(ToString(h.DifferentialBaseLSN), "36000000010000007");
    EXPECT_EQ(h.DifferentialBaseGUID, spec.Scin.DifferentialBaseGUID);
    EXPECT_EQ(h.BackupSetGUID, spec.Sset.BackupSetGUID);

    ASSERT_EQ(r.Sets()[0].Files.size(), 2u);
    const TBackupFile& data = r.Sets()[0].Files[0];
    EXPECT_EQ(data.LogicalName, u"Sales");
    EXPECT_EQ(data.PhysicalName, u"D:\\Data\\Sales.mdf");
    EXPECT_EQ(data.FileType, "D");
    EXPECT_EQ(data.FilegroupName, u"PRIMARY");
    EXPECT_EQ(data.Size, 8388608);
    EXPECT_EQ(data.MaxSize, -1);
    EXPECT_EQ(data.FileID, 1);
    EXPECT_EQ(ToString(data.DropLSN), "0");
    EXPECT_EQ(data.UniqueID, TSfinSpec{}.UniqueID);
    EXPECT_EQ(data.BackupSize, 3145728);
    EXPECT_EQ(data.SourceBlockSize, 512);
    EXPECT_EQ(data.FilegroupID, 1);
    EXPECT_FALSE(data.IsReadOnly);
    EXPECT_TRUE(data.IsPresent);
    const TBackupFile& log = r.Sets()[0].Files[1];
    EXPECT_EQ(log.FileType, "L");
    EXPECT_EQ(log.FilegroupName, u"");  // the log belongs to no filegroup
    EXPECT_EQ(log.LogicalName, u"Sales_log");
}

TEST(Blocks, LSNsOfAFile)
{
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec spec;
    spec.Files.resize(1);
    spec.Files[0].CreateLSN = {12, 34, 5};
    spec.Files[0].DifferentialBaseLSN = {0, 100000, 0};
    spec.Files[0].ReadOnlyLSN = {0, 0, 65535};
    spec.Files[0].ReadWriteLSN = {-1, 0, 0};
    spec.Files[0].DifferentialBaseGUID = Guid(0x70);
    b.BackupSet(spec);
    const TReadResult r = ReadBuilt(b);
    const TBackupFile& f = r.Sets().at(0).Files.at(0);
    EXPECT_EQ(ToString(f.CreateLSN), "12000000003400005");
    EXPECT_EQ(ToString(f.DifferentialBaseLSN), "10000000000");
    EXPECT_EQ(ToString(f.ReadOnlyLSN), "65535");
    EXPECT_EQ(ToString(f.ReadWriteLSN), "-1000000000000000");
    EXPECT_EQ(f.DifferentialBaseGUID, Guid(0x70));
}

TEST(Blocks, TwoSetsInOneFile)
{
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec first, second;
    second.Sset.Name = {u"Log backup"};
    second.Scin.TypeLetter = 'L';
    second.Scin.DatabaseName = u"Orders";
    second.Filegroups = {{1, u"PRIMARY"}, {2, u"ARCHIVE"}};
    second.Files[0].FilegroupID = 2;
    b.BackupSet(first);
    b.BackupSet(second);
    const TReadResult r = ReadBuilt(b);
    EXPECT_TRUE(r.Errors().empty());
    ASSERT_EQ(r.Sets().size(), 2u);
    EXPECT_EQ(r.Header(0).BackupName, u"Full backup");
    EXPECT_EQ(r.Header(0).BackupTypeDescription, "Database");
    EXPECT_EQ(r.Header(1).BackupName, u"Log backup");
    EXPECT_EQ(r.Header(1).BackupTypeDescription, "Transaction log");
    EXPECT_EQ(r.Header(1).DatabaseName, u"Orders");
    EXPECT_EQ(r.Sets()[1].Files.at(0).FilegroupName, u"ARCHIVE");
    // The media family values belong to the whole file.
    EXPECT_EQ(r.Header(1).FamilyGUID, r.Header(0).FamilyGUID);
    EXPECT_EQ(r.Header(1).FamilyCount, 1);
}

// SSET and ESET blocks draw the boundaries of the sets.
TEST(Blocks, SetBoundaries)
{
    struct TCase {
        const char* Name;
        std::string Sequence;  // S = SSET, E = ESET
        size_t Sets;
        std::vector<std::string> Errors;
    };
    const std::vector<TCase> cases = {
        {"every set ended", "SESE", 2, {}},
        {"a set without ESET before the next", "SESSE", 2, {"Backup set 2 has no terminating ESET block."}},
        {"the first set without ESET", "SS", 2, {}},
        {"two missing ESET blocks in a row",
         "SESSSE",
         2,
         {"Backup set 2 has no terminating ESET block.", "Backup set 3 has no terminating ESET block."}},
        {"data before the first SSET", "ES", 1, {}},
        {"no SSET at all", "E", 1, {}},
    };
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape();
        int ssets = 0, esets = 0;
        for (char kind : c.Sequence) {
            if (kind == 'S') {
                TSsetSpec sset;
                sset.Name = {Utf8ToUtf16("Set block " + std::to_string(++ssets))};
                b.Sset(sset);
            } else {
                TEsetSpec eset;
                eset.WriteDate.Minute = ++esets;
                b.Eset(eset);
            }
        }
        const TReadResult r = ReadBuilt(b);
        EXPECT_EQ(r.Sets().size(), c.Sets) << c.Name;
        EXPECT_EQ(r.Errors(), c.Errors) << c.Name;
    }

    // The skipped SSET block fills nothing: the second set keeps the second block's
    // name and gets the last ESET block's end date.
    TFixtureBuilder b;
    b.Tape();
    for (const char* name : {"one", "two", "three"}) {
        TSsetSpec sset;
        sset.Name = {Utf8ToUtf16(name)};
        b.Sset(sset);
        if (std::string(name) == "one")
            b.Eset();
    }
    TEsetSpec last;
    last.WriteDate = {2022, 1, 1, 1, 1, 1};
    b.Eset(last);
    const TReadResult r = ReadBuilt(b);
    ASSERT_EQ(r.Sets().size(), 2u);
    EXPECT_EQ(r.Header(1).BackupName, u"two");
    EXPECT_EQ(r.Header(1).BackupEndDate, ExpectedDate(last.WriteDate));
}

TEST(Blocks, Password)
{
    struct TCase {
        const char* Name;
        TMTFText Password;
        bool HasPassword;
    };
    TMTFText zeroFirst;
    zeroFirst.RawBytes = std::string("\0\0x\0", 4);
    const std::vector<TCase> cases = {
        {"size 0", {u""}, false}, {"first unit zero", zeroFirst, false}, {"text", {u"x"}, true}};
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape();
        TSsetSpec sset;
        sset.Password = c.Password;
        b.Sset(sset);
        EXPECT_EQ(ReadBuilt(b).Header().HasPassword, c.HasPassword) << c.Name;
    }
}

TEST(Blocks, BackupSetGUIDFromTheOSSpecificData)
{
    {
        TFixtureBuilder b;
        b.Tape();
        TSsetSpec sset;
        sset.OsSpecificData = std::vector<uint8_t>{};
        b.Sset(sset);
        EXPECT_EQ(ReadBuilt(b).Header().BackupSetGUID, TGUID{});
    }
    {
        // Four bytes declared: the 16 bytes from its offset are taken all the same.
        TFixtureBuilder b;
        b.Tape();
        TSsetSpec sset;
        sset.OsSpecificData = std::vector<uint8_t>{1, 2, 3, 4};
        const size_t at = b.Sset(sset);
        const size_t offset = b.Data[at + 46] | (b.Data[at + 47] << 8);
        TGUID expected;
        std::copy(b.Data.begin() + static_cast<long>(at + offset),
                  b.Data.begin() + static_cast<long>(at + offset + 16), expected.begin());
        EXPECT_EQ(ReadBuilt(b).Header().BackupSetGUID, expected);
        EXPECT_EQ(expected[0], 1);
    }
}

TEST(Blocks, StringsOfStringType1AreWindows1252)
{
    TFixtureBuilder b;
    b.Tape();
    TSsetSpec sset;
    sset.Common.StringType = 1;
    sset.Name.RawBytes = "Caf\xE9 \x80";
    sset.UserName.RawBytes = "M\xFCller";
    b.Sset(sset);
    TVolbSpec volb;
    volb.Common.StringType = 1;
    volb.MachineName.RawBytes = "H\xD6ST";
    b.Volb(volb);
    const TReadResult r = ReadBuilt(b);
    EXPECT_EQ(r.Header().BackupName, u"Caf\u00E9 \u20AC");
    EXPECT_EQ(r.Header().UserName, "M\u00FCller");
    EXPECT_EQ(r.Header().MachineName, "H\u00D6ST");
}

TEST(Blocks, MediaFamilyCount)
{
    struct TCase {
        int32_t Stored;
        int32_t Count, Sequence;
    };
    const std::vector<TCase> cases = {{129, 1, 7}, {64, 64, 7},        {100, 100, 7}, {128, 1, 1},
                                      {-3, -3, 7}, {0x00010002, 2, 7}, {0, 1, 1}};
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape();
        TRaidSpec raid;
        raid.FamilyCount = c.Stored;
        raid.FamilySequence = 7;
        b.Raid(raid);
        const TReadResult r = ReadBuilt(b);
        EXPECT_EQ(r.Header().FamilyCount, c.Count) << c.Stored;
        EXPECT_EQ(r.Header().FamilySequenceNumber, c.Sequence) << c.Stored;
    }
}

TEST(Blocks, TapeAddressCheck)
{
    TFixtureBuilder b;
    TTapeSpec tape;
    tape.Common.FormatLogicalAddress = 5;
    tape.Common.ControlBlockID = 7;
    b.Tape(tape);
    EXPECT_TRUE(ReadBuilt(b).Errors().empty());
    EXPECT_EQ(ReadBuilt(b, false, true).Errors(),
              (std::vector<std::string>{"CommonBlockHeader.FormatLogicalAddress.  Expected: 0, actual: 5",
                                        "CommonBlockHeader.ControlBlockID.  Expected: 0, actual: 7"}));
}

// A block cut short by the end of the file: the handler reports it and changes nothing.
TEST(Blocks, DescriptorBlocksBelowTheirMinimumLength)
{
    struct TCase {
        const char* Name;
        std::function<size_t(TFixtureBuilder&)> Build;
        size_t Keep;  // bytes of the block left in the file
        std::string Error;
    };
    const std::vector<TCase> cases = {
        {"TAPE", [](TFixtureBuilder& b) { return b.Tape(); }, 93,
         "Insufficient data for tape header block.  Required: 94 bytes, available: 93 bytes"},
        {"SSET", [](TFixtureBuilder& b) { return b.Sset(); }, 97,
         "Insufficient data for tape header block.  Required: 98 bytes, available: 97 bytes"},
        {"VOLB", [](TFixtureBuilder& b) { return b.Volb(); }, 72,
         "Insufficient data for VOLB block.  Required: 73 bytes, available: 72 bytes"},
        {"ESET", [](TFixtureBuilder& b) { return b.Eset(); }, 80,
         "Insufficient data for ESET block.  Required: 85 bytes, available: 80 bytes"},
        {"SFMB", [](TFixtureBuilder& b) { return b.Sfmb(); }, 59,
         "Insufficient data for tape header block.  Required: 60 bytes, available: 59 bytes"},
        {"RAID", [](TFixtureBuilder& b) { return b.Raid(); }, 55,
         "Insufficient data for RAID header block.  Required: 56 bytes, available: 55 bytes"},
    };
    for (const TCase& c : cases) {
        // A second set is open (its ESET block not met yet) when the short block comes.
        TFixtureBuilder b;
        TTapeSpec tape;
        tape.SoftFilemarkBlocks = 1;
        b.Tape(tape);
        b.Sset();
        b.Eset();
        TSsetSpec sset;
        sset.Name = {u"kept"};
        b.Sset(sset);
        const size_t at = c.Build(b);
        b.Data.resize(at + c.Keep);
        const TReadResult r = ReadBuilt(b);
        EXPECT_EQ(r.Errors(), std::vector<std::string>{c.Error}) << c.Name;
        ASSERT_EQ(r.Sets().size(), 2u) << c.Name;
        EXPECT_EQ(r.Header(1).BackupName, u"kept") << c.Name;
        EXPECT_EQ(r.Header(1).BackupEndDate, 0) << c.Name;
        EXPECT_FALSE(TMTFReaderProbe(*r.Reader).SetEnded()) << c.Name;
        EXPECT_EQ(TMTFReaderProbe(*r.Reader).SoftFilemarkSize(), 512) << c.Name;
        EXPECT_EQ(r.Header().FamilyCount, 1) << c.Name;
    }
}

TEST(Blocks, InvalidDatesAreReportedAndTheReadGoesOn)
{
    TFixtureBuilder b;
    TTapeSpec tape;
    tape.MediaDate = {2010, 13, 15, 12, 30, 45};
    b.MediaHeader(tape);
    TBackupSetSpec spec;
    spec.Volb.WriteDate = {2010, 2, 30, 0, 0, 0};
    spec.Scin.EndDate = {2010, 1, 1, 25, 0, 0};
    spec.Sset.WriteDate = {2010, 1, 1, 1, 61, 0};
    b.BackupSet(spec);
    const TReadResult r = ReadBuilt(b);
    EXPECT_EQ(r.Errors(), (std::vector<std::string>{
                              "''2010/13/15 12:30:45.0'' is not a valid date and time",
                              "''2010/1/1 1:61:0.0'' is not a valid date and time",
                              "''2010/2/30 0:0:0.0'' is not a valid date and time",
                              "''2010/1/1 25:0:0.0'' is not a valid date and time",
                              "''2010/1/1 25:0:0.0'' is not a valid date and time",  // the repeated metadata
                          }));
    EXPECT_EQ(r.Header().BackupStartDate, 0);
    EXPECT_EQ(r.Header().DatabaseName, u"Sales");
    EXPECT_EQ(r.Sets()[0].Files.size(), 2u);
}

// SCIN fields that depend on codes, flags and the declared size.
TEST(Scin, CodesAndFlags)
{
    struct TCase {
        const char* Name;
        std::function<void(TScinSpec&)> Change;
        std::function<void(const TBackupHeader&)> Check;
    };
    const std::vector<TCase> cases = {
        {"differential of a simple database",
         [](TScinSpec& s) {
             s.TypeLetter = 'I';
             s.RecoveryModelCode = 8;
         },
         [](const TBackupHeader& h) {
             EXPECT_EQ(h.BackupType, 5);
             EXPECT_EQ(h.BackupTypeDescription, "Database differential");
             EXPECT_EQ(h.RecoveryModel, "SIMPLE");
         }},
        {"recovery codes with the flag bit", [](TScinSpec& s) { s.RecoveryModelCode = 5; },
         [](const TBackupHeader& h) { EXPECT_EQ(h.RecoveryModel, "BULK-LOGGED"); }},
        {"log backup of a full database",
         [](TScinSpec& s) {
             s.RecoveryModelCode = 1;
             s.TypeLetter = 'L';
         },
         [](const TBackupHeader& h) {
             EXPECT_EQ(h.RecoveryModel, "FULL");
             EXPECT_EQ(h.BackupType, 2);
         }},
        {"unknown letter and recovery code",
         [](TScinSpec& s) {
             s.TypeLetter = 'd';
             s.RecoveryModelCode = 3;
         },
         [](const TBackupHeader& h) {
             EXPECT_EQ(h.BackupType, 0);
             EXPECT_EQ(h.BackupTypeDescription, "");
             EXPECT_EQ(h.BackupTypeCode, "d");
             EXPECT_EQ(h.RecoveryModel, "");
         }},
        {"no letter", [](TScinSpec& s) { s.TypeLetter = 0; },
         [](const TBackupHeader& h) { EXPECT_EQ(h.BackupTypeCode, ""); }},
        {"letter beyond ASCII", [](TScinSpec& s) { s.TypeLetter = static_cast<char>(0xE9); },
         [](const TBackupHeader& h) { EXPECT_EQ(h.BackupTypeCode, "\u00E9"); }},
        {"flag 0x40", [](TScinSpec& s) { s.Flags = 0x40; },
         [](const TBackupHeader& h) {
             EXPECT_TRUE(h.BeginsLogChain);
             EXPECT_TRUE(h.IsCopyOnly);
         }},
        {"flag 0x400", [](TScinSpec& s) { s.Flags = 0x400; },
         [](const TBackupHeader& h) {
             EXPECT_FALSE(h.BeginsLogChain);
             EXPECT_TRUE(h.IsCopyOnly);
         }},
        {"flag 0x200", [](TScinSpec& s) { s.Flags = 0x200; },
         [](const TBackupHeader& h) {
             EXPECT_EQ(h.Flags, 512);
             EXPECT_FALSE(h.IsCopyOnly || h.HasBulkLoggedData || h.IsSnapshot || h.IsReadOnly ||
                          h.IsSingleUser || h.HasBackupChecksums || h.IsDamaged || h.BeginsLogChain ||
                          h.HasIncompleteMetadata || h.IsForceOffline);
         }},
        {"every flag", [](TScinSpec& s) { s.Flags = 0xFFFFFFFF; },
         [](const TBackupHeader& h) {
             EXPECT_EQ(h.Flags, -1);
             EXPECT_TRUE(h.IsSnapshot && h.IsReadOnly && h.IsSingleUser && h.IsDamaged && h.IsForceOffline);
         }},
        {"declared size 264 leaves the differential base", [](TScinSpec& s) { s.DeclaredSize = 264; },
         [](const TBackupHeader& h) {
             EXPECT_EQ(ToString(h.DifferentialBaseLSN), "0");
             EXPECT_EQ(h.DifferentialBaseGUID, TGUID{});
             EXPECT_EQ(h.DatabaseName, u"");  // the names lie beyond the declared size
             EXPECT_EQ(h.SoftwareVersionBuild, 4236);
         }},
        {"declared size 265 takes it", [](TScinSpec& s) { s.DeclaredSize = 265; },
         [](const TBackupHeader& h) {
             EXPECT_EQ(ToString(h.DifferentialBaseLSN), "36000000010000007");
             EXPECT_EQ(h.DifferentialBaseGUID, TScinSpec{}.DifferentialBaseGUID);
         }},
        {"declared size of 2^31 or more reads no block bytes",
         [](TScinSpec& s) { s.DeclaredSize = static_cast<int32_t>(0x80000000u); },
         [](const TBackupHeader& h) {
             EXPECT_EQ(h.DatabaseName, u"");
             EXPECT_EQ(h.ServerName, "");
             EXPECT_EQ(h.DatabaseVersion, 904);
         }},
    };
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape();
        b.Mqci();
        TScinSpec scin;
        c.Change(scin);
        b.Scin(scin);
        SCOPED_TRACE(c.Name);
        c.Check(ReadBuilt(b).Header());
    }
}

TEST(Scin, Shortages)
{
    struct TCase {
        const char* Name;
        int64_t Keep;  // bytes of the block left in the file
        std::optional<int32_t> Declared;
        std::vector<std::string> Errors;
        bool Read;
    };
    const std::vector<TCase> cases = {
        {"exactly the header, declared as such", 288, 288, {}, true},
        {"one byte short of the header",
         287,
         {},
         {"Insufficient data for SCIN stream block header.  Required: 288 bytes, available: 287 bytes"},
         false},
        {"declared beyond the file",
         400,
         401,
         {"Insufficient data for SCIN stream block.  Required: 401 bytes, available: 400 bytes"},
         false},
        {"declared size 0 stays", 400, 0, {}, true},
    };
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape();
        b.Mqci();
        TScinSpec scin;
        scin.DeclaredSize = c.Declared;
        const size_t at = b.Scin(scin);
        b.Data.resize(at + static_cast<size_t>(c.Keep));
        const TReadResult r = ReadBuilt(b);
        EXPECT_EQ(r.Errors(), c.Errors) << c.Name;
        EXPECT_EQ(r.Header().DatabaseVersion, c.Read ? 904 : 0) << c.Name;
        EXPECT_EQ(TMTFReaderProbe(*r.Reader).Start(),
                  static_cast<int64_t>(at) + (c.Read ? c.Declared.value_or(0) : 0))
            << c.Name;
    }
}

TEST(Sfin, FilesAndFilegroups)
{
    // SFIN blocks before the SFGI block of their filegroup, a duplicate filegroup ID, a
    // file ID met twice.
    TFixtureBuilder b;
    b.Tape();
    b.Sset();
    b.Mqci();
    TSfinSpec early;
    early.FileID = 1;
    early.FilegroupID = 5;
    b.Sfin(early);
    b.Sfgi(5, u"FIRST");
    b.Sfgi(5, u"SECOND");
    TSfinSpec three;
    three.FileID = 3;
    three.FilegroupID = 5;
    three.TypeCode = 6;
    three.LogicalName = u"catalog";
    b.Sfin(three);
    TSfinSpec again = three;
    again.TypeCode = 99;
    again.LogicalName = u"catalog again";
    again.Size = 42;
    b.Sfin(again);
    b.Eset();
    // The next set knows nothing of the filegroups of this one.
    b.Sset();
    b.Mqci();
    b.Sfin(three);

    const TReadResult r = ReadBuilt(b);
    EXPECT_TRUE(r.Errors().empty());
    ASSERT_EQ(r.Sets().size(), 2u);
    const auto& files = r.Sets()[0].Files;
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].FilegroupID, 5);
    EXPECT_EQ(files[0].FilegroupName, u"");
    EXPECT_EQ(files[1].FileID, 3);
    EXPECT_EQ(files[1].FilegroupName, u"FIRST");
    EXPECT_EQ(files[1].LogicalName, u"catalog again");
    EXPECT_EQ(files[1].Size, 42);
    EXPECT_EQ(files[1].FileType, "F");
    ASSERT_EQ(r.Sets()[1].Files.size(), 1u);
    EXPECT_EQ(r.Sets()[1].Files[0].FilegroupName, u"");
}

TEST(Sfin, Flags)
{
    struct TCase {
        uint32_t Flags;
        bool ReadOnly, Present;
    };
    for (const TCase& c : std::vector<TCase>{
             {0x44, true, true}, {0x40, true, false}, {0x3B, false, false}, {0x04, false, true}}) {
        TFixtureBuilder b;
        b.Tape();
        b.Mqci();
        TSfinSpec sfin;
        sfin.Flags = c.Flags;
        b.Sfin(sfin);
        const TReadResult r = ReadBuilt(b);
        const TBackupFile& f = r.Sets().at(0).Files.at(0);
        EXPECT_EQ(f.IsReadOnly, c.ReadOnly) << c.Flags;
        EXPECT_EQ(f.IsPresent, c.Present) << c.Flags;
    }
}

TEST(Sfin, FileTypes)
{
    for (const auto& [code, letter] : std::vector<std::pair<uint32_t, std::string>>{
             {1, "D"}, {2, "L"}, {6, "F"}, {7, "S"}, {3, ""}, {0, ""}}) {
        TFixtureBuilder b;
        b.Tape();
        b.Mqci();
        TSfinSpec sfin;
        sfin.TypeCode = code;
        b.Sfin(sfin);
        EXPECT_EQ(ReadBuilt(b).Sets().at(0).Files.at(0).FileType, letter) << code;
    }
}

TEST(FilegroupAndFileBlocks, Shortages)
{
    struct TCase {
        const char* Name;
        std::function<size_t(TFixtureBuilder&)> Build;
        size_t Keep;
        std::vector<std::string> Errors;
    };
    TSfinSpec longDeclared;
    longDeclared.DeclaredSize = 5000;
    const std::vector<TCase> cases = {
        // Fewer than 22 bytes left: the stream step stops before the SFGI header check.
        {"SFGI header",
         [](TFixtureBuilder& b) { return b.Sfgi(1, u"PRIMARY"); },
         19,
         {"Insufficient data for stream block.  Required: 22 bytes, available: 19 bytes"}},
        {"SFGI declared beyond the file",
         [](TFixtureBuilder& b) { return b.Sfgi(1, u"PRIMARY", 100); },
         34,
         {"Insufficient data for SFGI stream block.  Required: 100 bytes, available: 34 bytes"}},
        {"SFIN header",
         [](TFixtureBuilder& b) { return b.Sfin(); },
         293,
         {"Insufficient data for SFIN stream block header.  Required: 294 bytes, available: 293 bytes"}},
        {"SFIN declared beyond the file",
         [longDeclared](TFixtureBuilder& b) { return b.Sfin(longDeclared); },
         340,
         {"Insufficient data for SFIN stream block.  Required: 5000 bytes, available: 340 bytes"}},
    };
    for (const TCase& c : cases) {
        TFixtureBuilder b;
        b.Tape();
        b.Mqci();
        const size_t at = c.Build(b);
        b.Data.resize(at + c.Keep);
        const TReadResult r = ReadBuilt(b);
        EXPECT_EQ(r.Errors(), c.Errors) << c.Name;
        EXPECT_TRUE(r.Sets().at(0).Files.empty()) << c.Name;
        EXPECT_EQ(TMTFReaderProbe(*r.Reader).Start(), static_cast<int64_t>(at)) << c.Name;
    }
}

TEST(FilegroupAndFileBlocks, DeclaredSizeOf2To31)
{
    TFixtureBuilder b;
    b.Tape();
    b.Mqci();
    b.Sfgi(4, u"HUGE", static_cast<int32_t>(0x80000000u));
    const TReadResult r = ReadBuilt(b);
    ASSERT_EQ(TMTFReaderProbe(*r.Reader).Filegroups().size(), 1u);
    EXPECT_EQ(TMTFReaderProbe(*r.Reader).Filegroups()[0], std::make_pair(std::u16string(), int32_t{4}));
    EXPECT_EQ(TMTFReaderProbe(*r.Reader).Start(), static_cast<int64_t>(b.Size() - 28) + 0x80000000LL);
}

}  // namespace
