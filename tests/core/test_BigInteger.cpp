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
