// The end of an exchange's time budget, on the monotonic clock: a wall-clock
// step (NTP at boot, an operator fixing the date) neither cuts short nor
// stretches a wait that may legitimately last half an hour.
#ifndef SATVARO_SERIAL_DEADLINE_H
#define SATVARO_SERIAL_DEADLINE_H

#include <algorithm>
#include <chrono>

namespace serial {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    // `budgetMs` from now; a negative budget has already passed.
    explicit Deadline(long long budgetMs)
        : m_end(Clock::now() + std::chrono::milliseconds(budgetMs)) {}
    // One that never passes.
    static Deadline never() { return Deadline(Clock::time_point::max()); }
    static Deadline at(Clock::time_point end) { return Deadline(end); }

    Clock::time_point end() const { return m_end; }
    bool passed() const { return Clock::now() >= m_end; }
    // Milliseconds left, rounded up, never negative; `cap` bounds the
    // answer (poll takes an int).
    int remainingMs(int cap) const {
        if (m_end == Clock::time_point::max()) {
            return cap;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_end - Clock::now());
        return static_cast<int>(std::clamp<long long>(left.count(), 0, cap));
    }

private:
    explicit Deadline(Clock::time_point end) : m_end(end) {}

    Clock::time_point m_end;
};

}  // namespace serial

#endif
