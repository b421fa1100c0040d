// The verbatim INI store: keys with brackets and values with commas go to the file as
// written, and a file written elsewhere keeps everything the store did not change.

#include "uFixtureBuilder.h"
#include "uIniFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

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

}  // namespace
