// Fixture of the console tests: a scratch working directory per test, and
// the console run in it against the library of this build.
#ifndef SATVARO_TESTS_CONSOLE_CONSOLETEST_H
#define SATVARO_TESTS_CONSOLE_CONSOLETEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConsoleProcess.h"
#include "ScratchDir.h"
#include "TestFiles.h"

namespace satvaro::test {

inline constexpr char LIBRARY_DIR[] = SATVARO_BINARY_DIR "/lib";
inline constexpr char VERSION_BANNER[] =
    "\n|----------------- Driver Sat Varo v01.00.01.001-------------------|\n\n";

class ConsoleTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (m_workdir.path() / name).string(); }
    std::string workdir() const { return m_workdir.path().string(); }
    void writeFile(const std::string& name, const std::string& content) const {
        ::writeFile(path(name), content);
    }
    std::string readFile(const std::string& name) const { return ::readFile(path(name)); }

    ConsoleRun run(const std::vector<std::string>& args, const std::string& input,
                   const std::string& libraryDir = LIBRARY_DIR) const {
        return runConsole(args, workdir(), libraryDir, input);
    }

private:
    ScratchDir m_workdir;
};

}  // namespace satvaro::test

#endif
