// Restore planning over scenarios of generated backup files: which sets a plan takes, in
// which order, what it reports, and the texts and T-SQL script made from it.

#include "uFixtureBuilder.h"
#include "uMemoryFile.h"
#include "uRestorePlan.h"
#include "uRestorePlanFiles.h"
#include "uRestorePlanText.h"
#include "uTextConvert.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// Times are minutes after midnight of 4 March 2021; LSNs are small plain numbers.
TMTFDateParts At(int minutes)
{
    return {2021, 3, 4, minutes / 60, minutes % 60, 0};
}

TDateTime Time(int minutes)
{
    return ExpectedDate(At(minutes));
}

TPlanSetSpec Backup(char type, uint32_t id, uint64_t first, uint64_t last, int endMinute)
{
    return PlanSetAt(type, id, first, last, endMinute);
}

TPlanSetSpec Full(uint32_t id, uint64_t first, uint64_t last, int endMinute)
{
    return Backup('D', id, first, last, endMinute);
}

TPlanSetSpec Log(uint32_t id, uint64_t first, uint64_t last, int endMinute)
{
    return Backup('L', id, first, last, endMinute);
}

// A differential on the full `base` (whose id and checkpoint LSN it names).
TPlanSetSpec Diff(uint32_t id, const TPlanSetSpec& base, uint64_t first, uint64_t last, int endMinute)
{
    TPlanSetSpec s = Backup('I', id, first, last, endMinute);
    s.DifferentialBaseGUID = base.BackupSetGUID;
    s.DatabaseBackupLSN = base.CheckpointLSN;
    return s;
}

template <typename F> TPlanSetSpec With(TPlanSetSpec s, F change)
{
    change(s);
    return s;
}

struct TScenarioFile {
    std::string Name;
    std::vector<TPlanSetSpec> Sets;  // appended in order: positions 1, 2, 3 ...
    int32_t StripeCount = 1;
    int32_t StripeSequence = 1;
};

std::vector<uint8_t> FileBytes(const TScenarioFile& file)
{
    std::vector<TBackupSetSpec> sets;
    for (size_t i = 0; i < file.Sets.size(); ++i) {
        TPlanSetSpec spec = file.Sets[i];
        spec.Position = static_cast<uint16_t>(i + 1);
        sets.push_back(PlanSet(spec));
    }
    TFixtureBuilder b;
    b.BackupFile(sets, Stripe(file.StripeCount, file.StripeSequence));
    return b.Data;
}

std::vector<TPlanFile> ReadScenario(const std::vector<TScenarioFile>& scenario)
{
    auto api = std::make_shared<TMemoryFileApi>();
    for (const TScenarioFile& file : scenario)
        api->Add(file.Name, FileBytes(file));
    std::vector<TPlanFile> files;
    for (const TScenarioFile& file : scenario) {
        TReadOptions options;
        options.Api = api;
        files.push_back({file.Name, ReadBackupFile(Utf8ToUtf16(file.Name), options)});
    }
    return files;
}

// "full a.bak+b.bak #1": a step as the expectations state it.
std::string StepText(const TPlanStep& step)
{
    std::string files;
    for (const std::string& file : step.Files)
        files += (files.empty() ? "" : "+") + file;
    return std::string(PlanStepKindName(step.Kind)) + " " + files + " #" + std::to_string(step.Position);
}

struct TScenario {
    std::string Name;
    std::vector<TScenarioFile> Files;
    std::optional<int> AtMinute;
    std::optional<int32_t> TargetVersion;
    // Expectations for the first database (by name, then binding ID).
    std::vector<std::string> Steps;
    bool Complete = true;
    std::vector<std::string> Findings;  // "severity code", in order
    std::vector<std::string> Unused;    // "file #position"
    size_t Databases = 1;
};

void PrintTo(const TScenario& s, std::ostream* os)
{
    *os << s.Name;
}

