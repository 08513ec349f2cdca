// The console as the operator runs it: the built program as a child process
// with standard input on a pipe, in a scratch working directory per test,
// the loader looking for the driver library in a given directory. Every wait
// is bounded; the child is ended by its PID at the latest when the object
// goes away. What a run leaves is held against golden files kept beside the
// tests (tests/console/golden).
#ifndef SATVARO_TESTS_CONSOLE_CONSOLETEST_H
#define SATVARO_TESTS_CONSOLE_CONSOLETEST_H

#include <gtest/gtest.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "ScopedWorkDir.h"
#include "TestFiles.h"

namespace satvaro::test {

inline constexpr char LIBRARY_DIR[] = SATVARO_BINARY_DIR "/lib";

class ConsoleProcess {
public:
    ConsoleProcess(const std::vector<std::string>& args, const std::string& workdir,
                   const std::string& libraryDir = LIBRARY_DIR);
    ~ConsoleProcess();
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    void write(const std::string& input);
    void closeInput();
    // Closes standard input and waits a minute at most for the exit; then
    // out and err hold what the console wrote. Gives the exit status, or -1
    // when the child had to be killed.
    int finish();

    std::string out;
    std::string err;

private:
    ScratchDir m_streams;  // standard output and error, as files
    pid_t m_pid = -1;
    int m_in = -1;
};

// The replies as the console printed them on its standard error, in order.
inline std::vector<std::string> printedReplies(const std::string& err) {
    std::vector<std::string> replies;
    const std::string open = "retorno: ";
    for (std::size_t at = err.find(open); at != std::string::npos; at = err.find(open, at)) {
        at += open.size();
        replies.push_back(err.substr(at, err.find("\n\n\n", at) - at));
    }
    return replies;
}

struct ConsoleRun {
    int status;
    std::string out;
    std::string err;
};

// Compares `text` with golden/<name>.txt; SATVARO_UPDATE_GOLDEN=1 in the
// environment writes the file instead. Every reply field of 80 or more Base64
// characters (a document the device made) reads "{Base64}" in both.
void expectTranscript(const std::string& name, const std::string& text);

class ConsoleTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return (m_workdir.path() / name).string(); }
    std::string workdir() const { return m_workdir.path().string(); }
    void writeFile(const std::string& name, const std::string& content) const {
        ::writeFile(path(name), content);
    }

    // Runs the console to its end with the given standard input.
    ConsoleRun run(const std::vector<std::string>& args, const std::string& input,
                   const std::string& libraryDir = LIBRARY_DIR) const {
        ConsoleProcess console(args, workdir(), libraryDir);
        console.write(input);
        const int status = console.finish();
        return {status, console.out, console.err};
    }

    // The run's exit status, streams, and what it left in the working
    // directory: the names there and the console's two files.
    std::string transcript(const ConsoleRun& run) const;

private:
    ScratchDir m_workdir;
};

}  // namespace satvaro::test

#endif
