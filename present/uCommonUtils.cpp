#include "uCommonUtils.h"

#include "uLocaleFormat.h"
#include "uTextConvert.h"

#include <cmath>
#include <cstdio>

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
    const unsigned data1 = g[0] | g[1] << 8 | g[2] << 16 | static_cast<unsigned>(g[3]) << 24;
    const unsigned data2 = g[4] | g[5] << 8;
    const unsigned data3 = g[6] | g[7] << 8;
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", data1, data2,
                  data3, g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
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
