// ConsoleProcess: runs the built console as a child process with its three
// standard streams on pipes, in a given working directory and with the loader
// looking for the driver library in a given directory. Every wait is bounded;
// the child is ended by its PID at the latest when the object goes away.
#ifndef SATVARO_TESTS_CONSOLE_CONSOLEPROCESS_H
#define SATVARO_TESTS_CONSOLE_CONSOLEPROCESS_H

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace satvaro::test {

inline constexpr std::chrono::seconds LONG_WAIT{60};

class ConsoleProcess {
public:
    ConsoleProcess(const std::vector<std::string>& args, const std::string& workdir,
                   const std::string& libraryDir);
    ~ConsoleProcess();
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    void write(const std::string& input);
    void closeInput();

    // Collects output until `text` has appeared `count` times on standard
    // error or `limit` has passed; true when it has.
    bool waitForErr(const std::string& text, std::size_t count = 1,
                    std::chrono::milliseconds limit = LONG_WAIT);

    // Closes standard input, collects all output and waits for the exit.
    // Gives the exit status, or -1 when the child had to be killed.
    int finish(std::chrono::milliseconds limit = LONG_WAIT);

    // Ends the child by its PID (SIGTERM) and reaps it.
    void stop();

    const std::string& out() const { return m_out; }
    const std::string& err() const { return m_err; }

private:
    bool collect(std::chrono::steady_clock::time_point deadline);
    int reap(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid = -1;
    int m_in = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    std::string m_out;
    std::string m_err;
};

// How many times `text` occurs in `in`.
std::size_t occurrences(const std::string& in, const std::string& text);

struct ConsoleRun {
    int status;
    std::string out;
    std::string err;
};

// Runs the console to its end with the given standard input.
ConsoleRun runConsole(const std::vector<std::string>& args, const std::string& workdir,
                      const std::string& libraryDir, const std::string& input);

}  // namespace satvaro::test

#endif
