// satvaro-harness seen from outside: what the command finds, what it
// leaves behind (nothing in the real /dev), and a simulator that cannot start.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

#include "ScratchDir.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;

const std::string HARNESS = SATVARO_SOURCE_DIR "/sim/satvaro-harness";

int exitStatus(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::set<fs::path> listing(const fs::path& dir) {
    std::set<fs::path> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.insert(entry.path());
    }
    return names;
}

TEST(Harness, CommandFindsTheDeviceAndNothingIsLeftBehind) {
    const ScratchDir scratch;
    const fs::path out = scratch.path() / "out";
    const std::set<fs::path> realDev = listing("/dev");
    writeFile(scratch.path() / "script",
              "readlink /dev/ttyACM0 /dev/serial/by-id/usb-Varo_SAT_0001-if00-mfc+_with_musb\n"
              "echo \"$SATVARO_SIM_DIR\"; echo \"$SATVARO_SIM_PID\"; ls /dev; exit 7\n");
    EXPECT_EQ(7, exitStatus(HARNESS + " --sim " SATVARO_BINARY_DIR "/bin/satvaro-sim -- sh " +
                            (scratch.path() / "script").string() + " > " + out.string()))
        << "the command's status comes back";

    std::istringstream lines(readFile(out));
    std::string node, byId, stateDir, pid;
    std::getline(lines, node);
    std::getline(lines, byId);
    std::getline(lines, stateDir);
    std::getline(lines, pid);
    EXPECT_EQ(0u, node.find("/dev/pts/"));
    EXPECT_EQ("../../ttyACM0", byId);
    const std::string dev((std::istreambuf_iterator<char>(lines)), {});
    for (const char* name : {"null", "zero", "urandom", "tty", "ptmx", "pts", "shm", "fd", "stdin"})
        EXPECT_NE(std::string::npos, dev.find(std::string(name) + "\n")) << name;

    ASSERT_FALSE(stateDir.empty());
    EXPECT_FALSE(fs::exists(stateDir)) << "state directory removed";
    ASSERT_GT(std::atol(pid.c_str()), 0);
    EXPECT_EQ(-1, ::kill(static_cast<pid_t>(std::atol(pid.c_str())), 0));
    EXPECT_EQ(ESRCH, errno) << "simulator ended";
    EXPECT_EQ(realDev, listing("/dev")) << "the real /dev is untouched";
}

TEST(Harness, SimulatorThatDiesAtStartFailsTheRunBeforeTheCommand) {
    const ScratchDir scratch;
    const fs::path ran = scratch.path() / "ran";
    EXPECT_EQ(125,
              exitStatus(HARNESS + " --sim /bin/false -- touch " + ran.string() + " 2>/dev/null"));
    EXPECT_FALSE(fs::exists(ran));
}

}  // namespace
