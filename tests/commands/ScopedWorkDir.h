// Runs a test in a fresh temporary working directory, removed afterwards.
#ifndef SATVARO_TESTS_COMMANDS_SCOPEDWORKDIR_H
#define SATVARO_TESTS_COMMANDS_SCOPEDWORKDIR_H

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class ScopedWorkDir {
public:
    ScopedWorkDir() : m_previous(std::filesystem::current_path()) {
        std::string pattern = (std::filesystem::temp_directory_path() / "satvaro-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
        std::filesystem::current_path(m_path);
    }
    ~ScopedWorkDir() {
        std::filesystem::current_path(m_previous);
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScopedWorkDir(const ScopedWorkDir&) = delete;
    ScopedWorkDir& operator=(const ScopedWorkDir&) = delete;

private:
    std::filesystem::path m_previous;
    std::filesystem::path m_path;
};

inline std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Every line the driver logged below the current directory.
inline std::string readDriverLog() {
    std::string all;
    if (std::filesystem::is_directory("logsDrs")) {
        for (const auto& entry : std::filesystem::directory_iterator("logsDrs")) {
            if (entry.path().extension() == ".log") {
                all += readFile(entry.path());
            }
        }
    }
    return all;
}

#endif
