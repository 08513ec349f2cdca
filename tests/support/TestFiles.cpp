#include "TestFiles.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "ScopedWorkDir.h"
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

void expectGolden(const std::filesystem::path& golden, const std::string& actual) {
    if (std::getenv("SATVARO_UPDATE_GOLDEN") != nullptr) {
        writeFile(golden, actual);
    }
    EXPECT_EQ(readFile(golden), actual) << "golden file " << golden.string();
}

CommandOutput runCommand(const std::string& command) {
    CommandOutput output;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0)
        output.text.append(chunk, got);
    output.status = ::pclose(pipe);
    return output;
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "satvaro-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    m_path = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}
