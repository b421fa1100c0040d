// The readable dump: indentation by level, the aligned value column, and the tool
// that prints it by default.

#include "uDumpText.h"
#include "uFixtureBuilder.h"
#include "uLocaleFormat.h"
#include "uRunCommand.h"
#include "uTextConvert.h"
#include "u_MTFReader.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(DumpText, IndentsLevelsAndAlignsValuesAfterTheWidestLabel)
{
    const std::vector<TBackupTreeRow> rows = {
        {0, -1, u"Backup set 1", u""},
        {1, 0, u"Backup name", u"Full"},
        {1, 0, u"Backup description", u""},
        {1, 0, u"Files: 1", u""},
        {2, 3, u"File ID: 1", u""},
        {3, 4, u"Logical name", u"Sales"},
        // Counted as characters, not UTF-8 bytes.
        {3, 4, u"Gr\u00F6\u00DFe", u"1 KB"},
        {0, -1, u"Backup set 2", u""},
    };
    EXPECT_EQ(DumpText(rows), "Backup set 1\n"
                              "  Backup name       Full\n"
                              "  Backup description\n"
                              "  Files: 1\n"
                              "    File ID: 1\n"
                              "      Logical name  Sales\n"
                              "      Gr\xC3\xB6\xC3\x9F"
                              "e         1 KB\n"
                              "Backup set 2\n");
}

TEST(DumpText, NoRowsGiveNoText)
{
    EXPECT_EQ(DumpText(std::vector<TBackupTreeRow>{}), "");
}

