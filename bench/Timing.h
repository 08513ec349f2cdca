// What the benchmarks time with: the steady clock, and the median of a run's
// samples, which one slow sample on a shared machine does not move.
#ifndef SATVARO_BENCH_TIMING_H
#define SATVARO_BENCH_TIMING_H

#include <algorithm>
#include <chrono>
#include <vector>

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The middle value (the upper of the two middle ones for an even count).
inline double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

#endif
