#include "sim/Int128.h"

namespace satsim {

namespace {

const std::uint64_t LOW_HALF = 0xffffffffu;

// The full product of two 64-bit numbers, from their 32-bit halves; no
// partial sum can overflow.
void multiplyWide(std::uint64_t a, std::uint64_t b, std::uint64_t& high, std::uint64_t& low) {
    const std::uint64_t lowLow = (a & LOW_HALF) * (b & LOW_HALF);
    const std::uint64_t highLow = (a >> 32) * (b & LOW_HALF);
    const std::uint64_t lowHigh = (a & LOW_HALF) * (b >> 32);
    const std::uint64_t middle = (lowLow >> 32) + (highLow & LOW_HALF) + lowHigh;
    low = (middle << 32) | (lowLow & LOW_HALF);
    high = (a >> 32) * (b >> 32) + (highLow >> 32) + (middle >> 32);
}

}  // namespace

Int128 Int128::operator-() const {
    return Int128(~m_high, ~m_low) + Int128(1);
}

Int128 operator+(const Int128& a, const Int128& b) {
    const std::uint64_t low = a.m_low + b.m_low;
    return Int128(a.m_high + b.m_high + (low < a.m_low ? 1 : 0), low);
}

// Modulo 2^128 the two's complement product is the same for signed and
// unsigned factors: the low halves' full product, plus the cross terms.
Int128 operator*(const Int128& a, const Int128& b) {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    multiplyWide(a.m_low, b.m_low, high, low);
    return Int128(high + a.m_high * b.m_low + a.m_low * b.m_high, low);
}

bool operator<(const Int128& a, const Int128& b) {
    if (a.m_high != b.m_high) {
        return static_cast<std::int64_t>(a.m_high) < static_cast<std::int64_t>(b.m_high);
    }
    return a.m_low < b.m_low;
}

// Long division of the magnitudes, one bit at a time; the quotient takes the
// sign of the operands' product, the remainder the dividend's, as in C++.
void Int128::divide(const Int128& dividend, const Int128& divisor, Int128& quotient,
                    Int128& remainder) {
    const Int128 n = dividend.magnitude();
    const Int128 d = divisor.magnitude();
    Int128 q(0, 0);
    Int128 r(0, 0);
    for (int bit = 127; bit >= 0; --bit) {
        const std::uint64_t word = bit >= 64 ? n.m_high : n.m_low;
        r = Int128((r.m_high << 1) | (r.m_low >> 63), (r.m_low << 1) | ((word >> (bit % 64)) & 1));
        const bool fits = r.m_high != d.m_high ? r.m_high > d.m_high : r.m_low >= d.m_low;
        if (fits) {
            r = r - d;
            (bit >= 64 ? q.m_high : q.m_low) |= std::uint64_t{1} << (bit % 64);
        }
    }
    quotient = dividend.negative() != divisor.negative() ? -q : q;
    remainder = dividend.negative() ? -r : r;
}

Int128 operator/(const Int128& a, const Int128& b) {
    Int128 quotient;
    Int128 remainder;
    Int128::divide(a, b, quotient, remainder);
    return quotient;
}

Int128 operator%(const Int128& a, const Int128& b) {
    Int128 quotient;
    Int128 remainder;
    Int128::divide(a, b, quotient, remainder);
    return remainder;
}

}  // namespace satsim
