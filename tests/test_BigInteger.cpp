#include "u_MTFReader.h"
#include "uBigInteger.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Reference decimal text through the compiler's 128-bit integers, which hold every
// value an LSN can take.
std::string Reference(__int128 v)
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

struct TLSNCase {
    int32_t A, B;
    uint16_t C;
    std::string Text;
};

class DecodeLSNTest : public testing::TestWithParam<TLSNCase> {};

TEST_P(DecodeLSNTest, GivesExactDecimal)
{
    const TLSNCase& c = GetParam();
    EXPECT_EQ(ToString(DecodeLSN(c.A, c.B, c.C)), c.Text);
    const __int128 expected = static_cast<__int128>(c.A) * 1000000000000000LL + static_cast<int64_t>(c.B) * 100000 + c.C;
    EXPECT_EQ(ToString(DecodeLSN(c.A, c.B, c.C)), Reference(expected));
}

// Every sign combination and size of the three parts, against 128-bit arithmetic.
TEST(BigInteger, DecodeLSNMatchesWideIntegers)
{
    std::mt19937_64 random(4242);
    const int32_t edges[] = {0, 1, -1, INT32_MAX, INT32_MIN, 10000, -10000};
    for (int i = 0; i < 20000; ++i) {
        const int32_t a = i < 49 ? edges[i % 7] : static_cast<int32_t>(random()) >> (random() % 32);
        const int32_t b = i < 49 ? edges[i / 7] : static_cast<int32_t>(random()) >> (random() % 32);
        const auto c = static_cast<uint16_t>(random());
        const __int128 expected = static_cast<__int128>(a) * 1000000000000000LL + static_cast<int64_t>(b) * 100000 + c;
        const TBigInteger lsn = DecodeLSN(a, b, c);
        ASSERT_EQ(ToString(lsn), Reference(expected)) << a << " " << b << " " << c;
        ASSERT_TRUE(lsn.Digits.empty() || lsn.Digits.back() != 0);
        ASSERT_EQ(lsn.Negative && !lsn.Digits.empty(), expected < 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeLSNTest,
                         testing::Values(TLSNCase{47, 416, 1, "47000000041600001"}, TLSNCase{0, 100000, 0, "10000000000"},
                                         TLSNCase{0, 0, 65535, "65535"}, TLSNCase{0, 0, 0, "0"},
                                         TLSNCase{INT32_MAX, INT32_MAX, 65535, "2147483647214748364765535"},
                                         TLSNCase{INT32_MIN, INT32_MIN, 0, "-2147483648214748364800000"},
                                         TLSNCase{0, -1, 5, "-99995"}, TLSNCase{1, -1, 0, "999999999900000"}));

} // namespace
