#include "uLocaleFormat.h"

#include "uDateTime.h"

#include <unicode/ucal.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/ustring.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string_view>

namespace {

std::u16string FromUChars(const UChar* text, int32_t length)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text), static_cast<size_t>(length));
}

// A CLDR pattern, edited the way Windows writes the same fields: the long time has no
// time-zone field, and a two-digit year becomes a four-digit one.
std::u16string WithoutZone(const std::u16string& pattern)
{
    std::u16string out;
    bool quoted = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char16_t c = pattern[i];
        if (c == u'\'') {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted &&
            (c == u'z' || c == u'Z' || c == u'v' || c == u'V' || c == u'O' || c == u'X' || c == u'x')) {
            // Drop the field and the blanks that separated it from the rest.
            while (!out.empty() && (out.back() == u' ' || out.back() == u'\u00A0' || out.back() == u'\u202F'))
                out.pop_back();
            while (i + 1 < pattern.size() && pattern[i + 1] == c)
                ++i;
            continue;
        }
        // Newer CLDR data puts a narrow no-break space before the day period; Windows
        // writes a plain blank, and text copied from a cell should paste into a query.
        out += (!quoted && c == u'\u202F') ? u' ' : c;
    }
    while (!out.empty() && (out.back() == u' ' || out.back() == u'\u00A0' || out.back() == u'\u202F'))
        out.pop_back();
    return out;
}

std::u16string WithFourDigitYear(const std::u16string& pattern)
{
    std::u16string out;
    bool quoted = false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char16_t c = pattern[i];
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u'y') {
            size_t run = 1;
            while (i + run < pattern.size() && pattern[i + run] == u'y')
                ++run;
            out.append(run == 2 ? 4 : run, u'y');
            i += run - 1;
            continue;
        }
        out += c;
    }
    return out;
}

std::u16string PatternOf(UDateFormatStyle timeStyle, UDateFormatStyle dateStyle, const char* locale)
{
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = udat_open(timeStyle, dateStyle, locale, nullptr, 0, nullptr, 0, &status);
    if (U_FAILURE(status))
        return {};
    UChar buffer[256];
    int32_t length = udat_toPattern(format, false, buffer, 256, &status);
    udat_close(format);
    return U_FAILURE(status) ? std::u16string() : FromUChars(buffer, length);
}

class TIcuLocaleFormat final : public TLocaleFormat {
public:
    explicit TIcuLocaleFormat(const std::string& localeName)
    {
        const std::string name = localeName.empty() ? LocaleNameFromEnvironment() : localeName;
        UErrorCode canonicalStatus = U_ZERO_ERROR;
        char canonical[ULOC_FULLNAME_CAPACITY];
        uloc_canonicalize(name.c_str(), canonical, sizeof canonical, &canonicalStatus);
        FLocale = U_SUCCESS(canonicalStatus) ? canonical : name;
        const std::u16string date = WithFourDigitYear(PatternOf(UDAT_NONE, UDAT_SHORT, FLocale.c_str()));
        const std::u16string time = WithoutZone(PatternOf(UDAT_LONG, UDAT_NONE, FLocale.c_str()));
        FDateFormat = OpenPattern(date, "UTC");
        FDateTimeFormat = OpenPattern(date + u" " + time, "UTC");
        FNowFormat = OpenPattern(date + u" " + time, nullptr);

        UErrorCode status = U_ZERO_ERROR;
        FNumberFormat = unum_open(UNUM_DECIMAL, nullptr, 0, FLocale.c_str(), nullptr, &status);
        if (U_FAILURE(status))
            FNumberFormat = nullptr;
        if (FNumberFormat) {
            // The masks group every three digits and round halves away from zero.
            unum_setAttribute(FNumberFormat, UNUM_GROUPING_USED, 1);
            unum_setAttribute(FNumberFormat, UNUM_GROUPING_SIZE, 3);
            unum_setAttribute(FNumberFormat, UNUM_SECONDARY_GROUPING_SIZE, 3);
            unum_setAttribute(FNumberFormat, UNUM_ROUNDING_MODE, UNUM_ROUND_HALFUP);
        }
    }

    ~TIcuLocaleFormat() override
    {
        for (UDateFormat* f : {FDateFormat, FDateTimeFormat, FNowFormat})
            if (f)
                udat_close(f);
        if (FNumberFormat)
            unum_close(FNumberFormat);
    }

    std::u16string DateTimeText(TDateTime value, bool omitMidnight) const override
    {
        const TDateTimeParts p = DecodeDateTime(value);
        const bool midnight = p.Hour == 0 && p.Minute == 0 && p.Second == 0;
        UDateFormat* format = omitMidnight && midnight ? FDateFormat : FDateTimeFormat;
        if (!format)
            return {};
        std::lock_guard lock(FMutex);
        UErrorCode status = U_ZERO_ERROR;
        UCalendar* calendar = const_cast<UCalendar*>(udat_getCalendar(format));
        ucal_clear(calendar);
        ucal_setDateTime(calendar, p.Year, p.Month - 1, p.Day, p.Hour, p.Minute, p.Second, &status);
        const UDate when = ucal_getMillis(calendar, &status);
        return Format(format, when, status);
    }

