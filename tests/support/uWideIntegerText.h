#pragma once
// Test helper: decimal text of wide integers.

#include <string>

// Reference decimal text through the compiler's 128-bit integers, which hold every
// value an LSN can take.
inline std::string Reference(__int128 v)
{
    if (v == 0)
        return "0";
    const bool negative = v < 0;
    unsigned __int128 m = negative ? -static_cast<unsigned __int128>(v) : static_cast<unsigned __int128>(v);
    std::string text;
    while (m != 0) {
        text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(m % 10)));
        m /= 10;
    }
    return negative ? "-" + text : text;
}
