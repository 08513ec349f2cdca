#include "sim/Amount.h"

#include <algorithm>

namespace satsim {

namespace {

const int DECIMALS = 4;
const int INTEGER_DIGITS = 11;
const Int128 UNITS_PER_CENT = 100;
const Int128 UNITS_PER_ONE = 10000;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool Amount::parse(const std::string& text, Amount& value) {
    std::size_t point = std::min(text.find('.'), text.size());
    std::size_t decimals = point < text.size() ? text.size() - point - 1 : 0;
    if (point == 0 || point > INTEGER_DIGITS || (point < text.size() && decimals == 0) ||
        decimals > DECIMALS)
        return false;
    Units units = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i == point)
            continue;
        if (!isDigit(text[i]))
            return false;
        units = units * 10 + (text[i] - '0');
    }
    for (std::size_t i = decimals; i < DECIMALS; ++i)
        units *= 10;
    value = Amount(units);
    return true;
}

// Division truncates towards zero; rounding adds one cent away from zero
// when the remainder is half the divisor or more.
Amount Amount::toCents(Units value, Units divisor, bool truncate) {
    Units cents = value / divisor;
    Units remainder = value % divisor;
    if (remainder < 0)
        remainder = -remainder;
    if (!truncate && 2 * remainder >= divisor)
        cents += value < 0 ? -1 : 1;
    return Amount(cents * UNITS_PER_CENT);
}

Amount Amount::timesToCents(const Amount& factor, bool truncate) const {
    return toCents(m_units * factor.m_units, UNITS_PER_ONE * UNITS_PER_CENT, truncate);
}

Amount Amount::percentToCents(const Amount& rate) const {
    return toCents(m_units * rate.m_units, UNITS_PER_ONE * UNITS_PER_CENT * 100, false);
}

std::vector<Amount> Amount::spread(const std::vector<Amount>& weights) const {
    Units whole = 0;
    for (const Amount& weight : weights)
        whole += weight.m_units / UNITS_PER_CENT;
    std::vector<Amount> shares(weights.size());
    if (whole <= 0)
        return shares;
    Units cents = m_units / UNITS_PER_CENT, left = cents;
    std::vector<std::pair<Units, std::size_t>> remainders;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        Units scaled = cents * (weights[i].m_units / UNITS_PER_CENT);
        const Units share = scaled / whole;
        shares[i] = Amount(share * UNITS_PER_CENT);
        left -= share;
        remainders.emplace_back(-(scaled % whole), i);
    }
    std::sort(remainders.begin(), remainders.end());
    for (std::size_t i = 0; left > 0 && i < remainders.size(); ++i, left -= 1)
        shares[remainders[i].second].m_units += UNITS_PER_CENT;
    return shares;
}

bool Amount::fits(int digits) const {
    Units limit = UNITS_PER_ONE;
    for (int i = 0; i < digits; ++i)
        limit *= 10;
    return m_units < limit && -m_units < limit;
}

std::string Amount::text() const {
    Units cents = toCents(m_units, UNITS_PER_CENT, false).m_units / UNITS_PER_CENT;
    Units magnitude = cents < 0 ? -cents : cents;
    std::string digits;
    for (; magnitude > 0 || digits.size() < 3; magnitude /= 10)
        digits.insert(
            digits.begin(),
            static_cast<char>('0' + static_cast<int>(static_cast<long long>(magnitude % 10))));
    digits.insert(digits.size() - 2, ".");
    return (cents < 0 ? "-" : "") + digits;
}

}  // namespace satsim
