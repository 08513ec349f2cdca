// Whole-file reads and writes, and shell commands, for tests.
#ifndef SATVARO_TESTS_SUPPORT_TESTFILES_H
#define SATVARO_TESTS_SUPPORT_TESTFILES_H

#include <filesystem>
#include <string>

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Writes `content` to `path` (created or truncated), making its parent
// directories first; false on any failure.
bool writeFile(const std::filesystem::path& path, const std::string& content);

// Expects `actual` to equal the golden file at `golden`; with
// SATVARO_UPDATE_GOLDEN set in the environment it writes the file first.
void expectGolden(const std::filesystem::path& golden, const std::string& actual);

struct CommandOutput {
    int status = -1;   // as pclose gives it; -1 when the command could not start
    std::string text;  // its standard output
};

// Runs `command` with /bin/sh and waits for it.
CommandOutput runCommand(const std::string& command);

#endif