    std::u16string NowText() const override
    {
        if (!FNowFormat)
            return {};
        std::lock_guard lock(FMutex);
        // Whole seconds: the stamp has no fraction, and this keeps it stable within a second.
        const std::time_t now = std::time(nullptr);
        if (now != FNowSecond) {
            UErrorCode status = U_ZERO_ERROR;
            FNowSecond = now;
            FNowText = Format(FNowFormat, static_cast<UDate>(now) * 1000.0, status);
        }
        return FNowText;
    }

    std::u16string GroupedNumber(double value, int decimals) const override
    {
        if (!FNumberFormat)
            return {};
        std::lock_guard lock(FMutex);
        unum_setAttribute(FNumberFormat, UNUM_MIN_FRACTION_DIGITS, decimals);
        unum_setAttribute(FNumberFormat, UNUM_MAX_FRACTION_DIGITS, decimals);
        UChar buffer[128];
        UErrorCode status = U_ZERO_ERROR;
        int32_t length = unum_formatDouble(FNumberFormat, value, buffer, 128, nullptr, &status);
        return U_FAILURE(status) ? std::u16string() : FromUChars(buffer, length);
    }

    std::u16string LanguageName(uint32_t lcid) const override
    {
        UErrorCode status = U_ZERO_ERROR;
        char locale[ULOC_FULLNAME_CAPACITY] = {};
        int32_t length = uloc_getLocaleForLCID(lcid, locale, sizeof locale, &status);
        if (U_FAILURE(status) || length <= 0 || status == U_USING_DEFAULT_WARNING)
            return {};
        // ICU names the neutral identifier "und", a language it does not know either.
        char language[ULOC_LANG_CAPACITY] = {};
        status = U_ZERO_ERROR;
        uloc_getLanguage(locale, language, sizeof language, &status);
        if (U_FAILURE(status) || language[0] == 0 || std::string_view(language) == "und")
            return {};
        UChar name[256];
        status = U_ZERO_ERROR;
        int32_t nameLength = uloc_getDisplayName(locale, FLocale.c_str(), name, 256, &status);
        return U_FAILURE(status) ? std::u16string() : FromUChars(name, nameLength);
    }

private:
    UDateFormat* OpenPattern(const std::u16string& pattern, const char* zone)
    {
        if (pattern.empty())
            return nullptr;
        UErrorCode status = U_ZERO_ERROR;
        UChar zoneName[16];
        int32_t zoneLength = -1;
        if (zone)
            u_uastrcpy(zoneName, zone);
        UDateFormat* format = udat_open(
            UDAT_PATTERN, UDAT_PATTERN, FLocale.c_str(), zone ? zoneName : nullptr, zoneLength,
            reinterpret_cast<const UChar*>(pattern.data()), static_cast<int32_t>(pattern.size()), &status);
        if (U_FAILURE(status))
            return nullptr;
        // Backups may carry dates before 1582: count them in the Gregorian calendar too,
        // as the day counts do.
        UCalendar* calendar = const_cast<UCalendar*>(udat_getCalendar(format));
        ucal_setGregorianChange(calendar, -8.64e15, &status);
        return format;
    }

    static std::u16string Format(UDateFormat* format, UDate when, UErrorCode& status)
    {
        UChar buffer[256];
        int32_t length = udat_format(format, when, buffer, 256, nullptr, &status);
        return U_FAILURE(status) ? std::u16string() : FromUChars(buffer, length);
    }

    std::string FLocale;
    UDateFormat* FDateFormat = nullptr;
    UDateFormat* FDateTimeFormat = nullptr;
    UDateFormat* FNowFormat = nullptr;
    UNumberFormat* FNumberFormat = nullptr;
    mutable std::mutex FMutex;
    mutable std::time_t FNowSecond = -1;
    mutable std::u16string FNowText;
};

std::unique_ptr<TLocaleFormat>& Current()
{
    static std::unique_ptr<TLocaleFormat> current;
    return current;
}

}  // namespace

std::string LocaleNameFromEnvironment()
{
    std::string name;
    for (const char* variable : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            name = value;
            break;
        }
    }
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX")
        return "en_US_POSIX";
    return name;
}

std::unique_ptr<TLocaleFormat> MakeIcuLocaleFormat(const std::string& localeName)
{
    return std::make_unique<TIcuLocaleFormat>(localeName);
}

const TLocaleFormat& LocaleFormat()
{
    if (!Current())
        Current() = MakeIcuLocaleFormat();
    return *Current();
}

void SetLocaleFormat(std::unique_ptr<TLocaleFormat> format)
{
    Current() = std::move(format);
}
