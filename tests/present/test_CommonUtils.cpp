// The value texts of the backup tree: sizes, file types, GUIDs, product names and the
// error box message.

#include "uCommonUtils.h"
#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

struct TSizeCase {
    const char* Locale;
    int64_t Value;
    const char* Expected;  // UTF-8
};

class FormatByteSizeTest : public testing::TestWithParam<TSizeCase> {};

TEST_P(FormatByteSizeTest, GivesTheUnitTextWithTheLocaleSeparators)
{
    const TSizeCase& c = GetParam();
    SetLocaleFormat(MakeIcuLocaleFormat(c.Locale));
    EXPECT_EQ(Utf16ToUtf8(FormatByteSize(c.Value)), c.Expected) << c.Value;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FormatByteSizeTest,
    testing::Values(TSizeCase{"en_US", 0, "0 bytes"}, TSizeCase{"en_US", 1, "1 byte"},
                    TSizeCase{"en_US", 2, "2 bytes"}, TSizeCase{"en_US", 1023, "1,023 bytes"},
                    TSizeCase{"en_US", 1024, "1 KB"}, TSizeCase{"en_US", 1536, "1.500 KB"},
                    // 1.0625 KB: a tie at the third decimal rounds away from zero.
                    TSizeCase{"en_US", 1088, "1.063 KB"}, TSizeCase{"en_US", 1048575, "1,023.999 KB"},
                    TSizeCase{"en_US", 1048576, "1 MB"}, TSizeCase{"en_US", 123456789, "117.738 MB"},
                    // Rounds up to a whole number of the smaller unit, which then loses its fraction.
                    TSizeCase{"en_US", 1073741823, "1,024 MB"}, TSizeCase{"en_US", 1073741824, "1 GB"},
                    TSizeCase{"en_US", 5000000000, "4.657 GB"},
                    TSizeCase{"en_US", std::numeric_limits<int64_t>::max(), "8,589,934,592 GB"},
                    TSizeCase{"en_US", -1, "-1 bytes"},
                    TSizeCase{"en_US", -5000000000, "-5,000,000,000 bytes"},
                    TSizeCase{"de_DE", 1023, "1.023 bytes"}, TSizeCase{"de_DE", 1536, "1,500 KB"},
                    TSizeCase{"de_DE", 1048575, "1.023,999 KB"}, TSizeCase{"de_DE", 2097152, "2 MB"}));

TEST(SizeWithByteCountText, AppendsThePlainCount)
{
    SetLocaleFormat(MakeIcuLocaleFormat("en_US"));
    const struct {
        int64_t Value;
        const char16_t* Expected;
    } cases[] = {
        {0, u"0 bytes (0 bytes)"},
        {1, u"1 byte (1 bytes)"},
        {-1, u"-1 bytes (-1 bytes)"},
        {5242880, u"5 MB (5242880 bytes)"},
        {1234567890, u"1.150 GB (1234567890 bytes)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SizeWithByteCountText(c.Value), c.Expected) << c.Value;
}

TEST(FileTypeText, NamesTheFourCodesExactly)
{
    const struct {
        const char* Code;
        const char* Expected;
    } cases[] = {
        {"D", "D (data file)"},
        {"L", "L (transaction log file)"},
        {"F", "F (full-text catalog)"},
        {"S", "S (filestream)"},
        {"", " ()"},
        {"d", "d ()"},
        {"X", "X ()"},
        {"DL", "DL ()"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FileTypeText(c.Code), c.Expected) << c.Code;
}

TEST(GuidText, ReadsTheFirstThreeGroupsLittleEndian)
{
    const struct {
        TGUID Guid;
        const char* Expected;
    } cases[] = {
        {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, "{03020100-0504-0706-0809-0A0B0C0D0E0F}"},
        {{0xEF, 0xBE, 0xAD, 0xDE, 0xFE, 0xCA, 0xBE, 0xBA, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89},
         "{DEADBEEF-CAFE-BABE-ABCD-EF0123456789}"},
        {{}, "{00000000-0000-0000-0000-000000000000}"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
         "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GuidText(c.Guid), c.Expected);
}

TEST(BooleanText, IsLowerCase)
{
    EXPECT_EQ(BooleanText(true), "true");
    EXPECT_EQ(BooleanText(false), "false");
}

TEST(ProductNameText, NamesTheKnownMajorVersions)
{
    const struct {
        int32_t Major, Minor;
        const char* Expected;
    } cases[] = {
        {10, 50, "SQL Server 2008 R2 (10)"},
        {10, 0, "SQL Server 2008 (10)"},
        {10, 51, "SQL Server 2008 (10)"},
        {9, 0, "SQL Server 2005 (9)"},
        {8, 0, "SQL Server 2000 (8)"},
        {9, 50, "SQL Server 2005 (9)"},
        {11, 0, "11"},
        {15, 50, "15"},
        {0, 0, "0"},
        {-3, 0, "-3"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProductNameText(c.Major, c.Minor), c.Expected) << c.Major << "." << c.Minor;
}

TEST(ErrorMessageText, AppendsAFullStopAfterCharactersThatSortAfterIt)
{
    const struct {
        const char16_t* Message;
        const char16_t* Expected;
    } cases[] = {
        {u"Disk full", u"Disk full."},
        {u"Disk full.", u"Disk full."},
        {u"Stop!", u"Stop!"},
        {u"Why?", u"Why?."},
        {u"(0, -1)", u"(0, -1)"},
        {u"a-", u"a-"},
        {u"path/", u"path/."},
        {u"", u""},
        {u"Gr\u00FC\u00DF", u"Gr\u00FC\u00DF."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorMessageText(c.Message), c.Expected);
}

}  // namespace