const TPlanSetSpec F1 = Full(1, 100, 120, 60);
const TPlanSetSpec F1Simple = With(F1, [](TPlanSetSpec& s) { s.RecoveryModelCode = 8; });

std::vector<TScenario> Scenarios()
{
    std::vector<TScenario> list;
    list.push_back({"FullDifferentialLogs",
                    {{"full.bak", {F1}},
                     {"diff.bak", {Diff(2, F1, 300, 320, 180)}},
                     {"log.trn", {Log(11, 90, 200, 120), Log(12, 200, 400, 240), Log(13, 400, 500, 300)}}},
                    {},
                    {},
                    {"full full.bak #1", "differential diff.bak #1", "log log.trn #2", "log log.trn #3"},
                    true,
                    {},
                    {"log.trn #1"}});
    list.push_back({"TwoDifferentialsOnOneFullTakeTheLatest",
                    {{"full.bak", {F1}},
                     {"diff.bak", {Diff(2, F1, 300, 320, 180), Diff(3, F1, 400, 420, 250)}},
                     {"log.trn", {Log(11, 100, 300, 120), Log(12, 300, 450, 240), Log(13, 450, 500, 300)}}},
                    {},
                    {},
                    {"full full.bak #1", "differential diff.bak #2", "log log.trn #2", "log log.trn #3"},
                    true,
                    {},
                    {"log.trn #1", "diff.bak #1"}});
    list.push_back({"NewerFullWithoutDifferentialsNeedsFewerSteps",
                    {{"full1.bak", {F1}},
                     {"diff1.bak", {Diff(2, F1, 300, 320, 180)}},
                     {"full2.bak", {Full(3, 400, 420, 250)}},
                     {"log.trn", {Log(11, 100, 300, 120), Log(12, 300, 450, 240), Log(13, 450, 600, 300)}}},
                    {},
                    {},
                    {"full full2.bak #1", "log log.trn #2", "log log.trn #3"},
                    true,
                    {},
                    {"full1.bak #1", "log.trn #1", "diff1.bak #1"}});
    // The copy-only full is newer, but the differential is based on the full before it;
    // a planner that paired them would restore in four steps from the copy-only full.
    list.push_back({"CopyOnlyFullIsNoDifferentialBase",
                    {{"full.bak", {F1}},
                     {"copy.bak", {With(Full(4, 200, 220, 100), [](TPlanSetSpec& s) { s.CopyOnly = true; })}},
                     {"diff.bak", {Diff(2, F1, 300, 320, 180)}},
                     {"log.trn",
                      {Log(11, 100, 230, 90), Log(12, 230, 260, 110), Log(13, 260, 300, 150),
                       Log(14, 300, 330, 190), Log(15, 330, 400, 230)}}},
                    {},
                    {},
                    {"full full.bak #1", "differential diff.bak #1", "log log.trn #4", "log log.trn #5"},
                    true,
                    {},
                    {"copy.bak #1", "log.trn #1", "log.trn #2", "log.trn #3"}});
    list.push_back(
        {"CopyOnlyLogDoesNotBreakTheChain",
         {{"full.bak", {F1}},
          {"log.trn",
           {Log(11, 100, 200, 90), With(Log(12, 200, 250, 100), [](TPlanSetSpec& s) { s.CopyOnly = true; }),
            Log(13, 200, 300, 120), Log(14, 300, 400, 150)}}},
         {},
         {},
         {"full full.bak #1", "log log.trn #1", "log log.trn #3", "log log.trn #4"},
         true,
         {},
         {"log.trn #2"}});
    list.push_back({"MissingLogBridgedByLaterDifferential",
                    {{"full.bak", {F1}},
                     {"diff.bak", {Diff(2, F1, 310, 350, 200)}},
                     {"log.trn", {Log(11, 100, 200, 90), Log(13, 300, 400, 240), Log(14, 400, 500, 300)}}},
                    {},
                    {},
                    {"full full.bak #1", "differential diff.bak #1", "log log.trn #2", "log log.trn #3"},
                    true,
                    {},
                    {"log.trn #1"}});
    list.push_back({"MissingLogLeavesAGap",
                    {{"full.bak", {F1}}, {"log.trn", {Log(11, 100, 200, 90), Log(13, 300, 400, 240)}}},
                    {},
                    {},
                    {"full full.bak #1", "log log.trn #1"},
                    false,
                    {"error log-gap"},
                    {"log.trn #2"}});
    list.push_back({"StripeMissingFromNewestFullFallsBackToOlderFull",
                    {{"old-1.bak", {F1}, 2, 1},
                     {"old-2.bak", {F1}, 2, 2},
                     {"new-1.bak", {Full(3, 400, 420, 250)}, 2, 1},
                     {"log.trn", {Log(11, 100, 300, 120), Log(12, 300, 450, 240)}}},
                    {},
                    {},
                    {"full old-1.bak+old-2.bak #1", "log log.trn #1", "log log.trn #2"},
                    true,
                    {"error missing-stripe"},
                    {"new-1.bak #1"}});
    // Copies of a stripe count once; the stripes go in family order, not in name order.
    list.push_back({"DuplicateStripeCopiesCountOnce",
                    {{"a-second.bak", {F1}, 2, 2},
                     {"b-first.bak", {F1}, 2, 1},
                     {"c-second-copy.bak", {F1}, 2, 2},
                     {"log.trn", {Log(11, 100, 200, 90)}}},
                    {},
                    {},
                    {"full b-first.bak+a-second.bak #1", "log log.trn #1"},
                    true,
                    {},
                    {"c-second-copy.bak #1"}});
    list.push_back({"LogBeginsBeforeTheFullItFollows",
                    {{"full.bak", {Full(1, 150, 200, 60)}},
                     {"log.trn", {Log(11, 100, 250, 90), Log(12, 250, 300, 120)}}},
                    {},
                    {},
                    {"full full.bak #1", "log log.trn #1", "log log.trn #2"},
                    true,
                    {},
                    {}});
    list.push_back({"LogThatEndsInsideTheFullIsSkipped",
                    {{"full.bak", {Full(1, 150, 200, 60)}},
                     {"log.trn", {Log(11, 100, 180, 50), Log(12, 180, 260, 120)}}},
                    {},
                    {},
                    {"full full.bak #1", "log log.trn #2"},
                    true,
                    {},
                    {"log.trn #1"}});
    list.push_back({"PointInTimeBetweenTwoLogs",
                    {{"full.bak", {F1}},
                     {"log.trn", {Log(11, 100, 200, 120), Log(12, 200, 300, 180), Log(13, 300, 400, 240)}}},
                    150,
                    {},
                    {"full full.bak #1", "log log.trn #1", "log log.trn #2"},
                    true,
                    {},
                    {"log.trn #3"}});
    list.push_back({"PointInTimeBeforeTheFirstFullEnds",
                    {{"full.bak", {F1}}, {"log.trn", {Log(11, 100, 200, 120)}}},
                    30,
                    {},
                    {},
                    false,
                    {"error no-full-backup"},
                    {"full.bak #1", "log.trn #1"}});
    list.push_back(
        {"SimpleModelHasNoLogsAndNoPointInTime",
         {{"full.bak", {F1Simple}},
          {"diff.bak",
           {With(Diff(2, F1Simple, 300, 320, 180), [](TPlanSetSpec& s) { s.RecoveryModelCode = 8; })}}},
         200,
         {},
         {"full full.bak #1", "differential diff.bak #1"},
         false,
         {"error no-point-in-time"},
         {}});
    list.push_back({"TwoDatabasesOfOneNameArePlannedApart",
                    {{"a.bak", {F1}},
                     {"b.bak",
                      {With(Full(7, 5000, 5100, 90),
                            [](TPlanSetSpec& s) {
                                s.BindingID = NumberedGuid(0x10, 99);
                                s.ServerName = u"OTHERHOST";
                            })}},
                     {"a.trn", {Log(11, 100, 200, 100)}}},
                    {},
                    {},
                    {"full a.bak #1", "log a.trn #1"},
                    true,
                    {},
                    {},
                    2});
    list.push_back({"DifferentialWithoutItsBase",
                    {{"full.bak", {F1}}, {"diff.bak", {Diff(2, Full(9, 50, 60, 30), 300, 320, 180)}}},
                    {},
                    {},
                    {"full full.bak #1"},
                    false,
                    {"error target-not-reached", "warning missing-differential-base"},
                    {"diff.bak #1"}});
    list.push_back(
        {"LogsOfAnotherRecoveryForkDoNotFollow",
         {{"full.bak", {F1}},
          {"log.trn",
           {Log(11, 100, 200, 90), With(Log(12, 200, 300, 120),
                                        [](TPlanSetSpec& s) { s.RecoveryForkID = NumberedGuid(0x20, 2); })}}},
         {},
         {},
         {"full full.bak #1", "log log.trn #1"},
         false,
         {"warning recovery-fork"},
         {"log.trn #2"}});
    list.push_back(
        {"FlagsOfTheSetsUsedAreReported",
         {{"full.bak",
           {With(F1,
                 [](TPlanSetSpec& s) {
                     s.Damaged = true;
                     s.VersionMajor = 16;
                 })}},
          {"log.trn",
           {With(Log(11, 100, 200, 90),
                 [](TPlanSetSpec& s) {
                     s.Password = u"secret";
                     s.IncompleteMetadata = true;
                 })}}},
         {},
         15,
         {"full full.bak #1", "log log.trn #1"},
         true,
         {"error newer-version", "warning damaged-set", "warning incomplete-metadata", "warning password"},
         {}});
    list.push_back({"BulkLoggedLogCannotHoldTheStop",
                    {{"full.bak", {F1}},
                     {"log.trn",
                      {With(Log(11, 100, 200, 120),
                            [](TPlanSetSpec& s) {
                                s.BulkLogged = true;
                                s.RecoveryModelCode = 4;
                            })}}},
                    100,
                    {},
                    {"full full.bak #1", "log log.trn #1"},
                    true,
                    {"error bulk-logged-stop"},
                    {}});
    return list;
}

