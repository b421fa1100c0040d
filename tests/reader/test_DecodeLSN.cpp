#include "uWideIntegerText.h"
#include "u_MTFReader.h"

#include <gtest/gtest.h>

#include <random>

namespace {

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
    const __int128 expected =
        static_cast<__int128>(c.A) * 1000000000000000LL + static_cast<int64_t>(c.B) * 100000 + c.C;
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
        const __int128 expected =
            static_cast<__int128>(a) * 1000000000000000LL + static_cast<int64_t>(b) * 100000 + c;
        const TBigInteger lsn = DecodeLSN(a, b, c);
        ASSERT_EQ(ToString(lsn), Reference(expected)) << a << " " << b << " " << c;
        ASSERT_TRUE(lsn.Digits.empty() || lsn.Digits.back() != 0);
        ASSERT_EQ(lsn.Negative && !lsn.Digits.empty(), expected < 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DecodeLSNTest,
                         testing::Values(TLSNCase{47, 416, 1, "47000000041600001"},
                                         TLSNCase{0, 100000, 0, "10000000000"},
                                         TLSNCase{0, 0, 65535, "65535"}, TLSNCase{0, 0, 0, "0"},
                                         TLSNCase{INT32_MAX, INT32_MAX, 65535, "2147483647214748364765535"},
                                         TLSNCase{INT32_MIN, INT32_MIN, 0, "-2147483648214748364800000"},
                                         TLSNCase{0, -1, 5, "-99995"},
                                         TLSNCase{1, -1, 0, "999999999900000"}));

}  // namespace
