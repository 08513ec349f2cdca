// Exact decimal values of fiscal documents, kept in ten-thousandths: the
// finest a sale document writes (quantities and rates have four decimals).
#ifndef SATVARO_SIM_AMOUNT_H
#define SATVARO_SIM_AMOUNT_H

#include <string>
#include <vector>

#include "sim/Int128.h"

namespace satsim {

class Amount {
public:
    Amount() = default;

    // Digits with an optional point and at most four decimals, at most
    // eleven digits before the point; false for anything else (a sign, an
    // exponent, a comma, blanks).
    static bool parse(const std::string& text, Amount& value);

    Amount operator+(const Amount& other) const { return Amount(m_units + other.m_units); }
    Amount operator-(const Amount& other) const { return Amount(m_units - other.m_units); }
    Amount& operator+=(const Amount& other) {
        m_units += other.m_units;
        return *this;
    }
    bool operator<(const Amount& other) const { return m_units < other.m_units; }
    bool isZero() const { return m_units == 0; }
    bool isNegative() const { return m_units < 0; }

    // this x factor, to cents: rounded half away from zero, or truncated.
    Amount timesToCents(const Amount& factor, bool truncate = false) const;
    // this x rate / 100 (a rate in percent), to cents, rounded.
    Amount percentToCents(const Amount& rate) const;
    // Splits this, in cents, in proportion to `weights` (of cents, not
    // negative): each share rounded down, then the cents left one each to
    // the largest remainders, earlier weights first among equal ones. The
    // shares add up to this; all are zero when the weights add up to zero.
    std::vector<Amount> spread(const std::vector<Amount>& weights) const;

    // True when it has at most `digits` digits before the point.
    bool fits(int digits) const;
    // With two decimals ("62.30"), rounded.
    std::string text() const;

private:
    using Units = Int128;

    explicit Amount(Units units) : m_units(units) {}
    static Amount toCents(Units value, Units divisor, bool truncate);

    Units m_units = 0;
};

}  // namespace satsim

#endif
