// The log writer on real files, with the real tar, each case in its own scratch
// working directory. A test clock stands in for the time of day so that a case
// can cross midnight; the zone is UTC.
#include "log/logdebug.h"
#include "log/LogClock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "ScopedWorkDir.h"
#include "TestFiles.h"
#include "commands/UCManipulaDadosSat.h"
#include "log/TarArchive.h"

namespace fs = std::filesystem;

namespace {

const char HEADER[] = "DRS Version: 01.00.01.001\n";

std::time_t g_now;

std::time_t testClock(std::time_t* out) {
    if (out)
        *out = g_now;
    return g_now;
}

std::time_t utc(const char* stamp) {
    struct tm fields {};
    strptime(stamp, "%Y-%m-%d %H:%M:%S", &fields);
    return timegm(&fields);
}

// Every entry below dir (links not followed), as relative paths.
std::set<std::string> tree(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(entry.path(), dir).string());
    return names;
}

std::string logName(const std::string& day) {
    return "logsDrs/logDrs" + day + ".log";
}

struct Output {
    std::string out;
    std::string err;
};

class LogDebugTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        setLogClock(testClock);
        m_log = LogDebug::obtemReferencia();
    }

    void logAt(const char* stamp, const std::string& level, const std::string& message) {
        g_now = utc(stamp);
        m_log->saveLog(level, message);
    }

    // What `action` (and the commands it starts) wrote on standard output
    // and error.
    static Output captured(const std::function<void()>& action) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        action();
        const std::string out = ::testing::internal::GetCapturedStdout();
        return {out, ::testing::internal::GetCapturedStderr()};
    }

    // Old logs of the first days of March 2024, in order.
    void makeLogs(int firstDay, int count) {
        for (int day = firstDay; day < firstDay + count; ++day)
            writeFile(logName("202403" + twoDigits(day)), "old\n");
    }

    int retentionPass() {
        char dir[] = "logsDrs";
        return m_log->removeLastDays(dir);
    }

    static std::string twoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

    ScopedWorkDir m_workDir;
    LogDebug* m_log = nullptr;
};

// --- the writer ---------------------------------------------------------------

// Control bytes from the device or the caller never start a line of their
// own; the cut comes after escaping.
TEST_F(LogDebugTest, NewDayStartsFileWithHeaderSilentlyAndLinesAreEscapedAndCutAt511Bytes) {
    const std::string prefix = "[2024-03-09.13:05:07] - [info, ";
    const char CONTROL[] = "a\r\n[x] - [b\0\x1b|\xc3\xa7\xe7\x7f";
    std::string escapedLfs;
    for (int i = 0; i < 300; ++i)
        escapedLfs += "\\n";
    const Output output = captured([&] {
        logAt("2024-03-09 13:05:07", "info", std::string(600, 'x'));
        logAt("2024-03-09 13:05:07", "info", std::string(511 - prefix.size() - 1, 'y'));
        logAt("2024-03-09 13:05:07", "info", std::string(300, '\n'));
        logAt("2024-03-09 13:05:08", "", "");
        logAt("2024-03-09 13:05:08", "in\tfo", std::string(CONTROL, sizeof CONTROL - 1));
    });

    EXPECT_EQ(output.out + output.err, "");
    EXPECT_EQ(
        readFile(logName("20240309")),
        HEADER + prefix + std::string(511 - prefix.size(), 'x') + "\n" + prefix +
            std::string(511 - prefix.size() - 1, 'y') + "]\n" +
            (prefix + escapedLfs).substr(0, 511) + "\n" + "[2024-03-09.13:05:08] - [, ]\n" +
            "[2024-03-09.13:05:08] - [in\\x09fo, a\\r\\n[x] - [b\\x00\\x1B|\xc3\xa7\xe7\x7f]\n");
}

