#include "uCommonUtils.h"

#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <cmath>

std::u16string FormatByteSize(int64_t value)
{
    if (value == 1)
        return u"1 byte";

    struct TUnit {
        int64_t Size;
        const char16_t* Name;
    };
    static constexpr TUnit units[] = {{1073741824, u" GB"}, {1048576, u" MB"}, {1024, u" KB"}};
    for (const TUnit& unit : units) {
        if (value < unit.Size)
            continue;
        // Rounded here, half away from zero, so the text does not depend on the rounding
        // mode of the number formatter: 1088 bytes are 1.0625 KB and show as "1.063 KB".
        const double thousandths =
            std::round(static_cast<double>(value) / static_cast<double>(unit.Size) * 1000.0);
        const bool whole = std::fmod(thousandths, 1000.0) == 0.0;
        return LocaleFormat().GroupedNumber(thousandths / 1000.0, whole ? 0 : 3) + unit.Name;
    }
    return LocaleFormat().GroupedNumber(static_cast<double>(value), 0) + u" bytes";
}

std::u16string SizeWithByteCountText(int64_t value)
{
    const std::string count = std::to_string(value);
    return FormatByteSize(value) + u" (" + std::u16string(count.begin(), count.end()) + u" bytes)";
}

std::string FileTypeText(const std::string& fileType)
{
    std::string meaning;
    if (fileType == "D")
        meaning = "data file";
    else if (fileType == "L")
        meaning = "transaction log file";
    else if (fileType == "F")
        meaning = "full-text catalog";
    else if (fileType == "S")
        meaning = "filestream";
    return fileType + " (" + meaning + ")";
}

std::string GuidText(const TGUID& g)
{
    // The first three groups are little-endian numbers in the stored layout, the last two
    // plain bytes. Written digit by digit: a dump of a set of 32,767 files writes three
    // GUIDs per file, and a formatted print each time was a tenth of its run time.
    static constexpr char Hex[] = "0123456789ABCDEF";
    static constexpr int Order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::string text(38, '-');
    text.front() = '{';
    text.back() = '}';
    size_t at = 1;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            ++at;  // the dash between groups
        const uint8_t byte = g[static_cast<size_t>(Order[i])];
        text[at++] = Hex[byte >> 4];
        text[at++] = Hex[byte & 15];
    }
    return text;
}

std::string BooleanText(bool value)
{
    return value ? "true" : "false";
}

std::u16string DateValueText(TDateTime value)
{
    return LocaleFormat().DateTimeText(value, true);
}

std::u16string LsnText(const TBigInteger& value)
{
    const std::string digits = ToString(value);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string BackupTypeText(const TBackupHeader& header)
{
    // The narrow record fields hold UTF-8.
    return Utf8ToUtf16(header.BackupTypeDescription);
}

std::string ProductNameText(int32_t major, int32_t minor)
{
    if (major == 10 && minor == 50)
        return "SQL Server 2008 R2 (10)";
    switch (major) {
    case 10:
        return "SQL Server 2008 (10)";
    case 9:
        return "SQL Server 2005 (9)";
    case 8:
        return "SQL Server 2000 (8)";
    default:
        return std::to_string(major);
    }
}

std::u16string ErrorMessageText(const std::u16string& message)
{
    if (!message.empty() && message.back() > u'.')
        return message + u".";
    return message;
}
