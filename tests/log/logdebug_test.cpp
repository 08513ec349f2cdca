// The log writer on real files, with the real tar, each case in its own scratch
// working directory. A test clock stands in for the time of day so that a case
// can cross midnight; the zone is UTC.
#include "log/logdebug.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "CommandOutput.h"
#include "ScopedWorkDir.h"
#include "ScratchDir.h"
#include "TestFiles.h"

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
        LogDebug::setClock(testClock);
        m_log = LogDebug::obtemReferencia();
    }

    void logAt(const char* stamp, const std::string& level, const std::string& message) {
        g_now = utc(stamp);
        m_log->saveLog(level, message);
    }

    // Runs action with this process's standard output and error (and those of
    // the commands it starts) going to files outside the working directory.
    Output captured(const std::function<void()>& action) {
        const fs::path out = m_base / "stdout.txt";
        const fs::path err = m_base / "stderr.txt";
        std::fflush(stdout);
        std::fflush(stderr);
        const int savedOut = dup(1);
        const int savedErr = dup(2);
        redirect(1, out);
        redirect(2, err);
        action();
        std::fflush(stdout);
        std::fflush(stderr);
        dup2(savedOut, 1);
        dup2(savedErr, 2);
        close(savedOut);
        close(savedErr);
        return {readFile(out), readFile(err)};
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

    static void redirect(int fd, const fs::path& path) {
        const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(file, fd);
        close(file);
    }

    ScratchDir m_scratch;  // the working directory and the captured output
    const fs::path m_base = m_scratch.path();
    const fs::path m_work = m_base / "work";
    ScopedWorkDir m_workDir{m_work};
    LogDebug* m_log = nullptr;
};

// --- the writer ---------------------------------------------------------------

TEST_F(LogDebugTest, NewDayStartsFileWithHeaderSilently) {
    const Output output = captured([&] {
        logAt("2024-03-09 13:05:07", "info", "txCode: ConsultarSAT");
        logAt("2024-03-09 13:05:08", "error", "Timeout");
    });

    EXPECT_EQ(output.out, "");
    EXPECT_EQ(output.err, "");
    EXPECT_EQ(readFile(logName("20240309")),
              std::string(HEADER) +
                  "[2024-03-09.13:05:07] - [info, txCode: ConsultarSAT]\n"
                  "[2024-03-09.13:05:08] - [error, Timeout]\n");
}

TEST_F(LogDebugTest, LineIsCutAt511BytesAndKeepsItsNewline) {
    const std::string prefix = "[2024-03-09.13:05:07] - [info, ";
    logAt("2024-03-09 13:05:07", "info", std::string(600, 'x'));
    logAt("2024-03-09 13:05:07", "info", std::string(511 - prefix.size() - 1, 'y'));
    logAt("2024-03-09 13:05:07", "", "");

    EXPECT_EQ(readFile(logName("20240309")),
              HEADER + prefix + std::string(511 - prefix.size(), 'x') + "\n" + prefix +
                  std::string(511 - prefix.size() - 1, 'y') + "]\n" +
                  "[2024-03-09.13:05:07] - [, ]\n");
}

TEST_F(LogDebugTest, ExistingFileOfTheDayGetsNoHeaderNorRetention) {
    makeLogs(1, 8);
    writeFile(logName("20240309"), "earlier\n");

    logAt("2024-03-09 08:00:00", "info", "again");

    EXPECT_EQ(readFile(logName("20240309")), "earlier\n[2024-03-09.08:00:00] - [info, again]\n");
    EXPECT_TRUE(fs::exists(logName("20240301")));
}

TEST_F(LogDebugTest, FileDeletedDuringTheDayStartsAgainWithRetention) {
    makeLogs(1, 7);
    writeFile(logName("20240309"), "earlier\n");
    logAt("2024-03-09 08:00:00", "info", "one");
    ASSERT_TRUE(fs::exists(logName("20240301")));

    fs::remove(logName("20240309"));
    logAt("2024-03-09 08:00:01", "info", "two");

    EXPECT_EQ(readFile(logName("20240309")),
              std::string(HEADER) + "[2024-03-09.08:00:01] - [info, two]\n");
    EXPECT_FALSE(fs::exists(logName("20240301")));
    EXPECT_TRUE(fs::exists(logName("20240302")));
}

