#include "ConsoleProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace satvaro::test {

namespace {

constexpr char CONSOLE[] = SATVARO_BINARY_DIR "/bin/zozivodivo";

std::vector<std::string> environmentWith(const std::string& libraryDir) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "LD_LIBRARY_PATH=", 16) != 0) {
            env.emplace_back(*entry);
        }
    }
    env.push_back("LD_LIBRARY_PATH=" + libraryDir);
    return env;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void makePipe(int fds[2]) {
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
}

void closeFd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

ConsoleProcess::ConsoleProcess(const std::vector<std::string>& args, const std::string& workdir,
                               const std::string& libraryDir) {
    signal(SIGPIPE, SIG_IGN);  // a console that has ended must not end the test
    std::vector<std::string> argvTexts{CONSOLE};
    argvTexts.insert(argvTexts.end(), args.begin(), args.end());
    std::vector<std::string> envTexts = environmentWith(libraryDir);
    std::vector<char*> argv = pointersTo(argvTexts);
    std::vector<char*> envp = pointersTo(envTexts);
    int in[2], out[2], err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);

    m_pid = fork();
    if (m_pid == 0) {  // only async-signal-safe calls from here to exec
        if (chdir(workdir.c_str()) != 0 || dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 ||
            dup2(err[1], 2) < 0) {
            _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    m_in = in[1];
    m_outFd = out[0];
    m_errFd = err[0];
    if (m_pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
}

ConsoleProcess::~ConsoleProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    closeFd(m_in);
    closeFd(m_outFd);
    closeFd(m_errFd);
}

void ConsoleProcess::write(const std::string& input) {
    std::size_t sent = 0;
    while (m_in >= 0 && sent < input.size()) {
        const ssize_t n = ::write(m_in, input.data() + sent, input.size() - sent);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        sent += static_cast<std::size_t>(n);
    }
}

void ConsoleProcess::closeInput() {
    closeFd(m_in);
}

bool ConsoleProcess::waitForErr(const std::string& text, std::size_t count,
                                std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (occurrences(m_err, text) < count) {
        if (!collect(deadline)) {
            return occurrences(m_err, text) >= count;
        }
    }
    return true;
}

// One round of reading whatever the child wrote; false once both streams
// have ended or the deadline has passed.
bool ConsoleProcess::collect(std::chrono::steady_clock::time_point deadline) {
    pollfd fds[2] = {{m_outFd, POLLIN, 0}, {m_errFd, POLLIN, 0}};
    if (m_outFd < 0 && m_errFd < 0) {
        return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
        return false;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) <= 0) {
        return false;
    }
    std::string* buffers[2] = {&m_out, &m_err};
    int* descriptors[2] = {&m_outFd, &m_errFd};
    for (int i = 0; i < 2; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t n = read(*descriptors[i], chunk, sizeof chunk);
        if (n > 0) {
            buffers[i]->append(chunk, static_cast<std::size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            closeFd(*descriptors[i]);
        }
    }
    return true;
}

int ConsoleProcess::finish(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    closeInput();
    while (collect(deadline)) {
    }
    return reap(deadline);
}

void ConsoleProcess::stop() {
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        reap(std::chrono::steady_clock::now() + LONG_WAIT);
    }
}

int ConsoleProcess::reap(std::chrono::steady_clock::time_point deadline) {
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        usleep(10 * 1000);
    }
    const bool exited = done == m_pid && WIFEXITED(status);
    if (done != m_pid) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    m_pid = -1;
    return exited ? WEXITSTATUS(status) : -1;
}

std::size_t occurrences(const std::string& in, const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + 1)) {
        ++count;
    }
    return count;
}

ConsoleRun runConsole(const std::vector<std::string>& args, const std::string& workdir,
                      const std::string& libraryDir, const std::string& input) {
    ConsoleProcess console(args, workdir, libraryDir);
    console.write(input);
    const int status = console.finish();
    return {status, console.out(), console.err()};
}

}  // namespace satvaro::test
