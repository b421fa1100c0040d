// The JSON interface of tarnwick-dump: its shape, its value forms and its exit status.

#include "uDateTime.h"
#include "uDumpJson.h"
#include "uFixtureBuilder.h"
#include "uRunCommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

namespace {

using TRun = TCommandRun;

TRun Dump(const std::string& arguments)
{
    return RunCommand(std::string(TARNWICK_DUMP) + " " + arguments + " 2>/dev/null");
}

std::string TwoSetFile(const TTempDir& dir)
{
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec first, second;
    second.Sset.Name = {u"Sales log \u00E9"};
    second.Sset.Password = {u"pw"};
    second.Scin.TypeLetter = 'L';
    second.Scin.Flags = 0xFFFFFFFF;
    second.Scin.FirstLSN = {INT32_MAX, INT32_MAX, 65535};
    b.BackupSet(first);
    b.BackupSet(second);
    const std::string path = dir.Path("two sets.bak");
    b.WriteTo(path);
    return path;
}

TEST(DumpJson, DocumentOfATwoSetFile)
{
    TTempDir dir;
    const std::string path = TwoSetFile(dir);
    const TRun run = Dump("--json '" + path + "'");
    ASSERT_EQ(run.Status, 0);
    const auto doc = nlohmann::ordered_json::parse(run.Output);
    EXPECT_EQ(doc["file"], path);
    EXPECT_EQ(doc["errors"], nlohmann::json::array());
    ASSERT_EQ(doc["sets"].size(), 2u);
    const auto& h0 = doc["sets"][0]["header"];
    const auto& h1 = doc["sets"][1]["header"];
    EXPECT_EQ(h0.begin().key(), "FileName");
    EXPECT_EQ(h0.size(), 51u);  // every field of the header
    EXPECT_EQ(h0["BackupName"], "Full backup");
    EXPECT_EQ(h1["BackupName"], "Sales log \u00E9");
    EXPECT_EQ(h1["HasPassword"], true);
    EXPECT_EQ(h1["Flags"], -1);
    EXPECT_EQ(h1["FirstLSN"], "2147483647214748364765535");
    EXPECT_EQ(h0["LastLSN"], "37000000044800001");
    EXPECT_EQ(h0["DatabaseBackupLSN"], "0");
    EXPECT_EQ(h0["BackupStartDate"], "2021-03-04T10:20:30");
    EXPECT_EQ(h0["BackupSetGUID"], "{44332211-6655-8877-99AA-BBCCDDEEFF01}");
    EXPECT_EQ(h0["BackupTypeDescription"], "Database");
    EXPECT_EQ(h1["BackupTypeCode"], "L");
    const auto& files = doc["sets"][0]["files"];
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].size(), 19u);
    EXPECT_EQ(files[0].begin().key(), "LogicalName");
    EXPECT_EQ(files[0]["PhysicalName"], "D:\\Data\\Sales.mdf");
    EXPECT_EQ(files[0]["FilegroupName"], "PRIMARY");
    EXPECT_EQ(files[0]["MaxSize"], -1);
    EXPECT_EQ(files[1]["FileType"], "L");
}

TEST(DumpJson, Dates)
{
    struct TCase {
        TDateTimeParts Parts;
        const char* Text;
    };
    for (const TCase& c : std::vector<TCase>{{{2010, 6, 15, 12, 30, 45}, "2010-06-15T12:30:45"},
                                             {{1899, 12, 29, 6, 0, 0}, "1899-12-29T06:00:00"},
                                             {{1, 1, 1, 23, 59, 59}, "0001-01-01T23:59:59"},
                                             {{1752, 9, 3, 0, 0, 1}, "1752-09-03T00:00:01"},
                                             {{9999, 12, 31, 23, 59, 59}, "9999-12-31T23:59:59"}}) {
        const auto value = EncodeDateTime(c.Parts);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(DateToJson(*value), c.Text);
    }
    EXPECT_TRUE(DateToJson(0).is_null());
}

TEST(DumpJson, SeveralFilesAndExitStatus)
{
    TTempDir dir;
    const std::string good = TwoSetFile(dir);
    const std::string notBackup = dir.Path("text.bak");
    TFixtureBuilder junk;
    junk.Ascii("ABCD").Zeros(60);
    junk.WriteTo(notBackup);

    const TRun both = Dump("--json '" + good + "' '" + notBackup + "'");
    EXPECT_EQ(both.Status, 0);  // a file that opens was read, whatever it holds
    const auto docs = nlohmann::json::parse(both.Output);
    ASSERT_TRUE(docs.is_array());
    ASSERT_EQ(docs.size(), 2u);
    EXPECT_EQ(docs[1]["errors"], nlohmann::json::array({"Unknown DBLKType: ABCD"}));
    EXPECT_EQ(docs[1]["sets"].size(), 1u);

    const TRun missing = Dump("--json '" + good + "' '" + dir.Path("missing.bak") + "'");
    EXPECT_EQ(missing.Status, 1);
    const auto withMissing = nlohmann::json::parse(missing.Output);
    ASSERT_EQ(withMissing.size(), 2u);
    EXPECT_EQ(withMissing[1]["sets"], nlohmann::json::array());
    ASSERT_EQ(withMissing[1]["errors"].size(), 2u);
    EXPECT_NE(
        withMissing[1]["errors"][0].get<std::string>().find("OpenTargetFile.CreateFile error: No such file"),
        std::string::npos);

    EXPECT_EQ(Dump("").Status, 2);
    EXPECT_EQ(Dump("--no-such-option x").Status, 2);
    const TRun help = Dump("--help");
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Output.find("Exit status"), std::string::npos);
}

}  // namespace
