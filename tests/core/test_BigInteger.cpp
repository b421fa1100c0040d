#include "uBigInteger.h"
#include "uWideIntegerText.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(BigInteger, TextOfSpecialValues)
{
    EXPECT_EQ(ToString(TBigInteger{}), "0");
    EXPECT_EQ(ToString(TBigInteger{true, {}}), "0");  // a zero with the sign flag set
    EXPECT_EQ(ToString(TBigInteger{false, {0, 1}}), "65536");
    EXPECT_EQ(ToString(FromInt32(-1)), "-1");
    EXPECT_EQ(ToString(FromInt32(INT32_MIN)), "-2147483648");
    EXPECT_EQ(ToString(FromInt64(INT64_MIN)), "-9223372036854775808");
    EXPECT_EQ(ToString(FromInt64(1000000000000000LL)), "1000000000000000");
    EXPECT_EQ(ToString(FromInt64(10000)), "10000");  // a group of four zeros is kept inside
    EXPECT_TRUE(FromInt32(0).Digits.empty());
    EXPECT_EQ(FromInt64(INT64_MIN).Digits.size(), 4u);
}

TEST(BigInteger, AddToZeroKeepsNoDigits)
{
    TBigInteger a = FromInt32(5);
    Add(a, FromInt32(-5));
    EXPECT_TRUE(a.Digits.empty());
    EXPECT_EQ(ToString(a), "0");
}

struct TCompareCase {
    const char* Name;
    TBigInteger A, B;
    int Expected;
};

TEST(BigInteger, CompareOrdersBySignThenMagnitude)
{
    const TCompareCase cases[] = {
        {"equal", FromInt64(37000000041600001), FromInt64(37000000041600001), 0},
        {"zero with sign flag", TBigInteger{true, {}}, TBigInteger{}, 0},
        {"longer magnitude", TBigInteger{false, {0, 1}}, FromInt32(65535), 1},
        {"high digit decides", FromMagnitude(false, 1, 0), FromMagnitude(false, 0, UINT64_MAX), 1},
        {"low digit decides", FromInt64(0x10002), FromInt64(0x10001), 1},
        {"negative below zero", FromInt32(-1), TBigInteger{}, -1},
        {"larger negative magnitude is lower", FromInt32(-70000), FromInt32(-2), -1},
        {"negative below positive", FromInt32(-5), FromInt32(3), -1},
    };
    for (const TCompareCase& c : cases) {
        EXPECT_EQ(Compare(c.A, c.B), c.Expected) << c.Name;
        EXPECT_EQ(Compare(c.B, c.A), -c.Expected) << c.Name << " (swapped)";
    }
}

// Add and Multiply against 128-bit arithmetic over random operands of every size an
// LSN uses, signs mixed.
TEST(BigInteger, ArithmeticMatchesWideIntegers)
{
    std::mt19937_64 random(20261210);
    for (int i = 0; i < 20000; ++i) {
        const int shiftA = static_cast<int>(random() % 64), shiftB = static_cast<int>(random() % 64);
        const int64_t a = static_cast<int64_t>(random()) >> shiftA;
        const int64_t b = static_cast<int64_t>(random()) >> shiftB;
        TBigInteger sum = FromInt64(a);
        Add(sum, FromInt64(b));
        ASSERT_EQ(ToString(sum), Reference(static_cast<__int128>(a) + b)) << a << " + " << b;

        const int64_t factor = b < 0 ? -(b / 2) : b;  // Multiply takes a non-negative factor
        TBigInteger product = FromInt64(a);
        Multiply(product, FromInt64(factor));
        ASSERT_EQ(ToString(product), Reference(static_cast<__int128>(a) * factor)) << a << " * " << factor;
        ASSERT_TRUE(product.Digits.empty() || product.Digits.back() != 0);
    }
}

}  // namespace
