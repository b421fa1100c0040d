#include "uBigInteger.h"

#include <algorithm>

namespace {

// Room for the intermediate results of LSN arithmetic (a 32-bit part times 10^15 has
// seven digits before it is normalised), kept in place like the digits themselves.
using TScratch = boost::container::small_vector<uint16_t, 16>;

template <typename TArray> void Normalise(TArray& digits)
{
    while (!digits.empty() && digits.back() == 0)
        digits.pop_back();
}

TBigDigits MagnitudeOf(uint64_t magnitude)
{
    TBigDigits digits;
    while (magnitude != 0) {
        digits.push_back(static_cast<uint16_t>(magnitude & 0xFFFF));
        magnitude >>= 16;
    }
    return digits;
}

// Compares magnitudes: by digit count first, then from the most significant digit down.
int CompareMagnitudes(const TBigDigits& a, const TBigDigits& b)
{
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    for (size_t i = a.size(); i-- > 0;) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

TScratch AddMagnitudes(const TBigDigits& a, const TBigDigits& b)
{
    const TBigDigits& longer = a.size() >= b.size() ? a : b;
    const TBigDigits& shorter = a.size() >= b.size() ? b : a;
    TScratch sum;
    sum.reserve(longer.size() + 1);
    uint32_t carry = 0;
    for (size_t i = 0; i < longer.size(); ++i) {
        uint32_t s = uint32_t(longer[i]) + (i < shorter.size() ? shorter[i] : 0) + carry;
        sum.push_back(static_cast<uint16_t>(s & 0xFFFF));
        carry = s >> 16;
    }
    if (carry != 0)
        sum.push_back(1);
    return sum;
}

// a - b for |a| >= |b|.
TScratch SubtractMagnitudes(const TBigDigits& a, const TBigDigits& b)
{
    TScratch difference(a.begin(), a.end());
    int32_t borrow = 0;
    for (size_t i = 0; i < difference.size(); ++i) {
        int32_t d = int32_t(difference[i]) - (i < b.size() ? b[i] : 0) - borrow;
        borrow = d < 0 ? 1 : 0;
        difference[i] = static_cast<uint16_t>(d + (borrow ? 65536 : 0));
    }
    return difference;
}

void SetDigits(TBigDigits& digits, TScratch&& value)
{
    Normalise(value);
    digits.assign(value.begin(), value.end());
}

}  // namespace

TBigInteger FromInt32(int32_t value)
{
    return FromInt64(value);
}

TBigInteger FromInt64(int64_t value)
{
    TBigInteger result;
    result.Negative = value < 0;
    // The magnitude of the smallest 64-bit value does not fit a signed number.
    const uint64_t magnitude = value < 0 ? ~static_cast<uint64_t>(value) + 1 : static_cast<uint64_t>(value);
    result.Digits = MagnitudeOf(magnitude);
    return result;
}

TBigInteger FromMagnitude(bool negative, uint64_t high, uint64_t low)
{
    TBigInteger result;
    result.Negative = negative;
    for (uint64_t part : {low, high})
        for (int i = 0; i < 4; ++i, part >>= 16)
            result.Digits.push_back(static_cast<uint16_t>(part & 0xFFFF));
    Normalise(result.Digits);
    return result;
}

void Add(TBigInteger& a, const TBigInteger& b)
{
    if (a.Negative == b.Negative) {
        SetDigits(a.Digits, AddMagnitudes(a.Digits, b.Digits));
    } else if (CompareMagnitudes(a.Digits, b.Digits) < 0) {
        SetDigits(a.Digits, SubtractMagnitudes(b.Digits, a.Digits));
        a.Negative = b.Negative;
    } else {
        SetDigits(a.Digits, SubtractMagnitudes(a.Digits, b.Digits));
    }
}

void Multiply(TBigInteger& a, const TBigInteger& b)
{
    TScratch product(a.Digits.size() + b.Digits.size() + 1, 0);
    for (size_t j = 0; j < b.Digits.size(); ++j) {
        uint32_t carry = 0;
        for (size_t i = 0; i < a.Digits.size(); ++i) {
            uint32_t t = uint32_t(a.Digits[i]) * b.Digits[j] + carry + product[i + j];
            product[i + j] = static_cast<uint16_t>(t & 0xFFFF);
            carry = t >> 16;
        }
        product[j + a.Digits.size()] = static_cast<uint16_t>(carry);
    }
    SetDigits(a.Digits, std::move(product));
}

int Compare(const TBigInteger& a, const TBigInteger& b)
{
    const bool aNegative = a.Negative && !a.Digits.empty();
    const bool bNegative = b.Negative && !b.Digits.empty();
    if (aNegative != bNegative)
        return aNegative ? -1 : 1;
    const int magnitudes = CompareMagnitudes(a.Digits, b.Digits);
    return aNegative ? -magnitudes : magnitudes;
}

std::string ToString(const TBigInteger& value)
{
    if (value.Digits.empty())
        return "0";
    TScratch rest(value.Digits.begin(), value.Digits.end());
    std::string text;
    while (!rest.empty()) {
        uint32_t remainder = 0;
        for (size_t i = rest.size(); i-- > 0;) {
            uint32_t current = remainder * 65536 + rest[i];
            rest[i] = static_cast<uint16_t>(current / 10000);
            remainder = current % 10000;
        }
        Normalise(rest);
        char group[4];
        for (int k = 3; k >= 0; --k) {
            group[k] = static_cast<char>('0' + remainder % 10);
            remainder /= 10;
        }
        text.insert(0, group, 4);
    }
    text.erase(0, std::min(text.find_first_not_of('0'), text.size()));
    if (value.Negative)
        text.insert(0, "-");
    return text;
}
