// The diagnostic log when its directory is taken away, made read-only or
// sits on a full file system. The library only loses lines meanwhile: the
// host's calls go on, lines come back once they can be written, and across a
// day change yesterday's log stays until its archive is really made.
//
// Read-only and full file systems are mounted in this test's own mount
// namespace (the harness gives each case one): permission bits would not
// stop root, a read-only mount does.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "HostOnDevice.h"
#include "NamespaceGuard.h"
#include "log/logdebug.h"

namespace fs = std::filesystem;

namespace {

using ::testing::HasSubstr;

const char HEADER[] = "DRS Version: 01.00.01.001\n";

// A mount on `dir` for as long as the object lives.
class ScopedMount {
public:
    static ScopedMount readOnly(const fs::path& dir) {
        ScopedMount m(dir, ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0);
        m.m_mounted = m.m_mounted && ::mount(nullptr, dir.c_str(), nullptr,
                                             MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
        return m;
    }
    static ScopedMount tmpfs(const fs::path& dir, const char* size) {
        const std::string options = std::string("size=") + size;
        return ScopedMount(dir, ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0);
    }
    ScopedMount(ScopedMount&& other) noexcept : m_dir(other.m_dir), m_mounted(other.m_mounted) {
        other.m_mounted = false;
    }
    ~ScopedMount() { release(); }

    bool mounted() const { return m_mounted; }
    void release() {
        if (m_mounted) {
            ::umount2(m_dir.c_str(), MNT_DETACH);
            m_mounted = false;
        }
    }

private:
    ScopedMount(fs::path dir, bool mounted) : m_dir(std::move(dir)), m_mounted(mounted) {}
    fs::path m_dir;
    bool m_mounted;
};

// Takes every free block of the file system holding `path`; false when the
// file system did not run full.
bool fillUp(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        return false;
    }
    const std::string block(4096, 'f');
    ssize_t written;
    while ((written = ::write(fd, block.data(), block.size())) > 0) {
    }
    const bool full = written < 0 && errno == ENOSPC;
    ::close(fd);
    return full;
}

std::string dayLog(const char* day) {
    return readFile(std::string("logsDrs/logDrs") + day + ".log");
}

// --- through the exported functions --------------------------------------------

class LogFaultsUnderTheHost : public HostOnDevice {
protected:
    void SetUp() override {
        HostOnDevice::SetUp();
        ASSERT_TRUE(insideHarnessNamespace());
        call(1);  // makes logsDrs and the day's file
    }

    void call(int session) {
        EXPECT_EQ(std::string(sat.ConsultarSAT(session)),
                  sessionText(session) + "|08000|SAT em Operação||");
        EXPECT_EQ(sat.CodigoErro(), 0);
    }

