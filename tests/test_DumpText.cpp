// The readable dump: indentation by level and the aligned value column.

#include "uDumpText.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <gtest/gtest.h>


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
    EXPECT_EQ(DumpText(rows),
              "Backup set 1\n"
              "  Backup name       Full\n"
              "  Backup description\n"
              "  Files: 1\n"
              "    File ID: 1\n"
              "      Logical name  Sales\n"
              "      Gr\xC3\xB6\xC3\x9F" "e         1 KB\n"
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
        const std::string label = std::string(2 * static_cast<size_t>(row.Level), ' ') + Utf16ToUtf8(row.Label);
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
        EXPECT_EQ(line.substr(label.size(), column - label.size()), std::string(column - label.size(), ' ')) << line;
    }
    EXPECT_FALSE(std::getline(lines, line));
}

} // namespace
