#include "DriverLog.h"

#include <regex>
#include <sstream>

#include "TestFiles.h"

namespace fs = std::filesystem;

namespace {

using FileSizes = std::map<fs::path, std::uintmax_t>;

FileSizes dayFiles() {
    FileSizes files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("logsDrs", error)) {
        if (entry.path().filename().string().rfind("logDrs", 0) == 0 &&
            entry.path().extension() == ".log")
            files[entry.path()] = entry.file_size();
    }
    return files;
}

// What the day files hold beyond the sizes in `start` (a file not in it
// from its beginning), in date order.
std::string appendedSince(const FileSizes& start) {
    std::string text;
    for (const auto& file : dayFiles()) {
        const auto known = start.find(file.first);
        const std::uintmax_t from = known == start.end() ? 0 : known->second;
        const std::string content = readFile(file.first);
        if (content.size() > from)
            text += content.substr(from);
    }
    return text;
}

}  // namespace

std::string withoutStamps(const std::string& log) {
    static const std::regex stamp(R"(^\[\d{4}-\d{2}-\d{2}\.\d{2}:\d{2}:\d{2}\])",
                                  std::regex::multiline);
    return std::regex_replace(log, stamp, "[stamp]");
}

std::string readDriverLog() {
    return appendedSince(FileSizes());
}

LogCursor::LogCursor() : m_start(dayFiles()) {}

std::vector<std::string> LogCursor::lines() const {
    std::vector<std::string> result;
    std::istringstream in(appendedSince(m_start));
    std::string line;
    while (std::getline(in, line)) {
        // "[YYYY-MM-DD.HH:MM:SS] - [level, message]"
        const size_t open = line.find("] - [");
        const size_t comma = line.find(", ", open);
        if (open == std::string::npos || comma == std::string::npos || line.back() != ']')
            continue;
        const std::string level = line.substr(open + 5, comma - open - 5);
        result.push_back(level + "|" + line.substr(comma + 2, line.size() - comma - 3));
    }
    return result;
}

int LogCursor::count(const std::string& level, const std::string& message) const {
    int found = 0;
    for (const std::string& line : lines())
        found += line == level + "|" + message ? 1 : 0;
    return found;
}