    // Whether the request line of the call under `session` is in the log.
    bool logged(int session) const {
        return log.count("info", "txCode: ConsultarSAT txSessao:" + sessionText(session) +
                                     " txBufferSize:6") == 1;
    }
};

TEST_F(LogFaultsUnderTheHost, FileInPlaceOfTheDirectory) {
    fs::remove_all("logsDrs");
    ASSERT_TRUE(writeFile("logsDrs", "not a directory\n"));
    call(2);
    fs::remove("logsDrs");
    call(3);  // the directory and the day's file are made again

    EXPECT_EQ(readDriverLog().rfind(HEADER, 0), 0u);
    EXPECT_FALSE(logged(2));
    EXPECT_TRUE(logged(3));
}

TEST_F(LogFaultsUnderTheHost, ReadOnlyDirectory) {
    const std::string before = readDriverLog();
    ScopedMount readOnly = ScopedMount::readOnly("logsDrs");
    ASSERT_TRUE(readOnly.mounted());
    call(2);
    EXPECT_EQ(readDriverLog(), before);
    readOnly.release();
    call(3);

    EXPECT_EQ(readDriverLog().rfind(before, 0), 0u) << "appended to the same file";
    EXPECT_FALSE(logged(2));
    EXPECT_TRUE(logged(3));
}

TEST_F(LogFaultsUnderTheHost, FullFileSystem) {
    fs::remove_all("logsDrs");
    fs::create_directory("logsDrs");
    ScopedMount small = ScopedMount::tmpfs("logsDrs", "64k");
    ASSERT_TRUE(small.mounted());
    ASSERT_TRUE(fillUp("logsDrs/filler"));
    call(2);
    call(3);
    fs::remove("logsDrs/filler");
    call(4);
    EXPECT_TRUE(logged(4));
}

// --- across a day change, through the log writer itself -------------------------

std::time_t g_now;

std::time_t testClock(std::time_t* out) {
    if (out != nullptr) {
        *out = g_now;
    }
    return g_now;
}

class LogFaultsAtMidnight : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(insideHarnessNamespace());
        setenv("TZ", "UTC", 1);
        tzset();
        LogDebug::setClock(testClock);
        fs::create_directory("logsDrs");
    }

    void logAt(const char* stamp, const std::string& message) {
        struct tm fields {};
        strptime(stamp, "%Y-%m-%d %H:%M:%S", &fields);
        g_now = timegm(&fields);
        LogDebug::obtemReferencia()->saveLog("info", message);
    }

    // Two lines on 9 March; what the day's file then holds.
    std::string lastDayBefore() {
        logAt("2024-03-09 23:59:58", "one");
        logAt("2024-03-09 23:59:59", "two");
        return dayLog("20240309");
    }

    ScopedWorkDir workDir;
};

TEST_F(LogFaultsAtMidnight, FullFileSystemKeepsYesterdaysLogAndLinesResume) {
    ScopedMount small = ScopedMount::tmpfs("logsDrs", "64k");
    ASSERT_TRUE(small.mounted());
    const std::string yesterday = lastDayBefore();
    ASSERT_TRUE(fillUp("logsDrs/filler"));

    logAt("2024-03-10 00:00:01", "lost: no room for the archive nor the line");
    EXPECT_EQ(dayLog("20240309"), yesterday) << "tar failed: the log stays";

    fs::remove("logsDrs/filler");
    logAt("2024-03-10 00:00:02", "back");
    EXPECT_THAT(dayLog("20240310"), HasSubstr("[2024-03-10.00:00:02] - [info, back]\n"));

    // The next day change, with room again, archives as usual.
    logAt("2024-03-11 00:00:01", "next day");
    EXPECT_FALSE(fs::exists("logsDrs/logDrs20240310.log"));
    EXPECT_TRUE(fs::exists("logsDrs/logDrs20240310.tar.gz"));
    EXPECT_EQ(dayLog("20240311"),
              std::string(HEADER) + "[2024-03-11.00:00:01] - [info, next day]\n");
    EXPECT_EQ(dayLog("20240309"), yesterday);
}

TEST_F(LogFaultsAtMidnight, ReadOnlyDirectoryKeepsYesterdaysLogAndLinesResume) {
    const std::string yesterday = lastDayBefore();
    ScopedMount readOnly = ScopedMount::readOnly("logsDrs");
    ASSERT_TRUE(readOnly.mounted());

    logAt("2024-03-10 00:00:01", "lost: nothing can be written");
    EXPECT_EQ(dayLog("20240309"), yesterday);
    EXPECT_FALSE(fs::exists("logsDrs/logDrs20240310.log"));

    readOnly.release();
    logAt("2024-03-10 00:00:02", "back");
    EXPECT_EQ(dayLog("20240310"), std::string(HEADER) + "[2024-03-10.00:00:02] - [info, back]\n");
    EXPECT_EQ(dayLog("20240309"), yesterday) << "its day is over: it is not archived any more";
}

TEST_F(LogFaultsAtMidnight, DirectoryRemovedBeforeMidnightIsMadeAgain) {
    lastDayBefore();
    fs::remove_all("logsDrs");

    logAt("2024-03-10 00:00:01", "new day");
    EXPECT_EQ(dayLog("20240310"),
              std::string(HEADER) + "[2024-03-10.00:00:01] - [info, new day]\n");
}

}  // namespace
