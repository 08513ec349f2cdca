#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>

#include "ConsoleTest.h"

extern char** environ;

namespace satvaro::test {

namespace {

constexpr char CONSOLE[] = SATVARO_BINARY_DIR "/bin/zozivodivo";
constexpr int LONG_WAIT_MS = 60000;

std::string section(const std::string& title, const std::string& content) {
    return "--- " + title + "\n" + content + "\n";
}

// Fields are separated by "|" and line ends.
std::string elideBase64(const std::string& text) {
    static const char ALPHABET[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=";
    std::string shown;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find_first_of("|\n", start), text.size());
        const std::string field = text.substr(start, end - start);
        const bool long64 =
            field.size() >= 80 && field.find_first_not_of(ALPHABET) == std::string::npos;
        shown += long64 ? "{Base64}" : field;
        shown += text.substr(end, 1);
        start = end + 1;
    }
    return shown;
}

}  // namespace

ConsoleProcess::ConsoleProcess(const std::vector<std::string>& args, const std::string& workdir,
                               const std::string& libraryDir) {
    signal(SIGPIPE, SIG_IGN);  // a console that has ended must not end the test
    // Only the console is started from here on: it inherits the loader's path.
    setenv("LD_LIBRARY_PATH", libraryDir.c_str(), 1);
    std::vector<std::string> texts{CONSOLE};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : texts) {
        argv.push_back(text.data());
    }
    argv.push_back(nullptr);

    int in[2];
    if (pipe2(in, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    const std::string outPath = (m_streams.path() / "out").string();
    const std::string errPath = (m_streams.path() / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT, 0600);
    const int failed = posix_spawn(&m_pid, CONSOLE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    m_in = in[1];
    if (failed != 0) {
        m_pid = -1;
        throw std::runtime_error(std::string("posix_spawn: ") + std::strerror(failed));
    }
}

ConsoleProcess::~ConsoleProcess() {
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
    closeInput();
}

// What a test types is far less than a pipe holds: one write takes it whole.
void ConsoleProcess::write(const std::string& input) {
    if (m_in >= 0 && ::write(m_in, input.data(), input.size()) < 0) {
        closeInput();  // the console has ended
    }
}

void ConsoleProcess::closeInput() {
    if (m_in >= 0) {
        close(m_in);
        m_in = -1;
    }
}

int ConsoleProcess::finish() {
    closeInput();
    const int exited = static_cast<int>(syscall(SYS_pidfd_open, m_pid, 0));  // readable at the exit
    pollfd wait{exited, POLLIN, 0};
    if (exited < 0 || poll(&wait, 1, LONG_WAIT_MS) != 1) {
        kill(m_pid, SIGKILL);
    }
    if (exited >= 0) {
        close(exited);
    }
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    out = readFile(m_streams.path() / "out");
    err = readFile(m_streams.path() / "err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void expectTranscript(const std::string& name, const std::string& text) {
    ::expectGolden(GOLDEN_DIR "/" + name + ".txt", elideBase64(text));
}

std::string ConsoleTest::transcript(const ConsoleRun& run) const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_workdir.path())) {
        names.insert(entry.path().filename().string());
    }
    std::string listed;
    for (const std::string& name : names) {
        listed += name + " ";
    }
    return section("exit status", std::to_string(run.status)) + section("stdout", run.out) +
           section("stderr", run.err) + section("files", listed) +
           section("codigoRuv.bin", ::readFile(path("codigoRuv.bin"))) +
           section("retUltimoCmd.bin", ::readFile(path("retUltimoCmd.bin")));
}

}  // namespace satvaro::test