// Only a file the writer starts gets the header and a retention pass, also
// when the file or its directory went away during the day.
TEST_F(LogDebugTest, FileOrDirectoryRemovedDuringTheDayStartsAgain) {
    makeLogs(1, 7);
    writeFile(logName("20240309"), "earlier\n");
    logAt("2024-03-09 08:00:00", "info", "one");
    EXPECT_EQ(readFile(logName("20240309")), "earlier\n[2024-03-09.08:00:00] - [info, one]\n");
    ASSERT_TRUE(fs::exists(logName("20240301")));

    fs::remove(logName("20240309"));
    logAt("2024-03-09 08:00:01", "info", "two");
    EXPECT_EQ(readFile(logName("20240309")),
              std::string(HEADER) + "[2024-03-09.08:00:01] - [info, two]\n");
    EXPECT_FALSE(fs::exists(logName("20240301")));

    fs::remove_all("logsDrs");
    logAt("2024-03-09 08:00:02", "info", "three");
    EXPECT_EQ(readFile(logName("20240309")),
              std::string(HEADER) + "[2024-03-09.08:00:02] - [info, three]\n");
    const mode_t mask = umask(0);
    umask(mask);
    struct stat dir {};
    ASSERT_EQ(stat("logsDrs", &dir), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0775 & ~mask);
}

