// satvaro-harness seen from outside: what the command finds, what it
// leaves behind (nothing in the real /dev), and its failures.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ScratchDir.h"
#include "TestFiles.h"

namespace {

const std::string HARNESS = SATVARO_SOURCE_DIR "/sim/satvaro-harness";
const std::string SIMULATOR = SATVARO_BINARY_DIR "/bin/satvaro-sim";

std::set<std::string> listing(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* entry = ::readdir(d))
            names.insert(entry->d_name);
        ::closedir(d);
    }
    return names;
}

bool exists(const std::string& path) {
    struct stat info;
    return ::lstat(path.c_str(), &info) == 0;
}

class Harness : public ::testing::Test {
protected:
    // Runs the harness with `options` and a shell script; its exit status.
    int run(const std::string& options, const std::string& script) {
        writeFile(scratch + "/script", script);
        std::string command =
            HARNESS + " --sim " + SIMULATOR + " " + options + " -- sh " + scratch + "/script";
        int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string output(const std::string& name) { return readFile(scratch + "/" + name); }

    ScratchDir m_scratch;
    const std::string scratch = m_scratch.path().string();
};

TEST_F(Harness, CommandFindsTheDeviceAndNothingIsLeftBehind) {
    std::set<std::string> realDev = listing("/dev");
    int status = run("", "readlink /dev/ttyACM0 > " + scratch +
                             "/node\n"
                             "readlink /dev/serial/by-id/usb-Varo_SAT_0001-if00-mfc+_with_musb > " +
                             scratch +
                             "/by-id\n"
                             "echo \"$SATVARO_SIM_DIR\" > " +
                             scratch +
                             "/dir\n"
                             "echo \"$SATVARO_SIM_PID\" > " +
                             scratch +
                             "/pid\n"
                             "ls /dev > " +
                             scratch +
                             "/dev\n"
                             "exit 7\n");
    EXPECT_EQ(7, status) << "the command's status comes back";
    EXPECT_EQ(0u, output("node").find("/dev/pts/"));
    EXPECT_EQ("../../ttyACM0\n", output("by-id"));
    for (const char* node : {"null", "zero", "urandom", "tty", "ptmx", "pts", "shm", "fd", "stdin"})
        EXPECT_NE(std::string::npos, output("dev").find(std::string(node) + "\n")) << node;

    std::string dir = output("dir");
    ASSERT_FALSE(dir.empty());
    dir.pop_back();
    EXPECT_FALSE(exists(dir)) << "state directory removed";
    pid_t simulator = static_cast<pid_t>(std::atol(output("pid").c_str()));
    ASSERT_GT(simulator, 0);
    EXPECT_EQ(-1, ::kill(simulator, 0));
    EXPECT_EQ(ESRCH, errno) << "simulator ended";
    EXPECT_EQ(realDev, listing("/dev")) << "the real /dev is untouched";
}

TEST_F(Harness, KeptStateHoldsTheDevicesFiles) {
    ASSERT_EQ(0, ::setenv("SATVARO_KEEP_STATE", "1", 1));
    int status = run("", "echo \"$SATVARO_SIM_DIR\" > " + scratch + "/dir\n");
    ::unsetenv("SATVARO_KEEP_STATE");
    EXPECT_EQ(0, status);
    std::string dir = output("dir");
    ASSERT_FALSE(dir.empty());
    dir.pop_back();
    EXPECT_TRUE(exists(dir + "/ready"));
    EXPECT_TRUE(exists(dir + "/requests"));
    std::filesystem::remove_all(dir);
}

TEST_F(Harness, SimulatorThatDiesAtStartFailsTheRunBeforeTheCommand) {
    std::string command = HARNESS + " --sim /bin/false -- touch " + scratch + "/ran 2>/dev/null";
    int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(125, WEXITSTATUS(status));
    EXPECT_FALSE(exists(scratch + "/ran"));
}

TEST_F(Harness, FakeSysfsAndWorkingDirectory) {
    std::string workdir = scratch + "/work/here";
    int status = run("--sysfs --workdir " + workdir, "pwd > " + scratch +
                                                         "/pwd\n"
                                                         "cat /sys/bus/usb/devices/*/idVendor > " +
                                                         scratch +
                                                         "/vendors\n"
                                                         "ls /sys/bus/usb/devices/1-1/*/tty > " +
                                                         scratch + "/tty\n");
    EXPECT_EQ(0, status);
    EXPECT_EQ(workdir + "\n", output("pwd"));
    EXPECT_EQ("0525\n1d6b\n", output("vendors"));
    EXPECT_EQ("ttyACM0\n", output("tty"));
}

}  // namespace
