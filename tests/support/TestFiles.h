// Whole-file reads and writes for tests.
#ifndef SATVARO_TESTS_SUPPORT_TESTFILES_H
#define SATVARO_TESTS_SUPPORT_TESTFILES_H

#include <filesystem>
#include <string>

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Writes `content` to `path` (created or truncated), making its parent
// directories first; false on any failure.
bool writeFile(const std::filesystem::path& path, const std::string& content);

#endif
