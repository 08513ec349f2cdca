// Fixture of the console tests: a scratch working directory per test, and
// the console run in it against the library of this build.
#ifndef SATVARO_TESTS_CONSOLE_CONSOLETEST_H
#define SATVARO_TESTS_CONSOLE_CONSOLETEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ConsoleProcess.h"

namespace satvaro::test {

inline constexpr char LIBRARY_DIR[] = SATVARO_BINARY_DIR "/lib";
inline constexpr char VERSION_BANNER[] =
    "\n|----------------- Driver Sat Varo v01.00.01.001-------------------|\n\n";

// The whole content of a file; empty when it cannot be read.
std::string fileText(const std::string& path);

class ConsoleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string path(const std::string& name) const { return m_workdir + "/" + name; }
    const std::string& workdir() const { return m_workdir; }
    void writeFile(const std::string& name, const std::string& content) const;
    std::string readFile(const std::string& name) const { return fileText(path(name)); }

    ConsoleRun run(const std::vector<std::string>& args, const std::string& input,
                   const std::string& libraryDir = LIBRARY_DIR) const {
        return runConsole(args, m_workdir, libraryDir, input);
    }

private:
    std::string m_workdir;
};

}  // namespace satvaro::test

#endif
