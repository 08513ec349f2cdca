// A signed 128-bit integer on every target: the exact product of two amounts
// needs more than 64 bits, and 32-bit targets have no native type that wide.
// As with the native types, arithmetic wraps modulo 2^128 and division
// truncates towards zero; dividing by zero is the caller's fault.
#ifndef SATVARO_SIM_INT128_H
#define SATVARO_SIM_INT128_H

#include <cstdint>

namespace satsim {

class Int128 {
public:
    // Implicit, so that plain numbers mix with it as with a native type.
    constexpr Int128(long long value = 0)
        : m_high(value < 0 ? ~std::uint64_t{0} : 0), m_low(static_cast<std::uint64_t>(value)) {}

    // The low 64 bits: the value itself whenever it fits.
    explicit operator long long() const { return static_cast<long long>(m_low); }

    Int128 operator-() const;
    friend Int128 operator+(const Int128& a, const Int128& b);
    friend Int128 operator-(const Int128& a, const Int128& b) { return a + -b; }
    friend Int128 operator*(const Int128& a, const Int128& b);
    friend Int128 operator/(const Int128& a, const Int128& b);
    friend Int128 operator%(const Int128& a, const Int128& b);
    Int128& operator+=(const Int128& other) { return *this = *this + other; }
    Int128& operator-=(const Int128& other) { return *this = *this - other; }
    Int128& operator*=(const Int128& other) { return *this = *this * other; }
    Int128& operator/=(const Int128& other) { return *this = *this / other; }

    friend bool operator<(const Int128& a, const Int128& b);
    friend bool operator==(const Int128& a, const Int128& b) {
        return a.m_high == b.m_high && a.m_low == b.m_low;
    }
    friend bool operator!=(const Int128& a, const Int128& b) { return !(a == b); }
    friend bool operator>(const Int128& a, const Int128& b) { return b < a; }
    friend bool operator<=(const Int128& a, const Int128& b) { return !(b < a); }
    friend bool operator>=(const Int128& a, const Int128& b) { return !(a < b); }

private:
    constexpr Int128(std::uint64_t high, std::uint64_t low) : m_high(high), m_low(low) {}
    bool negative() const { return (m_high >> 63) != 0; }
    Int128 magnitude() const { return negative() ? -*this : *this; }
    static void divide(const Int128& dividend, const Int128& divisor, Int128& quotient,
                       Int128& remainder);

    std::uint64_t m_high;  // two's complement, as the native type
    std::uint64_t m_low;
};

}  // namespace satsim

#endif