TEST_F(LogDebugTest, DirectoryRemovedDuringTheDayIsMadeAgain) {
    logAt("2024-03-09 08:00:00", "info", "one");
    fs::remove_all("logsDrs");

    logAt("2024-03-09 08:00:01", "info", "two");

    EXPECT_EQ(readFile(logName("20240309")),
              std::string(HEADER) + "[2024-03-09.08:00:01] - [info, two]\n");
    const mode_t mask = umask(0);
    umask(mask);
    struct stat dir {};
    ASSERT_EQ(stat("logsDrs", &dir), 0);
    EXPECT_EQ(dir.st_mode & 0777, 0775 & ~mask);
}

// --- the day change -----------------------------------------------------------

class DayChangeTest : public LogDebugTest {
protected:
    // Writes two lines late on 9 March and returns what the first line after
    // midnight printed.
    Output crossMidnight() {
        logAt("2024-03-09 23:59:58", "info", "one");
        logAt("2024-03-09 23:59:59", "info", "two");
        m_yesterday = readFile(logName("20240309"));
        return captured([&] { logAt("2024-03-10 00:00:01", "info", "three"); });
    }

    // Runs the day change with PATH set to path.
    void setPath(const std::string& path) {
        m_savedPath = std::getenv("PATH");
        setenv("PATH", path.c_str(), 1);
    }

    fs::path emptyBin() {
        const fs::path bin = m_base / "bin";
        fs::create_directories(bin);
        return bin;
    }

    void TearDown() override {
        if (!m_savedPath.empty())
            setenv("PATH", m_savedPath.c_str(), 1);
    }

    std::string m_yesterday;
    std::string m_savedPath;
};

const char PROGRESS[] =
    "[removeLastDays] file to zip logsDrs/logDrs20240309.log\n"
    "[removeLastDays] cmd to zip tar -zcvf logsDrs/logDrs20240309.log.tar.gz "
    "logsDrs/logDrs20240309.log\n";
const char ERASE[] = "[removeLastDays] erase logsDrs/logDrs20240309.tar.gz\n";

TEST_F(DayChangeTest, PreviousDayBecomesItsArchive) {
    makeLogs(1, 6);

    const Output output = crossMidnight();

    EXPECT_EQ(output.out, std::string(PROGRESS) + "logsDrs/logDrs20240309.log\n" + ERASE +
                              "File successfully renamed\n");
    EXPECT_EQ(output.err, "");
    const std::string archive = "logsDrs/logDrs20240309.tar.gz";
    EXPECT_EQ(runCommand("tar -tzf " + archive).text, "logsDrs/logDrs20240309.log\n");
    EXPECT_EQ(runCommand("tar -xzOf " + archive).text, m_yesterday);
    EXPECT_EQ(readFile(logName("20240310")),
              std::string(HEADER) + "[2024-03-10.00:00:01] - [info, three]\n");
    // The new file made eight candidates: the oldest went. Nothing else was
    // made, in the working directory or beside it.
    EXPECT_EQ(tree(m_work),
              (std::set<std::string>{"logsDrs", logName("20240302"), logName("20240303"),
                                     logName("20240304"), logName("20240305"), logName("20240306"),
                                     archive, logName("20240310")}));
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(m_base))
        beside.insert(entry.path().filename().string());
    EXPECT_EQ(beside, (std::set<std::string>{"work", "stdout.txt", "stderr.txt"}));
}

TEST_F(DayChangeTest, MissingTarKeepsTheLog) {
    setPath(emptyBin());

    const Output output = crossMidnight();

    EXPECT_EQ(output.out, std::string(PROGRESS) + ERASE);
    EXPECT_NE(output.err.find("Error renaming file: No such file or directory\n"),
              std::string::npos);
    EXPECT_EQ(readFile(logName("20240309")), m_yesterday);
    EXPECT_EQ(tree(m_work),
              (std::set<std::string>{"logsDrs", logName("20240309"), logName("20240310")}));
}

