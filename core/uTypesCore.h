#pragma once
// The basic value types every layer shares: how the backup format stores a GUID and a
// date, held as the format's producers hold them.

#include <array>
#include <cstdint>

// 16 bytes in the Windows GUID layout, as stored in the file.
using TGUID = std::array<uint8_t, 16>;

// Day count since 30 December 1899, the fraction being the time of day; 0 = not set.
// Before that day the count is negative and the time of day is still a positive
// fraction (-1.25 is 29 December 1899 06:00), as the format's producers store it.
using TDateTime = double;
