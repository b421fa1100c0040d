// The verbatim INI store: keys with brackets and values with commas go to the file as
// written, and a file written elsewhere keeps everything the store did not change.

#include "uFixtureBuilder.h"
#include "uIniFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteAll(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TEST(IniFile, WritesKeysAndValuesVerbatim)
{
    TTempDir dir;
    const std::string path = dir.Path("settings.ini");
    {
        TIniFile ini(path);
        EXPECT_TRUE(ini.WriteInteger("frmMain", "AdID", 0));
        EXPECT_TRUE(ini.WriteString("frmMain", "NormPos", "119,92,1117,732"));
        EXPECT_TRUE(ini.WriteString("frmMain", "NormPos(1280x1024)", "119,92,1117,732"));
        EXPECT_TRUE(ini.WriteString("frmMain", "AdID", "1"));
    }
    EXPECT_EQ(ReadAll(path),
              "[frmMain]\nAdID=1\nNormPos=119,92,1117,732\nNormPos(1280x1024)=119,92,1117,732\n");
    const TIniFile again(path);
    EXPECT_EQ(again.ReadString("frmMain", "NormPos(1280x1024)", "-"), "119,92,1117,732");
    EXPECT_EQ(again.ReadInteger("frmMain", "AdID", -1), 1);
}

TEST(IniFile, KeepsWhatItDoesNotChange)
{
    TTempDir dir;
    const std::string path = dir.Path("settings.ini");
    WriteAll(
        path,
        "; placement\r\n[Other]\r\nAdID=7\r\n\r\n[FRMMAIN]\r\nadid=0\r\nShowCmd=1\r\n\r\n[Last]\r\nx=y\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadInteger("frmMain", "AdID", -1), 0);  // letter case does not matter
    EXPECT_FALSE(ini.ValueExists("frmMain", "x"));
    EXPECT_TRUE(ini.WriteInteger("frmMain", "AdID", 1));
    EXPECT_TRUE(ini.WriteInteger("frmMain", "Flags", 0));
    EXPECT_TRUE(ini.WriteString("New", "k", "a=b"));
    EXPECT_EQ(ReadAll(path),
              "; placement\n[Other]\nAdID=7\n\n[FRMMAIN]\nadid=1\nShowCmd=1\nFlags=0\n\n[Last]\nx=y\n"
              "[New]\nk=a=b\n");
    EXPECT_EQ(TIniFile(path).ReadString("New", "k", ""), "a=b");
}

TEST(IniFile, ReadsIntegersOrTheDefault)
{
    const struct {
        const char* Stored;
        int Expected;
    } cases[] = {{"5", 5},  {" 7 ", 7}, {"-1", -1},  {"", 42},
                 {"x", 42}, {"5x", 42}, {"1,2", 42}, {"99999999999", 42}};
    TTempDir dir;
    const std::string path = dir.Path("settings.ini");
    for (const auto& c : cases) {
        WriteAll(path, std::string("[frmMain]\nAdID=") + c.Stored + "\n");
        EXPECT_EQ(TIniFile(path).ReadInteger("frmMain", "AdID", 42), c.Expected) << '"' << c.Stored << '"';
    }
    EXPECT_EQ(TIniFile(dir.Path("missing.ini")).ReadInteger("frmMain", "AdID", 42), 42);
}

TEST(IniFile, ReportsAFileItCannotWrite)
{
    TTempDir dir;
    TIniFile ini(dir.Path("no-such-folder/settings.ini"));
    EXPECT_FALSE(ini.WriteInteger("frmMain", "AdID", 0));
    EXPECT_EQ(ini.ReadInteger("frmMain", "AdID", -1), 0);
}

// A save that fails part way, as on a full disk: the old file stays whole, nothing is
// left beside it, the caller hears of it, and the next save writes everything.
struct TFailingSave {
    const char* Name;
    long WriteBudget;  // bytes the disk takes before it is full; -1: no limit
    bool SyncFails;
    bool RenameFails;
};

void PrintTo(const TFailingSave& c, std::ostream* out)
{
    *out << c.Name;
}

class IniFileSaveFails : public testing::TestWithParam<TFailingSave> {};

TEST_P(IniFileSaveFails, KeepsTheOldFileAndSaysSo)
{
    const TFailingSave& c = GetParam();
    TTempDir dir;
    const std::string path = dir.Path("settings.ini");
    const std::string old = "[frmMain]\nAdID=0\nNormPos(1280x1024)=119,92,1117,732\nLast=1\n";
    WriteAll(path, old);

    long budget = c.WriteBudget;
    TIniFileSystemCalls calls = TIniFileSystemCalls::System();
    const auto write = calls.Write;
    calls.Write = [&budget, write](int fd, const void* data, size_t size) -> ssize_t {
        if (budget < 0)
            return write(fd, data, size);
        if (budget == 0) {
            errno = ENOSPC;
            return -1;
        }
        const size_t part = std::min<size_t>(size, static_cast<size_t>(budget));
        budget -= static_cast<long>(part);
        return write(fd, data, part);
    };
    if (c.SyncFails)
        calls.Sync = [](int) {
            errno = EIO;
            return -1;
        };
    if (c.RenameFails)
        calls.Rename = [](const char*, const char*) {
            errno = EXDEV;
            return -1;
        };

    TIniFile ini(path, calls);
    EXPECT_FALSE(ini.WriteString("frmMain", "AdID", "1"));
    EXPECT_EQ(ReadAll(path), old);
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path("")))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"settings.ini"});
    EXPECT_EQ(ini.ReadInteger("frmMain", "AdID", -1), 1);

    TIniFile healthy(path);
    EXPECT_TRUE(healthy.WriteString("frmMain", "AdID", "1"));
    EXPECT_EQ(ReadAll(path), "[frmMain]\nAdID=1\nNormPos(1280x1024)=119,92,1117,732\nLast=1\n");
}

INSTANTIATE_TEST_SUITE_P(, IniFileSaveFails,
                         testing::Values(TFailingSave{"DiskFullAtOnce", 0, false, false},
                                         TFailingSave{"DiskFullMidLine", 20, false, false},
                                         TFailingSave{"FlushFails", -1, true, false},
                                         TFailingSave{"RenameFails", -1, false, true}),
                         [](const testing::TestParamInfo<TFailingSave>& info) { return info.param.Name; });

TEST(IniFile, ReplacesTheFileAndKeepsItsPermissions)
{
    TTempDir dir;
    const std::string path = dir.Path("settings.ini");
    WriteAll(path, "[frmMain]\nAdID=0\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    TIniFile ini(path);
    EXPECT_TRUE(ini.WriteInteger("frmMain", "AdID", 1));
    EXPECT_EQ(ReadAll(path), "[frmMain]\nAdID=1\n");
    EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                               std::filesystem::perms::owner_write |
                                                               std::filesystem::perms::group_read);
}

}  // namespace