TEST_F(DayChangeTest, FailingTarKeepsTheLog) {
    // A tar that leaves a truncated archive behind and reports the failure.
    const fs::path tar = emptyBin() / "tar";
    writeFile(tar, "#!/bin/sh\n: > \"$2\"\nexit 2\n");
    fs::permissions(tar, fs::perms::owner_all);
    setPath(tar.parent_path().string() + ":" + std::getenv("PATH"));

    const Output output = crossMidnight();

    EXPECT_EQ(output.out, std::string(PROGRESS) + ERASE + "File successfully renamed\n");
    EXPECT_EQ(readFile(logName("20240309")), m_yesterday);
}

TEST_F(DayChangeTest, FailedRenameKeepsTheLog) {
    writeFile("logsDrs/logDrs20240309.tar.gz/in-the-way", "");

    const Output output = crossMidnight();

    EXPECT_NE(output.err.find("Error renaming file: "), std::string::npos);
    EXPECT_EQ(readFile(logName("20240309")), m_yesterday);
    EXPECT_EQ(runCommand("tar -xzOf logsDrs/logDrs20240309.log.tar.gz").text, m_yesterday);
}

// --- retention ----------------------------------------------------------------

TEST_F(LogDebugTest, RetentionKeepsSevenAndDropsTheSmallestPath) {
    makeLogs(2, 6);
    writeFile("logsDrs/logDrs20240301.tar.gz", "");
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_EQ(tree("logsDrs").size(), 7u);

    writeFile("logsDrs/logDrs20240301.log", "");
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_FALSE(fs::exists("logsDrs/logDrs20240301.log"));
    EXPECT_TRUE(fs::exists("logsDrs/logDrs20240301.tar.gz"));
    EXPECT_EQ(tree("logsDrs").size(), 7u);
}

TEST_F(LogDebugTest, RetentionRemovesOneFilePerPass) {
    makeLogs(1, 10);
    retentionPass();
    EXPECT_EQ(tree("logsDrs").size(), 9u);
    EXPECT_FALSE(fs::exists(logName("20240301")));
    retentionPass();
    retentionPass();
    retentionPass();
    EXPECT_EQ(tree("logsDrs").size(), 7u);
    EXPECT_TRUE(fs::exists(logName("20240304")));
}

TEST_F(LogDebugTest, RetentionCountsOnlyRegularLogDrsFiles) {
    writeFile("logsDrs/a.txt", "");
    writeFile("logsDrs/sub/logDrs20240101.log", "");
    fs::create_directories("logsDrs/logDrs20240102.log");
    EXPECT_EQ(retentionPass(), 0);

    makeLogs(1, 6);
    writeFile("logsDrs/logDrsX/y", "");
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_TRUE(fs::exists(logName("20240301")));

    makeLogs(7, 1);
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_FALSE(fs::exists(logName("20240301")));
    EXPECT_TRUE(fs::exists("logsDrs/logDrsX/y"));
    EXPECT_TRUE(fs::exists("logsDrs/a.txt"));
    EXPECT_TRUE(fs::exists("logsDrs/sub/logDrs20240101.log"));
    EXPECT_TRUE(fs::is_directory("logsDrs/logDrs20240102.log"));
}

TEST_F(LogDebugTest, RetentionCountsLinkToRegularFile) {
    writeFile("kept.txt", "target\n");
    makeLogs(2, 6);
    fs::create_symlink("../kept.txt", logName("20240301"));
    fs::create_symlink("../missing.txt", logName("20240300"));
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_TRUE(fs::is_symlink(logName("20240301")));
    EXPECT_TRUE(fs::is_symlink(logName("20240300")));

    makeLogs(8, 1);
    EXPECT_EQ(retentionPass(), 1);
    EXPECT_FALSE(fs::is_symlink(logName("20240301")));
    EXPECT_TRUE(fs::is_symlink(logName("20240300")));
    EXPECT_EQ(readFile("kept.txt"), "target\n");
}

}  // namespace
