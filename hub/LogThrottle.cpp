#include "hub/LogThrottle.h"

#include <algorithm>

namespace hub {

bool LogThrottle::allows(const std::string& key, Clock::time_point now) {
    while (!m_lastMinute.empty() && now - m_lastMinute.front().first >= std::chrono::minutes(1)) {
        m_lastMinute.pop_front();
    }
    // The window holds at most m_linesPerMinute entries: the search is short.
    const bool seen = std::any_of(m_lastMinute.begin(), m_lastMinute.end(),
                                  [&](const auto& line) { return line.second == key; });
    if (seen || m_lastMinute.size() >= m_linesPerMinute) {
        return false;
    }
    m_lastMinute.emplace_back(now, key);
    return true;
}

}  // namespace hub
