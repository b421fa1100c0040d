// tarnwick-plan run as a user runs it, on folders of files the fixture builder writes.

#include "uFixtureBuilder.h"
#include "uPlanJson.h"
#include "uRestorePlanFiles.h"
#include "uRestorePlanText.h"
#include "uRunCommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

const std::string Tool = TARNWICK_PLAN;

TMTFDateParts At(int minutes)
{
    return {2021, 3, 4, minutes / 60, minutes % 60, 0};
}

TPlanSetSpec Set(char type, uint32_t id, uint64_t first, uint64_t last, int endMinute, uint16_t position = 1)
{
    return PlanSetAt(type, id, first, last, endMinute, position);
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

// A DBA's folder: a full striped over two files in a subfolder, a differential, two log
// backups appended to one file two folders down, and files that are no backups.
class PlanFolder : public testing::Test {
protected:
    void SetUp() override
    {
        namespace fs = std::filesystem;
        fs::create_directories(Dir.Path("full"));
        fs::create_directories(Dir.Path("log/2021-03"));
        const TPlanSetSpec full = Set('D', 1, 100, 120, 60);
        for (int sequence : {1, 2}) {
            TFixtureBuilder stripe;
            stripe.BackupFile({PlanSet(full)}, Stripe(2, sequence));
            stripe.WriteTo(Dir.Path("full/sales-" + std::to_string(sequence) + ".bak"));
        }
        TPlanSetSpec diff = Set('I', 2, 300, 320, 180);
        diff.DifferentialBaseGUID = full.BackupSetGUID;
        diff.DatabaseBackupLSN = full.CheckpointLSN;
        TFixtureBuilder differential;
        differential.BackupFile({PlanSet(diff)});
        differential.WriteTo(Dir.Path("sales-diff.bak"));
        TFixtureBuilder logs;
        logs.BackupFile({PlanSet(Set('L', 11, 100, 310, 170, 1)), PlanSet(Set('L', 12, 310, 400, 240, 2))});
        logs.WriteTo(Dir.Path("log/2021-03/sales.trn"));
        std::ofstream(Dir.Path("readme.txt")) << "weekly fulls on Sunday\n";
        std::ofstream(Dir.Path("log/empty.dat"));
    }

    TTempDir Dir;
};

TEST_F(PlanFolder, JsonPlansTheFolderAndListsWhatIsNoBackup)
{
    const TCommandRun run = RunCommand(Tool + " --json " + Quoted(Dir.Dir()) + " 2>/dev/null");
    ASSERT_EQ(run.Status, 0);
    const auto j = nlohmann::ordered_json::parse(run.Output);
    ASSERT_EQ(j["databases"].size(), 1u);
    const auto& db = j["databases"][0];
    std::vector<std::string> keys;
    for (const auto& item : db.items())
        keys.push_back(item.key());
    EXPECT_EQ(keys, (std::vector<std::string>{"name", "server", "binding_id", "recovery_model", "target",
                                              "complete", "restores_to", "steps", "findings", "unused"}));
    EXPECT_EQ(db["name"], "Sales");
    EXPECT_EQ(db["server"], "SQLHOST01\\PROD");
    EXPECT_EQ(db["complete"], true);
    EXPECT_EQ(db["target"]["lsn"], "400");
    EXPECT_EQ(db["restores_to"]["lsn"], "400");
    EXPECT_EQ(db["restores_to"]["time"], "2021-03-04T04:00:00");
    ASSERT_EQ(db["steps"].size(), 3u);
    const auto& full = db["steps"][0];
    EXPECT_EQ(full["kind"], "full");
    EXPECT_EQ(full["position"], 1);
    EXPECT_EQ(full["files"],
              nlohmann::ordered_json({Dir.Dir() + "/full/sales-1.bak", Dir.Dir() + "/full/sales-2.bak"}));
    EXPECT_EQ(full["first_lsn"], "100");
    EXPECT_EQ(full["last_lsn"], "120");
    EXPECT_EQ(full["finish"], "2021-03-04T01:00:00");
    EXPECT_EQ(db["steps"][1]["kind"], "differential");
    EXPECT_EQ(db["steps"][2]["kind"], "log");
    EXPECT_EQ(db["steps"][2]["position"], 2);
    EXPECT_EQ(db["steps"][2]["files"][0], Dir.Dir() + "/log/2021-03/sales.trn");
    EXPECT_TRUE(db["findings"].empty());
    ASSERT_EQ(db["unused"].size(), 1u);
    EXPECT_EQ(db["unused"][0]["position"], 1);
    ASSERT_EQ(j["skipped"].size(), 2u);
    EXPECT_EQ(j["skipped"][0]["file"], Dir.Dir() + "/log/empty.dat");
    EXPECT_EQ(j["skipped"][1]["file"], Dir.Dir() + "/readme.txt");
    EXPECT_NE(j["skipped"][1]["reason"].get<std::string>().find("tape header"), std::string::npos);
}

TEST_F(PlanFolder, ScriptAndTextAreThePlannersOwn)
{
    // The tool and the window's planner must agree: the same files, the same options.
    const std::vector<TPlanFile> files = ReadPlanFiles(FindPlanInputs({Dir.Dir()}).Files, 2);
    TScriptOptions script;
    script.DataDir = "D:\\Data";
    script.LogDir = "L:\\Log";
    script.ServerDir = "\\\\backup\\sql";
    script.Replace = true;
    script.As = u"Sales_copy";
    const TCommandRun sql =
        RunCommand(Tool +
                   " --sql --database Sales --as Sales_copy --replace --data-dir 'D:\\Data' --log-dir "
                   "'L:\\Log' --server-dir '\\\\backup\\sql' " +
                   Quoted(Dir.Dir()));
    EXPECT_EQ(sql.Status, 0);
    EXPECT_EQ(sql.Output, RestoreScript(PlanRestores(files), script));
    EXPECT_NE(
        sql.Output.find("RESTORE DATABASE [Sales_copy] FROM DISK = N'\\\\backup\\sql\\sales-1.bak', DISK = "
                        "N'\\\\backup\\sql\\sales-2.bak' WITH FILE = 1, MOVE N'Sales' TO "
                        "N'D:\\Data\\Sales.mdf', MOVE N'Sales_log' TO N'L:\\Log\\Sales_log.ldf', REPLACE, "
                        "NORECOVERY, STATS = 10;\nGO\n"),
        std::string::npos)
        << sql.Output;

    const TCommandRun text = RunCommand(Tool + " " + Quoted(Dir.Dir()));
    EXPECT_EQ(text.Status, 0);
    EXPECT_EQ(text.Output, RestorePlansText(PlanRestores(files)));
}

TEST_F(PlanFolder, ClosedStandardOutputDoesNotEndTheRunBadly)
{
    const TCommandRun run = RunCommand(Tool + " --json " + Quoted(Dir.Dir()) + " >&- 2>/dev/null; echo $?");
    EXPECT_EQ(run.Output, "0\n");
}

TEST_F(PlanFolder, PointInTimeOnTheCommandLine)
{
    const TCommandRun run = RunCommand(Tool + " --json --at 2021-03-04T03:10:00 " + Quoted(Dir.Dir()));
    ASSERT_EQ(run.Status, 0);
    const auto j = nlohmann::ordered_json::parse(run.Output);
    const auto& db = j["databases"][0];
    EXPECT_EQ(db["target"]["time"], "2021-03-04T03:10:00");
    EXPECT_EQ(db["restores_to"]["lsn"], nullptr);
    ASSERT_EQ(db["steps"].size(), 3u);
    for (const auto& step : db["steps"])
        EXPECT_EQ(step["stop_at"], "2021-03-04T03:10:00");
}

struct TStatusCase {
    const char* Name;
    std::string Arguments;
    int Status;
    std::string Stderr;  // a part of standard error
};

TEST(PlanTool, ExitStatusAndMessages)
{
    TTempDir dir;
    const std::string missing = dir.Path("nothing-here.bak");
    const std::vector<TStatusCase> cases = {
        {"nothing could be read", Quoted(missing), 1,
         "tarnwick-plan: " + missing + ": No such file or directory"},
        {"an empty folder", Quoted(dir.Dir()), 1, ""},
        {"a time that does not exist", "--at 2021-02-29T10:00:00 " + Quoted(dir.Dir()), 2, "--at"},
        {"two output forms", "--json --sql " + Quoted(dir.Dir()), 2, "excludes"},
        {"a new name without a database", "--as Copy " + Quoted(dir.Dir()), 2, "--database"},
        {"no path", "", 2, "PATH"},
    };
    for (const TStatusCase& c : cases) {
        const TCommandRun run = RunCommand(Tool + " " + c.Arguments + " 2>&1 >/dev/null");
        EXPECT_EQ(run.Status, c.Status) << c.Name;
        EXPECT_NE(run.Output.find(c.Stderr), std::string::npos) << c.Name << ": " << run.Output;
    }
}

TEST(PlanTool, VersionAndHelp)
{
    const TCommandRun version = RunCommand(Tool + " --version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Output, "tarnwick-plan " TARNWICK_VERSION_TEXT "\n");
    const TCommandRun help = RunCommand(Tool + " --help");
    EXPECT_EQ(help.Status, 0);
    for (const char* part :
         {"--text", "--json", "--sql", "--at", "--database", "--as", "--data-dir", "--log-dir",
          "--server-dir", "--replace", "--target-version", "--jobs", "--version", "PATH", "Exit status: 0",
          "1 when nothing could be read", "2 on a usage error"})
        EXPECT_NE(help.Output.find(part), std::string::npos) << part;
}

}  // namespace