class RestorePlanScenario : public testing::TestWithParam<TScenario> {};

TEST_P(RestorePlanScenario, PlansTheExpectedSteps)
{
    const TScenario& s = GetParam();
    TPlanOptions options;
    if (s.AtMinute)
        options.At = Time(*s.AtMinute);
    options.TargetVersion = s.TargetVersion;
    const TRestorePlans plans = PlanRestores(ReadScenario(s.Files), options);
    ASSERT_EQ(plans.Databases.size(), s.Databases);
    EXPECT_TRUE(plans.Skipped.empty());
    const TDatabasePlan& plan = plans.Databases.front();

    std::vector<std::string> steps, findings, unused;
    for (const TPlanStep& step : plan.Steps)
        steps.push_back(StepText(step));
    for (const TPlanFinding& finding : plan.Findings) {
        findings.push_back(std::string(FindingSeverityName(finding.Severity)) + " " + finding.Code);
        EXPECT_FALSE(finding.Message.empty()) << finding.Code;
    }
    for (const TPlanUnused& u : plan.Unused) {
        unused.push_back(u.File + " #" + std::to_string(u.Position));
        EXPECT_FALSE(u.Reason.empty()) << u.File;
    }
    EXPECT_EQ(steps, s.Steps);
    EXPECT_EQ(plan.Complete, s.Complete);
    EXPECT_EQ(findings, s.Findings);
    EXPECT_EQ(unused, s.Unused);
    // A point-in-time plan stops every step at the time, unless the model forbids it.
    const bool stops = s.AtMinute && plan.RecoveryModel != "SIMPLE";
    for (const TPlanStep& step : plan.Steps) {
        ASSERT_EQ(step.StopAt.has_value(), stops) << StepText(step);
        if (stops) {
            EXPECT_EQ(*step.StopAt, Time(*s.AtMinute));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, RestorePlanScenario, testing::ValuesIn(Scenarios()),
                         [](const testing::TestParamInfo<TScenario>& info) { return info.param.Name; });

const TScenario& Named(const std::string& name)
{
    static const std::vector<TScenario> all = Scenarios();
    for (const TScenario& s : all)
        if (s.Name == name)
            return s;
    throw std::runtime_error("no scenario " + name);
}

TRestorePlans PlanNamed(const std::string& name, const TPlanOptions& options = {})
{
    return PlanRestores(ReadScenario(Named(name).Files), options);
}

TEST(RestorePlan, TargetAndReachAreLSNsNotDates)
{
    // The full and its differential carry the same second; the LSNs still order them.
    const TPlanSetSpec full = Full(1, 100, 120, 60);
    const TRestorePlans plans =
        PlanRestores(ReadScenario({{"full.bak", {full}}, {"diff.bak", {Diff(2, full, 130, 140, 60)}}}));
    ASSERT_EQ(plans.Databases.size(), 1u);
    const TDatabasePlan& plan = plans.Databases[0];
    EXPECT_EQ(ToString(plan.TargetLSN), "140");
    ASSERT_TRUE(plan.RestoresToLSN);
    EXPECT_EQ(ToString(*plan.RestoresToLSN), "140");
    EXPECT_EQ(plan.RestoresToTime, Time(60));
    ASSERT_EQ(plan.Steps.size(), 2u);
    EXPECT_EQ(plan.Steps[1].Kind, TPlanStepKind::Differential);
}

TEST(RestorePlan, LogGapNamesTheLostRangeAndTheLastPoint)
{
    const TRestorePlans plans = PlanNamed("MissingLogLeavesAGap");
    const TDatabasePlan& plan = plans.Databases.at(0);
    ASSERT_EQ(plan.Findings.size(), 1u);
    const std::string& message = plan.Findings[0].Message;
    for (const char* part : {"LSN 200 to 300", "2021-03-04T01:30:00", "2021-03-04T03:59:00", "log.trn",
                             "restored up to LSN 200"})
        EXPECT_NE(message.find(part), std::string::npos) << part << " in: " << message;
    EXPECT_EQ(ToString(*plan.RestoresToLSN), "200");
    EXPECT_EQ(ToString(plan.TargetLSN), "400");
}

TEST(RestorePlan, MissingStripeNamesTheSequenceNumbers)
{
    const TRestorePlans plans = PlanNamed("StripeMissingFromNewestFullFallsBackToOlderFull");
    const std::string& message = plans.Databases.at(0).Findings.at(0).Message;
    EXPECT_NE(message.find("1 of its 2 stripes: stripe 2 is missing"), std::string::npos) << message;
    EXPECT_NE(message.find("new-1.bak"), std::string::npos) << message;
}

TEST(RestorePlan, PointInTimeRestoresToTheTimeWithoutAnLSN)
{
    TPlanOptions options;
    options.At = Time(150);
    const TDatabasePlan plan = PlanNamed("PointInTimeBetweenTwoLogs", options).Databases.at(0);
    EXPECT_FALSE(plan.RestoresToLSN);
    EXPECT_EQ(plan.RestoresToTime, Time(150));
    ASSERT_TRUE(plan.TargetTime);
}

TEST(RestorePlan, SkipsWhatIsNoBackupAndKeepsTheRest)
{
    auto api = std::make_shared<TMemoryFileApi>();
    TFixtureBuilder backup;
    backup.BackupFile({PlanSet(F1)});
    api->Add("full.bak", backup.Data);
    api->Add("notes.txt", std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o'});
    TFixtureBuilder mediaOnly;
    mediaOnly.MediaHeader();
    api->Add("empty.bak", mediaOnly.Data);
    std::vector<TPlanFile> files;
    for (const char* name : {"notes.txt", "full.bak", "empty.bak", "gone.bak"}) {
        TReadOptions options;
        options.Api = api;
        files.push_back({name, ReadBackupFile(Utf8ToUtf16(name), options)});
    }
    const TRestorePlans plans = PlanRestores(files);
    ASSERT_EQ(plans.Databases.size(), 1u);
    EXPECT_TRUE(plans.Databases[0].Complete);
    ASSERT_EQ(plans.Skipped.size(), 3u);
    EXPECT_EQ(plans.Skipped[0].File, "notes.txt");
    EXPECT_NE(plans.Skipped[0].Reason.find("tape header"), std::string::npos);
    EXPECT_EQ(plans.Skipped[1].File, "empty.bak");
    EXPECT_EQ(plans.Skipped[1].Reason, "holds no backup set");
    EXPECT_EQ(plans.Skipped[2].File, "gone.bak");
    EXPECT_NE(plans.Skipped[2].Reason.find("could not be opened"), std::string::npos);
}

TEST(RestorePlan, DatabaseOptionRestrictsThePlans)
{
    TPlanOptions options;
    options.Database = u"Other";
    EXPECT_TRUE(PlanNamed("FullDifferentialLogs", options).Databases.empty());
    options.Database = u"Sales";
    EXPECT_EQ(PlanNamed("FullDifferentialLogs", options).Databases.size(), 1u);
}

struct TTimeCase {
    const char* Text;
    bool Valid;
};

TEST(RestorePlan, ParsesOnlyWholeIsoTimes)
{
    const TTimeCase cases[] = {{"2021-03-04T02:30:00", true},  {"2021-03-04 02:30:00", true},
                               {"2021-02-29T02:30:00", false}, {"2021-03-04T24:00:00", false},
                               {"2021-03-04T02:30", false},    {"2021-03-04T02:30:00Z", false},
                               {"2021/03/04T02:30:00", false}, {"", false}};
    for (const TTimeCase& c : cases) {
        const std::optional<TDateTime> parsed = ParsePlanTime(c.Text);
        EXPECT_EQ(parsed.has_value(), c.Valid) << c.Text;
        if (parsed) {
            EXPECT_EQ(PlanTimeText(*parsed), "2021-03-04T02:30:00") << c.Text;
        }
    }
}

// Several readers at once: the reports still come back in the order of the files, and a
// callback that answers false stops the reading.
TEST(ReadPlanFiles, KeepsTheOrderOfTheFilesAndStopsWhenAsked)
{
    TTempDir dir;
    std::vector<std::string> paths;
    for (uint32_t i = 1; i <= 6; ++i) {
        TFixtureBuilder b;
        b.BackupFile({PlanSet(Log(i, 100 * i, 100 * i + 100, 60 + static_cast<int>(i)))});
        paths.push_back(dir.Path("log" + std::to_string(i) + ".trn"));
        b.WriteTo(paths.back());
    }
    size_t calls = 0;
    const std::vector<TPlanFile> all =
        ReadPlanFiles(paths, 3, [&](const TPlanFile& file, size_t done, size_t total) {
            ++calls;
            EXPECT_TRUE(file.Report.Opened) << file.Path;
            EXPECT_EQ(done, calls);
            EXPECT_EQ(total, paths.size());
            return true;
        });
    EXPECT_EQ(calls, paths.size());
    ASSERT_EQ(all.size(), paths.size());
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].Path, paths[i]);
        ASSERT_EQ(all[i].Report.Sets.size(), 1u) << paths[i];
        EXPECT_EQ(ToString(all[i].Report.Sets[0].Header.FirstLSN), std::to_string(100 * (i + 1)));
    }

    const std::vector<TPlanFile> stopped =
        ReadPlanFiles(paths, 1, [](const TPlanFile&, size_t done, size_t) { return done < 2; });
    ASSERT_EQ(stopped.size(), paths.size());
    for (size_t i = 0; i < stopped.size(); ++i) {
        EXPECT_EQ(stopped[i].Path, paths[i]);
        EXPECT_EQ(stopped[i].Report.Opened, i < 2) << i;
        EXPECT_EQ(stopped[i].Report.Cancelled, i >= 2) << i;
    }
}

