// The diagnostic log when "logsDrs" is a file, read-only or on a full file
// system. The library only loses lines meanwhile: the host's calls are
// answered, lines come back once they can be written, and across a day change
// yesterday's log stays until its archive is really made.
//
// Read-only and full file systems are mounts in the case's own mount namespace
// (the harness gives each case one, and the mounts end with it): permission
// bits would not stop root, a read-only mount does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "DriverLog.h"
#include "DriverOnDevice.h"
#include "NamespaceGuard.h"
#include "TestFiles.h"
#include "log/LogClock.h"
#include "log/logdebug.h"

namespace fs = std::filesystem;

namespace {

const std::string HEADER = "DRS Version: 01.00.01.001\n";

bool shell(const std::string& command) {
    return runCommand("(" + command + ") 2>&1").status == 0;
}

const char READ_ONLY[] = "mount --bind logsDrs logsDrs && mount -o remount,bind,ro logsDrs";
const char SMALL[] = "mount -t tmpfs -o size=64k tmpfs logsDrs";
const char FILL_UP[] = "! cat /dev/zero > logsDrs/filler";  // every free block

// Leaves nothing mounted on `path` when it goes (before the scratch directory).
struct MountsOn {
    std::string path;
    ~MountsOn() {
        while (shell("umount " + path)) {
        }
    }
};

// --- through the exported functions --------------------------------------------

class LogFaults : public DriverOnDevice {
protected:
    // A query under `session`, answered; whether its request line was logged.
    bool queryLogged(int session) {
        const LogCursor log;
        char text[64];
        std::snprintf(text, sizeof text, "%06d|08000|", session);
        EXPECT_THAT(sat.ConsultarSAT(session), ::testing::StartsWith(text));
        EXPECT_EQ(sat.CodigoErro(), 0);
        std::snprintf(text, sizeof text, "txCode: ConsultarSAT txSessao:%06d txBufferSize:6",
                      session);
        return log.count("info", text) == 1;
    }
};

TEST_F(LogFaults, CallsAreAnsweredAndLinesResumeOnceTheyCanBeWritten) {
    ASSERT_TRUE(insideHarnessNamespace());
    const MountsOn mounts{"logsDrs"};
    ASSERT_TRUE(writeFile("logsDrs", "a file in the directory's place\n"));
    EXPECT_FALSE(queryLogged(1));
    fs::remove("logsDrs");
    EXPECT_TRUE(queryLogged(2));  // the directory and the day's file made again

    const std::string before = readDriverLog();
    ASSERT_TRUE(shell(READ_ONLY));
    EXPECT_FALSE(queryLogged(3));
    ASSERT_TRUE(shell("umount logsDrs"));
    EXPECT_TRUE(queryLogged(4));
    EXPECT_EQ(readDriverLog().rfind(before, 0), 0u) << "appended to the same file";

    ASSERT_TRUE(shell(SMALL) && shell(FILL_UP));
    EXPECT_FALSE(queryLogged(5));
    fs::remove("logsDrs/filler");
    EXPECT_TRUE(queryLogged(6));
}

// --- across day changes, through the log writer on its test clock ---------------

std::time_t g_now;

void onTestClock() {
    setenv("TZ", "UTC", 1);
    tzset();
    setLogClock([](std::time_t* out) { return out != nullptr ? *out = g_now : g_now; });
}

void logAt(const char* stamp, const char* message) {
    struct tm fields {};
    strptime(stamp, "%Y-%m-%d %H:%M:%S", &fields);
    g_now = timegm(&fields);
    LogDebug::obtemReferencia()->saveLog("info", message);
}

std::string dayLog(const std::string& day) {
    return readFile("logsDrs/logDrs" + day + ".log");
}

TEST(LogFaultsAtMidnight, YesterdaysLogStaysUntilArchivedAndTheNewDaysLinesResume) {
    ASSERT_TRUE(insideHarnessNamespace());
    const ScopedWorkDir workDir;
    const MountsOn mounts{"logsDrs"};
    onTestClock();

    // Removed before midnight: made again for the new day's file.
    logAt("2024-03-08 23:59:59", "one");
    fs::remove_all("logsDrs");
    logAt("2024-03-09 00:00:01", "made again");
    const std::string ninth = dayLog("20240309");
    EXPECT_EQ(ninth, HEADER + "[2024-03-09.00:00:01] - [info, made again]\n");

    // Read-only at midnight: nothing is archived nor started until writable.
    ASSERT_TRUE(shell(READ_ONLY));
    logAt("2024-03-10 00:00:01", "lost");
    EXPECT_FALSE(fs::exists("logsDrs/logDrs20240310.log"));
    ASSERT_TRUE(shell("umount logsDrs"));
    logAt("2024-03-10 00:00:02", "back");
    EXPECT_EQ(dayLog("20240310"), HEADER + "[2024-03-10.00:00:02] - [info, back]\n");
    EXPECT_EQ(dayLog("20240309"), ninth) << "its day is over: it is not archived any more";

    // Full at midnight: tar fails and the log stays; with room again the
    // next day change archives as usual.
    ASSERT_TRUE(shell(SMALL));  // over the files above
    logAt("2024-03-10 23:59:59", "late");
    const std::string tenth = dayLog("20240310");
    ASSERT_TRUE(shell(FILL_UP));
    logAt("2024-03-11 00:00:01", "lost");
    EXPECT_EQ(dayLog("20240310"), tenth);
    fs::remove("logsDrs/filler");
    logAt("2024-03-11 00:00:02", "back");
    EXPECT_THAT(dayLog("20240311"), ::testing::HasSubstr("[2024-03-11.00:00:02] - [info, back]\n"));
    logAt("2024-03-12 00:00:01", "next day");
    EXPECT_FALSE(fs::exists("logsDrs/logDrs20240311.log"));
    EXPECT_TRUE(fs::exists("logsDrs/logDrs20240311.tar.gz"));
    EXPECT_EQ(dayLog("20240310"), tenth);
}

// Programs first on the host's PATH that would leave a mark: the library
// starts none of them, for a call or at a day change, also once neither
// /usr/bin/tar nor /bin/tar can run (a file bound over them); the log stays.
TEST_F(LogFaults, NoProgramIsTakenFromTheHostsPath) {
    const ScratchDir tools;
    const fs::path marker = tools.path() / "marker";
    for (const char* name : {"ls", "grep", "tail", "sh", "tar", "gzip"}) {
        ASSERT_TRUE(writeFile(tools.path() / name, "#!/bin/sh\ntouch " + marker.string() + "\n"));
        fs::permissions(tools.path() / name, fs::perms::owner_all);
    }
    const std::string path = std::getenv("PATH");
    setenv("PATH", (tools.path().string() + ":" + path).c_str(), 1);
    EXPECT_TRUE(queryLogged(1));
    onTestClock();
    logAt("2024-03-09 23:59:59", "one");
    logAt("2024-03-10 00:00:01", "two");
    EXPECT_TRUE(fs::exists("logsDrs/logDrs20240309.tar.gz"));

    const std::string plain = (tools.path() / "not-a-program").string();
    ASSERT_TRUE(writeFile(plain, "#!/bin/sh\n"));
    const MountsOn usrBin{"/usr/bin/tar"}, bin{"/bin/tar"};
    ASSERT_TRUE(
        shell("mount --bind " + plain + " /usr/bin/tar && mount --bind " + plain + " /bin/tar"));
    const std::string tenth = dayLog("20240310");
    logAt("2024-03-11 00:00:01", "three");
    setenv("PATH", path.c_str(), 1);
    EXPECT_EQ(dayLog("20240310"), tenth);
    EXPECT_FALSE(fs::exists("logsDrs/logDrs20240310.tar.gz"));
    EXPECT_FALSE(fs::exists(marker));
}

// A reply whose fields hold CR LF and other control bytes: one line for the
// exchange, with the bytes escaped; the host gets the reply as it came.
TEST_F(LogFaults, ControlBytesInAReplyForgeNoLine) {
    const std::string forged =
        "000001|08000|\x1b[2Jok\r\n[2024-01-01.00:00:00] - [info, forjada]|Opera\xc3\xa7\xc3\xa3o";
    std::string fault = forged;  // the fault line escapes LF only
    fault.replace(fault.find('\n'), 1, "\\n");
    faults("next body " + fault);
    const LogCursor log;

    EXPECT_EQ(std::string(sat.ConsultarSAT(1)), forged);
    EXPECT_EQ(sat.CodigoErro(), 0);
    EXPECT_THAT(log.lines(), ::testing::Contains(
                                 "info|rxCode: ConsultarSAT rxSessao: 000001 rxEEEEE: 08000 "
                                 "rxCCCC: \\x1B[2Jok\\r\\n[2024-01-01.00:00:00] - [info, forjada] "
                                 "rxMessage: Opera\xc3\xa7\xc3\xa3o rxBufferSize: " +
                                 std::to_string(forged.size()) + " status: 0"));
    EXPECT_EQ(readDriverLog().find("\n[2024-01-01"), std::string::npos);
}

}  // namespace
