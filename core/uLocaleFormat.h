#pragma once
// The one place where text depends on the user's locale: dates, grouped numbers, the
// time stamps of log and error lines, and locale display names. Everything that shows
// such text asks LocaleFormat(), so tests can pin the whole program to one locale.

#include "uTypesCore.h"

#include <cstdint>
#include <memory>
#include <string>

class TLocaleFormat {
public:
    virtual ~TLocaleFormat() = default;

    // The locale's short date, a blank and its long time (without a time-zone field,
    // and with a four-digit year). With omitMidnight the time is left out when the
    // time of day is exactly 00:00:00.
    [[nodiscard]] virtual std::u16string DateTimeText(TDateTime value, bool omitMidnight) const = 0;

    // The current local date and time as DateTimeText writes it, for time stamps.
    [[nodiscard]] virtual std::u16string NowText() const = 0;

    // value rounded to `decimals` decimals, integer digits grouped in threes with the
    // locale's group separator, the locale's decimal separator (masks "#,###,##0.000").
    [[nodiscard]] virtual std::u16string GroupedNumber(double value, int decimals) const = 0;

    // Display name of the language of a Windows locale identifier, in the language of
    // the user interface; empty for an identifier that is not known.
    [[nodiscard]] virtual std::u16string LanguageName(uint32_t lcid) const = 0;
};

// The locale the environment asks for, the one way every program here reads it: the
// first of LC_ALL, LC_TIME (dates are the texts that differ most between locales) and
// LANG that is set and not empty, without its encoding and modifier ("de_DE.UTF-8"
// gives "de_DE"). "C" and "POSIX", and nothing set at all, give "en_US_POSIX", which is
// what ICU itself makes of the C locale.
[[nodiscard]] std::string LocaleNameFromEnvironment();

// Formatting through ICU for the named locale ("en_US", "de_DE"; empty: the locale of
// LocaleNameFromEnvironment()).
[[nodiscard]] std::unique_ptr<TLocaleFormat> MakeIcuLocaleFormat(const std::string& localeName = {});

// The formatter in force; the ICU one of the process locale until another is set.
[[nodiscard]] const TLocaleFormat& LocaleFormat();
void SetLocaleFormat(std::unique_ptr<TLocaleFormat> format);
