#pragma once
// Exact signed integer for log sequence numbers. An LSN is A * 10^15 + B * 10^5 + C
// with 32-bit A and B, so its magnitude reaches about 2.2 * 10^24: more than any
// machine integer holds, and it must be shown to the last digit.

#include <boost/container/small_vector.hpp>

#include <cstdint>
#include <string>

// Six base-65536 digits (96 bits) hold every LSN in place: a backup has some ten LSNs
// per set and per file, and a damaged file can hold a metadata block every few bytes,
// so decoding one must not cost a heap allocation. Larger values still work; they
// move to the heap.
using TBigDigits = boost::container::small_vector<uint16_t, 6>;

struct TBigInteger {
    bool Negative = false;
    // Magnitude in base 65536, least significant digit first; never ends in a 0 digit,
    // so zero is the empty array whatever Negative says.
    TBigDigits Digits;

    friend bool operator==(const TBigInteger&, const TBigInteger&) = default;
};

[[nodiscard]] TBigInteger FromInt32(int32_t value);
[[nodiscard]] TBigInteger FromInt64(int64_t value);
// The value -(high * 2^64 + low) if negative, else high * 2^64 + low.
[[nodiscard]] TBigInteger FromMagnitude(bool negative, uint64_t high, uint64_t low);
// a := a + b, with signs.
void Add(TBigInteger& a, const TBigInteger& b);
// a := a * b for a non-negative b; the result keeps the sign of a.
void Multiply(TBigInteger& a, const TBigInteger& b);
// -1, 0 or 1 as a is below, equal to or above b, with signs; a zero is a zero whatever
// its sign flag says. Restore planning orders backups by LSN, never by their dates.
[[nodiscard]] int Compare(const TBigInteger& a, const TBigInteger& b);
// Plain decimal text: no leading zeros, no grouping, "-" only for values below zero.
[[nodiscard]] std::string ToString(const TBigInteger& value);
