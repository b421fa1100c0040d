#pragma once
// The day-count dates of the records: days since 30 December 1899, the fraction being
// the time of day. Before that day the count is negative while the time of day stays a
// positive fraction: -1.25 is 29 December 1899 06:00, not 28 December 18:00.

#include "uTypesCore.h"

#include <optional>

struct TDateTimeParts {
    int Year = 1899, Month = 12, Day = 30, Hour = 0, Minute = 0, Second = 0;
    friend bool operator==(const TDateTimeParts&, const TDateTimeParts&) = default;
};

// The parts of a valid date and time (years 1 to 9999); nothing for invalid parts.
[[nodiscard]] std::optional<TDateTime> EncodeDateTime(const TDateTimeParts& parts);

// The calendar date and time of a day count, rounded to the nearest second.
[[nodiscard]] TDateTimeParts DecodeDateTime(TDateTime value);

[[nodiscard]] bool IsLeapYear(int year);
[[nodiscard]] int DaysInMonth(int year, int month);
