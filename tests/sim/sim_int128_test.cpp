// The simulator's 128-bit integer against known results, and, where the
// compiler has a native 128-bit type, against it over the magnitudes amounts
// reach (products of two values of up to 15 digits), signs mixed.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "sim/Int128.h"

namespace {

using satsim::Int128;

// Decimal digits, for the failure messages and the checks alike.
std::string text(Int128 value) {
    const bool negative = value < 0;
    std::string digits;
    do {
        const long long digit = static_cast<long long>(value % 10);
        digits.insert(digits.begin(), static_cast<char>('0' + (digit < 0 ? -digit : digit)));
        value = value / 10;
    } while (value != 0);
    return (negative ? "-" : "") + digits;
}

TEST(Int128, KnownResults) {
    const Int128 fifteenNines = 999999999999999LL;
    const struct {
        Int128 value;
        const char* expected;
    } cases[] = {
        {fifteenNines * fifteenNines, "999999999999998000000000000001"},
        {-fifteenNines * fifteenNines, "-999999999999998000000000000001"},
        {Int128(LLONG_MAX) + 1, "9223372036854775808"},
        {Int128(LLONG_MIN) - 1, "-9223372036854775809"},
        {Int128(LLONG_MIN) * -1, "9223372036854775808"},
        {fifteenNines * fifteenNines / 1000000, "999999999999998000000000"},
        {-fifteenNines * fifteenNines / 1000000, "-999999999999998000000000"},
        {fifteenNines * fifteenNines % 1000000, "1"},
        {-fifteenNines * fifteenNines % 1000000, "-1"},
        {Int128(-7) / 2, "-3"},
        {Int128(7) / -2, "-3"},
        {Int128(-7) % 2, "-1"},
        {Int128(7) % -2, "1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text(c.value), c.expected);
    }
    EXPECT_LT(-fifteenNines * fifteenNines, Int128(LLONG_MIN));
    EXPECT_GT(fifteenNines * fifteenNines, Int128(LLONG_MAX));
    EXPECT_LT(Int128(-1), Int128(0));
}

#ifdef __SIZEOF_INT128__
TEST(Int128, AsTheNativeType) {
    std::mt19937_64 random(7);
    std::uniform_int_distribution<long long> amount(-999999999999999LL, 999999999999999LL);
    std::uniform_int_distribution<long long> divisor(1, 999999999999999LL);
    for (int i = 0; i < 10000; ++i) {
        const long long a = amount(random), b = amount(random), c = amount(random);
        const long long d = (i % 2 ? 1 : -1) * divisor(random);
        const __int128 native = static_cast<__int128>(a) * b + c;
        const Int128 wide = Int128(a) * b + c;
        const auto same = [](Int128 ours, __int128 theirs) {
            return static_cast<long long>(ours / LLONG_MAX) ==
                       static_cast<long long>(theirs / LLONG_MAX) &&
                   static_cast<long long>(ours % LLONG_MAX) ==
                       static_cast<long long>(theirs % LLONG_MAX);
        };
        ASSERT_TRUE(same(wide, native)) << a << " * " << b << " + " << c;
        ASSERT_TRUE(same(wide / d, native / d)) << text(wide) << " / " << d;
        ASSERT_TRUE(same(wide % d, native % d)) << text(wide) << " % " << d;
        ASSERT_EQ(wide < Int128(c), native < c);
    }
}
#endif

}  // namespace
