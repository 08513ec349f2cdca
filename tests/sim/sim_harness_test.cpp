// satvaro-harness seen from outside: what the command finds, what it
// leaves behind (nothing in the real /dev), and a simulator that cannot start.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "ScopedWorkDir.h"
#include "TestFiles.h"

namespace {

namespace fs = std::filesystem;

int run(const std::string& arguments) {
    const int status =
        std::system((SATVARO_SOURCE_DIR "/sim/satvaro-harness " + arguments).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::set<fs::path> listing(const fs::path& dir) {
    return {fs::directory_iterator(dir), fs::directory_iterator()};
}

TEST(Harness, CommandFindsTheDeviceAndNothingIsLeftBehind) {
    const ScratchDir scratch;
    const fs::path out = scratch.path() / "out";
    const std::set<fs::path> realDev = listing("/dev");
    EXPECT_EQ(
        7, run("--sim " SATVARO_BINARY_DIR "/bin/satvaro-sim -- sh -c '"
               "readlink /dev/ttyACM0 /dev/serial/by-id/usb-Varo_SAT_0001-if00-mfc+_with_musb;"
               " echo $SATVARO_SIM_DIR $SATVARO_SIM_PID; ls /dev | tr \"\\n\" \" \"; exit 7' > " +
               out.string()))
        << "the command's status comes back";

    std::istringstream lines(readFile(out));
    std::string node, byId, stateDir, dev;
    pid_t simulator = 0;
    lines >> node >> byId >> stateDir >> simulator;
    std::getline(lines >> std::ws, dev);
    EXPECT_EQ(0u, node.find("/dev/pts/"));
    EXPECT_EQ("../../ttyACM0", byId);
    for (const char* name : {"null", "zero", "urandom", "tty", "ptmx", "pts", "shm", "fd", "stdin"})
        EXPECT_NE(std::string::npos, (" " + dev).find(std::string(" ") + name + " ")) << name;
    EXPECT_FALSE(stateDir.empty() || fs::exists(stateDir)) << "state directory removed";
    ASSERT_GT(simulator, 0);
    EXPECT_EQ(-1, ::kill(simulator, 0));
    EXPECT_EQ(ESRCH, errno) << "simulator ended";
    EXPECT_EQ(realDev, listing("/dev")) << "the real /dev is untouched";
}

TEST(Harness, SimulatorThatDiesAtStartFailsTheRunBeforeTheCommand) {
    const ScratchDir scratch;
    const fs::path ran = scratch.path() / "ran";
    EXPECT_EQ(125, run("--sim /bin/false -- touch " + ran.string() + " 2>/dev/null"));
    EXPECT_FALSE(fs::exists(ran));
}

}  // namespace