TEST(DumpText, StartsEveryValueOfASetInOneColumn)
{
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    TBackupDetails set;
    set.Header.FamilyCount = 1;
    set.Files.resize(1);
    const std::vector<TBackupTreeRow> rows = RowsForBackupSets({set});
    std::istringstream lines(DumpText(rows));
    std::string line;
    size_t column = std::string::npos;
    for (const TBackupTreeRow& row : rows) {
        ASSERT_TRUE(std::getline(lines, line));
        const std::string label =
            std::string(2 * static_cast<size_t>(row.Level), ' ') + Utf16ToUtf8(row.Label);
        ASSERT_TRUE(line.starts_with(label)) << line;
        if (row.Value.empty()) {
            EXPECT_EQ(line, label);
            continue;
        }
        const std::string value = Utf16ToUtf8(row.Value);
        ASSERT_GT(line.size(), label.size() + value.size() + 1) << line;
        if (column == std::string::npos)
            column = line.size() - value.size();
        EXPECT_EQ(line.substr(column), value) << line;
        ASSERT_GE(column, label.size() + 2) << line;
        EXPECT_EQ(line.substr(label.size(), column - label.size()), std::string(column - label.size(), ' '))
            << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
}

struct TVisibleCase {
    const char* Name;
    std::string Text, Shown;
};

class VisibleText : public testing::TestWithParam<TVisibleCase> {};

TEST_P(VisibleText, Escapes)
{
    EXPECT_EQ(::VisibleText(GetParam().Text), GetParam().Shown);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VisibleText,
    testing::Values(TVisibleCase{"Plain", "Sales_data_1", "Sales_data_1"},
                    TVisibleCase{"WindowsPathKeepsBackslashes", "D:\\Data\\x.mdf", "D:\\Data\\x.mdf"},
                    TVisibleCase{"TitleSequence", "\x1B]0;owned\x07", "\\x1b]0;owned\\x07"},
                    TVisibleCase{"LineBreaksAndTab", "a\nb\rc\td", "a\\nb\\rc\\td"},
                    TVisibleCase{"Nul", std::string("a\0b", 3), "a\\x00b"},
                    TVisibleCase{"Delete", "a\x7F", "a\\x7f"},
                    TVisibleCase{"C1Csi",
                                 "\xC2\x9B"
                                 "31m",
                                 "\\u009b31m"},
                    TVisibleCase{"C1Last", "\xC2\x9F", "\\u009f"},
                    TVisibleCase{"LatinAfterC1Stays", "\xC2\xA0\xC3\xA9", "\xC2\xA0\xC3\xA9"},
                    TVisibleCase{"LineSeparator",
                                 "a\xE2\x80\xA8"
                                 "b",
                                 "a\\u2028b"},
                    TVisibleCase{"RightToLeftOverride",
                                 "\xE2\x80\xAE"
                                 "exe",
                                 "\\u202eexe"},
                    TVisibleCase{"IsolateEnd", "\xE2\x81\xA9", "\\u2069"},
                    TVisibleCase{"EuroSignStays", "\xE2\x82\xAC", "\xE2\x82\xAC"},
                    TVisibleCase{"CutSequenceStays", "\xE2\x80", "\xE2\x80"}),
    [](const testing::TestParamInfo<TVisibleCase>& info) { return info.param.Name; });

// The streamed text finds the label column without holding the rows; it must find the
// same one as the rows in memory do, also when the widest label comes late.
TEST(DumpText, StreamedTextIsTheTextOfTheRows)
{
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    TBackupDetails withoutFiles, withFiles, family;
    withoutFiles.Header.BackupName = u"No files";
    withFiles.Files.resize(2);
    withFiles.Files[1].LogicalName = u"Gr\u00F6\u00DFe\u001B";
    family.Header.FamilyCount = 2;
    const std::vector<std::pair<const char*, TBackupSets>> cases = {
        {"none", {}},
        {"one set without files", {withoutFiles}},
        {"files in a later set", {withoutFiles, withFiles}},
        {"family rows", {family, withoutFiles}},
    };
    for (const auto& [name, sets] : cases) {
        std::ostringstream streamed;
        WriteText(streamed, sets);
        EXPECT_EQ(streamed.str(), DumpText(RowsForBackupSets(sets))) << name;
        EXPECT_EQ(DumpText(sets), streamed.str()) << name;
    }
}

struct TRun {
    int Status = -1;
    std::string Output, Errors;
};

// tarnwick-dump as a user runs it, in a fixed locale.
TRun Dump(const TTempDir& dir, const std::string& arguments)
{
    const std::string errors = dir.Path("stderr.txt");
    const TCommandRun command = RunCommand("LC_ALL=en_US.UTF-8 " + std::string(TARNWICK_DUMP) + " " +
                                           arguments + " 2>'" + errors + "'");
    TRun run;
    run.Status = command.Status;
    run.Output = command.Output;
    std::ifstream in(errors);
    std::ostringstream text;
    text << in.rdbuf();
    run.Errors = text.str();
    return run;
}

TEST(DumpText, IsWhatTheToolPrintsByDefault)
{
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    TTempDir dir;
    TFixtureBuilder b;
    b.MediaHeader();
    TBackupSetSpec locked;
    locked.Sset.Password = {u"pw"};
    b.BackupSet(TBackupSetSpec{});
    b.BackupSet(locked);
    const std::string path = dir.Path("two sets.bak");
    b.WriteTo(path);
    TMTFReader reader;
    reader.ReadFile(Utf8ToUtf16(path));
    ASSERT_EQ(reader.Sets().size(), 2u);

    const TRun run = Dump(dir, "'" + path + "'");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Output, DumpText(reader.Sets()));
    EXPECT_EQ(run.Errors, "");

    // Several files are told apart by their names; a file that cannot be opened has no
    // rows, its reason goes to standard error and the status says so.
    const std::string missing = dir.Path("missing.bak");
    const TRun both = Dump(dir, "'" + path + "' '" + missing + "'");
    EXPECT_EQ(both.Status, 1);
    EXPECT_EQ(both.Output, path + "\n" + DumpText(reader.Sets()) + "\n" + missing + "\n");
    EXPECT_TRUE(both.Errors.starts_with("tarnwick-dump: " + missing + ": ")) << both.Errors;
}

}  // namespace
