#include "TestFiles.h"

#include "sim/Files.h"

std::string readFile(const std::filesystem::path& path) {
    std::string content;
    satsim::readFile(path.string(), content);
    return content;
}

bool writeFile(const std::filesystem::path& path, const std::string& content) {
    std::error_code error;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    return !error && satsim::writeFile(path.string(), content);
}