// The script, checked to the character for a few plans.

TEST(RestoreScript, FullDifferentialLogsWithMovesAndReplace)
{
    TScriptOptions options;
    options.DataDir = "D:\\Data";
    options.LogDir = "/var/opt/mssql/log/";
    options.Replace = true;
    EXPECT_EQ(RestoreScript(PlanNamed("FullDifferentialLogs"), options),
              "-- Sales from SQLHOST01\\PROD: restores to LSN 500, 2021-03-04T05:00:00 (the target)\n"
              "RESTORE DATABASE [Sales] FROM DISK = N'full.bak' WITH FILE = 1, MOVE N'Sales' TO "
              "N'D:\\Data\\Sales.mdf', MOVE N'Sales_log' TO N'/var/opt/mssql/log/Sales_log.ldf', REPLACE, "
              "NORECOVERY, STATS = 10;\n"
              "GO\n"
              "RESTORE DATABASE [Sales] FROM DISK = N'diff.bak' WITH FILE = 1, NORECOVERY, STATS = 10;\n"
              "GO\n"
              "RESTORE LOG [Sales] FROM DISK = N'log.trn' WITH FILE = 2, NORECOVERY;\n"
              "GO\n"
              "RESTORE LOG [Sales] FROM DISK = N'log.trn' WITH FILE = 3, NORECOVERY;\n"
              "GO\n"
              "RESTORE DATABASE [Sales] WITH RECOVERY;\n"
              "GO\n");
}

