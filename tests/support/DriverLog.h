// The driver's daily log as a test reads it: the day files
// "logsDrs/logDrs<date>.log" below the working directory, each line
// "[stamp] - [level, message]".
#ifndef SATVARO_TESTS_SUPPORT_DRIVERLOG_H
#define SATVARO_TESTS_SUPPORT_DRIVERLOG_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

// Everything the driver logged so far.
std::string readDriverLog();
// `log` with every line's stamp replaced by "[stamp]".
std::string withoutStamps(const std::string& log);

// What the driver logs from the moment the cursor is made.
class LogCursor {
public:
    LogCursor();
    // "level|message" of every new line, in order.
    std::vector<std::string> lines() const;
    int count(const std::string& level, const std::string& message) const;

private:
    std::map<std::filesystem::path, std::uintmax_t> m_start;  // day file and its size then
};

#endif
