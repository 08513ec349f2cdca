// A bound on the log lines that clients can cause: at most one line per key
// (a client's address) in any minute, and at most a fixed number of lines in
// any minute in all, so that a flood of connections cannot fill the disk.
#ifndef SATVARO_HUB_LOGTHROTTLE_H
#define SATVARO_HUB_LOGTHROTTLE_H

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <utility>

namespace hub {

class LogThrottle {
public:
    using Clock = std::chrono::steady_clock;

    explicit LogThrottle(std::size_t linesPerMinute) : m_linesPerMinute(linesPerMinute) {}

    // Whether a line about `key` may be written at `now`; counts it when so.
    bool allows(const std::string& key, Clock::time_point now);

private:
    const std::size_t m_linesPerMinute;
    std::deque<std::pair<Clock::time_point, std::string>> m_lastMinute;
};

}  // namespace hub

#endif