TEST(RestoreScript, PointInTimeStopsEveryStepAndStripesGoInFamilyOrder)
{
    TPlanOptions planOptions;
    planOptions.At = Time(150);
    const TPlanSetSpec full = Full(1, 100, 120, 60);
    const TRestorePlans plans =
        PlanRestores(ReadScenario({{"s2.bak", {full}, 2, 2},
                                   {"s1.bak", {full}, 2, 1},
                                   {"log.trn", {Log(11, 100, 200, 120), Log(12, 200, 300, 180)}}}),
                     planOptions);
    TScriptOptions options;
    options.ServerDir = "E:\\Backups\\";
    EXPECT_EQ(
        RestoreScript(plans, options),
        "-- Sales from SQLHOST01\\PROD: restores to 2021-03-04T02:30:00 (the target)\n"
        "RESTORE DATABASE [Sales] FROM DISK = N'E:\\Backups\\s1.bak', DISK = N'E:\\Backups\\s2.bak' WITH "
        "FILE = 1, STOPAT = N'2021-03-04T02:30:00', NORECOVERY, STATS = 10;\n"
        "GO\n"
        "RESTORE LOG [Sales] FROM DISK = N'E:\\Backups\\log.trn' WITH FILE = 1, STOPAT = "
        "N'2021-03-04T02:30:00', NORECOVERY;\n"
        "GO\n"
        "RESTORE LOG [Sales] FROM DISK = N'E:\\Backups\\log.trn' WITH FILE = 2, STOPAT = "
        "N'2021-03-04T02:30:00', NORECOVERY;\n"
        "GO\n"
        "RESTORE DATABASE [Sales] WITH RECOVERY;\n"
        "GO\n");
}

