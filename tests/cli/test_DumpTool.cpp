// tarnwick-dump as a user runs it: its version, its help, its messages on standard
// error, what it does when standard output fails or closes early, and control
// characters from a backup that must not reach a terminal as they are.

#include "uDumpJson.h"
#include "uDumpText.h"
#include "uFixtureBuilder.h"
#include "uRunCommand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct TToolRun {
    int Status = -1;
    std::string Output, Errors;
};

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The tool in a fixed locale, through the shell; `redirect` replaces the capture of
// standard output when given (">/dev/full", "| head -c 1").
TToolRun Tool(const TTempDir& dir, const std::string& arguments, const std::string& redirect = {})
{
    const std::string errors = dir.Path("stderr.txt");
    const std::string status = dir.Path("status.txt");
    TToolRun run;
    const std::string tool =
        "LC_ALL=en_US.UTF-8 " + std::string(TARNWICK_DUMP) + " " + arguments + " 2>'" + errors + "'";
    if (redirect.empty()) {
        const TCommandRun command = RunCommand(tool);
        run.Status = command.Status;
        run.Output = command.Output;
    } else {
        // The tool's own status, not that of the last command of a pipe.
        RunCommand("{ " + tool + "; echo $? >'" + status + "'; } " + redirect);
        run.Status = std::stoi("0" + ReadAll(status));
    }
    run.Errors = ReadAll(errors);
    return run;
}

std::string Quoted(const std::string& path)
{
    return "'" + path + "'";
}

// A set with enough files that either dump is larger than a pipe holds.
std::string ManyFiles(const TTempDir& dir)
{
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec spec;
    spec.Files.clear();
    for (int32_t id = 1; id <= 400; ++id) {
        TSfinSpec f;
        f.FileID = id;
        spec.Files.push_back(f);
    }
    b.BackupSet(spec);
    const std::string path = dir.Path("many files.bak");
    b.WriteTo(path);
    return path;
}

TEST(DumpTool, VersionAndHelp)
{
    TTempDir dir;
    const TToolRun version = Tool(dir, "--version");
    EXPECT_EQ(version.Status, 0);
    EXPECT_EQ(version.Output, std::string("tarnwick-dump ") + TARNWICK_VERSION + "\n");

    const TToolRun help = Tool(dir, "--help");
    EXPECT_EQ(help.Status, 0);
    for (const char* text : {"--help", "--version", "--json", "--log", "FILE",
                             "Exit status:", "  0  every file", "  1  a file could not be opened",
                             "  2  usage error", "  3  standard output", "  4  not enough memory"})
        EXPECT_NE(help.Output.find(text), std::string::npos) << text;
}

TEST(DumpTool, MessagesNameTheToolAndTheFile)
{
    TTempDir dir;
    const std::string missing = dir.Path("missing.bak");
    const std::string junk = dir.Path("junk.bak");
    TFixtureBuilder b;
    b.Raw(std::vector<uint8_t>{0x1F, 0x8B, 0x08, 0x00}).Zeros(60);
    b.WriteTo(junk);

    const TToolRun text = Tool(dir, Quoted(junk) + " " + Quoted(missing));
    EXPECT_EQ(text.Status, 1);
    EXPECT_TRUE(text.Errors.starts_with(
        "tarnwick-dump: " + junk +
        ": Unknown DBLKType: \\x1f\xE2\x80\xB9\\x08\\x00\n"  // 8B is U+2039 in Windows-1252
        "tarnwick-dump: " +
        junk +
        ": The file is not a Microsoft Tape Format backup: it looks like a "
        "gzip-compressed file, which may hold a backup to unpack first.\n"
        "tarnwick-dump: " +
        missing + ": "))
        << text.Errors;

    // The JSON holds the reasons, and standard error names the file that failed to open.
    const TToolRun json = Tool(dir, "--json " + Quoted(junk) + " " + Quoted(missing));
    EXPECT_EQ(json.Status, 1);
    EXPECT_TRUE(json.Errors.starts_with("tarnwick-dump: " + missing + ": ")) << json.Errors;
    EXPECT_EQ(json.Errors.find(junk), std::string::npos) << json.Errors;

    const TToolRun usage = Tool(dir, "--no-such-option " + Quoted(junk));
    EXPECT_EQ(usage.Status, 2);
    EXPECT_TRUE(usage.Errors.starts_with("tarnwick-dump: ")) << usage.Errors;
}

struct TOutputCase {
    const char* Name;
    const char* Arguments;
};

class DumpToolOutput : public testing::TestWithParam<TOutputCase> {};

TEST_P(DumpToolOutput, AFullDiskIsAnError)
{
    TTempDir dir;
    const std::string path = ManyFiles(dir);
    const TToolRun run = Tool(dir, std::string(GetParam().Arguments) + " " + Quoted(path), ">/dev/full");
    EXPECT_EQ(run.Status, 3);
    EXPECT_EQ(run.Errors, "tarnwick-dump: cannot write standard output: No space left on device\n");
}

TEST_P(DumpToolOutput, AClosedPipeEndsQuietly)
{
    TTempDir dir;
    const std::string path = ManyFiles(dir);
    // Twice the file: the tool must stop writing, not read on and fail later.
    const TToolRun run =
        Tool(dir, std::string(GetParam().Arguments) + " " + Quoted(path) + " " + Quoted(path),
             "| head -c 1 >/dev/null");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Errors, "");
}