// Files that can be written but not read: the day's log and the performance
// record are appended to, never started again. Root reads any file, so the
// lines go as nobody then.
TEST_F(LogDebugTest, ExistingWriteOnlyFilesAreAppendedTo) {
    const fs::path files[] = {logName("20240309"), "teste_desempenho.csv"};
    fs::permissions(".", fs::perms::group_exec | fs::perms::others_exec, fs::perm_options::add);
    for (const fs::path& file : files) {
        writeFile(file, "earlier\n");
        fs::permissions(file,
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
    }
    const bool root = geteuid() == 0;
    EXPECT_TRUE(!root || seteuid(65534) == 0);
    logAt("2024-03-09 08:00:00", "info", "one");
    manipulaDados::ManipulaDadosSat().gravaArquivoDesempenho(std::string("7"));
    ASSERT_TRUE(!root || seteuid(0) == 0);
    for (const fs::path& file : files)
        fs::permissions(file, fs::perms::owner_read, fs::perm_options::add);
    EXPECT_EQ(readFile(files[0]), "earlier\n[2024-03-09.08:00:00] - [info, one]\n");
    EXPECT_THAT(readFile(files[1]), ::testing::MatchesRegex("earlier\n[0-9/:]+;7;\n"));
}

// --- the day change -----------------------------------------------------------

class DayChangeTest : public LogDebugTest {
protected:
    // Writes two lines late on 9 March and returns what the first line after
    // midnight printed, in a host whose PATH is empty: tar is found by its
    // own path.
    Output crossMidnight() {
        logAt("2024-03-09 23:59:58", "info", "one");
        logAt("2024-03-09 23:59:59", "info", "two");
        m_yesterday = readFile(logName("20240309"));
        const std::string path = std::getenv("PATH");
        setenv("PATH", "", 1);
        const Output output = captured([&] { logAt("2024-03-10 00:00:01", "info", "three"); });
        setenv("PATH", path.c_str(), 1);
        return output;
    }

    std::string m_yesterday;
};

TEST_F(DayChangeTest, PreviousDayBecomesItsArchive) {
    makeLogs(1, 6);

    const Output output = crossMidnight();

    // The archiving's progress, tar's listing among it.
    expectGolden(SATVARO_SOURCE_DIR "/tests/log/golden/day-change.out", output.out);
    EXPECT_EQ(output.err, "");
    const std::string archive = "logsDrs/logDrs20240309.tar.gz";
    EXPECT_EQ(runCommand("tar -tzf " + archive).text, "logsDrs/logDrs20240309.log\n");
    EXPECT_EQ(runCommand("tar -xzOf " + archive).text, m_yesterday);
    EXPECT_EQ(readFile(logName("20240310")),
              std::string(HEADER) + "[2024-03-10.00:00:01] - [info, three]\n");
    // The new file made eight candidates: the oldest went. Nothing else was
    // made.
    EXPECT_EQ(tree("."),
              (std::set<std::string>{"logsDrs", logName("20240302"), logName("20240303"),
                                     logName("20240304"), logName("20240305"), logName("20240306"),
                                     archive, logName("20240310")}));
}

TEST_F(DayChangeTest, FailedRenameKeepsTheLog) {
    writeFile("logsDrs/logDrs20240309.tar.gz/in-the-way", "");

    const Output output = crossMidnight();

    EXPECT_NE(output.err.find("Error renaming file: "), std::string::npos);
    EXPECT_EQ(readFile(logName("20240309")), m_yesterday);
    EXPECT_EQ(runCommand("tar -xzOf logsDrs/logDrs20240309.log.tar.gz").text, m_yesterday);
}

// A host that ignores SIGCHLD never learns tar's status: each archive is
// read back instead, so every day's log still goes once archived.
TEST_F(LogDebugTest, TenMidnightsInAHostIgnoringSigchldLeaveSevenFiles) {
    const auto previous = std::signal(SIGCHLD, SIG_IGN);
    captured([&] {
        for (int day = 1; day <= 11; ++day)
            logAt(("2024-03-" + twoDigits(day) + " 12:00:00").c_str(), "info", "day");
    });
    std::signal(SIGCHLD, previous);

    std::set<std::string> left{"logDrs20240311.log"};
    for (int day = 5; day <= 10; ++day) {
        const std::string archive = "logDrs202403" + twoDigits(day) + ".tar.gz";
        left.insert(archive);
        EXPECT_EQ(runCommand("tar -xzOf logsDrs/" + archive).text,
                  HEADER + ("[2024-03-" + twoDigits(day) + ".12:00:00] - [info, day]\n"));
    }
    EXPECT_EQ(tree("logsDrs"), left);
}

// How an archive is judged when tar's status is missing.
TEST_F(LogDebugTest, OnlyAWholeArchiveOfTheLogReadsBack) {
    const std::string log = logName("20240309");
    writeFile(log, std::string(2000, 'x'));
    ASSERT_EQ(runCommand("tar -czf whole.tar.gz " + log + " && tar -cf plain.tar " + log +
                         " && head -c -1 whole.tar.gz > cut.tar.gz && gzip -c " + log +
                         " > bare.gz && head -c 1024 plain.tar | gzip > unended.tar.gz")
                  .status,
              0);
    EXPECT_TRUE(archiveReadsBack("whole.tar.gz", log));
    EXPECT_FALSE(archiveReadsBack("whole.tar.gz", logName("20240308")));
    for (const char* broken : {"cut.tar.gz", "plain.tar", "bare.gz", "unended.tar.gz", "none.gz"})
        EXPECT_FALSE(archiveReadsBack(broken, log)) << broken;
}

// --- retention ----------------------------------------------------------------

// One file per pass, the smallest path (a day's ".log" before its ".tar.gz"),
// until seven are left.
TEST_F(LogDebugTest, RetentionRemovesTheOldestFileAPassUntilSevenAreLeft) {
    makeLogs(2, 8);
    writeFile("logsDrs/logDrs20240301.tar.gz", "");
    writeFile("logsDrs/logDrs20240301.log", "");
    for (const char* oldest :
         {"logDrs20240301.log", "logDrs20240301.tar.gz", "logDrs20240302.log"}) {
        EXPECT_EQ(retentionPass(), 1);
        EXPECT_FALSE(fs::exists(fs::path("logsDrs") / oldest)) << oldest;
    }
    EXPECT_EQ(tree("logsDrs").size(), 7u);
    retentionPass();
    EXPECT_EQ(tree("logsDrs").size(), 7u);
}

// Regular files whose path holds "logsDrs/logDrs" count, and links to them
// (only the link goes); nothing else is counted or removed, and nothing is
// reached through a link to a directory.
TEST_F(LogDebugTest, RetentionCountsOnlyRegularLogDrsFiles) {
    writeFile("kept.txt", "target\n");
    writeFile("logsDrs/a.txt", "");
    writeFile("logsDrs/sub/logDrs20240101.log", "");
    fs::create_directories("logsDrs/logDrs20240102.log");
    fs::create_symlink("../missing.txt", logName("20240300"));
    for (int day = 1; day <= 8; ++day)
        writeFile("elsewhere/logDrs2024020" + std::to_string(day) + ".log", "");
    fs::create_symlink("../elsewhere", "logsDrs/logDrs-old");
    EXPECT_EQ(retentionPass(), 0);

    fs::create_symlink("../kept.txt", logName("20240301"));
    writeFile("logsDrs/logDrsX/y", "");
    makeLogs(2, 5);
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_TRUE(fs::is_symlink(logName("20240301")));

    makeLogs(7, 1);
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_FALSE(fs::is_symlink(logName("20240301")));
    EXPECT_EQ(readFile("kept.txt"), "target\n");
    EXPECT_EQ(tree("elsewhere").size(), 8u);
    for (const char* other :
         {"logsDrs/a.txt", "logsDrs/sub/logDrs20240101.log", "logsDrs/logDrs20240102.log",
          "logsDrs/logDrs20240300.log", "logsDrs/logDrsX/y"}) {
        EXPECT_TRUE(fs::exists(fs::symlink_status(other))) << other;
    }
}

}  // namespace