TEST(RestoreScript, QuotesNamesWithBracketsQuotesAndBlanks)
{
    const TPlanSetSpec full = With(Full(1, 100, 120, 60), [](TPlanSetSpec& s) {
        s.DatabaseName = u"Sa]les 'EU'";
        TSfinSpec data;
        data.LogicalName = u"Sa]les 'EU'";
        data.PhysicalName = u"D:\\Data\\Sa]les 'EU'.mdf";
        s.Files = {data};
    });
    const TRestorePlans plans = PlanRestores(ReadScenario({{"it's full.bak", {full}}}));
    TScriptOptions options;
    options.DataDir = "/var/opt/mssql/data";
    EXPECT_EQ(
        RestoreScript(plans, options),
        "-- Sa]les 'EU' from SQLHOST01\\PROD: restores to LSN 120, 2021-03-04T01:00:00 (the target)\n"
        "RESTORE DATABASE [Sa]]les 'EU'] FROM DISK = N'it''s full.bak' WITH FILE = 1, MOVE N'Sa]les ''EU''' "
        "TO N'/var/opt/mssql/data/Sa]les ''EU''.mdf', NORECOVERY, STATS = 10;\n"
        "GO\n"
        "RESTORE DATABASE [Sa]]les 'EU'] WITH RECOVERY;\n"
        "GO\n");
    options.As = u"New]Name";
    EXPECT_NE(RestoreScript(plans, options).find("RESTORE DATABASE [New]]Name] FROM"), std::string::npos);
}