INSTANTIATE_TEST_SUITE_P(Forms, DumpToolOutput,
                         testing::Values(TOutputCase{"Text", ""}, TOutputCase{"Json", "--json"}),
                         [](const testing::TestParamInfo<TOutputCase>& info) { return info.param.Name; });

TEST(DumpTool, ControlCharactersFromABackupAreShownNotObeyed)
{
    TTempDir dir;
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec spec;
    spec.Sset.Name = {u"Full\u001B]0;owned\u0007\nBackup set 2"};
    spec.Files[0].LogicalName = u"Sales\u202Efdm.exe";
    b.BackupSet(spec);
    const std::string path = dir.Path("hostile.bak");
    b.WriteTo(path);

    const TToolRun text = Tool(dir, Quoted(path));
    EXPECT_EQ(text.Status, 0);
    EXPECT_NE(
        text.Output.find("  Backup name" + std::string(17, ' ') + "Full\\x1b]0;owned\\x07\\nBackup set 2\n"),
        std::string::npos)
        << text.Output;
    EXPECT_NE(text.Output.find("Sales\\u202efdm.exe\n"), std::string::npos);
    EXPECT_EQ(text.Output.find('\x1B'), std::string::npos);
    EXPECT_EQ(text.Output.find("\nBackup set 2"), std::string::npos);  // no forged line

    const TToolRun json = Tool(dir, "--json " + Quoted(path));
    const auto doc = nlohmann::json::parse(json.Output);
    EXPECT_EQ(doc["sets"][0]["header"]["BackupName"], "Full\u001B]0;owned\u0007\nBackup set 2");
    EXPECT_NE(json.Output.find("Full\\u001b]0;owned\\u0007\\nBackup set 2"), std::string::npos);
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool UnderSanitizer = true;
#else
constexpr bool UnderSanitizer = false;
#endif

// Blocks that begin and end a set every 24 bytes: one set per 24 bytes for a reader
// that keeps them all, far more than the memory the limit leaves.
TEST(DumpTool, OutOfMemoryIsAMessageNotAnAbort)
{
    if (UnderSanitizer)
        GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
    TTempDir dir;
    TFixtureBuilder b;
    for (int i = 0; i < 4 * 1024 * 1024 / 24; ++i) {
        b.Ascii("SSET").U32(0).U32(12).Ascii("ESET").U32(0).U32(12);
    }
    const std::string path = dir.Path("sets every 24 bytes.bak");
    b.WriteTo(path);
    const std::string errors = dir.Path("oom.txt");
    const TCommandRun limited = RunCommand("ulimit -v 204800 && " + std::string(TARNWICK_DUMP) + " " +
                                           Quoted(path) + " >/dev/null 2>'" + errors + "'; echo $?");
    const std::string messages = ReadAll(errors);
    // A reader that holds every set runs out of memory and says so; one that bounds
    // what it keeps reads the file. Neither may end in the runtime's abort.
    ASSERT_TRUE(limited.Output == "4\n" || limited.Output == "0\n") << limited.Output << messages;
    if (limited.Output == "4\n") {
        EXPECT_EQ(messages, "tarnwick-dump: " + path + ": not enough memory to read the file\n");
    }
    EXPECT_EQ(messages.find("terminate"), std::string::npos) << messages;
}

TEST(DumpProblems, ErrorsThenExplanationThenWarnings)
{
    TBackupFileReport report;
    report.Opened = true;
    report.FirstBytes = {'P', 'K', 0x03, 0x04};
    report.ErrorLines = {u"Unknown DBLKType: PK\u0003\u0004"};
    report.Warnings = {u"The file ends inside backup set 1: it has no end-of-set block.", u"Second"};
    std::ostringstream out;
    WriteProblems(out, "a\nb.bak", report);
    EXPECT_EQ(out.str(),
              "tarnwick-dump: a\\nb.bak: Unknown DBLKType: PK\\x03\\x04\n"
              "tarnwick-dump: a\\nb.bak: The file is not a Microsoft Tape Format backup: it looks like a "
              "zip archive, which may hold a backup to unpack first.\n"
              "tarnwick-dump: a\\nb.bak: The file ends inside backup set 1: it has no end-of-set block.\n"
              "tarnwick-dump: a\\nb.bak: Second\n");

    // A tape-format file has no explanation, and a file without problems no lines.
    report.FirstBytes = {'T', 'A', 'P', 'E'};
    report.ErrorLines.clear();
    report.Warnings.clear();
    std::ostringstream none;
    WriteProblems(none, "x.bak", report);
    EXPECT_EQ(none.str(), "");
}

TEST(DumpJson, WarningsFollowTheErrors)
{
    TBackupFileReport report;
    report.Opened = true;
    report.Sets.resize(1);
    report.ErrorLines = {u"Insufficient data"};
    report.Warnings = {u"The file ends inside backup set 1: it has no end-of-set block."};
    std::ostringstream out;
    {
        TJsonWriter writer(out);
        WriteBackupFileJson(writer, "t.bak", report);
        writer.EndDocument();
    }
    const auto doc = nlohmann::ordered_json::parse(out.str());
    std::vector<std::string> keys;
    for (const auto& [key, value] : doc.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"file", "sets", "errors", "warnings"}));
    EXPECT_EQ(doc["errors"], nlohmann::json::array({"Insufficient data"}));
    EXPECT_EQ(doc["warnings"],
              nlohmann::json::array({"The file ends inside backup set 1: it has no end-of-set block."}));
}

}  // namespace
