#include "uDateTime.h"

#include <cmath>
#include <cstdint>

namespace {

// Days from 1 March of year 0 based civil counting (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;  // days since 1970-01-01
}

void CivilFromDays(int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

const int64_t Epoch = DaysFromCivil(1899, 12, 30);

}  // namespace

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

std::optional<TDateTime> EncodeDateTime(const TDateTimeParts& p)
{
    if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
        p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 || p.Minute > 59 ||
        p.Second < 0 || p.Second > 59)
        return std::nullopt;
    const double days = static_cast<double>(DaysFromCivil(p.Year, p.Month, p.Day) - Epoch);
    const double time = (p.Hour * 3600.0 + p.Minute * 60.0 + p.Second) / 86400.0;
    return days < 0 ? days - time : days + time;
}

TDateTimeParts DecodeDateTime(TDateTime value)
{
    double whole = std::trunc(value);
    int64_t seconds = std::llround(std::fabs(value - whole) * 86400.0);
    int64_t days = static_cast<int64_t>(whole);
    if (seconds >= 86400) {
        // Rounding reached the next midnight: for a negative count the next day is the
        // one nearer zero, as for a positive count.
        seconds -= 86400;
        days += 1;
    }
    TDateTimeParts parts;
    CivilFromDays(days + Epoch, parts.Year, parts.Month, parts.Day);
    parts.Hour = static_cast<int>(seconds / 3600);
    parts.Minute = static_cast<int>(seconds / 60 % 60);
    parts.Second = static_cast<int>(seconds % 60);
    return parts;
}