TEST(RestoreScript, PlanWithoutStepsIsCommentsOnly)
{
    TPlanOptions options;
    options.At = Time(30);
    const std::string script = RestoreScript(PlanNamed("PointInTimeBeforeTheFirstFullEnds", options));
    EXPECT_EQ(script.find("RESTORE"), std::string::npos) << script;
    EXPECT_NE(script.find("-- error no-full-backup: No complete full database backup ends at or before "
                          "2021-03-04T00:30:00"),
              std::string::npos)
        << script;
}

struct TFolderCase {
    const char* Folder;
    const char* Path;
    const char* Expected;
};

TEST(RestoreScript, PathInFolderUsesTheFoldersSeparator)
{
    const TFolderCase cases[] = {{"D:\\Data", "/srv/b/x.mdf", "D:\\Data\\x.mdf"},
                                 {"D:", "C:\\a\\x.mdf", "D:\\x.mdf"},
                                 {"/var/opt/mssql/data", "C:\\a\\x.mdf", "/var/opt/mssql/data/x.mdf"},
                                 {"/data//", "x.mdf", "/data/x.mdf"},
                                 {"\\\\nas\\share\\", "dir/x.bak", "\\\\nas\\share\\x.bak"}};
    for (const TFolderCase& c : cases)
        EXPECT_EQ(PathInFolder(c.Folder, c.Path), c.Expected) << c.Folder << " " << c.Path;
}

TEST(RestorePlanText, ShowsStepsFindingsUnusedAndSkipped)
{
    TRestorePlans plans = PlanNamed("MissingLogLeavesAGap");
    plans.Skipped.push_back({"notes.txt", "not a backup: it does not begin with a tape header"});
    const std::string text = RestorePlansText(plans);
    for (const std::string& part : std::vector<std::string>{
             "Database Sales on SQLHOST01\\PROD (binding ID {", "Target: the latest point, LSN 400",
             "Restores to: LSN 200, 2021-03-04T01:30:00 (short of the target)",
             "1.  full" + std::string(20, ' ') + "finished 2021-03-04T01:00:00   FILE = 1   full.bak\n",
             "2.  log" + std::string(21, ' ') + "finished 2021-03-04T01:30:00   FILE = 1   log.trn\n",
             "error log-gap: ", "Not needed:\n    log.trn, FILE = 2: beyond the point the plan reaches",
             "Skipped files:\n  notes.txt: not a backup"})
        EXPECT_NE(text.find(part), std::string::npos) << part << "\nin:\n" << text;
}

}  // namespace
